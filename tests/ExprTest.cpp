// The expression library's tests. Records are caught by a recording double
// linked in place of the platform log library.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "CCompiledExpr.h"
#include "ExprLog.h"
#include "TokenOperators.h"
#include "TreeBuilder.h"

using namespace fernvault::alarm_manager;

// When positive, the allocation that brings it to 0 on this thread fails.
thread_local int gAllocationsBeforeFailure = 0;

void *operator new(std::size_t size)
{
    void *block = gAllocationsBeforeFailure > 0 && --gAllocationsBeforeFailure == 0
        ? nullptr
        : std::malloc(size > 0 ? size : 1);
    return block ? block : throw std::bad_alloc();
}
// gcc's sanitizer builds cannot see that the blocks come from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *block) noexcept
{
    std::free(block);
}
void operator delete(void *block, std::size_t /*size*/) noexcept
{
    std::free(block);
}

namespace {

struct LogRecord {
    int level;
    std::string levelName, module, file;
    int line;
    std::string message;  // the format with its arguments applied
};
// Per thread, so that concurrent tests each see only their own records.
thread_local std::vector<LogRecord> gRecords;

// The calling thread's records since it last took them.
std::vector<LogRecord> TakeRecords()
{
    return std::exchange(gRecords, {});
}

// "5 token analysis success \n...": the level and message of each record
// taken, each checked to name its level, the module and the library's unit.
std::string TakeMessages()
{
    std::string messages;
    for (const LogRecord &record : TakeRecords()) {
        EXPECT_EQ(record.levelName, record.level == 1 ? "EError" : "ETrace");
        EXPECT_EQ(record.module + " " + record.file, "ALARM_MANAGER CExprUtil.cpp");
        messages += std::to_string(record.level) + record.message;
    }
    return messages;
}

// Token lists as text: "1/1 +/5 2/1", each token's text and code, or
// "1 + 2", the texts alone.
std::string Describe(const TokenList &list, bool codes = true)
{
    std::string out;
    for (const auto &token : list)
        out +=
            (out.empty() ? "" : " ") + token.strToken + (codes ? "/" + std::to_string(token.eTokenCode) : "");
    return out;
}

TokenList Parse(const std::string &described)
{
    TokenList list;
    std::istringstream items(described);
    for (std::string item; items >> item;)
        list.emplace_back(item.substr(0, item.rfind('/')), std::stoi(item.substr(item.rfind('/') + 1)));
    return list;
}

constexpr int kFail = 20014;

// Where the lexer gave up: each site logs from a line of its own.
enum Site { ESiteOk, ESiteNoText, ESiteEquality, ESiteVariable, ESiteCharacter };

TEST(TokenAnalysis, TokensAndFailureSites)
{
    const struct {
        const char *text;
        Site site;
        const char *tokens;  // Describe() of the list afterwards
    } rows[] = {
        {nullptr, ESiteNoText, "stale/1"},
        {"", ESiteNoText, "stale/1"},
        {"   ", ESiteOk, ""},
        {"-5 007", ESiteOk, "-/5 5/1 007/1"},
        {"%*/+-()^", ESiteOk, "%/4 */4 //4 +/5 -/5 (/2 )/3 ^/9"},
        {"< > <= >= == !=", ESiteOk, "</6 >/6 <=/6 >=/6 ==/7 !=/7"},
        {"&&&|||&|1&", ESiteOk, "&&/11 &/8 ||/12 |/10 &/8 |/10 1/1 &/8"},
        {"{$7}+{$}{$0099}", ESiteOk, "7/0 +/5 /0 0099/0"},
        {"1< =2", ESiteEquality, "1/1 </6"},
        {"!1", ESiteEquality, ""},
        {"1!", ESiteEquality, "1/1"},
        {"===", ESiteEquality, "==/7"},
        {"{$12", ESiteVariable, ""},
        {"{$1a}", ESiteVariable, ""},
        {"2*{$ 1}", ESiteVariable, "2/1 */4"},
        {"{12}", ESiteCharacter, ""},
        {"$1", ESiteCharacter, ""},
        {"1+a", ESiteCharacter, "1/1 +/5"},
        {"1\t+2", ESiteCharacter, "1/1"},
        {"0x1F", ESiteCharacter, "0/1"},
        {"1.5", ESiteCharacter, "1/1"},
        {"1 \x80", ESiteCharacter, "1/1"},
    };
    std::set<int> lines[ESiteCharacter + 1];  // the source lines each site logged from
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        TokenList list = Parse("stale/1");
        EXPECT_EQ(CExprUtil::TokenAnalysis(list, row.text), row.site == ESiteOk ? 0 : kFail);
        EXPECT_EQ(Describe(list), row.tokens);
        const std::vector<LogRecord> records = TakeRecords();
        ASSERT_EQ(records.size(), 1U);
        EXPECT_EQ(std::to_string(records[0].level) + records[0].message,
            row.site == ESiteOk           ? "5 token analysis success \n"
                : row.site == ESiteNoText ? "1 Invalid expression string to be analysed \n"
                                          : "1 Invalid token in expression string \n");
        lines[row.site].insert(records[0].line);
    }
    std::set<int> all;
    for (const std::set<int> &site : lines) {
        EXPECT_EQ(site.size(), 1U);
        all.insert(site.begin(), site.end());
    }
    EXPECT_EQ(all.size(), std::size(lines));  // none shared
}

// The syntax analysis runs on past errors and reports where it stopped;
// LocateError points at the first error. Both judge alike: well formed
// exactly when VerifyExpression returns 0, which then logs three records.
TEST(VerifyExpression, JudgesReportsAndLocates)
{
    const struct {
        const char *text;
        const char *syntax;  // nullptr: accepted; "": the lexer fails
        size_t offset;
        ErrorReason reason;
        const char *list;  // Describe() of the list afterwards: postfix, infix or what the lexer read
    } rows[] = {
        {"1", nullptr, 0, EWellFormed, "1/1"},
        {"(({$7}))", nullptr, 0, EWellFormed, "7/0"},
        {" ((1)) && {$} || 3 ", nullptr, 0, EWellFormed, "1/1 /0 &&/11 3/1 ||/12"},
        {"(1 + 007) * 99999999999 - {$70000}", nullptr, 0, EWellFormed,
            "1/1 007/1 +/5 99999999999/1 */4 70000/0 -/5"},
        {nullptr, "", 0, ENullExpression, ""},
        {"", "", 0, EUnexpectedEnd, ""},
        {"   ", "-1, eErrorCode = -1", 3, EUnexpectedEnd, ""},
        {"1 +", "-1, eErrorCode = -1", 3, EUnexpectedEnd, "1/1 +/5"},
        {"((1) ", "-1, eErrorCode = -1", 5, EUnexpectedEnd, "(/2 (/2 1/1 )/3"},
        {"+ 1", "-1, eErrorCode = -1", 0, EOperandExpected, "+/5 1/1"},
        {"1 + + 1", "-1, eErrorCode = -1", 4, EOperandExpected, "1/1 +/5 +/5 1/1"},
        {"(1 + ) * 2", "-1, eErrorCode = -1", 5, EOperandExpected, "(/2 1/1 +/5 )/3 */4 2/1"},
        {"()", "-1, eErrorCode = -1", 1, EOperandExpected, "(/2 )/3"},
        {"1 1", "1, eErrorCode = 0", 2, EOperatorExpected, "1/1 1/1"},
        {"1 {$7}", "0, eErrorCode = 0", 2, EOperatorExpected, "1/1 7/0"},
        {"1 (1)", "2, eErrorCode = 0", 2, EOperatorExpected, "1/1 (/2 1/1 )/3"},
        {"(1 1)", "1, eErrorCode = -1", 3, EOperatorOrParenExpected, "(/2 1/1 1/1 )/3"},
        {"(+ 1) 1", "1, eErrorCode = -1", 1, EOperandExpected, "(/2 +/5 1/1 )/3 1/1"},
        {"((1) (", "2, eErrorCode = -1", 5, EOperatorOrParenExpected, "(/2 (/2 1/1 )/3 (/2"},
        {"1)", "3, eErrorCode = 0", 1, EUnmatchedParen, "1/1 )/3"},
        {") 1", "3, eErrorCode = -1", 0, EOperandExpected, ")/3 1/1"},
        {"(1)) + (", "3, eErrorCode = 0", 3, EUnmatchedParen, "(/2 1/1 )/3 )/3 +/5 (/2"},
        {"1 2 x", "", 4, EInvalidToken, "1/1 2/1"},
        {"+ {$12", "", 2, EInvalidToken, "+/5"},
        {"1 = 2", "", 2, EInvalidToken, "1/1"},
        {"%s%n", "", 1, EInvalidToken, "%/4"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        const ErrorLocation location = CExprUtil::LocateError(row.text);
        EXPECT_EQ(location.eReason, row.reason) << CExprUtil::ReasonText(location.eReason);
        EXPECT_EQ(location.offset, row.offset) << CExprUtil::ReasonText(location.eReason);
        EXPECT_EQ(TakeMessages(), "");
        TokenList lexed, list = Parse("9/1 9/1");
        CExprUtil::TokenAnalysis(lexed, row.text);
        const std::string lexing = TakeMessages(), shown = row.text ? row.text : "NULL";
        EXPECT_EQ(CExprUtil::VerifyExpression(list, row.text), row.syntax ? kFail : 0);
        const std::string syntax = !row.syntax ? "5 syntax analysis success \n"
            : *row.syntax ? std::string("1 syntax analysis fail(eTokenCode = ") + row.syntax + ") \n"
                          : "";
        EXPECT_EQ(TakeMessages(),
            lexing + syntax + (row.syntax ? "1 Invalid" : "5 Valid") + " expression : " + shown + " \n");
        EXPECT_EQ(Describe(list), row.list);
    }
    EXPECT_STREQ(CExprUtil::ReasonText(EOperatorOrParenExpected), "operator or ')' expected");
    EXPECT_STREQ(CExprUtil::ReasonText(static_cast<ErrorReason>(EUnexpectedEnd + 1)), "unknown reason");
}

// Every byte 1 to 255 at the start, middle and end of "1+2": valid exactly
// for a digit or a blank; a byte the lexer takes fails the grammar instead;
// the verdict names the text as given.
TEST(VerifyExpression, EveryByteAnywhere)
{
    for (size_t at : {0, 1, 3}) {
        for (int byte = 1; byte <= 255; ++byte) {
            std::string text = "1+2";
            text.insert(at, 1, static_cast<char>(byte));
            SCOPED_TRACE(text);
            const bool valid = (byte >= '0' && byte <= '9') || byte == ' ';
            const bool lexes = valid || std::strchr("%*/+-()^&|<>", byte) != nullptr;
            TokenList list;
            EXPECT_EQ(CExprUtil::VerifyExpression(list, text.c_str()), valid ? 0 : kFail);
            EXPECT_EQ(CExprUtil::LocateError(text.c_str()).eReason == EWellFormed, valid);
            const std::string messages = TakeMessages();
            EXPECT_EQ(messages.find(
                          lexes ? "5 token analysis success \n" : "1 Invalid token in expression string \n"),
                0U);
            const std::string verdict = std::string(valid ? "5 Valid" : "1 Invalid") + " expression : ";
            EXPECT_EQ(messages.substr(messages.rfind(verdict)), verdict + text + " \n");
        }
    }
}

TEST(ConvertToPostfix, ResolvesPrecedenceAndParentheses)
{
    const std::pair<const char *, const char *> rows[] = {
        {"1 + 2 * 3", "1 2 3 * +"},
        {"(1 + 2) * 3", "1 2 + 3 *"},
        {"1 - 2 - 3", "1 2 - 3 -"},
        {"8 - 2 + 1", "8 2 - 1 +"},
        {"8 / 4 % 2 * 1", "8 4 / 2 % 1 *"},
        {"1 - (2 - 3)", "1 2 3 - -"},
        {"2 * (3 + 4) * 5", "2 3 4 + * 5 *"},
        {"1 < 2 == 3 != 4", "1 2 < 3 == 4 !="},
        {"1 | 2 ^ 3 & 4 == 5", "1 2 3 4 5 == & ^ |"},
        {"1 ^ 2 | 3 & 4", "1 2 ^ 3 4 & |"},
        {"((1 + 2)) * ((3))", "1 2 + 3 *"},
        {"1 + 2 && 3", "1 2 + 3 &&"},
        {"1 || 2 && 3 | 4", "1 2 3 4 | && ||"},
        {"(1 || 2) && 3", "1 2 || 3 &&"},
        {"1 && 2 || 3", "1 2 && 3 ||"},
    };
    for (const auto &[infix, postfix] : rows) {
        SCOPED_TRACE(infix);
        TokenList list;
        ASSERT_EQ(CExprUtil::VerifyExpression(list, infix), 0);
        EXPECT_EQ(Describe(list, false), postfix);
    }
    TokenList list;  // texts and codes pass unchanged
    CExprUtil::VerifyExpression(list, "{$12} >= 1");
    EXPECT_EQ(Describe(list), "12/0 1/1 >=/6");
    TakeRecords();
}

// The conversion allocates before the first token moves (for a list too long
// for the call stack), so a failed allocation at any point leaves the list as
// it was; lists the syntax analysis refuses still convert, never reading an
// empty stack.
TEST(ConvertToPostfix, OddListsAndFailedAllocations)
{
    std::string longInfix = "(/2 0/1";
    std::string longPostfix = "0";
    for (int i = 1; i < 40; ++i) {
        longInfix += " -/5 " + std::to_string(i) + "/1";
        longPostfix += " " + std::to_string(i) + " -";
    }
    longInfix += " )/3";
    for (const auto &[infix, postfix] : {
             std::pair{"(/2 1/1 +/5 22222222222222222222/1 )/3 */4 3/0", "1 22222222222222222222 + 3 *"},
             {"1/1 )/3", "1"},
             {")/3 1/1 +/5 2/1", "1 2 +"},
             {"1/1 +/5 2/1 )/3", "1 2 +"},
             {"(/2 1/1 +/5 2/1", "1 2 + ("},
             {"", ""},
             {longInfix.c_str(), longPostfix.c_str()},
         }) {
        TokenList list = Parse(infix);
        for (int failing = 1;; ++failing) {
            gAllocationsBeforeFailure = failing;
            try {
                CExprUtil::ConvertToPostfix(list);
                break;
            } catch (const std::bad_alloc &) {
                ASSERT_EQ(Describe(list), infix) << failing;
            }
        }
        gAllocationsBeforeFailure = 0;
        EXPECT_EQ(Describe(list, false), postfix) << infix;
    }
}

const std::string kUnmatched = "1 Invalid expression with un-matched operands \n";
const std::string kDenominator = "1 Invalid expression with denominator 0 \n";

// What one evaluation gave: "status value", its records' levels and
// messages, and their sites.
struct Evaluated {
    std::string outcome, messages, sites;
};

void TakeInto(Evaluated &evaluated)
{
    for (const LogRecord &record : TakeRecords()) {
        evaluated.messages += std::to_string(record.level) + record.message;
        evaluated.sites += record.file + std::to_string(record.line) + " ";
    }
}

template <class Run> Evaluated Evaluate(Run run)
{
    int32_t value = 77;
    const int status = run(value);
    Evaluated evaluated{std::to_string(status) + " " + std::to_string(value), "", ""};
    TakeInto(evaluated);
    return evaluated;
}

bool operator==(const Evaluated &a, const Evaluated &b)
{
    return a.outcome == b.outcome && a.messages == b.messages && a.sites == b.sites;
}

std::ostream &operator<<(std::ostream &out, const Evaluated &e)
{
    return out << e.outcome << " " << e.messages << e.sites;
}

Evaluated Postfix(const TokenList &list, const VariableTable &table, TokenList *substituted = nullptr)
{
    TokenList copy = list;
    Evaluated evaluated = Evaluate([&](int32_t &v) { return CExprUtil::EvaluatePostfix(copy, table, v); });
    if (substituted)
        *substituted = copy;
    return evaluated;
}

// EvaluatePostfix on a copy of `list` gives `status`, `result` and the
// records `messages`, and the compiled form gives what EvaluatePostfix gives,
// sites included: by table; by slots, with the values the table has (up to
// the first it lacks) and with one fewer; over rows, every third of them all
// zeros, in blocks and one by one.
void ExpectAllWays(const TokenList &list, const VariableTable &table, int status, int32_t result,
    const std::string &messages = "", const char *substituted = nullptr)
{
    TokenList copy;
    const Evaluated expected = Postfix(list, table, &copy);
    EXPECT_EQ(expected.outcome + " " + expected.messages,
        std::to_string(status) + " " + std::to_string(result) + " " + messages);
    EXPECT_EQ(Describe(copy, false), substituted ? substituted : Describe(list, false));

    // A copy assigned over another form, the original gone: its nodes must be its own.
    auto original = std::make_unique<const CCompiledExpr>(list);
    const CCompiledExpr copied = *original;
    CCompiledExpr compiled(Parse("1"));
    compiled = copied;
    original.reset();
    EXPECT_EQ(Evaluate([&](int32_t &v) { return compiled.Evaluate(table, v); }), expected);
    std::vector<int32_t> values;
    VariableTable present;
    for (const uint16_t number : compiled.GetVariables()) {
        if (table.count(number) == 0)
            break;
        values.push_back(present[number] = table.at(number));
    }
    EXPECT_EQ(Evaluate([&](int32_t &v) { return compiled.Evaluate(values.data(), values.size(), v); }),
        Postfix(list, present));
    if (!values.empty()) {
        present.erase(compiled.GetVariables()[values.size() - 1]);
        EXPECT_EQ(
            Evaluate([&](int32_t &v) { return compiled.Evaluate(values.data(), values.size() - 1, v); }),
            Postfix(list, present));
        present[compiled.GetVariables()[values.size() - 1]] = values.back();
    }

    // Rows of `stride` values: the row's values, then columns that fill the
    // next slots if there are any; a stride one short leaves a slot empty.
    // Rows end in a whole block or in a part of one, where a read past the
    // last row shows.
    const std::vector<uint16_t> &slots = compiled.GetVariables();
    const auto expectRows = [&](size_t stride, size_t rows) {
        SCOPED_TRACE("stride " + std::to_string(stride) + ", rows " + std::to_string(rows));
        std::vector<int32_t> matrix, results(rows, 77);
        std::vector<int> statuses(rows, 77);
        Evaluated rowsExpected;
        int allExpected = 0;
        for (size_t row = 0; row < rows; ++row) {
            VariableTable rowTable;
            for (size_t column = 0; column < stride; ++column) {
                matrix.push_back(column >= values.size() ? 12345 : row % 3 == 2 ? 0 : values[column]);
                if (column < slots.size())
                    rowTable[slots[column]] = matrix.back();
            }
            const Evaluated one = Postfix(list, rowTable);
            rowsExpected.outcome += one.outcome + ",";
            rowsExpected.messages += one.messages;
            rowsExpected.sites += one.sites;
            allExpected = one.outcome[0] == '0' ? allExpected : kFail;
        }
        matrix.shrink_to_fit();  // no room past the last row that a stray read could take
        const int all = compiled.EvaluateRows(matrix.data(), stride, rows, results.data(), statuses.data());
        Evaluated rowsActual;
        for (size_t row = 0; row < rows; ++row)
            rowsActual.outcome += std::to_string(statuses[row]) + " " + std::to_string(results[row]) + ",";
        TakeInto(rowsActual);
        EXPECT_EQ(rowsActual, rowsExpected);
        EXPECT_EQ(all, allExpected);
    };
    expectRows(values.size(), 64);
    expectRows(values.size(), 64 + 3);
    expectRows(values.size() + 3, 64 + 3);  // wider than a short tree has columns
    if (!values.empty())
        expectRows(values.size() - 1, 64 + 3);
    EXPECT_EQ(compiled.EvaluateRows(nullptr, values.size(), 0, nullptr, nullptr), 0);
    EXPECT_TRUE(TakeRecords().empty());
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
        {"2147483647/1 1/1 +/5", {}, 0, INT32_MIN, ""},
        {"65536/1 65536/1 */4", {}, 0, 0, ""},
        {"1/0 2/0 //4", {{1, -7}, {2, 2}}, 0, -3, "", "-7 2 /"},
        {"7/1 1/0 %/4", {{1, -2}}, 0, 1, "", "7 -2 %"},
        {"1/1 2/1 </6 3/1 4/1 </6 &/8", {}, 0, 1, ""},
        {"1/0 3/0 -/5", {{1, 10}, {2, 99}, {3, 4}}, 0, 6, "", "10 4 -"},
        {"99999999999/1", {}, 0, INT32_MAX, ""},
        {"1/1 2/1", {}, 0, 2, ""},
        {"(/2 1/1 +/5 )/3 -/5", {}, 0, 1, ""},
        {"/1 4/1 +/5 x/13 -/5", {}, 0, 4, ""},
        {"1/0 5/1 +/5", {{1, 10}}, 0, 15, "", "10 5 +"},
        {"5/1 0/1 //4 +/5", {}, kFail, 0, kDenominator},
        {"5/1 0/1 %/4 0/1 */4", {}, kFail, 0, kDenominator},
        {"1/1 +/5", {}, kFail, 0, kUnmatched},
        {"+/5 1/1 2/1", {}, kFail, 0, kUnmatched},
        {"1/1 &&/11", {}, kFail, 0, kUnmatched},
        {"", {}, kFail, 0, "1 Invalid expression without operand to be evaluated \n"},
        // && and || decide from their left operand as in C: a division by
        // zero the result does not need cannot fail; one it needs does.
        {"0/1 1/1 0/1 //4 &&/11", {}, 0, 0, ""},
        {"1/1 5/1 0/1 %/4 ||/12", {}, 0, 1, ""},
        {"0/1 1/1 0/1 //4 &&/11 4/1 2/1 //4 +/5", {}, 0, 2, ""},
        {"1/1 0/1 &&/11 3/1 0/1 //4 0/1 &&/11 ||/12", {}, kFail, 0, kDenominator},
        {"1/1 1/1 0/1 //4 &&/11", {}, kFail, 0, kDenominator},
        {"0/1 1/1 0/1 //4 ||/12", {}, kFail, 0, kDenominator},
        {"1/1 0/1 //4 0/1 &&/11", {}, kFail, 0, kDenominator},
        {"1/1 0/1 //4 0/1 1/1 &&/11", {}, kFail, 0, kDenominator},
        {"0/1 1/1 0/1 //4 &&/11 +/5", {}, kFail, 0, kUnmatched},
        {"5/1 0/1 //4 1/1 1/1 &&/11 +/5 +/5", {}, kFail, 0, kUnmatched},
        // Rows that differ in what && and || need: the zero rows skip the
        // division the others need, then need the one after the join.
        {"1/0 100/1 2/0 //4 &&/11", {{1, 1}, {2, 0}}, kFail, 0, kDenominator, "1 100 0 / &&"},
        {"1/0 100/1 2/0 //4 &&/11 100/1 1/0 //4 +/5", {{1, 1}, {2, 0}}, kFail, 0, kDenominator,
            "1 100 0 / && 100 1 / +"},
        {"1/0 100/1 2/0 //4 ||/12 7/1 2/0 %/4 -/5", {{1, 0}, {2, 3}}, 0, 0, "", "0 100 3 / || 7 3 % -"},
        // Every row skips the operand, and then needs the division after it.
        {"1/0 0/1 */4 100/1 2/0 //4 &&/11 100/1 2/0 //4 +/5", {{1, 1}, {2, 0}}, kFail, 0, kDenominator,
            "1 0 * 100 0 / && 100 0 / +"},
        // Constants fold only where no division by zero that may run is lost,
        // and a variable folded away is still required.
        {"0/1 8/1 0/1 %/4 &&/11", {}, 0, 0, ""},
        {"8/1 0/1 %/4 1/1 ||/12", {}, kFail, 0, kDenominator},
        {"1/0 2/0 //4 0/1 */4", {{1, 5}, {2, 0}}, kFail, 0, kDenominator, "5 0 / 0 *"},
        {"1/0 2/0 //4 0/1 &/8", {{1, 5}, {2, 0}}, kFail, 0, kDenominator, "5 0 / 0 &"},
        {"1/0 2/0 //4 0/1 &&/11", {{1, 5}, {2, 0}}, kFail, 0, kDenominator, "5 0 / 0 &&"},
        {"1/0 2/0 //4 1/1 >/6 0/1 &/8", {{1, 5}, {2, 0}}, kFail, 0, kDenominator, "5 0 / 1 > 0 &"},
        {"0/1 0099/0 &&/11 1/1 +/5", {}, kFail, 0, "1 fail to get value for variable(0099) \n"},
        {"1/0 3/1 >/6 2/0 %/4 1/1 ^/9", {{1, 5}, {2, 7}}, 0, 0, "", "5 3 > 7 % 1 ^"},
        {"1/0 99999999999/1 <=/6 0/1 ==/7", {{1, 5}}, 0, 0, "", "5 99999999999 <= 0 =="},
        {"1/0 3/1 >/6 1/1 ^/9", {{1, 5}}, 0, 0, "", "5 3 > 1 ^"},
        // Sums and products wrap: (x + 25) * 3 >= 400 is not x >= 109.
        {"1/0 25/1 +/5 3/1 */4 400/1 >=/6", {{1, 715827858}}, 0, 0, "", "715827858 25 + 3 * 400 >="},
        // Comparisons fused into && and ||, the constant on either side; the
        // zero rows need the other side, and the right operand that is never
        // 0 may be dropped only if it cannot fail.
        {"1/0 80/1 >/6 500/1 2/0 >/6 &&/11", {{1, 100}, {2, 3}}, 0, 1, "", "100 80 > 500 3 > &&"},
        {"1/0 -5/1 </6 2147483647/1 2/0 <=/6 ||/12", {{1, 100}, {2, 3}}, 0, 0, "",
            "100 -5 < 2147483647 3 <= ||"},
        {"1/0 25/1 +/5 3/1 */4 400/1 >=/6 2/0 4/0 %/4 0/1 ==/7 255/1 &/8 1/1 ^/9 4/1 |/10 &&/11",
            {{1, 200}, {2, 7}, {4, 0}}, kFail, 0, kDenominator,
            "200 25 + 3 * 400 >= 7 0 % 0 == 255 & 1 ^ 4 | &&"},
        {"1/0 25/1 +/5 3/1 */4 400/1 >=/6 2/0 7/1 %/4 0/1 ==/7 255/1 &/8 1/1 ^/9 4/1 |/10 &&/11",
            {{1, 200}, {2, 7}}, 0, 1, "", "200 25 + 3 * 400 >= 7 7 % 0 == 255 & 1 ^ 4 | &&"},
        // Division by a variable whose operands are nodes, at the 32-bit
        // edges ({$3} is 0): INT32_MIN / -1 wraps, % -1 is 0, a quotient
        // truncates toward zero and a remainder takes the dividend's sign.
        {"1/0 3/0 +/5 2/0 3/0 ^/9 //4", {{1, INT32_MIN}, {2, -1}, {3, 0}}, 0, INT32_MIN, "",
            "-2147483648 0 + -1 0 ^ /"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 %/4", {{1, INT32_MIN}, {2, -1}, {3, 0}}, 0, 0, "",
            "-2147483648 0 + -1 0 ^ %"},
        {"1/0 3/0 -/5 2/0 3/0 |/10 //4", {{1, INT32_MAX}, {2, INT32_MIN}, {3, 0}}, 0, 0, "",
            "2147483647 0 - -2147483648 0 | /"},
        {"1/0 3/0 -/5 2/0 3/0 |/10 %/4", {{1, INT32_MIN}, {2, INT32_MAX}, {3, 0}}, 0, -1, "",
            "-2147483648 0 - 2147483647 0 | %"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 //4", {{1, -7}, {2, 2}, {3, 0}}, 0, -3, "", "-7 0 + 2 0 ^ /"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 %/4", {{1, -7}, {2, 2}, {3, 0}}, 0, -1, "", "-7 0 + 2 0 ^ %"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 //4", {{1, INT32_MAX}, {2, 3}, {3, 0}}, 0, 715827882, "",
            "2147483647 0 + 3 0 ^ /"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 %/4", {{1, INT32_MIN + 1}, {2, 7}, {3, 0}}, 0, -1, "",
            "-2147483647 0 + 7 0 ^ %"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 //4", {{1, 1}, {2, 0}, {3, 0}}, kFail, 0, kDenominator, "1 0 + 0 0 ^ /"},
        {"1/0 3/0 +/5 2/0 3/0 ^/9 %/4", {{1, INT32_MIN}, {2, 0}, {3, 0}}, kFail, 0, kDenominator,
            "-2147483648 0 + 0 0 ^ %"},
        // Constants and variables in many registers at many depths.
        {"1/1 1/0 3/1 2/0 5/1 -/5 -/5 -/5 -/5", {{1, 10}, {2, 4}}, 0, -5, "", "1 10 3 4 5 - - - -"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.postfix);
        ExpectAllWays(Parse(row.postfix), row.table, row.status, row.result, row.messages, row.substituted);
    }
    // Far deeper than the engines' local buffers: 1000 variables, then their sums.
    TokenList sums(999, ExprToken("+", EAddSub));
    VariableTable table;
    for (uint16_t number = 1000; number > 0; --number)
        sums.emplace(sums.begin(), std::to_string(table[number] = number), EVariable);
    ExpectAllWays(sums, table, 0, 1000 * 1001 / 2);
    ExpectAllWays(sums, {{1, 1}}, kFail, 0, "1 fail to get value for variable(2) \n");
}

// `open` n times, `core`, then `close` n times: a rule n levels high.
std::string Nest(size_t n, const std::string &open, const std::string &core, const std::string &close)
{
    std::string text;
    for (size_t i = 0; i < n; ++i)
        text += open;
    text += core;
    for (size_t i = 0; i < n; ++i)
        text += close;
    return text;
}

// The most nodes on a way down from a node of `tree`: a way ends at a slot,
// a segment's too, so this is as deep as computing a node calls.
size_t Height(const compiled::Tree &tree)
{
    std::vector<size_t> heights;
    for (const compiled::Node &node : tree.nodes) {
        size_t below = 0;
        for (const compiled::Node *operand : node.nodes)
            if (operand != nullptr)
                below = std::max(below, heights[static_cast<size_t>(operand - tree.nodes.data())]);
        heights.push_back(below + 1);
    }
    return heights.empty() ? 0 : *std::max_element(heights.begin(), heights.end());
}

// Rules far higher than a tree's nodes may stack, of every operator class,
// compute and fail as the short rows above do, every way: && and || skip a
// failing operand deep below them, or deep inside a chain themselves, and
// fail where they need it. A, B and C stand for {$1}, {$2} and {$3}.
TEST(Evaluation, HighRulesComputeAndFailAsLowOnes)
{
    // Every step names a variable: constants would fold into one sum.
    const std::string quotients = Nest(1500, "(", "A / B", " + C)");
    const struct {
        std::string rule;
        int32_t a, b, c;
        int status;
        int32_t result;
    } rows[] = {
        {Nest(3000, "(", "A", " + B * 3)"), 5, 7, 0, 0, 63005},
        {Nest(1001, "B - (", "A", ")"), 5, 7, 0, 0, 2},
        {Nest(2000, "(", "A", " * B - C)"), 7, -1, 0, 0, 7},
        {Nest(1501, "(", "A", " ^ B | C & 1)"), 12, 10, 0, 0, 6},
        {Nest(1200, "(", "A", " < B)"), 5, 1, 0, 0, 1},
        {Nest(1001, "(C == ", "A", ") != B"), 0, 1, 0, 0, 0},
        {quotients, 1000, 1, 1, 0, 2500},
        {quotients, 1000, 0, 1, kFail, 0},
        {"B != 0 && " + quotients + " > 0", 6, 0, 1, 0, 0},
        {"B != 0 && " + quotients + " > 0", 6, 3, 1, 0, 1},
        {"B == 0 || " + quotients, 6, 0, 1, 0, 1},
        {"B != 0 && " + Nest(1500, "(", "A", " + C)") + " / B", 6, 0, 1, 0, 0},
        {"B == 0 && " + quotients, 6, 0, 1, kFail, 0},
        {Nest(800, "(", "(B && " + Nest(300, "(", "A % B", " - C)") + ")", " + A)"), 6, 0, 1, 0, 4800},
        {Nest(800, "(", "(B || " + Nest(300, "(", "A % B", " - C)") + ")", " + A)"), 6, 0, 1, kFail, 0},
        {Nest(500, "(", "B", " + C)") + " && " + quotients, 6, 0, 0, 0, 0},
        {Nest(500, "(", "B", " + C)") + " || " + quotients, 6, 0, 0, kFail, 0},
        // A segment that may fail, just high enough to be cut as the left
        // operand of && or || beside a constant, is still computed.
        {Nest(98, "(", "A / B", " + C)") + " || 7", 6, 0, 1, kFail, 0},
        {Nest(98, "(", "A / B", " + C)") + " || 7", 6, 3, 1, 0, 1},
        {Nest(98, "(", "A / B", " + C)") + " > 5 || 7", 6, 0, 1, kFail, 0},
        {Nest(98, "(", "A / B", " + C)") + " && 0", 6, 0, 1, kFail, 0},
        {Nest(98, "(", "A / B", " + C)") + " > 5 && 0", 6, 3, 1, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rule.substr(0, 60) + " A=" + std::to_string(row.a) + " B=" + std::to_string(row.b));
        std::string text;
        for (const char ch : row.rule)
            text += ch == 'A' ? "{$1}" : ch == 'B' ? "{$2}" : ch == 'C' ? "{$3}" : std::string(1, ch);
        TokenList list;
        ASSERT_EQ(CExprUtil::VerifyExpression(list, text.c_str()), 0);
        TakeRecords();
        compiled::Tree tree;
        ASSERT_TRUE(compiled::BuildTree(list, {1, 2, 3}, tree));
        EXPECT_LE(Height(tree), compiled::kMaxHeight);
        const VariableTable table{{1, row.a}, {2, row.b}, {3, row.c}};
        TokenList substituted = list;
        for (ExprToken &token : substituted)
            if (token.eTokenCode == EVariable)
                token.strToken = std::to_string(table.at(VariableNumber(token.strToken)));
        ExpectAllWays(list, table, row.status, row.result, row.status == 0 ? "" : kDenominator,
            Describe(substituted, false).c_str());
    }
}

// A value just low enough not to be cut, tested, made a node and then an
// operand: two nodes above it, and none may stand higher than kMaxHeight.
TEST(TreeBuilder, NoNodeStandsHigherThanTheMost)
{
    for (size_t n = 96; n <= 102; ++n) {
        const std::string rule = "(" + Nest(n, "(", "{$1}", " + {$2})") + " > 5) + {$3}";
        TokenList list;
        ASSERT_EQ(CExprUtil::VerifyExpression(list, rule.c_str()), 0);
        TakeRecords();
        compiled::Tree tree;
        ASSERT_TRUE(compiled::BuildTree(list, {1, 2, 3}, tree));
        EXPECT_LE(Height(tree), compiled::kMaxHeight) << n << " levels";
    }
}

// The variables a list names, each once, ascending, numbered as substitution
// numbers them: slots in first-use order or with repeats would misplace values.
TEST(CompiledExpr, GetVariablesListsEachNumberOnceAscending)
{
    const std::pair<const char *, std::vector<uint16_t>> rows[] = {
        {"12/0 3/0 +/5 12/0 -/5 1/0 */4", {1, 3, 12}},
        {"0099/0 99/0 +/5", {99}},
        {"65536/0 70000/0 99999999999/0 65535/0", {0, 4464, 65535}},
        {"1/1 2/1 +/5 x/13", {}},
        {"0/1 5/0 &&/11", {5}},
    };
    for (const auto &[postfix, variables] : rows) {
        SCOPED_TRACE(postfix);
        EXPECT_EQ(CCompiledExpr(Parse(postfix)).GetVariables(), variables);
    }
}

// Every operator on the 32-bit edges against 64-bit arithmetic: wrapping
// sums, differences and products, truncating division, signed comparisons.
TEST(Evaluation, OperatorsOnTheEdges)
{
    const int64_t edges[] = {INT32_MIN, INT32_MIN + 1, -7, -2, -1, 0, 1, 2, 7, INT32_MAX - 1, INT32_MAX};
    for (const OperatorRow &row : kOperators) {
        const std::string op = row.text + ("/" + std::to_string(row.code));
        for (const int64_t a : edges) {
            for (const int64_t b : edges) {
                SCOPED_TRACE(std::to_string(a) + " " + op + " " + std::to_string(b));
                const std::string o = row.text;
                const bool divides = o == "/" || o == "%";
                const int64_t v = o == "*" ? a * b
                    : o == "+"             ? a + b
                    : o == "-"             ? a - b
                    : divides              ? (b == 0            ? 0
                                                     : b == -1  ? (o == "/" ? -a : 0)
                                                     : o == "/" ? a / b
                                                                : a % b)
                    : o == "<"             ? a < b
                    : o == ">"             ? a > b
                    : o == "<="            ? a <= b
                    : o == ">="            ? a >= b
                    : o == "=="            ? a == b
                    : o == "!="            ? a != b
                    : o == "&"             ? (a & b)
                    : o == "^"             ? (a ^ b)
                    : o == "|"             ? (a | b)
                    : o == "&&"            ? (a && b)
                    : o == "||"            ? (a || b)
                                           : [&o] {
                                      ADD_FAILURE() << "no reference for " << o;
                                      return int64_t{0};
                                  }();
                const bool byZero = divides && b == 0;
                const std::string substituted = std::to_string(a) + " " + std::to_string(b) + " " + o;
                ExpectAllWays(Parse("1/0 2/0 " + op), {{1, int32_t(a)}, {2, int32_t(b)}}, byZero ? kFail : 0,
                    byZero ? 0 : int32_t(uint32_t(v)), byZero ? kDenominator : "", substituted.c_str());
                // Either operand a constant, which the compiled form may divide by
                // or compare with otherwise.
                ExpectAllWays(Parse("1/0 " + std::to_string(b) + "/1 " + op), {{1, int32_t(a)}},
                    byZero ? kFail : 0, byZero ? 0 : int32_t(uint32_t(v)), byZero ? kDenominator : "",
                    substituted.c_str());
                ExpectAllWays(Parse(std::to_string(a) + "/1 2/0 " + op), {{2, int32_t(b)}},
                    byZero ? kFail : 0, byZero ? 0 : int32_t(uint32_t(v)), byZero ? kDenominator : "",
                    substituted.c_str());
            }
        }
    }
}

// Division and remainder by a variable, as every evaluation computes them
// (Apply; on the 32-bit ARM baseline through double precision), against
// 64-bit arithmetic on three million operand pairs: every pair of some 190
// edges (0, the limits, 2^k and its neighbours, each sign), then a
// fixed-seed stream whose magnitudes spread over every bit length. The
// double-precision quotient is checked on its own too, on every machine.
TEST(Evaluation, DivisionByAVariableMatches64BitArithmetic)
{
    size_t pairs = 0, mismatches = 0;
    std::string first;
    const auto check = [&](int32_t a, int32_t b) {
        int32_t quotient = 77, remainder = 77;
        const bool divided = Apply(BinaryOp::EDiv, a, b, quotient);
        const bool reduced = Apply(BinaryOp::EMod, a, b, remainder);
        const bool same = b == 0 ? !divided && !reduced && quotient == 77 && remainder == 77
                                 : divided && reduced && quotient == int32_t(uint32_t(int64_t{a} / b)) &&
                remainder == int32_t(int64_t{a} % b) && (b == -1 || QuotientThroughDouble(a, b) == quotient);
        ++pairs;
        if (!same && mismatches++ == 0)
            first = std::to_string(a) + " / " + std::to_string(b) + ": " + std::to_string(quotient) + " " +
                std::to_string(remainder);
    };
    std::vector<int32_t> edges = {0, INT32_MIN, INT32_MAX};
    for (uint32_t bit = 0; bit < 32; ++bit)
        for (const uint32_t magnitude : {(1U << bit) - 1, 1U << bit, (1U << bit) + 1})
            for (const uint32_t sign : {0U, ~0U})
                if (magnitude != 0 && magnitude < 0x80000000U)
                    edges.push_back(static_cast<int32_t>((magnitude ^ sign) - sign));
    for (const int32_t a : edges)
        for (const int32_t b : edges)
            check(a, b);
    uint32_t state = 2463534242U;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    // A magnitude of a random bit length, with a random sign.
    const auto spread = [&next] {
        const uint32_t shape = next(), magnitude = next() >> (shape % 32),
                       sign = (shape & 32) != 0 ? ~0U : 0U;
        return static_cast<int32_t>((magnitude ^ sign) - sign);
    };
    while (pairs < 3000000)
        check(pairs % 2 == 0 ? static_cast<int32_t>(next()) : spread(), spread());
    EXPECT_EQ(mismatches, 0U) << "first: " << first << ", of " << pairs << " pairs";
}

// A compiled tree as text: each node "(op left right)", an operand a slot
// "$0", a constant "7", a divisor "#7", a node, or a slot or node followed
// by the values a test holds for, "[low..high]" (high may wrap around below
// low). A segment's slot reads as its root. Empty for an empty tree.
std::string Describe(const compiled::Tree &tree)
{
    using compiled::Kind;
    using compiled::Node;
    // Each node's text from those of its operands, which come before it; a
    // segment's slot takes the text of its root.
    std::vector<std::string> slots;
    std::vector<std::string> nodes;
    for (uint32_t slot = 0; slot < tree.slots; ++slot)
        slots.push_back("$" + std::to_string(slot));
    const auto operand = [&](const Node &node, size_t side) {
        const Kind kind = node.kinds[side];
        if (kind == Kind::EConstant || kind == Kind::EDivisor)
            return (kind == Kind::EDivisor ? "#" : "") + std::to_string(node.constants[side]);
        const std::string &text = compiled::IsNode(kind)
            ? nodes[static_cast<size_t>(node.nodes[side] - tree.nodes.data())]
            : slots[node.slots[side]];
        if (!compiled::IsTest(kind))
            return text;
        const compiled::Range &range = node.ranges[side];
        return text + "[" + std::to_string(range.low) + ".." +
            std::to_string(Wrap(static_cast<uint32_t>(range.low) + range.span)) + "]";
    };
    for (const Node &node : tree.nodes) {
        nodes.push_back(
            "(" + std::string(RowOf(node.op).text) + " " + operand(node, 0) + " " + operand(node, 1) + ")");
        if (node.out < tree.slots)
            slots[node.out] = nodes.back();
    }
    return nodes.empty() ? "" : nodes.back();
}

// The tree of `text`, a variable's number below 100 its slot (see Describe).
std::string TreeOf(const char *text)
{
    TokenList list;
    EXPECT_EQ(CExprUtil::VerifyExpression(list, text), 0);
    TakeRecords();
    std::vector<uint16_t> numbers(100);
    std::iota(numbers.begin(), numbers.end(), 0);
    compiled::Tree tree;
    return compiled::BuildTree(list, numbers, tree) ? Describe(tree) : "no tree";
}

// Each fold rule and normal form leaves its shape: a lost fold computes the
// same values, and only this catches it. A root that is no node is x | 0,
// a test as a node test && 1; [low..high] is where a test holds.
TEST(TreeBuilder, FoldsAndNormalForms)
{
    const std::pair<const char *, const char *> rows[] = {
        {"{$1} > 2147483647", "(| 0 0)"},
        {"{$1} <= 2147483647", "(| 1 0)"},
        {"{$1} / {$2} < 0 - 2147483647 - 1", "(& (/ $1 $2) 0)"},
        {"{$1} / {$2} >= 0 - 2147483647 - 1", "(&& (/ $1 $2)[-2147483648..2147483647] 1)"},
        {"0 || {$1}", "(&& $1[1..-1] 1)"},
        {"7 && {$1}", "(&& $1[1..-1] 1)"},
        {"0 && {$1} / 0", "(| 0 0)"},
        {"{$1} || 3", "(| 1 0)"},
        {"{$1} / {$2} || 3", "(|| (/ $1 $2) 1)"},
        {"({$1} > 5) + 1 && {$2}", "(&& $2[1..-1] 1)"},
        {"({$1} > 5) + 1 && 2 || {$2}", "(| 1 0)"},
        {"{$1} + 0 - 0 | 0 ^ 0", "(| $1 0)"},
        {"{$1} * 1 / 1", "(| $1 0)"},
        {"{$1} * 0 + ({$2} & 0) + {$3} % 1", "(| 0 0)"},
        {"{$1} / {$2} * 0", "(& (/ $1 $2) 0)"},
        {"{$1} / (0 - 1)", "(- 0 $1)"},
        {"{$1} % 0 + {$2}", "(+ (/ 1 0) $2)"},
        {"5 + {$1} * {$2}", "(+ (* $1 $2) 5)"},
        {"{$1} - 5", "(+ $1 -5)"},
        {"{$1} > {$2} + 1", "(< (+ $2 1) $1)"},
        {"{$1} == {$2} / 7", "(== (/ $2 #7) $1)"},
        {"({$1} > 5) == 0", "(&& $1[-2147483648..5] 1)"},
        {"({$1} < {$2}) * 4", "(* (< $1 $2) 4)"},
        {"{$1} > 80 && {$2} < 500", "(&& $1[81..2147483647] $2[-2147483648..499])"},
        {"{$1} + 1 + 2 - 5", "(+ $1 -2)"},
        {"({$1} + 25) * 3 >= 400", "(&& (* $1 3)[325..2147483572] 1)"},
        {"{$1} - 3 == 0 || {$2} + 2147483647 > 0", "(|| $1[3..3] $2[-2147483646..0])"},
        {"({$1} - 7) * {$2}", "(* (+ $1 -7) $2)"},
        {"{$1} - ({$2} > 5)", "(- $1 (&& $2[6..2147483647] 1))"},
        {"2 - ({$1} > 5) == 1", "(&& (- 2 (&& $1[6..2147483647] 1))[1..1] 1)"},
        {"({$1} > 5) + 1 == 1", "(&& (&& $1[6..2147483647] 1)[0..0] 1)"},
        {"({$1} / {$2} > 5 | 1) == 1", "(| (&& (/ $1 $2)[6..2147483647] 1) 1)"},
        {"({$1} > 5) - 1 && {$2}", "(&& (+ (&& $1[6..2147483647] 1) -1) $2)"},
    };
    for (const auto &[text, shape] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(TreeOf(text), shape);
    }
    // A tree too high for its nodes to stack is still a tree, cut where the
    // text does not show.
    const std::pair<std::string, std::string> high[] = {
        {Nest(250, "(", "{$1}", " * {$2})"), Nest(250, "(* ", "$1", " $2)")},
        {Nest(250, "{$2} - (", "{$1}", ")"), Nest(250, "(- $2 ", "$1", ")")},
        {"{$1} || " + Nest(250, "(", "{$1}", " * {$2})"), "(|| $1 " + Nest(250, "(* ", "$1", " $2)") + ")"},
    };
    for (const auto &[text, shape] : high)
        EXPECT_EQ(TreeOf(text.c_str()), shape);
}

// Where the text goes wrong, verdict, list size, both evaluations, records.
std::string Attempt(const std::string &text)
{
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    TokenList list;
    const int verified = CExprUtil::VerifyExpression(list, text.c_str());
    int32_t value = 0, compiledValue = 0;
    const int compiled = CCompiledExpr(list).Evaluate({{1, 7}, {2, 0}}, compiledValue);
    const int evaluated = CExprUtil::EvaluatePostfix(list, {{1, 7}, {2, 0}}, value);
    std::ostringstream outcome;
    outcome << location.eReason << " " << location.offset << " " << verified << " " << list.size() << " "
            << compiled << " " << compiledValue << " " << evaluated << " " << value << " " << TakeMessages();
    return outcome.str();
}

// Any depth runs in constant stack, even on a thread as small as an embedded
// worker's (64 KiB): recursion per level of nesting would overflow it.
TEST(SmallStack, MillionLevelsDeep)
{
    const size_t deep = 1000000;
    std::string chain, variables;
    for (size_t i = 0; i < deep; ++i) {
        chain += "1+(";
        variables += "{$1}+(";
    }
    const std::string rows[][2] = {
        {std::string(deep, '(') + "1" + std::string(deep, ')'), "0 0 0 1 0 1 0 1 "},
        {chain + "1" + std::string(deep, ')'), "0 0 0 2000001 0 1000001 0 1000001 "},
        {variables + "1" + std::string(deep, ')'), "0 0 0 2000001 0 7000001 0 7000001 "},
        {std::string(deep, '(') + "1", "7 1000001 20014 1000001 "},
    };
    for (const auto &[text, expected] : rows) {
        std::pair<const std::string &, std::string> job{text, ""};  // text in, outcome out
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, size_t{64} * 1024);
        pthread_t thread;
        const auto run = [](void *arg) -> void * {
            auto &job = *static_cast<std::pair<const std::string &, std::string> *>(arg);
            job.second = Attempt(job.first);
            return nullptr;
        };
        ASSERT_EQ(pthread_create(&thread, &attributes, run, &job), 0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attributes);
        EXPECT_EQ(job.second.substr(0, expected.size()), expected);
    }
}

// The operations keep no state: threads at once must each get what a lone caller
// gets, records included. A shared buffer breaks this (ThreadSanitizer reports it too).
TEST(Concurrency, ThreadsGetWhatALoneCallerGets)
{
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (const char *text : {"({$1} + 25) * 3 >= 400 && {$2} % 7 == 0", "{$2} != 0 && 100 / {$2} > 3",
             "1 || 5 % 0", "{$9} + 1", "((1 + 2) * 3) ^ 5", "1+", "a<=b", "(1 1)"})
        threads.emplace_back([&mismatches, text, expected = Attempt(text)] {
            for (int round = 0; round < 300; ++round)
                mismatches += Attempt(text) != expected;
        });
    // One compiled form shared by all: by slots, by rows and by table at once.
    TokenList list;
    CExprUtil::VerifyExpression(list, "{$1} / {$2} > 3 || {$2} % 7 == 0 && {$1} - 9 < 0");
    TakeMessages();  // the verification's
    const CCompiledExpr shared(list);
    std::vector<int32_t> rows;
    for (int32_t row = 0; row < 200; ++row)
        rows.insert(rows.end(), {row * 7 - 300, row % 13 - 6});
    const auto evaluateAll = [&shared, &rows] {
        std::vector<int32_t> results(rows.size() / 2);
        std::vector<int> statuses(results.size());
        std::string outcome = std::to_string(
            shared.EvaluateRows(rows.data(), 2, results.size(), results.data(), statuses.data()));
        for (size_t row = 0; row < results.size(); ++row) {
            int32_t bySlots = 0;
            int32_t byTable = 0;
            const int slotStatus = shared.Evaluate(rows.data() + 2 * row, 2, bySlots);
            const int tableStatus = shared.Evaluate({{1, rows[2 * row]}, {2, rows[2 * row + 1]}}, byTable);
            outcome += " " + std::to_string(statuses[row]) + std::to_string(results[row]) +
                std::to_string(slotStatus) + std::to_string(bySlots) + std::to_string(tableStatus) +
                std::to_string(byTable);
        }
        return outcome + TakeMessages();
    };
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back([&mismatches, &evaluateAll, expected = evaluateAll()] {
            for (int round = 0; round < 20; ++round)
                mismatches += evaluateAll() != expected;
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}

}  // namespace

extern "C" int quorlith_printf(
    int level, const char *levelName, const char *module, const char *format, const char *file, int line, ...)
{
    va_list args;
    va_start(args, line);
    char message[1024];
    const int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    gRecords.push_back(LogRecord{level, levelName, module, file, line, message});
    return length;
}
