#include <gtest/gtest.h>

#include "CExprUtil.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr int kFail = 20014;

struct SyntaxRow {
    const char *text;  // read by the lexer into the list under test
    const char *failure;  // nullptr when accepted, else the logged codes
};

const SyntaxRow kSyntaxRows[] = {
    {"1", nullptr},
    {"(1)", nullptr},
    {"(({$7}))", nullptr},
    {"1 + 1 * 1", nullptr},
    {"{$7} && 1 || 1", nullptr},
    {"(1 + {$} ) * (1)", nullptr},
    {"   ", "eTokenCode = -1, eErrorCode = -1"},
    {"1 +", "eTokenCode = -1, eErrorCode = -1"},
    {"+ 1", "eTokenCode = -1, eErrorCode = -1"},
    {"1 + + 1", "eTokenCode = -1, eErrorCode = -1"},
    {"()", "eTokenCode = -1, eErrorCode = -1"},
    {"(1", "eTokenCode = -1, eErrorCode = -1"},
    {"1 1", "eTokenCode = 1, eErrorCode = 0"},
    {"1 {$7}", "eTokenCode = 0, eErrorCode = 0"},
    {"1)", "eTokenCode = 3, eErrorCode = 0"},
    {") 1", "eTokenCode = 3, eErrorCode = -1"},
    {"1 (1)", "eTokenCode = 2, eErrorCode = 0"},
    {"(1 1)", "eTokenCode = 1, eErrorCode = -1"},
    {"(1))", "eTokenCode = 3, eErrorCode = 0"},
    {"(+ 1) 1", "eTokenCode = 1, eErrorCode = -1"},
};

TEST(SyntaxAnalysis, AcceptsWellFormedListsAndReportsWhereOthersStop)
{
    for (const SyntaxRow &row : kSyntaxRows) {
        SCOPED_TRACE(row.text);
        TokenList list;
        ASSERT_EQ(CExprUtil::TokenAnalysis(list, row.text), 0);
        TakeRecords();
        EXPECT_EQ(CExprUtil::SyntaxAnalysis(list), row.failure ? kFail : 0);
        const std::vector<LogRecord> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        if (row.failure) {
            EXPECT_EQ(records[0].level, 1);
            EXPECT_EQ(records[0].message,
                      std::string(" syntax analysis fail(") + row.failure + ") \n");
        } else {
            EXPECT_EQ(records[0].level, 5);
            EXPECT_EQ(records[0].message, " syntax analysis success \n");
        }
    }
}

std::string Nested(size_t depth)
{
    return std::string(depth, '(') + "1" + std::string(depth, ')');
}

// Deep nesting must never overflow the stack: up to the limit it parses as
// usual, beyond it it is an ordinary failure.
TEST(SyntaxAnalysis, NestingDepthIsBoundedWithoutCrashing)
{
    const struct {
        size_t depth;
        int status;
    } rows[] = {
        {1000, 0},
        {CExprUtil::kMaxNesting, 0},
        {CExprUtil::kMaxNesting + 1, kFail},
        {1000000, kFail},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.depth);
        TokenList list;
        EXPECT_EQ(CExprUtil::VerifyExpression(list, Nested(row.depth).c_str()), row.status);
        const std::vector<LogRecord> records = TakeRecords();
        ASSERT_EQ(records.size(), 3u);
        if (row.status != 0) {
            EXPECT_EQ(records[1].message,
                      " syntax analysis fail(eTokenCode = 2, eErrorCode = -1) \n");
        }
    }
}

}  // namespace
