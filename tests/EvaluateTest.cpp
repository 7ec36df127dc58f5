#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <cstdint>
#include <sstream>

#include "CExprUtil.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr int kFail = 20014;
const std::string kMissing = " fail to get value for variable(";
const std::string kUnmatched = " Invalid expression with un-matched operands \n";
const std::string kDenominator = " Invalid expression with denominator 0 \n";

std::vector<std::string> Messages()
{
    std::vector<std::string> messages;
    for (const LogRecord &record : TakeRecords())
        messages.push_back(record.message);
    return messages;
}

struct SubstituteRow {
    VariableTable table;
    const char *before;  // Describe() form
    int status;
    const char *after;
    const char *missing;  // the variable text logged, or nullptr
};

TEST(SubstituteVariables, LooksUpLow16BitsOfTheSaturatedNumber)
{
    const SubstituteRow rows[] = {
        {{}, "", 0, "", nullptr},
        {{}, "1/1 +/5 (/2", 0, "1/1 +/5 (/2", nullptr},
        {{{3, -12}}, "3/0", 0, "-12/0", nullptr},
        {{{0, 5}}, "65536/0 /0 007/1", 0, "5/0 5/0 007/1", nullptr},
        {{{4464, 9}}, "70000/0", 0, "9/0", nullptr},
        {{{65535, 1}}, "2147483647/0 2147483648/0 99999999999/0", 0, "1/0 1/0 1/0", nullptr},
        {{{65535, 1}, {0, 2}}, "65535/0 4294967296/0", 0, "1/0 1/0", nullptr},
        {{{0, 0}, {1, INT32_MAX}, {2, INT32_MIN}}, "0/0 1/0 2/0", 0,
         "0/0 2147483647/0 -2147483648/0", nullptr},
        {{{65524, 4}}, "-12/0", 0, "4/0", nullptr},
        {{{1, 10}}, "1/0 2/0 1/0", kFail, "10/0 2/0 1/0", "2"},
        {{{1, 10}}, "9/1 //4", 0, "9/1 //4", nullptr},
    };
    for (const SubstituteRow &row : rows) {
        SCOPED_TRACE(row.before);
        TokenList list = Parse(row.before);
        TakeRecords();
        EXPECT_EQ(CExprUtil::SubstituteVariables(list, row.table), row.status);
        EXPECT_EQ(Describe(list), row.after);
        const std::vector<std::string> expected =
            row.missing ? std::vector<std::string>{kMissing + row.missing + ") \n"}
                        : std::vector<std::string>{};
        EXPECT_EQ(Messages(), expected);
    }
}

// A postfix list from blank-separated lexemes, each read by the lexer;
// "_" stands for an operand token with no digits.
TokenList Postfix(const std::string &lexemes)
{
    TokenList list;
    std::istringstream words(lexemes);
    std::string word;
    while (words >> word) {
        TokenList one;
        if (word == "_")
            one.emplace_back("", ENumber);
        else
            CExprUtil::TokenAnalysis(one, word.c_str());
        list.insert(list.end(), one.begin(), one.end());
    }
    TakeRecords();
    return list;
}

struct EvalRow {
    const char *postfix;
    VariableTable table;
    int status;
    int32_t result;
    std::vector<std::string> messages;
};

TEST(EvaluatePostfix, ComputesListsAndFailsWithResultZero)
{
    const EvalRow rows[] = {
        {"1 2 < 3 4 < &", {}, 0, 1, {}},
        {"2147483647 1 +", {}, 0, INT32_MIN, {}},
        {"65536 65536 *", {}, 0, 0, {}},
        {"{$1} {$2} /", {{1, INT32_MIN}, {2, -1}}, 0, INT32_MIN, {}},
        {"{$1} {$2} %", {{1, INT32_MIN}, {2, -1}}, 0, 0, {}},
        {"{$1} 2 /", {{1, -7}}, 0, -3, {}},
        {"7 {$1} %", {{1, -2}}, 0, 1, {}},
        {"99999999999", {}, 0, INT32_MAX, {}},
        {"42", {}, 0, 42, {}},
        {"1 2", {}, 0, 2, {}},
        {"( 1 +", {}, 0, 1, {}},
        {"_ 4 +", {}, 0, 4, {}},
        {"{$1} 5 +", {{1, 10}}, 0, 15, {}},
        {"5 0 /", {}, kFail, 0, {kDenominator}},
        {"1 +", {}, kFail, 0, {kUnmatched}},
        {"+ 1 2", {}, kFail, 0, {kUnmatched}},
        {"1 &&", {}, kFail, 0, {kUnmatched}},
        {"5 0 / +", {}, kFail, 0, {kDenominator}},
        {"1 0 / 0 1 &&", {}, kFail, 0, {kDenominator}},
        // && and || decide from their left operand as in C: a division by
        // zero the result does not need cannot fail; one it needs does.
        {"0 1 0 / &&", {}, 0, 0, {}},
        {"1 5 0 % ||", {}, 0, 1, {}},
        {"0 1 0 / 2 0 % + &&", {}, 0, 0, {}},
        {"0 1 0 / && 2 ||", {}, 0, 1, {}},
        {"0 1 0 / && 4 2 / +", {}, 0, 2, {}},
        {"1 0 && 3 0 / 0 && ||", {}, kFail, 0, {kDenominator}},
        {"1 1 0 / &&", {}, kFail, 0, {kDenominator}},
        {"0 1 0 / ||", {}, kFail, 0, {kDenominator}},
        {"1 0 / 0 &&", {}, kFail, 0, {kDenominator}},
        {"1 0 / 0 1 && +", {}, kFail, 0, {kDenominator}},
        {"{$1} {$2} +", {{1, 1}}, kFail, 0, {kMissing + "2) \n"}},
        {"", {}, kFail, 0, {" Invalid expression without operand to be evaluated \n"}},
    };
    for (const EvalRow &row : rows) {
        SCOPED_TRACE(row.postfix);
        TokenList list = Postfix(row.postfix);
        int32_t result = 77;
        EXPECT_EQ(CExprUtil::EvaluatePostfix(list, row.table, result), row.status);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(Messages(), row.messages);
    }
}

}  // namespace
