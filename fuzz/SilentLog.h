// Log sink of the fuzz targets: quorlith_printf formats every record, so the
// sanitizers check each call's arguments, counts it by level on the calling
// thread, and writes nothing.
#ifndef QUILLET_FUZZ_SILENTLOG_H
#define QUILLET_FUZZ_SILENTLOG_H

#include <cstdio>
#include <cstdlib>

struct LogCounts {
    int errors;
    int traces;
};

// Records written since the last call, by level.
LogCounts TakeLogCounts();

// Stops the run (libFuzzer keeps the input) when an invariant is broken.
inline void Require(bool holds, const char *invariant)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

#endif  // QUILLET_FUZZ_SILENTLOG_H
