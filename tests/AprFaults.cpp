// Linked into test builds of quillet with ld's --wrap=NAME for one of these
// APR calls, which then fails as when memory runs out.
#include <apr_getopt.h>

extern "C" apr_status_t __wrap_apr_pool_create_ex(
    apr_pool_t **, apr_pool_t *, apr_abortfunc_t, apr_allocator_t *)
{
    return APR_ENOMEM;
}

extern "C" apr_status_t __wrap_apr_getopt_init(apr_getopt_t **, apr_pool_t *, int, const char *const *)
{
    return APR_ENOMEM;
}
