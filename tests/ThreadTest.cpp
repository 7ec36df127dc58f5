#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "CCompiledExpr.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

// Runs `work` on a new thread with a stack of `stackSize` bytes, and waits.
template <typename Work>
void RunOnThread(size_t stackSize, Work &work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t thread;
    const auto start = [](void *arg) -> void * { return (*static_cast<Work *>(arg))(), nullptr; };
    ASSERT_EQ(pthread_create(&thread, &attributes, start, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// Where the text goes wrong, its verdict, postfix list, both evaluations and
// the records, as one text.
std::string Attempt(const std::string &text)
{
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    TokenList list;
    std::string outcome = std::to_string(location.eReason) + "@" + std::to_string(location.offset);
    outcome += " " + std::to_string(CExprUtil::VerifyExpression(list, text.c_str()));
    outcome += " " + std::to_string(list.size());
    const VariableTable table = {{1, 7}, {2, 0}};
    int32_t value = 0, compiledValue = 0;
    const int compiled = CCompiledExpr(list).Evaluate(table, compiledValue);
    outcome += " " + std::to_string(compiled) + " " + std::to_string(compiledValue);
    const int status = CExprUtil::EvaluatePostfix(list, table, value);
    return outcome + " " + std::to_string(status) + " " + std::to_string(value) + TakeMessages();
}

std::string Repeat(const std::string &piece, size_t count)
{
    std::string text;
    while (count-- > 0)
        text += piece;
    return text;
}

// Any depth runs in constant stack, even on a thread as small as an embedded
// worker's: recursion per level of nesting would overflow it.
TEST(SmallStack, MillionLevelsDeep)
{
    const size_t deep = 1000000;
    const std::string unclosed = Repeat("(", deep) + "1";
    const std::string rows[][2] = {
        {unclosed + Repeat(")", deep), "0@0 0 1 0 1 0 1"},
        {Repeat("1+(", deep) + "1" + Repeat(")", deep), "0@0 0 2000001 0 1000001 0 1000001"},
        {unclosed, "7@1000001 20014 1000001 "},
    };
    for (const auto &[text, expected] : rows) {
        std::string outcome;
        auto work = [&text = text, &outcome] { outcome = Attempt(text); };
        RunOnThread(64 * 1024, work);
        EXPECT_EQ(outcome.substr(0, expected.size()), expected);
    }
}

// The operations keep no state, so threads working on different lists at
// once must each get exactly what a lone caller gets, records included. A
// shared buffer anywhere breaks this (ThreadSanitizer reports it too).
TEST(Concurrency, ThreadsGetWhatALoneCallerGets)
{
    const char *texts[] = {"({$1} + 25) * 3 >= 400 && {$2} % 7 == 0", "{$2} != 0 && 100 / {$2} > 3",
                           "1 || 5 % 0", "5 / {$2}", "{$9} + 1", "((1 + 2) * 3) ^ 5", "1+", "a<=b"};
    std::vector<std::string> expected;
    for (const char *text : texts)
        expected.push_back(Attempt(text));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < t + 300; ++i)
                mismatches += Attempt(texts[i % std::size(texts)]) != expected[i % std::size(texts)];
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
