#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

// Verdict, postfix list, status, value and records of one caller's attempt.
std::string Attempt(const char *text)
{
    TokenList list;
    int32_t value = 0;
    std::string outcome = std::to_string(CExprUtil::VerifyExpression(list, text)) + Describe(list);
    outcome += std::to_string(CExprUtil::EvaluatePostfix(list, {{1, 7}, {2, 0}}, value));
    return outcome + std::to_string(value) + TakeMessages();
}

// The operations keep no state, so threads working on different lists at
// once must each get exactly what a lone caller gets, records included. A
// shared buffer anywhere breaks this (ThreadSanitizer reports it too).
TEST(Concurrency, ThreadsVerifyConvertAndEvaluateTheirOwnLists)
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
            for (size_t round = t; round < t + 300; ++round)
                mismatches += Attempt(texts[round % std::size(texts)]) != expected[round % std::size(texts)];
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
