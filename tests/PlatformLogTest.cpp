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

// Every record is one line, however long, whatever the message holds; the
// prefix takes any level and line, and a null name, as they come.
TEST(PlatformLog, WritesOneEscapedLinePerRecord)
{
    const std::string longText(20000, 'x');
    const struct {
        int level;
        const char *levelName;
        int line;
        const char *format;
        const char *argument;
        std::string record;
    } rows[] = {
        {1, "EError", 42, " value %s \n", "1+2", "[1 EError] M f.cpp:42: value 1+2 \n"},
        {1, "EError", 42, " value %s \n", "a\nb", "[1 EError] M f.cpp:42: value a\\nb \n"},
        {1, "EError", 42, " value %s \n", "\t\r\\", "[1 EError] M f.cpp:42: value \\t\\r\\\\ \n"},
        {1, "EError", 42, " value %s \n", "\x01\x1f\x7f", "[1 EError] M f.cpp:42: value \\x01\\x1f\\x7f \n"},
        {1, "EError", 42, " value %s \n", "\x80\xff", "[1 EError] M f.cpp:42: value \x80\xff \n"},
        {1, "EError", 42, " value %s \n", "%s%n", "[1 EError] M f.cpp:42: value %s%n \n"},
        {5, "ETrace", 7, " %s", longText.c_str(), "[5 ETrace] M f.cpp:7: " + longText + "\n"},
        {-10, nullptr, INT_MIN, " %s \n", "x", "[-10 ] M f.cpp:-2147483648: x \n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.record.substr(0, 60));
        const auto [text, result] = CaptureStderr([&] {
            return quorlith_printf(row.level, row.levelName, "M", row.format, "f.cpp", row.line,
                                   row.argument);
        });
        EXPECT_EQ(text, row.record);
        EXPECT_EQ(result, static_cast<int>(text.size()));
    }
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
