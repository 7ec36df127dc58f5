#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "CCompiledExpr.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

// Any list at all: tokens as the lexer gives them, in any order, and now
// and then a random code (some outside 0..12) on a random text.
TokenList RandomTokens(std::mt19937 &random)
{
    static const ExprToken kTokens[] = {
        {"0", ENumber},     {"1", ENumber},       {"2", ENumber},     {"", ENumber},
        {"1", EVariable},   {"65538", EVariable}, {"*", EMulDivMod},  {"/", EMulDivMod},
        {"%", EMulDivMod},  {"+", EAddSub},       {"-", EAddSub},     {">=", ERelational},
        {"<", ERelational}, {"!=", EEquality},    {"&&", ELogicAnd},  {"||", ELogicOr},
        {"(", ELeftParen},  {"x", 13},
    };
    TokenList list;
    for (size_t n = random() % 13; n > 0; --n) {
        list.push_back(kTokens[random() % std::size(kTokens)]);
        if (random() % 4 == 0)
            list.back().eTokenCode = static_cast<int32_t>(random() % 15) - 1;
    }
    return list;
}

VariableTable RandomTable(std::mt19937 &random)
{
    static const int32_t kValues[] = {INT32_MIN, -1, 0, 0, 1, 2, 3, INT32_MAX};
    VariableTable table;
    for (uint16_t number = 1; number <= 3; ++number)
        if (random() % 6 != 0)
            table[number] = kValues[random() % std::size(kValues)];
    return table;
}

std::string Outcome(int status, int32_t result)
{
    std::string text = std::to_string(status) + " " + std::to_string(result);
    for (const LogRecord &record : TakeRecords())
        text += " | " + std::to_string(record.level) + " " + record.file + ":" +
                std::to_string(record.line) + record.message;
    return text;
}

// The compiled form must answer every table exactly as EvaluatePostfix does
// on a fresh copy of the list: status, result and records, failures included.
TEST(CCompiledExpr, AgreesWithEvaluatePostfixOnRandomLists)
{
    std::mt19937 random(20140601);
    for (int round = 0; round < 6000; ++round) {
        const TokenList list = RandomTokens(random);
        SCOPED_TRACE(Describe(list));
        const CCompiledExpr compiled(list);
        for (int evaluation = 0; evaluation < 2; ++evaluation) {
            const VariableTable table = RandomTable(random);
            TokenList copy = list;
            int32_t expected = 77;
            const int expectedStatus = CExprUtil::EvaluatePostfix(copy, table, expected);
            const std::string want = Outcome(expectedStatus, expected);
            int32_t result = 77;
            const int status = compiled.Evaluate(table, result);
            ASSERT_EQ(Outcome(status, result), want);
        }
    }
}

// More values or variables than fit in the evaluation's local buffers: 70
// variables pushed before the first of their 69 sums.
TEST(CCompiledExpr, AgreesBeyondItsLocalBuffers)
{
    TokenList list;
    VariableTable table;
    for (uint16_t number = 1; number <= 70; ++number) {
        list.emplace_back(std::to_string(number), EVariable);
        table[number] = number * 1000;
    }
    for (int sum = 1; sum < 70; ++sum)
        list.emplace_back("+", EAddSub);
    const CCompiledExpr compiled(list);
    for (const VariableTable &variables : {table, VariableTable{{1, 1}}}) {
        TokenList copy = list;
        int32_t expected = 77;
        const std::string want = Outcome(CExprUtil::EvaluatePostfix(copy, variables, expected), expected);
        int32_t result = 77;
        EXPECT_EQ(Outcome(compiled.Evaluate(variables, result), result), want);
    }
}

}  // namespace
