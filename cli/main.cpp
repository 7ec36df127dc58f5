// quillet [-s ExpressionString] [-v][-h]: verifies one expression.
// Exit status 0 for a valid expression, 46 (20014) for an invalid one or a
// bad command line, 255 for an -s argument of the wrong length. The verdict
// is reported only through log records; this file prints its own texts.
#include <apr_general.h>
#include <apr_getopt.h>
#include <apr_pools.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CExprUtil.h"
#include "Usage.h"

// apr.h is generated per target; a cross build that picked up the host's
// headers would disagree with the library it links about every pointer-sized
// type in the APR calls below.
static_assert(APR_SIZEOF_VOIDP == sizeof(void *), "APR headers are not those of the target");

namespace {

constexpr size_t kExpressionCapacity = 100;

// The accepted -s argument; a zero first byte means none was given.
std::array<char, kExpressionCapacity> ExpressionBuffer{};

// Brings APR up before main and has it terminated at every ordinary exit.
struct AprRuntime {
    AprRuntime() noexcept
    {
        apr_initialize();
        // Cannot fail: the first of the at least 32 registrations a process has.
        (void)std::atexit(apr_terminate);
    }
};
const AprRuntime kAprRuntime;

// Stores the -s argument, or ends the process with status 255 when it is
// absent, empty or longer than 99 bytes.
void StoreExpression(const char *argument)
{
    if (argument == nullptr || argument[0] == '\0' || std::strlen(argument) > kExpressionCapacity - 1) {
        std::printf("error input for expression string (len should in (0,%d) )!\n",
            static_cast<int>(kExpressionCapacity));
        std::exit(-1);
    }
    ExpressionBuffer.fill('\0');
    std::strcpy(ExpressionBuffer.data(), argument);
}

// Reads the options left to right. -v and -h end the process; returns the
// last status of apr_getopt (APR_EOF when every option was understood).
apr_status_t ReadOptions(apr_getopt_t *options, apr_pool_t *pool, const char *program)
{
    apr_status_t status;
    char option;
    const char *argument;
    while ((status = apr_getopt(options, "s:vh", &option, &argument)) == APR_SUCCESS) {
        switch (option) {
        case 's': StoreExpression(argument); break;
        case 'v':
            std::printf("Current version of %s is %s \n", program, kVersionText);
            apr_pool_destroy(pool);
            std::exit(0);
        case 'h':
            PrintUsage();
            apr_pool_destroy(pool);
            std::exit(0);
        default: break;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char *argv[])
{
    // A reader of standard output or error that has gone costs the text, not
    // the verdict: the exit status stays the expression's.
    (void)std::signal(SIGPIPE, SIG_IGN);
    apr_pool_t *pool = nullptr;
    if (apr_pool_create_ex(&pool, nullptr, nullptr, nullptr) != APR_SUCCESS)
        return APR_EGENERAL;
    apr_getopt_t *options = nullptr;
    if (apr_getopt_init(&options, pool, argc, argv) != APR_SUCCESS) {
        std::puts("\n Create getopt error ");
        apr_pool_destroy(pool);
        return APR_EGENERAL;
    }
    const apr_status_t status = ReadOptions(options, pool, argv[0]);
    apr_pool_destroy(pool);

    if (status != APR_EOF || ExpressionBuffer[0] == '\0') {
        PrintUsage();
        return APR_EGENERAL;
    }
    fernvault::alarm_manager::TokenList tokens;
    return fernvault::alarm_manager::CExprUtil::VerifyExpression(tokens, ExpressionBuffer.data());
}
