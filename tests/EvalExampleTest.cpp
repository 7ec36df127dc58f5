#include <gtest/gtest.h>

#include "ProcessRunner.h"

namespace {

TEST(EvalExample, VerifiesConvertsAndEvaluates)
{
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        const char *errContains;
    } rows[] = {
        {{"({$1} + 25) * 3 >= 400 && {$2} % 7 == 0", "1=120", "2=14"}, 0,
         "postfix: {$1} 25 + 3 * 400 >= {$2} 7 % 0 == &&\nvalue: 1\n", "Valid expression"},
        {{"{$2} != 0 && 100 / {$2} > 3", "2=0"}, 0,
         "postfix: {$2} 0 != 100 {$2} / 3 > &&\nvalue: 0\n", "Valid expression"},
        {{"{$1} - 1", "1=-2147483648"}, 0, "postfix: {$1} 1 -\nvalue: 2147483647\n", ""},
        {{"5 / 0"}, 1, "postfix: 5 0 /\n", "Invalid expression with denominator 0"},
        {{"{$3}", "1=1"}, 1, "postfix: {$3}\n", "fail to get value for variable(3)"},
        {{"1 +"}, 1, "error at byte 3: unexpected end\n1 +\n   ^\n", "Invalid expression : 1 +"},
        {{"(1 + ) * 2"}, 1, "error at byte 5: operand expected\n(1 + ) * 2\n     ^\n", ""},
        {{"1\t\x80 x"}, 1, "error at byte 1: invalid token\n1?? x\n ^\n", ""},
        {{""}, 1, "error at byte 0: unexpected end\n\n^\n", "Invalid expression string to be analysed"},
        {{}, 2, "", "usage: eval_expression EXPRESSION [NUMBER=VALUE]..."},
        {{"1", "65536=1"}, 2, "", "usage:"},
        {{"1", "1=2147483648"}, 2, "", "usage:"},
        {{"1", "-1=1"}, 2, "", "usage:"},
        {{"1", "1="}, 2, "", "usage:"},
        {{"1", "x"}, 2, "", "usage:"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), EVAL_EXPRESSION_BIN);
        SCOPED_TRACE(row.args.empty() ? "no arguments" : row.args[0]);
        const ProcessResult result = RunProcess(argv);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, row.out);
        EXPECT_NE(result.err.find(row.errContains), std::string::npos) << result.err;
    }
}

}  // namespace
