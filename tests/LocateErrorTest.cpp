#include <gtest/gtest.h>

#include "CExprUtil.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

// Each reason, each kind of bad lexeme, the first byte and the end of the
// text; lexing errors win over an earlier grammar error; numbers are never
// wrong by value.
TEST(LocateError, PointsAtTheFirstErrorAndSaysWhy)
{
    const struct {
        const char *text;
        size_t offset;
        ErrorReason reason;
    } rows[] = {
        {nullptr, 0, ENullExpression},
        {"", 0, EUnexpectedEnd},
        {"   ", 3, EUnexpectedEnd},
        {"1 +", 3, EUnexpectedEnd},
        {"((1) ", 5, EUnexpectedEnd},
        {"(1 + ) * 2", 5, EOperandExpected},
        {"+ 1", 0, EOperandExpected},
        {"()", 1, EOperandExpected},
        {"1 1", 2, EOperatorExpected},
        {"{$1} {$2}", 5, EOperatorExpected},
        {"1 (2)", 2, EOperatorExpected},
        {"(1 1)", 3, EOperatorOrParenExpected},
        {"((1) (", 5, EOperatorOrParenExpected},
        {"1)", 1, EUnmatchedParen},
        {"(1)) + (", 3, EUnmatchedParen},
        {"1 2 x", 4, EInvalidToken},
        {"+ {$12", 2, EInvalidToken},
        {"{12}", 0, EInvalidToken},
        {"1+{$ 1}", 2, EInvalidToken},
        {"1 = 2", 2, EInvalidToken},
        {"1 <= 2 !", 7, EInvalidToken},
        {"1\t+ 2", 1, EInvalidToken},
        {"$1", 0, EInvalidToken},
        {"1 }", 2, EInvalidToken},
        {"1 + \xc3\xa9", 4, EInvalidToken},
        {"{$}", 0, EWellFormed},
        {"007 + 99999999999 * {$70000}", 0, EWellFormed},
        {" ((1)) && 2 || 3 ", 0, EWellFormed},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        const ErrorLocation location = CExprUtil::LocateError(row.text);
        EXPECT_EQ(location.eReason, row.reason) << CExprUtil::ReasonText(location.eReason);
        EXPECT_EQ(location.offset, row.offset);
        EXPECT_TRUE(TakeRecords().empty());
        TokenList list;
        EXPECT_EQ(CExprUtil::VerifyExpression(list, row.text) == 0, row.reason == EWellFormed);
        TakeRecords();
    }
    EXPECT_STREQ(CExprUtil::ReasonText(EOperatorOrParenExpected), "operator or ')' expected");
    EXPECT_STREQ(CExprUtil::ReasonText(static_cast<ErrorReason>(EUnexpectedEnd + 1)),
                 "unknown reason");
}

}  // namespace
