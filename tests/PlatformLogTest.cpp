#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX, <csignal> lacks it
#include <unistd.h>

#include <climits>
#include <thread>

#include "quorlith.h"

using Result = std::pair<std::string, int>;

// Runs `log` with standard error on a full one-page pipe that a reader drains: what it wrote, and its
// result. When `interrupted`, the reader first waits 200 ms while SIGUSR1, handled without SA_RESTART,
// hits the calling thread every 5 ms: its write blocks, and is interrupted again and again.
template <typename Log> static Result Capture(Log log, bool interrupted = false)
{
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, nullptr);
    int fds[2], saved = dup(2);
    const std::string filler(4096, '.');
    EXPECT_TRUE(pipe(fds) == 0 && fcntl(fds[1], F_SETPIPE_SZ, 4096) == 4096 &&
        write(fds[1], filler.data(), 4096) == 4096 && dup2(fds[1], 2) == 2);
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
    return {text.substr(4096), result};
}

// Each row: a message, the record it becomes (without its newline), and the prefix's fields. A record
// over 4096 bytes is cut after the last character, in the message or the prefix, that leaves room for
// the marker. The first rows escape each class of byte and UTF-8 sequence at its edges.
TEST(PlatformLog, EscapesEachByteThatIsNoPrintableCharacterAndCutsAt4096Bytes)
{
    const auto x = [](size_t n, const std::string &unit = "x") {
        std::string s;
        while (n-- > 0)
            s += unit;
        return s;
    };
    const std::string p = "[1 E] M f:7:", nine = "[0 ]  :0:", cut = " [truncated]";
    const std::string field = x(4073, "f") + "\x01" + x(99, "f");
    struct Row {
        std::string message, record;
        int line = 7, level = 1;
        const char *name = "E", *module = "M", *file = "f";
    };
    const Row rows[] = {
        {" a\nb\t\r\\ %s \n", p + " a\\nb\\t\\r\\\\ %s "},
        {"\n", p},  // a message that is only its final newline
        {"\x01\x1f\x7f~\n\n", "[1 E] M f:2147483647:\\x01\\x1f\\x7f~\\n", INT_MAX},
        {"\u0080\u009f|\u00a0\u07ff\u0800\u2028\uffff",
            p + "\\xc2\\x80\\xc2\\x9f|\u00a0\u07ff\u0800\u2028\uffff"},
        {"\ud7ff\xed\xa0\x80\xed\xbf\xbf\ue000\U00010000",
            p + "\ud7ff\\xed\\xa0\\x80\\xed\\xbf\\xbf\ue000\U00010000"},
        {"\U000fffff\U0010ffff\xf4\x90\x80\x80\xf5\x80",
            p + "\U000fffff\U0010ffff\\xf4\\x90\\x80\\x80\\xf5\\x80"},
        {"\xc0\xaf\xc1\xbf\xe0\x9f\xbf\xf0\x8f\xbf\xbf",
            p + "\\xc0\\xaf\\xc1\\xbf\\xe0\\x9f\\xbf\\xf0\\x8f\\xbf\\xbf"},
        {"\x80\xbf\xfe\xff\xf8\x88\x80\x80\x80", p + "\\x80\\xbf\\xfe\\xff\\xf8\\x88\\x80\\x80\\x80"},
        {"\xe2(\xa1\xf0\u00e9\xe2\x82\n\xf0\x9f\x98",
            p + "\\xe2(\\xa1\\xf0\u00e9\\xe2\\x82\\n\\xf0\\x9f\\x98"},
        {"\xdf\x7f\xe1\x80\x7f\xe1\x80\xc0\xf1\x80\x80\xc3",
            p + "\\xdf\\x7f\\xe1\\x80\\x7f\\xe1\\x80\\xc0\\xf1\\x80\\x80\\xc3"},
        {"", "[-2147483648 \\n\\x80] \u00a0\\\\ a\\tb:-42:", -42, INT_MIN, "\n\x80", "\u00a0\\", "a\tb"},
        {x(4082), p + x(4082)},
        {x(4086) + "\n", nine + x(4086), 0, 0, nullptr, nullptr, nullptr},
        {x(4087), nine + x(4074) + cut, 0, 0, nullptr, nullptr, nullptr},
        {x(4069) + "\u20ac" + x(20), p + x(4069) + cut},
        {x(4067) + "\U0001f600" + x(20), p + x(4067) + "\U0001f600" + cut},
        {x(20000, "\x01"), p + x(1017, "\\x01") + cut},
        {"x", "[1 E] M " + x(4073, "f") + cut, 7, 1, "E", "M", field.c_str()},
    };
    for (const Row &row : rows) {
        const auto [text, result] = Capture([&] {
            return quorlith_printf(
                row.level, row.name, row.module, "%s", row.file, row.line, row.message.c_str());
        });
        EXPECT_TRUE(text == row.record + "\n" && result == static_cast<int>(text.size()))
            << "row " << &row - rows << ", " << result << ", ending "
            << text.substr(std::max<size_t>(text.size(), 60) - 60);
    }
}

// A write that a signal interrupts before it wrote anything is made again; -1 when nothing is written:
// a message that cannot be formatted (no multibyte form in the C locale) or a closed standard error.
TEST(PlatformLog, WritesAgainAfterAnInterruptionAndReturnsMinusOneOnFailure)
{
    EXPECT_EQ(Capture([] { return quorlith_printf(1, "E", "M", "late", "f", 7); }, true),
        (Result{"[1 E] M f:7:late\n", 17}));
    EXPECT_EQ(
        Capture([] { return quorlith_printf(1, "E", "M", "%ls", "f", 1, L"\u0100"); }), (Result{"", -1}));
    EXPECT_EQ(
        Capture([] { return close(2) + quorlith_printf(1, "E", "M", "closed", "f", 1); }), (Result{"", -1}));
}
