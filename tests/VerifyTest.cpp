#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "CExprUtil.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

// When positive, the allocation that brings it to 0 on this thread fails.
thread_local int gAllocationsBeforeFailure = 0;

void *operator new(std::size_t size)
{
    if (gAllocationsBeforeFailure > 0 && --gAllocationsBeforeFailure == 0)
        throw std::bad_alloc();
    if (void *block = std::malloc(size > 0 ? size : 1))
        return block;
    throw std::bad_alloc();
}

// The replacement operator new takes its blocks from malloc, so free is the
// matching release; gcc's sanitizer builds cannot see that once inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

constexpr int kFail = 20014;

struct VerifyRow {
    const char *text;
    int status;
    std::vector<std::string> messages;  // level and message of every record, in order
    const char *tokens;                 // Describe() of the list afterwards
};

TEST(VerifyExpression, LogsEachStepAndLeavesTheList)
{
    const VerifyRow rows[] = {
        {"1+2", 0,
         {"5 token analysis success \n", "5 syntax analysis success \n",
          "5 Valid expression : 1+2 \n"},
         "1/1 2/1 +/5"},
        {"1+", kFail,
         {"5 token analysis success \n", "1 syntax analysis fail(eTokenCode = -1, eErrorCode = -1) \n",
          "1 Invalid expression : 1+ \n"},
         "1/1 +/5"},
        {"   ", kFail,
         {"5 token analysis success \n", "1 syntax analysis fail(eTokenCode = -1, eErrorCode = -1) \n",
          "1 Invalid expression :     \n"},
         ""},
        {nullptr, kFail,
         {"1 Invalid expression string to be analysed \n", "1 Invalid expression : NULL \n"},
         ""},
        {"", kFail, {"1 Invalid expression string to be analysed \n", "1 Invalid expression :  \n"}, ""},
        {"2*x", kFail, {"1 Invalid token in expression string \n", "1 Invalid expression : 2*x \n"},
         "2/1 */4"},
        {"%s%n", kFail, {"1 Invalid token in expression string \n", "1 Invalid expression : %s%n \n"},
         "%/4"},
        {"{$3} >= 3 - 1 && 2", 0,
         {"5 token analysis success \n", "5 syntax analysis success \n",
          "5 Valid expression : {$3} >= 3 - 1 && 2 \n"},
         "3/0 3/1 1/1 -/5 >=/6 2/1 &&/11"},
    };
    for (const VerifyRow &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        TokenList list = Parse("9/1 9/1 9/1");
        TakeRecords();
        EXPECT_EQ(CExprUtil::VerifyExpression(list, row.text), row.status);
        EXPECT_EQ(Describe(list), row.tokens);
        std::vector<std::string> messages;
        for (const LogRecord &record : TakeRecords())
            messages.push_back(std::to_string(record.level) + record.message);
        EXPECT_EQ(messages, row.messages);
    }
}

struct PostfixRow {
    const char *infix;
    const char *postfix;
};

TEST(ConvertToPostfix, ResolvesPrecedenceAndParentheses)
{
    const PostfixRow rows[] = {
        {"1 + 2", "1 2 +"},
        {"1 + 2 * 3", "1 2 3 * +"},
        {"(1 + 2) * 3", "1 2 + 3 *"},
        {"1 - 2 - 3", "1 2 - 3 -"},
        {"8 - 2 + 1", "8 2 - 1 +"},
        {"1 - (2 - 3)", "1 2 3 - -"},
        {"2 * (3 + 4) * 5", "2 3 4 + * 5 *"},
        {"1 | 2 ^ 3 & 4", "1 2 3 4 & ^ |"},
        {"((1 + 2)) * ((3))", "1 2 + 3 *"},
        {"{$12} + 1", "12 1 +"},
        {"1 + 2 && 3", "1 2 + 3 &&"},
        {"1 || 2 && 3", "1 2 3 && ||"},
        {"1 && 2 | 3", "1 2 3 | &&"},
        {"(1 || 2) && 3", "1 2 || 3 &&"},
        {"(22222222222222222222 + 2) * {$3333333333333333}", "22222222222222222222 2 + 3333333333333333 *"},
    };
    for (const PostfixRow &row : rows) {
        SCOPED_TRACE(row.infix);
        TokenList list;
        ASSERT_EQ(CExprUtil::VerifyExpression(list, row.infix), 0);
        EXPECT_EQ(Texts(list), row.postfix);
    }
}

// The conversion allocates all it needs before the first token moves: an
// allocation that fails at any point leaves the list exactly as it was.
TEST(ConvertToPostfix, AllocationFailureLeavesTheListAsItWas)
{
    TokenList list = Parse("(/2 1/1 +/5 22222222222222222222/1 )/3 */4 3/0");
    const std::string before = Describe(list);
    for (int failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        gAllocationsBeforeFailure = failing;
        try {
            CExprUtil::ConvertToPostfix(list);
        } catch (const std::bad_alloc &) {
            ASSERT_EQ(Describe(list), before);
            continue;
        }
        gAllocationsBeforeFailure = 0;
        break;
    }
    EXPECT_EQ(Texts(list), "1 22222222222222222222 + 3 *");
}

// Lists the syntax analysis would refuse must still convert without reading
// an empty stack.
TEST(ConvertToPostfix, ToleratesUnbalancedParentheses)
{
    const PostfixRow rows[] = {
        {"1/1 )/3", "1"},
        {")/3 )/3 1/1 +/5 2/1", "1 2 +"},
        {"(/2 1/1 +/5 2/1", "1 2 + ("},
        {"", ""},
    };
    for (const PostfixRow &row : rows) {
        SCOPED_TRACE(row.infix);
        TokenList list = Parse(row.infix);
        CExprUtil::ConvertToPostfix(list);
        EXPECT_EQ(Texts(list), row.postfix);
    }
}

}  // namespace
