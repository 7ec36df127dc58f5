// The floor of start-up: a program that does nothing, linked exactly like
// quillet (bench/CMakeLists.txt), so that its instructions are what loading
// quillet's dependencies costs before any work. Built a second time with
// QUILLET_APR_INITIALISER: then it does only what the tool must do on every
// run besides its work, bring APR up before main and down at exit.
#ifdef QUILLET_APR_INITIALISER
#include <apr_general.h>

#include <cstdlib>

namespace {
struct AprRuntime {
    AprRuntime()
    {
        apr_initialize();
        std::atexit(apr_terminate);
    }
};
const AprRuntime kAprRuntime;
}  // namespace
#endif

int main()
{
    return 0;
}
