#include "RecordingLog.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>

#include "ExprLog.h"

namespace {
// Per thread, so that concurrent tests each see only their own records.
thread_local std::vector<LogRecord> gRecords;
}  // namespace

std::vector<LogRecord> TakeRecords()
{
    std::vector<LogRecord> taken;
    taken.swap(gRecords);
    return taken;
}

std::string TakeMessages()
{
    std::string messages;
    for (const LogRecord &record : TakeRecords()) {
        EXPECT_EQ(record.levelName, record.level == 1 ? "EError" : "ETrace");
        EXPECT_EQ(record.module, "ALARM_MANAGER");
        EXPECT_EQ(record.file, "CExprUtil.cpp");
        messages += std::to_string(record.level) + record.message;
    }
    return messages;
}

extern "C" int quorlith_printf(int level, const char *levelName, const char *module,
                               const char *format, const char *file, int line, ...)
{
    va_list args;
    va_start(args, line);
    char message[1024];
    const int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    gRecords.push_back(LogRecord{level, levelName, module, format, file, line, message});
    return length;
}
