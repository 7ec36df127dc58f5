/* Linked into a test build of quillet, ahead of APR: the APR call named by
 * QUILLET_APR_FAULT fails as it would when memory runs out; every other call
 * goes to APR itself. */
#ifndef _GNU_SOURCE /* APR's flags may define it already */
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

enum { kNoMemory = 12 }; /* APR_ENOMEM */

typedef int (*PoolCreate)(void **, void *, void *, void *);
typedef int (*GetoptInit)(void **, void *, int, const char *const *);

/* APR's own definition of `name` (the POSIX way to turn dlsym's object
 * pointer into a function pointer). */
static void Next(const char *name, void *function, size_t size)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    memcpy(function, &symbol, size);
}

static int Failing(const char *name)
{
    const char *fault = getenv("QUILLET_APR_FAULT");
    return fault != NULL && strcmp(fault, name) == 0;
}

int apr_pool_create_ex(void **pool, void *parent, void *abortFunction, void *allocator)
{
    if (Failing("apr_pool_create_ex"))
        return kNoMemory;
    PoolCreate real;
    Next("apr_pool_create_ex", &real, sizeof real);
    return real(pool, parent, abortFunction, allocator);
}

int apr_getopt_init(void **options, void *pool, int argc, const char *const *argv)
{
    if (Failing("apr_getopt_init"))
        return kNoMemory;
    GetoptInit real;
    Next("apr_getopt_init", &real, sizeof real);
    return real(options, pool, argc, argv);
}
