#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "CCompiledExpr.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr int kFail = 20014;
const std::string kUnmatched = "1 Invalid expression with un-matched operands \n";
const std::string kDenominator = "1 Invalid expression with denominator 0 \n";

// The status, then the level and message of each record; `sites` gets the
// file and line of each.
std::string Outcome(int status, std::string &sites)
{
    std::string text = std::to_string(status) + " ";
    for (const LogRecord &record : TakeRecords())
        text += std::to_string(record.level) + record.message, sites += record.file + std::to_string(record.line);
    return text;
}

// EvaluatePostfix on a copy of `list` gives `status`, `result` and the
// records `messages`; the compiled form gives the very same, sites included.
void ExpectBoth(const TokenList &list, const VariableTable &table, int status, int32_t result,
                const std::string &messages = "", const char *substituted = nullptr)
{
    TokenList copy = list;
    int32_t value = 77, compiledValue = 77;
    std::string sites, compiledSites, outcome = Outcome(CExprUtil::EvaluatePostfix(copy, table, value), sites);
    EXPECT_EQ(outcome + std::to_string(value), std::to_string(status) + " " + messages + std::to_string(result));
    EXPECT_EQ(Describe(copy, false), substituted ? substituted : Describe(copy, false));
    const std::string compiled = Outcome(CCompiledExpr(list).Evaluate(table, compiledValue), compiledSites);
    EXPECT_EQ(compiled + std::to_string(compiledValue) + compiledSites, outcome + std::to_string(value) + sites);
}

// Lists in Parse's form: 0 is a variable's code, 1 a number's, 4 to 12 operators.
TEST(Evaluation, BothEnginesComputeAndFailAlike)
{
    const struct {
        const char *postfix;
        VariableTable table;
        int status;
        int32_t result;
        std::string messages;
        const char *substituted = nullptr;  // the list's texts afterwards, if not as before
    } rows[] = {
        // Variables are the low 16 bits of their saturated number; the first
        // missing one fails, the variables before it keep their values.
        {"3/0 -12/0 +/5", {{3, -12}, {65524, 4}}, 0, -8, "", "-12 4 +"},
        {"65536/0 /0 +/5 007/1 +/5", {{0, 5}}, 0, 17, "", "5 5 + 007 +"},
        {"70000/0 2147483647/0 +/5 99999999999/0 +/5", {{4464, 9}, {65535, 1}}, 0, 11, "", "9 1 + 1 +"},
        {"1/0 2/0 -/5", {{1, INT32_MAX}, {2, INT32_MIN}}, 0, -1, "", "2147483647 -2147483648 -"},
        {"1/0 2/0 1/0 +/5 +/5", {{1, 10}}, kFail, 0, "1 fail to get value for variable(2) \n", "10 2 1 + +"},
        {"2147483647/1 1/1 +/5", {}, 0, INT32_MIN, ""}, {"65536/1 65536/1 */4", {}, 0, 0, ""},
        {"1/0 2/0 //4", {{1, -7}, {2, 2}}, 0, -3, ""}, {"7/1 1/0 %/4", {{1, -2}}, 0, 1, ""},
        {"1/1 2/1 </6 3/1 4/1 </6 &/8", {}, 0, 1, ""}, {"99999999999/1", {}, 0, INT32_MAX, ""},
        {"1/1 2/1", {}, 0, 2, ""}, {"(/2 1/1 +/5 )/3 -/5", {}, 0, 1, ""},
        {"/1 4/1 +/5 x/13 -/5", {}, 0, 4, ""}, {"1/0 5/1 +/5", {{1, 10}}, 0, 15, ""},
        {"5/1 0/1 //4", {}, kFail, 0, kDenominator}, {"5/1 0/1 %/4 0/1 */4", {}, kFail, 0, kDenominator},
        {"1/1 +/5", {}, kFail, 0, kUnmatched}, {"+/5 1/1 2/1", {}, kFail, 0, kUnmatched},
        {"1/1 &&/11", {}, kFail, 0, kUnmatched},
        {"", {}, kFail, 0, "1 Invalid expression without operand to be evaluated \n"},
        // && and || decide from their left operand as in C: a division by
        // zero the result does not need cannot fail; one it needs does.
        {"0/1 1/1 0/1 //4 &&/11", {}, 0, 0, ""}, {"1/1 5/1 0/1 %/4 ||/12", {}, 0, 1, ""},
        {"0/1 1/1 0/1 //4 &&/11 4/1 2/1 //4 +/5", {}, 0, 2, ""},
        {"1/1 0/1 &&/11 3/1 0/1 //4 0/1 &&/11 ||/12", {}, kFail, 0, kDenominator},
        {"1/1 1/1 0/1 //4 &&/11", {}, kFail, 0, kDenominator},
        {"0/1 1/1 0/1 //4 ||/12", {}, kFail, 0, kDenominator},
        {"1/1 0/1 //4 0/1 &&/11", {}, kFail, 0, kDenominator},
        {"1/1 0/1 //4 0/1 1/1 &&/11", {}, kFail, 0, kDenominator},
        {"0/1 1/1 0/1 //4 &&/11 +/5", {}, kFail, 0, kUnmatched},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.postfix);
        ExpectBoth(Parse(row.postfix), row.table, row.status, row.result, row.messages, row.substituted);
    }
    // Deeper than the engines' local stacks: 70 variables, then their sums.
    TokenList sums(69, ExprToken("+", EAddSub));
    VariableTable table;
    for (uint16_t number = 70; number > 0; --number)
        sums.emplace(sums.begin(), std::to_string(table[number] = number), EVariable);
    ExpectBoth(sums, table, 0, 70 * 71 / 2);
    ExpectBoth(sums, {{1, 1}}, kFail, 0, "1 fail to get value for variable(2) \n");
}

// Every operator on the 32-bit edges against 64-bit arithmetic: wrapping
// sums, differences and products, truncating division, signed comparisons.
TEST(Evaluation, OperatorsOnTheEdges)
{
    const int64_t edges[] = {INT32_MIN, INT32_MIN + 1, -7, -2, -1, 0, 1, 2, 7, INT32_MAX - 1, INT32_MAX};
    const char *operators[] = {"*/4", "//4", "%/4", "+/5", "-/5", "</6", ">/6", "<=/6", ">=/6",
                               "==/7", "!=/7", "&/8", "^/9", "|/10", "&&/11", "||/12"};
    for (const char *op : operators) {
        for (const int64_t a : edges) {
            for (const int64_t b : edges) {
                SCOPED_TRACE(std::to_string(a) + " " + op + " " + std::to_string(b));
                const std::string o(op, std::strrchr(op, '/'));
                const bool divides = o == "/" || o == "%";
                const int64_t v = o == "*" ? a * b : o == "+" ? a + b : o == "-" ? a - b
                    : divides ? (b == 0 ? 0 : b == -1 ? (o == "/" ? -a : 0) : o == "/" ? a / b : a % b)
                    : o == "<" ? a < b : o == ">" ? a > b : o == "<=" ? a <= b : o == ">=" ? a >= b
                    : o == "==" ? a == b : o == "!=" ? a != b : o == "&" ? (a & b) : o == "^" ? (a ^ b)
                    : o == "|" ? (a | b) : o == "&&" ? (a && b) : (a || b);
                const bool byZero = divides && b == 0;
                ExpectBoth(Parse(std::string("1/0 2/0 ") + op), {{1, int32_t(a)}, {2, int32_t(b)}},
                           byZero ? kFail : 0, byZero ? 0 : int32_t(uint32_t(v)),
                           byZero ? kDenominator : "");
            }
        }
    }
}

}  // namespace
