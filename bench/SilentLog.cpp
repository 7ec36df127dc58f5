// A quorlith_printf that writes nothing, for the benchmarks (which measure the
// expression code, not the log: the call returns at once) and the fuzz targets.
// These define QUILLET_SILENT_LOG_FORMATS: each message is then formatted into
// nothing, so that the sanitizers still check every call's arguments.
#include <cstdarg>
#include <cstdio>

#include "ExprLog.h"

extern "C" int quorlith_printf(int, const char *, const char *, [[maybe_unused]] const char *format,
    const char *, [[maybe_unused]] int line, ...)
{
#ifdef QUILLET_SILENT_LOG_FORMATS
    va_list args;
    va_start(args, line);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    return length;
#else
    return 0;
#endif
}
