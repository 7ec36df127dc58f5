// The floor of start-up: does nothing, linked exactly like quillet, so that its
// instructions are what loading quillet's dependencies costs. With
// QUILLET_APR_INITIALISER it also brings APR up before main and down at exit,
// as the tool must on every run.
#ifdef QUILLET_APR_INITIALISER
#include <apr_general.h>

#include <cstdlib>

namespace {
[[maybe_unused]] const bool kAprUp = (apr_initialize(), std::atexit(apr_terminate), true);
}  // namespace
#endif

int main()
{
    return 0;
}
