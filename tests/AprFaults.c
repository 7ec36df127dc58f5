/* Linked into a test build of quillet, ahead of APR: the APR call named by
 * QUILLET_APR_FAULT fails with APR_ENOMEM, as when memory runs out; every
 * other call goes to APR itself. */
#ifndef _GNU_SOURCE /* APR's flags may define it already */
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

enum { kNoMemory = 12 }; /* APR_ENOMEM */

/* APR's own `name` in *function (dlsym's object pointer turned into a
 * function pointer the POSIX way); false when `name` is to fail instead. */
static int Real(const char *name, void *function, size_t size)
{
    const char *fault = getenv("QUILLET_APR_FAULT");
    void *symbol = dlsym(RTLD_NEXT, name);
    memcpy(function, &symbol, size);
    return fault == NULL || strcmp(fault, name) != 0;
}

int apr_pool_create_ex(void **pool, void *parent, void *abortFunction, void *allocator)
{
    int (*real)(void **, void *, void *, void *);
    return Real(__func__, &real, sizeof real) ? real(pool, parent, abortFunction, allocator)
                                              : kNoMemory;
}

int apr_getopt_init(void **options, void *pool, int argc, const char *const *argv)
{
    int (*real)(void **, void *, int, const char *const *);
    return Real(__func__, &real, sizeof real) ? real(options, pool, argc, argv) : kNoMemory;
}
