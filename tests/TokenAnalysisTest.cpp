#include <gtest/gtest.h>

#include <map>
#include <set>

#include "CExprUtil.h"
#include "RecordingLog.h"
#include "TokenText.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr int kFail = 20014;

// Where the lexer gave up: each site logs from a line of its own.
enum Site { kOk, kNoText, kEquality, kVariable, kCharacter };

struct LexRow {
    const char *text;
    Site site;
    const char *tokens;  // Describe() of the list afterwards
};

const LexRow kLexRows[] = {
    {nullptr, kNoText, "stale/1"},
    {"", kNoText, "stale/1"},
    {"1+2", kOk, "1/1 +/5 2/1"},
    {"-5", kOk, "-/5 5/1"},
    {"007", kOk, "007/1"},
    {"12 34", kOk, "12/1 34/1"},
    {"   ", kOk, ""},
    {"%*/+-()^", kOk, "%/4 */4 //4 +/5 -/5 (/2 )/3 ^/9"},
    {"< > <= >= == !=", kOk, "</6 >/6 <=/6 >=/6 ==/7 !=/7"},
    {"&&&", kOk, "&&/11 &/8"},
    {"|||", kOk, "||/12 |/10"},
    {"&|", kOk, "&/8 |/10"},
    {"1&", kOk, "1/1 &/8"},
    {"{$7}+1", kOk, "7/0 +/5 1/1"},
    {"{$12}{$0099}", kOk, "12/0 0099/0"},
    {"1<=2", kOk, "1/1 <=/6 2/1"},
    {"1< =2", kEquality, "1/1 </6"},
    {"1=2", kEquality, "1/1"},
    {"!1", kEquality, ""},
    {"1!", kEquality, "1/1"},
    {"===", kEquality, "==/7"},
    {"{$12", kVariable, ""},
    {"{$1a}", kVariable, ""},
    {"{$ 1}", kVariable, ""},
    {"2*{$", kVariable, "2/1 */4"},
    {"{12}", kCharacter, ""},
    {"{", kCharacter, ""},
    {"}", kCharacter, ""},
    {"$1", kCharacter, ""},
    {"a<=b", kCharacter, ""},
    {"1+a", kCharacter, "1/1 +/5"},
    {"1\t+2", kCharacter, "1/1"},
    {"1\n", kCharacter, "1/1"},
    {"0x1F", kCharacter, "0/1"},
    {"1.5", kCharacter, "1/1"},
    {"1 \x80", kCharacter, "1/1"},
    {"\xff", kCharacter, ""},
};

TEST(TokenAnalysis, TokensAndFailureSites)
{
    std::map<Site, std::set<int>> linesBySite;
    for (const LexRow &row : kLexRows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        TokenList list = Parse("stale/1");
        TakeRecords();
        const int status = CExprUtil::TokenAnalysis(list, row.text);
        EXPECT_EQ(status, row.site == kOk ? 0 : kFail);
        EXPECT_EQ(Describe(list), row.tokens);
        const std::vector<LogRecord> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        const LogRecord &record = records[0];
        EXPECT_EQ(record.level, row.site == kOk ? 5 : 1);
        EXPECT_EQ(record.levelName, row.site == kOk ? "ETrace" : "EError");
        EXPECT_EQ(record.module, "ALARM_MANAGER");
        EXPECT_EQ(record.file, "CExprUtil.cpp");
        EXPECT_EQ(record.message, row.site == kOk       ? " token analysis success \n"
                                  : row.site == kNoText ? " Invalid expression string to be analysed \n"
                                                        : " Invalid token in expression string \n");
        linesBySite[row.site].insert(record.line);
    }
    // One line per site, and no two sites share a line.
    std::set<int> all;
    for (const auto &[site, lines] : linesBySite) {
        EXPECT_EQ(lines.size(), 1u) << "site " << site;
        all.insert(lines.begin(), lines.end());
    }
    EXPECT_EQ(all.size(), linesBySite.size());
}

}  // namespace
