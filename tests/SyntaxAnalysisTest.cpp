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

}  // namespace
