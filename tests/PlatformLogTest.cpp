#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX, <csignal> lacks it
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <fstream>
#include <string>
#include <thread>

#include "quorlith.h"

using Result = std::pair<std::string, int>;

// Standard error for Capture: a full one-page pipe that a reader drains (interrupted: first SIGUSR1, without
// SA_RESTART, hits the writer every 5 ms for 200 ms; sigpipe: first, once the writer waits in its write,
// SIGPIPE goes to the process or to the writer); the pipe non-blocking, read 512 bytes a ms (slow); a
// non-blocking socket, smallest send buffer, 1000 bytes queued, read as slowly from 20 ms on: takes part.
enum class Sink { EPipe, EInterrupted, ESigpipeToProcess, ESigpipeToWriter, ESlowPipe, ESlowSocket };

// Whether thread `tid` sleeps with SIGPIPE blocked: a writer that unblocked it waits in quorlith_printf's
// write.
static bool WaitsWithSigpipeBlocked(pid_t tid)
{
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream statFile(task + "/stat"), statusFile(task + "/status");
    const std::string stat{std::istreambuf_iterator<char>(statFile), {}};
    std::string line;
    while (std::getline(statusFile, line) && line.rfind("SigBlk:", 0) != 0)
        continue;
    const size_t state = stat.rfind(") ") + 2;  // the name, in parentheses, may hold anything
    return state < stat.size() && stat[state] == 'S' && line.size() > 7 &&
        (std::stoull(line.substr(7), nullptr, 16) >> (SIGPIPE - 1) & 1U) != 0;
}

// Runs `log` with standard error on `sink`: what it wrote, and its result.
template <typename Log> static Result Capture(Log log, Sink sink = Sink::EPipe)
{
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, nullptr);
    const bool socket = sink == Sink::ESlowSocket, slow = socket || sink == Sink::ESlowPipe;
    int fds[2], saved = dup(2), smallest = 1;
    const std::string filler(socket ? 1000 : 4096, '.');
    EXPECT_TRUE((socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0 &&
                            setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest) == 0
                        : pipe(fds) == 0 && fcntl(fds[1], F_SETPIPE_SZ, 4096) == 4096) &&
        write(fds[1], filler.data(), filler.size()) == static_cast<ssize_t>(filler.size()) &&
        (!slow || fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0) && dup2(fds[1], 2) == 2);
    close(fds[1]);
    std::string text;
    std::thread reader([&, writer = pthread_self(), tid = gettid()] {
        for (int i = 0; sink == Sink::EInterrupted && i < 40; ++i, usleep(5000))
            pthread_kill(writer, SIGUSR1);
        if (sink == Sink::ESigpipeToProcess || sink == Sink::ESigpipeToWriter) {
            sigset_t sigpipe;  // only the writer may take a SIGPIPE sent to the process
            EXPECT_TRUE(sigemptyset(&sigpipe) == 0 && sigaddset(&sigpipe, SIGPIPE) == 0 &&
                pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr) == 0);
            // Bounded: where /proc cannot tell (an emulator), the signal may come early, which proves less.
            for (int i = 0; i < 2000 && !WaitsWithSigpipeBlocked(tid); ++i)
                usleep(1000);
            EXPECT_EQ(
                sink == Sink::ESigpipeToProcess ? kill(getpid(), SIGPIPE) : pthread_kill(writer, SIGPIPE), 0);
        }
        usleep(socket ? 20000 : 0);
        char buffer[65536];
        for (ssize_t n; (n = read(fds[0], buffer, slow ? 512 : sizeof buffer)) > 0; usleep(slow ? 1000 : 0))
            text.append(buffer, static_cast<size_t>(n));
    });
    const int result = log();
    dup2(saved, 2);
    close(saved);
    reader.join();
    close(fds[0]);
    return {text.substr(filler.size()), result};
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
        EXPECT_TRUE(text == row.record + "\n" && result == static_cast<int>(row.record.size() + 1))
            << "row " << &row - rows << ", " << result << ", ending "
            << text.substr(std::max<size_t>(text.size(), 60) - 60);
    }
}

// A write that a signal interrupts before it wrote anything is made again; -1 when nothing is written:
// a message that cannot be formatted (no multibyte form in the C locale) or a closed standard error.
TEST(PlatformLog, WritesAgainAfterAnInterruptionAndReturnsMinusOneOnFailure)
{
    EXPECT_EQ(Capture([] { return quorlith_printf(1, "E", "M", "late", "f", 7); }, Sink::EInterrupted),
        (Result{"[1 E] M f:7:late\n", 17}));
    EXPECT_EQ(
        Capture([] { return quorlith_printf(1, "E", "M", "%ls", "f", 1, L"\u0100"); }), (Result{"", -1}));
    EXPECT_EQ(
        Capture([] { return close(2) + quorlith_printf(1, "E", "M", "closed", "f", 1); }), (Result{"", -1}));
}

// A full non-blocking standard error is waited for: a record of a few KiB arrives whole, and the next one
// on a line of its own, whether the descriptor refuses the record (a pipe) or takes part of it (a socket).
TEST(PlatformLog, WaitsUntilAFullNonBlockingStandardErrorTakesTheWholeRecord)
{
    const std::string big(3000, 'x'), records = "[1 E] M f:7:" + big + "\n[1 E] M f:8:next\n";
    const auto log = [&] {
        return quorlith_printf(1, "E", "M", "%s", "f", 7, big.c_str()) +
            quorlith_printf(1, "E", "M", "next", "f", 8);
    };
    for (const Sink sink : {Sink::ESlowPipe, Sink::ESlowSocket}) {
        const auto [text, result] = Capture(log, sink);
        EXPECT_TRUE(text == records && result == static_cast<int>(records.size()))
            << "sink " << static_cast<int>(sink) << ", " << result << ", " << text.size() << " bytes";
    }
}

// A reader that has gone costs -1 (EPIPE) and no SIGPIPE: none is left pending, the thread's mask and the
// disposition are as they were; a SIGPIPE that the caller keeps blocked and pending stays so.
TEST(PlatformLog, AReaderThatHasGoneCostsMinusOneAndNoSigpipe)
{
    sigset_t sigpipe, callerMask, mask, pending;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    for (const int callerBlocks : {0, 1}) {
        pthread_sigmask(callerBlocks ? SIG_BLOCK : SIG_UNBLOCK, &sigpipe, &callerMask);
        int fds[2], saved = dup(2);
        EXPECT_TRUE(pipe(fds) == 0 && close(fds[0]) == 0 && dup2(fds[1], 2) == 2 && close(fds[1]) == 0 &&
            (!callerBlocks || pthread_kill(pthread_self(), SIGPIPE) == 0));
        const int result = quorlith_printf(1, "E", "M", "gone", "f", 7), error = errno;
        struct sigaction disposition = {};
        EXPECT_TRUE(dup2(saved, 2) == 2 && close(saved) == 0 &&
            sigaction(SIGPIPE, nullptr, &disposition) == 0 &&
            pthread_sigmask(SIG_BLOCK, nullptr, &mask) == 0 && sigpending(&pending) == 0);
        EXPECT_EQ(std::make_tuple(result, error, disposition.sa_handler == SIG_DFL,
                      sigismember(&mask, SIGPIPE), sigismember(&pending, SIGPIPE)),
            std::make_tuple(-1, EPIPE, true, callerBlocks, callerBlocks));
        const timespec now = {};
        sigtimedwait(&sigpipe, nullptr, &now);  // takes the caller's back
        pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);
    }
}

// A SIGPIPE from elsewhere, sent while the call waits in a write that then succeeds, is the host's: its
// handler runs once, whether the signal went to the process or to the writing thread.
TEST(PlatformLog, LeavesASigpipeFromElsewhereToTheHostsHandler)
{
    static std::atomic<int> handled{0};
    struct sigaction action = {}, host = {};
    action.sa_handler = [](int) { ++handled; };
    ASSERT_EQ(sigaction(SIGPIPE, &action, &host), 0);
    for (const Sink sink : {Sink::ESigpipeToProcess, Sink::ESigpipeToWriter}) {
        handled = 0;
        const auto [text, result] =
            Capture([] { return quorlith_printf(1, "E", "M", "still writes", "f", 7); }, sink);
        EXPECT_EQ(std::make_tuple(text, result, handled.load()),
            std::make_tuple(std::string("[1 E] M f:7:still writes\n"), 25, 1))
            << "sink " << static_cast<int>(sink);
    }
    sigaction(SIGPIPE, &host, nullptr);
}
