#include "RecordingLog.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "ExprLog.h"

// Per thread, so that concurrent tests each see only their own records.
static thread_local std::vector<LogRecord> gRecords;

std::vector<LogRecord> TakeRecords()
{
    return std::exchange(gRecords, {});
}

std::string TakeMessages()
{
    std::string messages;
    for (const LogRecord &record : TakeRecords()) {
        EXPECT_EQ(record.levelName, record.level == 1 ? "EError" : "ETrace");
        EXPECT_EQ(record.module + " " + record.file, "ALARM_MANAGER CExprUtil.cpp");
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
    gRecords.push_back(LogRecord{level, levelName, module, file, line, message});
    return length;
}
