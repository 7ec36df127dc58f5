// eval_expression EXPRESSION [NUMBER=VALUE]...
//
// Verifies EXPRESSION, prints its postfix form, then evaluates it with the
// variables given as NUMBER=VALUE (variable {$NUMBER} is VALUE). Exit status
// 0 with the value printed, 1 when verification or evaluation fails (the log
// records on standard error say why; a rejected expression is also shown on
// standard output with a caret under its first error), 2 for a usage error.
#include <cstdio>
#include <cstring>

#include "CExprUtil.h"
#include "ExampleUtil.h"

using fernvault::alarm_manager::CExprUtil;
using fernvault::alarm_manager::ErrorLocation;
using fernvault::alarm_manager::EVariable;
using fernvault::alarm_manager::ExprToken;
using fernvault::alarm_manager::TokenList;
using fernvault::alarm_manager::VariableTable;

namespace {

int UsageError(const char *message, const char *argument)
{
    // Nothing is left to tell a failure to when standard error fails.
    (void)std::fprintf(stderr, "eval_expression: %s%s\n", message, argument);
    (void)std::fputs("usage: eval_expression EXPRESSION [NUMBER=VALUE]...\n", stderr);
    return 2;
}

// Adds "NUMBER=VALUE" to `table`; false if it is not of that form.
bool AddVariable(const char *argument, VariableTable &table)
{
    const char *equals = std::strchr(argument, '=');
    const char *end = argument + std::strlen(argument);
    uint16_t number = 0;
    int32_t value = 0;
    if (equals == nullptr || !ReadWhole(argument, equals, number) || !ReadWhole(equals + 1, end, value))
        return false;
    table[number] = value;
    return true;
}

void PrintPostfix(const TokenList &list)
{
    std::printf("postfix:");
    for (const ExprToken &token : list) {
        if (token.eTokenCode == EVariable)
            std::printf(" {$%s}", token.strToken.c_str());
        else
            std::printf(" %s", token.strToken.c_str());
    }
    std::printf("\n");
}

// "error at byte N: REASON", the expression with every byte that is not
// printable ASCII as '?', and a caret under byte N.
void PrintErrorLocation(const char *expression)
{
    const ErrorLocation location = CExprUtil::LocateError(expression);
    std::printf("error at byte %zu: %s\n", location.offset, CExprUtil::ReasonText(location.eReason));
    (void)std::fputs(CaretLines(expression, std::strlen(expression), location.offset).c_str(), stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return UsageError("missing EXPRESSION", "");
    VariableTable table;
    for (int i = 2; i < argc; ++i)
        if (!AddVariable(argv[i], table))
            return UsageError("expected NUMBER=VALUE (0-65535 = 32-bit integer), got ", argv[i]);

    TokenList list;
    if (CExprUtil::VerifyExpression(list, argv[1]) != 0) {
        PrintErrorLocation(argv[1]);
        return 1;
    }
    PrintPostfix(list);
    int32_t value = 0;
    if (CExprUtil::EvaluatePostfix(list, table, value) != 0)
        return 1;
    std::printf("value: %d\n", static_cast<int>(value));
    return 0;
}
