#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

#include "quorlith.h"

namespace {

// Runs `log` with standard error on a pipe; returns what was written and
// the function's result.
template <typename Log>
std::pair<std::string, int> CaptureStderr(Log log)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const int saved = dup(2);
    dup2(fds[1], 2);
    close(fds[1]);
    const int result = log();
    dup2(saved, 2);
    close(saved);
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    return {text, result};
}

TEST(PlatformLog, WritesOneEscapedLinePerRecord)
{
    const struct {
        const char *argument;
        const char *record;
    } rows[] = {
        {"1+2", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value 1+2 \n"},
        {"a\nb", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value a\\nb \n"},
        {"\t\r\\", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value \\t\\r\\\\ \n"},
        {"\x01\x1f\x7f", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value \\x01\\x1f\\x7f \n"},
        {"\x80\xff", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value \x80\xff \n"},
        {"%s%n", "[1 EError] ALARM_MANAGER CExprUtil.cpp:42: value %s%n \n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.record);
        const auto [text, result] = CaptureStderr([&] {
            return quorlith_printf(1, "EError", "ALARM_MANAGER", " value %s \n", "CExprUtil.cpp", 42,
                                   row.argument);
        });
        EXPECT_EQ(text, row.record);
        EXPECT_EQ(result, static_cast<int>(text.size()));
    }
}

// The prefix is formatted by hand: negative numbers and null names too.
TEST(PlatformLog, WritesAnyLevelAndLine)
{
    const std::string text = CaptureStderr(
        [] { return quorlith_printf(-10, nullptr, "M", " x \n", "f.c", INT_MIN); }).first;
    EXPECT_EQ(text, "[-10 ] M f.c:-2147483648: x \n");
}

TEST(PlatformLog, AddsTheMissingNewlineAndKeepsLongRecordsWhole)
{
    const std::string longText(20000, 'x');
    const auto [text, result] = CaptureStderr([&] {
        return quorlith_printf(5, "ETrace", "M", " %s", "f.cpp", 7, longText.c_str());
    });
    EXPECT_EQ(text, "[5 ETrace] M f.cpp:7: " + longText + "\n");
    EXPECT_EQ(result, static_cast<int>(text.size()));
}

// -1 when nothing is written: a message that cannot be formatted (a wide
// character with no multibyte form in the C locale) or a closed stderr.
TEST(PlatformLog, ReturnsMinusOneWhenNothingIsWritten)
{
    const wchar_t unconvertible[] = {0x100, 0};
    const auto [text, result] = CaptureStderr([&] {
        return quorlith_printf(1, "EError", "M", " %ls \n", "f.cpp", 1, unconvertible);
    });
    EXPECT_EQ(text, "");
    EXPECT_EQ(result, -1);
    const int saved = dup(2);
    close(2);
    EXPECT_EQ(quorlith_printf(1, "EError", "M", " closed \n", "f.cpp", 1), -1);
    dup2(saved, 2);
    close(saved);
}

}  // namespace
