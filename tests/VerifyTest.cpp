#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

// When positive, the allocation that brings it to 0 on this thread fails.
thread_local int gAllocationsBeforeFailure = 0;

void *operator new(std::size_t size)
{
    void *block = gAllocationsBeforeFailure > 0 && --gAllocationsBeforeFailure == 0
                      ? nullptr : std::malloc(size > 0 ? size : 1);
    return block ? block : throw std::bad_alloc();
}
// gcc's sanitizer builds cannot see that the blocks come from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

constexpr int kFail = 20014;

// Where the lexer gave up: each site logs from a line of its own.
enum Site { kOk, kNoText, kEquality, kVariable, kCharacter };

TEST(TokenAnalysis, TokensAndFailureSites)
{
    const struct {
        const char *text;
        Site site;
        const char *tokens;  // Describe() of the list afterwards
    } rows[] = {
        {nullptr, kNoText, "stale/1"}, {"", kNoText, "stale/1"}, {"   ", kOk, ""},
        {"-5 007", kOk, "-/5 5/1 007/1"}, {"%*/+-()^", kOk, "%/4 */4 //4 +/5 -/5 (/2 )/3 ^/9"},
        {"< > <= >= == !=", kOk, "</6 >/6 <=/6 >=/6 ==/7 !=/7"},
        {"&&&|||&|1&", kOk, "&&/11 &/8 ||/12 |/10 &/8 |/10 1/1 &/8"},
        {"{$7}+{$}{$0099}", kOk, "7/0 +/5 /0 0099/0"}, {"1< =2", kEquality, "1/1 </6"},
        {"!1", kEquality, ""}, {"1!", kEquality, "1/1"}, {"===", kEquality, "==/7"},
        {"{$12", kVariable, ""}, {"{$1a}", kVariable, ""}, {"2*{$ 1}", kVariable, "2/1 */4"},
        {"{12}", kCharacter, ""}, {"{", kCharacter, ""}, {"}", kCharacter, ""}, {"$1", kCharacter, ""},
        {"1+a", kCharacter, "1/1 +/5"}, {"1\t+2", kCharacter, "1/1"}, {"0x1F", kCharacter, "0/1"},
        {"1.5", kCharacter, "1/1"}, {"1 \x80", kCharacter, "1/1"},
    };
    std::map<Site, int> lines;
    std::set<int> distinct;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        TokenList list = Parse("stale/1");
        EXPECT_EQ(CExprUtil::TokenAnalysis(list, row.text), row.site == kOk ? 0 : kFail);
        EXPECT_EQ(Describe(list), row.tokens);
        const std::vector<LogRecord> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(std::to_string(records[0].level) + records[0].message,
                  row.site == kOk       ? "5 token analysis success \n"
                  : row.site == kNoText ? "1 Invalid expression string to be analysed \n"
                                        : "1 Invalid token in expression string \n");
        EXPECT_EQ(lines.emplace(row.site, records[0].line).first->second, records[0].line);
        distinct.insert(records[0].line);
    }
    EXPECT_EQ(distinct.size(), lines.size());  // one line a site, none shared
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
    } rows[] = {
        {"1", nullptr, 0, EWellFormed}, {"(({$7}))", nullptr, 0, EWellFormed},
        {" ((1)) && {$} || 3 ", nullptr, 0, EWellFormed},
        {"(1 + 007) * 99999999999 - {$70000}", nullptr, 0, EWellFormed},
        {nullptr, "", 0, ENullExpression}, {"", "", 0, EUnexpectedEnd},
        {"   ", "-1, eErrorCode = -1", 3, EUnexpectedEnd}, {"1 +", "-1, eErrorCode = -1", 3, EUnexpectedEnd},
        {"((1) ", "-1, eErrorCode = -1", 5, EUnexpectedEnd}, {"+ 1", "-1, eErrorCode = -1", 0, EOperandExpected},
        {"1 + + 1", "-1, eErrorCode = -1", 4, EOperandExpected},
        {"(1 + ) * 2", "-1, eErrorCode = -1", 5, EOperandExpected},
        {"()", "-1, eErrorCode = -1", 1, EOperandExpected}, {"1 1", "1, eErrorCode = 0", 2, EOperatorExpected},
        {"1 {$7}", "0, eErrorCode = 0", 2, EOperatorExpected}, {"1 (1)", "2, eErrorCode = 0", 2, EOperatorExpected},
        {"(1 1)", "1, eErrorCode = -1", 3, EOperatorOrParenExpected},
        {"(+ 1) 1", "1, eErrorCode = -1", 1, EOperandExpected},
        {"((1) (", "2, eErrorCode = -1", 5, EOperatorOrParenExpected},
        {"1)", "3, eErrorCode = 0", 1, EUnmatchedParen}, {") 1", "3, eErrorCode = -1", 0, EOperandExpected},
        {"(1)) + (", "3, eErrorCode = 0", 3, EUnmatchedParen}, {"1 2 x", "", 4, EInvalidToken},
        {"+ {$12", "", 2, EInvalidToken}, {"1 = 2", "", 2, EInvalidToken}, {"%s%n", "", 1, EInvalidToken},
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
                                   : *row.syntax ? std::string("1 syntax analysis fail(eTokenCode = ") + row.syntax + ") \n" : "";
        EXPECT_EQ(TakeMessages(), lexing + syntax + (row.syntax ? "1 Invalid" : "5 Valid") + " expression : " + shown + " \n");
        if (!syntax.empty() && row.syntax) {
            EXPECT_EQ(Describe(list), Describe(lexed));  // left in infix order
        }
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
            const std::string messages = TakeMessages(), verdict = (valid ? "5 Valid" : "1 Invalid") +
                                                 std::string(" expression : ") + text + " \n";
            EXPECT_EQ(messages.find(lexes ? "5 token analysis success \n" : "1 Invalid token in expression string \n"), 0u);
            EXPECT_EQ(messages.substr(messages.size() - std::min(messages.size(), verdict.size())), verdict);
        }
    }
}

TEST(ConvertToPostfix, ResolvesPrecedenceAndParentheses)
{
    const std::pair<const char *, const char *> rows[] = {
        {"1 + 2 * 3", "1 2 3 * +"}, {"(1 + 2) * 3", "1 2 + 3 *"}, {"1 - 2 - 3", "1 2 - 3 -"},
        {"8 - 2 + 1", "8 2 - 1 +"}, {"8 / 4 % 2 * 1", "8 4 / 2 % 1 *"}, {"1 - (2 - 3)", "1 2 3 - -"},
        {"2 * (3 + 4) * 5", "2 3 4 + * 5 *"}, {"1 < 2 == 3 != 4", "1 2 < 3 == 4 !="},
        {"1 | 2 ^ 3 & 4 == 5", "1 2 3 4 5 == & ^ |"}, {"1 ^ 2 | 3 & 4", "1 2 ^ 3 4 & |"},
        {"((1 + 2)) * ((3))", "1 2 + 3 *"},
        {"1 + 2 && 3", "1 2 + 3 &&"}, {"1 || 2 && 3 | 4", "1 2 3 4 | && ||"},
        {"(1 || 2) && 3", "1 2 || 3 &&"}, {"1 && 2 || 3", "1 2 && 3 ||"},
    };
    for (const auto &[infix, postfix] : rows) {
        SCOPED_TRACE(infix);
        TokenList list;
        ASSERT_EQ(CExprUtil::VerifyExpression(list, infix), 0);
        EXPECT_EQ(Describe(list, false), postfix);
    }
    for (int32_t code = ENoToken; code <= ELogicOr + 1; ++code)
        EXPECT_EQ(IsOperator(code), code >= 4 && code <= 10) << code;
    TokenList list;  // texts and codes pass unchanged
    CExprUtil::VerifyExpression(list, "{$12} >= 1");
    EXPECT_EQ(Describe(list), "12/0 1/1 >=/6");
    TakeRecords();
}

// The conversion allocates before the first token moves, so a failed
// allocation at any point leaves the list as it was; lists the syntax
// analysis refuses still convert, never reading an empty stack.
TEST(ConvertToPostfix, OddListsAndFailedAllocations)
{
    for (const auto &[infix, postfix] :
         {std::pair{"(/2 1/1 +/5 22222222222222222222/1 )/3 */4 3/0", "1 22222222222222222222 + 3 *"},
          {"1/1 )/3", "1"}, {")/3 1/1 +/5 2/1", "1 2 +"}, {"(/2 1/1 +/5 2/1", "1 2 + ("}, {"", ""}}) {
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

}  // namespace
