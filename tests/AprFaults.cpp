// Linked into test builds of quillet with ld's --wrap=NAME for one of these
// APR calls, which then fails as when memory runs out.
#include <apr_getopt.h>

// ld --wrap fixes both names.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-*,readability-identifier-naming)
extern "C" apr_status_t __wrap_apr_pool_create_ex(apr_pool_t ** /*pool*/, apr_pool_t * /*parent*/,
    apr_abortfunc_t /*abort*/, apr_allocator_t * /*allocator*/)
{
    return APR_ENOMEM;
}

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-*,readability-identifier-naming)
extern "C" apr_status_t __wrap_apr_getopt_init(
    apr_getopt_t ** /*options*/, apr_pool_t * /*pool*/, int /*argc*/, const char *const * /*argv*/)
{
    return APR_ENOMEM;
}
