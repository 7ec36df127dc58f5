// Arbitrary bytes as an expression into TokenAnalysis, SyntaxAnalysis and
// VerifyExpression: the verdict is 0 exactly when both steps pass, and an
// accepted expression comes out in postfix form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CExprUtil.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds) \
    ((holds) ? void() : (std::fputs("invariant broken: " #holds "\n", stderr), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TokenList infix, postfix{ExprToken("stale", ENumber)};
    const int lexed = CExprUtil::TokenAnalysis(infix, text.c_str());
    const int parsed = lexed == 0 ? CExprUtil::SyntaxAnalysis(infix) : lexed;
    REQUIRE((lexed == 0 || lexed == 20014) && (parsed == 0 || parsed == 20014));
    const int verified = CExprUtil::VerifyExpression(postfix, text.c_str());
    REQUIRE(verified == (parsed == 0 ? 0 : 20014));
    if (verified != 0)
        return 0;

    // The parenthesis tokens gone and nothing else, the operands in their
    // order, and a stack walk that finds two operands at every operator and
    // ends at one.
    const auto operand = [](const ExprToken &token) {
        return std::to_string(token.eTokenCode) + token.strToken + ' ';
    };
    std::string infixOperands, postfixOperands;
    size_t parentheses = 0, depth = 0;
    for (const ExprToken &token : infix) {
        parentheses += token.eTokenCode == ELeftParen || token.eTokenCode == ERightParen;
        if (token.eTokenCode == EVariable || token.eTokenCode == ENumber)
            infixOperands += operand(token);
    }
    REQUIRE(postfix.size() == infix.size() - parentheses);
    for (const ExprToken &token : postfix) {
        if (IsBinaryOperator(token.eTokenCode)) {
            REQUIRE(depth >= 2);
            --depth;
        } else {
            REQUIRE(token.eTokenCode == EVariable || token.eTokenCode == ENumber);
            ++depth;
            postfixOperands += operand(token);
        }
    }
    REQUIRE(depth == 1);
    REQUIRE(infixOperands == postfixOperands);
    return 0;
}
