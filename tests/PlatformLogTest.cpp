#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <thread>

#include "quorlith.h"

namespace {

// Runs `log` with standard error on a pipe; returns what it wrote and its
// result. When `interrupted`, the pipe (one page) is full for 200 ms, while
// SIGUSR1, handled without SA_RESTART, hits the calling thread every 5 ms:
// its write blocks, and is interrupted again and again.
template <typename Log>
std::pair<std::string, int> CaptureStderr(Log log, bool interrupted = false)
{
    struct sigaction action = {}, old = {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, &old);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const std::string filler(interrupted ? 4096 : 0, '.');
    EXPECT_EQ(interrupted ? fcntl(fds[1], F_SETPIPE_SZ, 4096) : 0, static_cast<int>(filler.size()));
    EXPECT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    const int saved = dup(2);
    dup2(fds[1], 2);
    close(fds[1]);
    std::string text;
    std::thread reader([&, writer = pthread_self()] {
        for (int i = 0; interrupted && i < 40; ++i, usleep(5000))
            pthread_kill(writer, SIGUSR1);
        char buffer[65536];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
    });
    const int result = log();
    dup2(saved, 2);
    close(saved);
    reader.join();
    close(fds[0]);
    sigaction(SIGUSR1, &old, nullptr);
    return {text.substr(filler.size()), result};
}

std::string x(size_t n, const std::string &unit = "x")  // `n` times `unit`
{
    std::string text;
    while (n-- > 0)
        text += unit;
    return text;
}

// Each row: a message and what it becomes in the record "[1 E] M f:7:...".
TEST(PlatformLog, EscapesEveryByteThatIsNoPrintableCharacter)
{
    const std::pair<std::string, std::string> rows[] = {
        {" a\nb\t\r\\ %s \n", " a\\nb\\t\\r\\\\ %s "},
        {"\x01\x1f\x7f~\n\n", "\\x01\\x1f\\x7f~\\n"},
        {"\xc2\x80\xc2\x9f|\xc2\xa0\xdf\xbf", "\\xc2\\x80\\xc2\\x9f|\xc2\xa0\xdf\xbf"},
        {"\xe0\xa0\x80\xe2\x80\xa8\xe2\x80\xa9\xef\xbf\xbf", "\xe0\xa0\x80\xe2\x80\xa8\xe2\x80\xa9\xef\xbf\xbf"},
        {"\xed\x9f\xbf\xed\xa0\x80\xed\xbf\xbf\xee\x80\x80", "\xed\x9f\xbf\\xed\\xa0\\x80\\xed\\xbf\\xbf\xee\x80\x80"},
        {"\xf0\x90\x80\x80\xf3\xbf\xbf\xbf\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf3\xbf\xbf\xbf\xf4\x8f\xbf\xbf"},
        {"\xf4\x90\x80\x80\xf5\x80", "\\xf4\\x90\\x80\\x80\\xf5\\x80"},
        {"\xc0\xaf\xc1\xbf\xe0\x9f\xbf\xf0\x8f\xbf\xbf", "\\xc0\\xaf\\xc1\\xbf\\xe0\\x9f\\xbf\\xf0\\x8f\\xbf\\xbf"},
        {"\x80\xbf\xfe\xff\xf8\x88\x80\x80\x80", "\\x80\\xbf\\xfe\\xff\\xf8\\x88\\x80\\x80\\x80"},
        {"\xe2\x28\xa1\xf0\xc3\xa9\xe2\x82\n\xf0\x9f\x98", "\\xe2(\\xa1\\xf0\xc3\xa9\\xe2\\x82\\n\\xf0\\x9f\\x98"},
        {"\xdf\x7f\xe1\x80\x7f\xe1\x80\xc0\xf1\x80\x80\xc3", "\\xdf\\x7f\\xe1\\x80\\x7f\\xe1\\x80\\xc0\\xf1\\x80\\x80\\xc3"},
    };
    for (const auto &[message, shown] : rows) {
        SCOPED_TRACE(shown);
        const auto [text, result] =
            CaptureStderr([&] { return quorlith_printf(1, "E", "M", "%s", "f", 7, message.c_str()); });
        EXPECT_EQ(text, "[1 E] M f:7:" + shown + "\n");
        EXPECT_EQ(result, static_cast<int>(text.size()));
    }
}

// Each row: the prefix's fields, a message, and the whole record. A record
// longer than 4096 bytes is cut after the last character that leaves room
// for the marker, in the message or in the prefix.
TEST(PlatformLog, CutsRecordsAt4096Bytes)
{
    const std::string p = "[1 E] M f:7:", cut = " [truncated]\n", nine = "[0 ]  :0:";
    const std::string f = x(5000, "f"), escapeAtCut = x(4073, "f") + "\x01" + x(99, "f");
    const struct { int level; const char *name, *module, *file; int line; std::string message, record; } rows[] = {
        {1, "E", "M", "f", 7, x(4082), p + x(4082) + "\n"},
        {1, "E", "M", "f", 7, x(4083) + "\n", p + x(4083) + "\n"},
        {1, "E", "M", "f", 7, x(4084), p + x(4071) + cut},
        {1, "E", "M", "f", 7, x(20000, "\x01"), p + x(1017, "\\x01") + cut},
        {1, "E", "M", "f", 7, x(4069) + "\x01" + x(20), p + x(4069) + cut},
        {1, "E", "M", "f", 7, x(4068) + "\xe2\x82\xac" + x(20), p + x(4068) + "\xe2\x82\xac" + cut},
        {1, "E", "M", "f", 7, x(4069) + "\xe2\x82\xac" + x(20), p + x(4069) + cut},
        {1, "E", "M", "f", 7, x(4067) + "\xf0\x9f\x98\x80" + x(20), p + x(4067) + "\xf0\x9f\x98\x80" + cut},
        {0, nullptr, nullptr, nullptr, 0, x(4086) + "\n", nine + x(4086) + "\n"},
        {0, nullptr, nullptr, nullptr, 0, x(4087), nine + x(4074) + cut},
        {-3, "\n\x80", "\xc2\xa0\\", "a\tb", -42, "", "[-3 \\n\\x80] \xc2\xa0\\\\ a\\tb:-42:\n"},
        {INT_MIN, "N", "M", "", INT_MAX, "x\n", "[-2147483648 N] M :2147483647:x\n"},
        {1, "E", "M", f.c_str(), 7, "x", "[1 E] M " + x(4075, "f") + cut},
        {1, "E", "M", escapeAtCut.c_str(), 7, "x", "[1 E] M " + x(4073, "f") + cut},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.record.substr(0, 40) + "... " + std::to_string(row.record.size()));
        const auto [text, result] = CaptureStderr([&] {
            return quorlith_printf(row.level, row.name, row.module, "%s", row.file, row.line,
                                   row.message.c_str());
        });
        EXPECT_TRUE(text == row.record) << text.size() << " bytes: " << text.substr(0, 40);
        EXPECT_EQ(result, static_cast<int>(text.size()));
    }
}

// A write that a signal interrupts before it could write anything is made
// again; -1 when nothing is written: a message that cannot be formatted (a
// wide character with no multibyte form in the C locale) or a closed stderr.
TEST(PlatformLog, WritesAgainAfterAnInterruptionAndReturnsMinusOneOnFailure)
{
    auto log = [] { return quorlith_printf(1, "E", "M", "%s", "f", 7, "late"); };
    EXPECT_EQ(CaptureStderr(log, true), std::make_pair(std::string("[1 E] M f:7:late\n"), 17));
    EXPECT_EQ(CaptureStderr([] { return quorlith_printf(1, "E", "M", "%ls", "f", 1, L"\u0100"); }),
              std::make_pair(std::string(), -1));
    EXPECT_EQ(CaptureStderr([] { return close(2) + quorlith_printf(1, "E", "M", "closed", "f", 1); }),
              std::make_pair(std::string(), -1));
}

}  // namespace
