#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "CCompiledExpr.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

// Where the text goes wrong, its verdict and list size, both evaluations
// and the records, as one text.
std::string Attempt(const std::string &text)
{
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    TokenList list;
    const int verified = CExprUtil::VerifyExpression(list, text.c_str());
    int32_t value = 0, compiledValue = 0;
    const int compiled = CCompiledExpr(list).Evaluate({{1, 7}, {2, 0}}, compiledValue);
    const int evaluated = CExprUtil::EvaluatePostfix(list, {{1, 7}, {2, 0}}, value);
    std::string outcome;
    for (const int64_t part : {int64_t(location.eReason), int64_t(location.offset), int64_t(verified),
                               int64_t(list.size()), int64_t(compiled), int64_t(compiledValue),
                               int64_t(evaluated), int64_t(value)})
        outcome += std::to_string(part) + " ";
    return outcome + TakeMessages();
}

// Any depth runs in constant stack, even on a thread as small as an embedded
// worker's (64 KiB): recursion per level of nesting would overflow it.
TEST(SmallStack, MillionLevelsDeep)
{
    const size_t deep = 1000000;
    std::string chain;
    for (size_t i = 0; i < deep; ++i)
        chain += "1+(";
    const std::string rows[][2] = {
        {std::string(deep, '(') + "1" + std::string(deep, ')'), "0 0 0 1 0 1 0 1 "},
        {chain + "1" + std::string(deep, ')'), "0 0 0 2000001 0 1000001 0 1000001 "},
        {std::string(deep, '(') + "1", "7 1000001 20014 1000001 "},
    };
    for (const auto &[text, expected] : rows) {
        struct Job { const std::string &text; std::string outcome; } job{text, ""};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 64 * 1024);
        pthread_t thread;
        const auto run = [](void *arg) -> void * {
            Job &job = *static_cast<Job *>(arg);
            return job.outcome = Attempt(job.text), nullptr;
        };
        ASSERT_EQ(pthread_create(&thread, &attributes, run, &job), 0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attributes);
        EXPECT_EQ(job.outcome.substr(0, expected.size()), expected);
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
