// The rule checker's tests: facts over tables of rules, checked against
// evaluation, exhaustively where the ranges are small; comparisons; ranges
// and the time limit. Every witness is evaluated here again, through
// EvaluatePostfix, so a checker that confirmed wrongly is caught too.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "CRuleChecker.h"
#include "RulesFile.h"

using namespace fernvault::alarm_manager;

namespace {

TokenList Postfix(const std::string &text)
{
    TokenList list;
    EXPECT_EQ(CExprUtil::VerifyExpression(list, text.c_str()), 0) << text;
    return list;
}

// 'T' true, 'F' false, 'E' failed: the outcome of `text` on `witness`.
char OutcomeOf(const std::string &text, const Assignment &witness)
{
    TokenList list = Postfix(text);
    VariableTable table;
    for (const auto &[variable, value] : witness)
        table[variable] = value;
    int32_t result = 0;
    if (CExprUtil::EvaluatePostfix(list, table, result) != 0)
        return 'E';
    return result != 0 ? 'T' : 'F';
}

bool Within(const Assignment &witness, const RangeTable &ranges)
{
    return std::all_of(witness.begin(), witness.end(), [&ranges](const std::pair<uint16_t, int32_t> &entry) {
        const auto range = ranges.find(entry.first);
        return range == ranges.end() ||
            (entry.second >= range->second.low && entry.second <= range->second.high);
    });
}

// "TFE" with '-' for a fact proved never; "?" for anything undecided.
std::string FactsOf(const std::string &text, const RangeTable &ranges, unsigned timeoutMs = 10000)
{
    CRuleChecker checker(timeoutMs);
    const RuleFacts facts = checker.Check(Postfix(text), ranges);
    std::string found;
    const char outcomes[] = {'T', 'F', 'E'};
    const Answer *answers[] = {&facts.canBeTrue, &facts.canBeFalse, &facts.canFail};
    for (int i = 0; i < 3; ++i) {
        const Answer &answer = *answers[i];
        if (answer.verdict == Answer::EFound) {
            EXPECT_EQ(OutcomeOf(text, answer.witness), outcomes[i]) << testing::PrintToString(answer.witness);
            EXPECT_TRUE(Within(answer.witness, ranges));
        }
        found += answer.verdict == Answer::EFound ? outcomes[i]
            : answer.verdict == Answer::ENever    ? '-'
                                                  : '?';
    }
    return found;
}

// Catches an operator computed unlike evaluation (wrapping, saturation,
// truncation, INT32_MIN / -1, signedness), a short circuit that still fails
// on the operand it skips or one that fails on neither side, a variable
// number read otherwise than substitution reads it, a range not applied.
TEST(RuleChecker, FactsOfRules)
{
    const Range negative{-9, -1}, small{0, 100};
    const struct {
        const char *rule;
        RangeTable ranges;
        const char *facts;
    } rows[] = {
        {"{$1} * 3 == 1", {}, "TF-"},
        {"{$1} + 1 > {$1}", {}, "TF-"},
        {"{$1} + 1 > {$1}", {{1, {0, 2147483646}}}, "T--"},
        {"99999999999 == 2147483647", {}, "T--"},
        {"99999999999 + 1 == 0 - 2147483647 - 1", {}, "T--"},
        {"{$1} > 2147483647", {}, "-F-"},
        {"(0 - 2147483647 - 1) / (0 - 1) == 0 - 2147483647 - 1", {}, "T--"},
        {"(0 - 2147483647 - 1) % (0 - 1) == 0", {}, "T--"},
        {"{$1} / (0 - 1) == {$1} && {$1} != 0", {}, "TF-"},
        {"{$1} / 2 * 2 + {$1} % 2 == {$1}", {}, "T--"},
        {"{$1} % 2 == 1", {{1, negative}}, "-F-"},
        {"{$1} % 2 == 0 - 1", {{1, negative}}, "TF-"},
        {"{$1} != 0 && 5 / {$1} > 1", {}, "TF-"},
        {"{$1} == 0 || 5 / {$1} > 1", {}, "TF-"},
        {"5 / {$1} > 1 || {$1} == 0", {}, "TFE"},
        {"{$1} / {$2} > 0 && {$2} != 0", {}, "TFE"},
        {"0 && 1 / 0", {}, "-F-"},
        {"1 || 1 / 0", {}, "T--"},
        {"1 && 1 / 0", {}, "--E"},
        {"1 / (1 / {$1})", {}, "T-E"},
        {"{$3} / {$2} > 2", {{2, {1, 5}}}, "TF-"},
        {"{$1} * {$2} == 12 && {$1} > {$2}", {}, "TF-"},
        {"{$1} + {$2} + {$3} == 0 && {$1} > 0 && {$2} > 0 && {$3} > 0", {}, "TF-"},
        {"{$1} + {$2} + {$3} == 0 && {$1} > 0 && {$2} > 0 && {$3} > 0", {{1, small}, {2, small}, {3, small}},
            "-F-"},
        {"{$0099} == 5 && {$99} > 4", {{99, {5, 6}}}, "TF-"},
        {"{$65536} == {$0}", {}, "T--"},
        {"{$1} > 10", {{1, {0, 10}}}, "-F-"},
        {"({$1} + 25) * 3 >= 400 && ({$2} % 7 == 0 || {$3} / 4 > 12) & 255 ^ 1 | 4 || {$12} * 16 - {$3} != "
         "70",
            {}, "TF-"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rule);
        EXPECT_EQ(FactsOf(row.rule, row.ranges), row.facts);
    }
}

// Every assignment of one or two variables in small ranges, evaluated: the
// facts must be exactly what the evaluations show. Catches any fact the
// formulas get wrong where a hand-picked row would not look.
TEST(RuleChecker, FactsMatchEveryAssignment)
{
    const Range around0{-6, 6}, top{INT_MAX - 3, INT_MAX}, bottom{INT_MIN, INT_MIN + 3};
    const struct {
        const char *rule;
        RangeTable ranges;
    } rows[] = {
        {"{$1} / {$2} == 1", {{1, around0}, {2, around0}}},
        {"{$1} % {$2} < 0 || {$1} && {$2}", {{1, around0}, {2, around0}}},
        {"({$1} - 3) * {$2} >= ({$1} ^ {$2})", {{1, around0}, {2, around0}}},
        {"{$1} / ({$2} - 2) > ({$2} | {$1})", {{1, around0}, {2, around0}}},
        {"{$1} > 2 && {$2} / ({$1} - 4) != 0 || {$1} % 3", {{1, around0}, {2, around0}}},
        {"{$1} + {$2} < {$1}", {{1, top}, {2, around0}}},
        {"{$1} * 2 > {$1} - {$2}", {{1, bottom}, {2, around0}}},
        {"{$1} / {$2} < 0 && {$2} <= 0 - 1", {{1, bottom}, {2, {-2, 2}}}},
        {"{$1} % {$2} == 0", {{1, bottom}, {2, {-2, 2}}}},
        {"{$1} & 3 == 2 | {$1} <= 0 - 4", {{1, around0}}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rule);
        std::string seen = "---";
        const Range first = row.ranges.begin()->second;
        const Range second = row.ranges.size() > 1 ? row.ranges.rbegin()->second : Range{0, 0};
        for (int64_t a = first.low; a <= first.high; ++a)
            for (int64_t b = second.low; b <= second.high; ++b) {
                Assignment witness = {{1, static_cast<int32_t>(a)}};
                if (row.ranges.size() > 1)
                    witness.emplace_back(2, static_cast<int32_t>(b));
                const char outcome = OutcomeOf(row.rule, witness);
                seen[outcome == 'T' ? 0 : outcome == 'F' ? 1 : 2] = outcome;
            }
        EXPECT_EQ(FactsOf(row.rule, row.ranges), seen);
    }
}

// Catches a difference missed (in status or in value), one claimed where
// the rules agree, a witness that lacks a variable of either rule, and a
// range applied to the other file's rule.
TEST(RuleChecker, CompareRules)
{
    const struct {
        const char *rule;
        RangeTable ranges;
        const char *old;
        RangeTable oldRanges;
        bool same;
    } rows[] = {
        {"{$1} * 2", {}, "{$1} + {$1}", {}, true},
        {"{$1} > 5", {}, "{$1} >= 6", {}, true},
        {"{$1} + 1 > {$1}", {}, "1", {}, false},
        {"{$1} / {$2}", {}, "{$1} / {$2} + 0", {}, true},
        {"{$1} % 2 == 1", {}, "{$1} & 1", {}, false},
        {"{$1} / {$2} > 0 && 1", {}, "{$1} / {$2} > 0", {}, true},
        {"{$2} != 0 && {$1} / {$2} > 0", {}, "{$1} / {$2} > 0", {}, false},
        {"{$1} > 5", {}, "{$2} > 5", {}, false},
        {"{$1} > 5", {{1, {0, 5}}}, "0", {}, true},
        {"{$1} > 5", {}, "{$1} > 5 && {$1} < 9", {{1, {0, 8}}}, true},
        {"{$1} > 5", {}, "{$1} > 5 && {$2} < 9", {{1, {0, 8}}, {2, {0, 8}}}, true},
        {"{$1} > 5", {}, "{$1} > 5 && {$2} < 9", {{1, {0, 8}}, {2, {0, 9}}}, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.rule) + " against " + row.old);
        CRuleChecker checker(10000);
        const Answer answer = checker.Compare(Postfix(row.rule), row.ranges, Postfix(row.old), row.oldRanges);
        EXPECT_EQ(answer.verdict, row.same ? Answer::ENever : Answer::EFound);
        if (answer.verdict != Answer::EFound)
            continue;
        TokenList rule = Postfix(row.rule), old = Postfix(row.old);
        VariableTable table;
        for (const auto &[variable, value] : answer.witness)
            table[variable] = value;
        int32_t value = 0, oldValue = 0;
        const int status = CExprUtil::EvaluatePostfix(rule, table, value);
        const int oldStatus = CExprUtil::EvaluatePostfix(old, table, oldValue);
        EXPECT_TRUE(status != oldStatus || value != oldValue) << testing::PrintToString(answer.witness);
        EXPECT_TRUE(Within(answer.witness, row.oldRanges));
    }
}

// A limit that runs out leaves a question unknown, never a wrong never:
// true and false have witnesses that take the solver longer than 1 ms (the
// fails question, never, may be proved in time or not: under an emulator
// even that proof may not be).
TEST(RuleChecker, TimeLimitGivesUnknown)
{
    const std::string hard = "{$1} * {$2} * {$3} == 1234567 && {$1} > 1000 && {$2} > 1000 && {$3} > 1000";
    const std::string facts = FactsOf(hard, {}, 1);
    EXPECT_NE(facts[2], 'E');
    EXPECT_NE(facts[0], '-');
    EXPECT_NE(facts[1], '-');
    EXPECT_NE(facts.find('?'), std::string::npos);
    EXPECT_EQ(FactsOf(hard, {}), "TF-");
}

// Catches a directive misread or accepted when malformed, a '#' line other
// than a directive taken for a rule, and lines miscounted.
TEST(RulesFile, DirectivesAndRules)
{
    const struct {
        const char *text;
        const char *error;  // "" when well formed
    } rows[] = {
        {"# range {$1} -5 5\n#range {$0002} 0 0\n# ranges are below\n\n \t\n{$1}\n#\n{$2}", ""},
        {"# range {$1} 5", "f:1: error: a range directive is '# range {$N} LOW HIGH'"},
        {"\n# range {$1} 1 2 3", "f:2: error: a range directive is '# range {$N} LOW HIGH'"},
        {"# range $1 1 2", "f:1: error: '$1' is not a variable {$N}"},
        {"# range {$1x} 1 2", "f:1: error: '{$1x}' is not a variable {$N}"},
        {"# range {$1} 2147483648 2", "f:1: error: LOW '2147483648' is not a 32-bit decimal integer"},
        {"# range {$1} 1 +2", "f:1: error: HIGH '+2' is not a 32-bit decimal integer"},
        {"# range {$1} 3 2", "f:1: error: LOW 3 is above HIGH 2"},
        {"# range {$1} 1 2\n# range {$001} 1 2", "f:2: error: {$1} has a range already, on line 1"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        RulesFile file;
        EXPECT_EQ(ParseRulesFile("f", row.text, file), row.error);
    }
    RulesFile file;
    ParseRulesFile("f", rows[0].text, file);
    ASSERT_EQ(file.rules.size(), 2U);
    EXPECT_EQ(file.rules[0].line, 6U);
    EXPECT_EQ(file.rules[1].text, "{$2}");
    EXPECT_EQ(file.rules[1].line, 8U);
    ASSERT_EQ(file.ranges.size(), 2U);
    EXPECT_EQ(file.ranges[1].low, -5);
    EXPECT_EQ(file.ranges[1].high, 5);
    EXPECT_EQ(file.ranges[2].high, 0);
}

}  // namespace
