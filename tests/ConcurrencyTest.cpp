#include <gtest/gtest.h>

#include <thread>

#include "CExprUtil.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

struct Outcome {
    int verified;
    std::string postfix;
    int evaluated;
    int32_t value;
    std::vector<std::string> messages;

    bool operator==(const Outcome &other) const
    {
        return verified == other.verified && postfix == other.postfix &&
               evaluated == other.evaluated && value == other.value && messages == other.messages;
    }
};

Outcome Attempt(const char *text)
{
    static const VariableTable kTable = {{1, 7}, {2, 0}, {3, INT32_MIN}};
    Outcome outcome{};
    TokenList list;
    outcome.verified = CExprUtil::VerifyExpression(list, text);
    outcome.postfix = Texts(list);
    if (outcome.verified == 0)
        outcome.evaluated = CExprUtil::EvaluatePostfix(list, kTable, outcome.value);
    for (const LogRecord &record : TakeRecords())
        outcome.messages.push_back(std::to_string(record.level) + record.message);
    return outcome;
}

// The operations keep no state, so threads working on different lists at
// once must each get exactly what a lone caller gets, records included. A
// shared buffer or stack anywhere in the library breaks this (and
// ThreadSanitizer reports it in the tsan build).
TEST(Concurrency, ThreadsVerifyConvertAndEvaluateTheirOwnLists)
{
    const char *texts[] = {
        "({$1} + 25) * 3 >= 400 && {$2} % 7 == 0",
        "{$2} != 0 && 100 / {$2} > 3",
        "{$3} / (0 - 1) | 1 < 2",
        "1 || 5 % 0",
        "5 / {$2}",
        "{$9} + 1",
        "((((1 + 2) * 3) - 4) ^ 5) & 6",
        "1+",
        "a<=b",
        "{$1 + 2",
    };
    std::vector<Outcome> expected;
    for (const char *text : texts)
        expected.push_back(Attempt(text));

    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const size_t i = static_cast<size_t>(round + t) % std::size(texts);
                if (!(Attempt(texts[i]) == expected[i]))
                    ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
