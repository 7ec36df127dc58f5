#include "SilentLog.h"

#include <cstdarg>

#include "ExprLog.h"

namespace {
thread_local LogCounts gCounts;
}  // namespace

LogCounts TakeLogCounts()
{
    const LogCounts counts = gCounts;
    gCounts = LogCounts{};
    return counts;
}

extern "C" int quorlith_printf(int level, const char *, const char *, const char *format,
                               const char *, int line, ...)
{
    va_list args;
    va_start(args, line);
    char message[256];
    const int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    ++(level == quillet_log::EError ? gCounts.errors : gCounts.traces);
    return length;
}
