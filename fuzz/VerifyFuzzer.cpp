// Arbitrary bytes as an expression into TokenAnalysis, SyntaxAnalysis and
// VerifyExpression: the verdict is 0 exactly when both steps pass, and an
// accepted expression comes out in postfix form. LocateError says well formed
// exactly then, and points where an independent model points.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CExprUtil.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds) \
    ((holds) ? void() : (std::fputs("invariant broken: " #holds "\n", stderr), std::abort()))

namespace {

bool Accepted(const std::string &text)
{
    TokenList list;
    return CExprUtil::VerifyExpression(list, text.c_str()) == 0;
}

// Length of the lexeme at text[i], 0 when none starts there.
size_t LexemeLength(const std::string &text, size_t i)
{
    const auto digitsEnd = [&text](size_t j) {
        while (j < text.size() && text[j] >= '0' && text[j] <= '9')
            ++j;
        return j;
    };
    if (text.compare(i, 2, "{$") == 0) {
        const size_t end = digitsEnd(i + 2);
        return end < text.size() && text[end] == '}' ? end + 1 - i : 0;
    }
    if (digitsEnd(i) > i)
        return digitsEnd(i) - i;
    for (const char *lexeme : {"&&", "||", "==", "!=", "<=", ">=", "%", "*", "/", "+", "-", "(",
                               ")", "^", "&", "|", "<", ">"})
        if (text.compare(i, std::strlen(lexeme), lexeme) == 0)
            return std::strlen(lexeme);
    return 0;
}

// Whether some completion of `prefix` (an operand or none, then up to
// `closing` parentheses) is accepted by the verifier.
bool StartsAnExpression(const std::string &prefix, size_t closing)
{
    for (const char *operand : {"", " 1"}) {
        std::string completed = prefix + operand;
        for (size_t n = 0; n <= closing; ++n, completed += ')')
            if (Accepted(completed))
                return true;
    }
    return false;
}

// Where the first error is: the first byte that starts no lexeme, else the
// first token after which no completion is accepted, else the end. Only the
// offset and the kind (EInvalidToken, EUnexpectedEnd, else EOperandExpected
// for any grammar error) are modelled; cubic, so short texts only.
ErrorLocation Model(const std::string &text)
{
    std::vector<size_t> starts, ends;
    for (size_t i = 0; i < text.size();) {
        const size_t length = text[i] == ' ' ? 1 : LexemeLength(text, i);
        if (length == 0)
            return {EInvalidToken, i};
        if (text[i] != ' ') {
            starts.push_back(i);
            ends.push_back(i + length);
        }
        i += length;
    }
    for (size_t k = 0; k < starts.size(); ++k)
        if (!StartsAnExpression(text.substr(0, ends[k]), k + 1))
            return {EOperandExpected, starts[k]};
    return Accepted(text) ? ErrorLocation{EWellFormed, 0} : ErrorLocation{EUnexpectedEnd, text.size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TokenList infix, postfix{ExprToken("stale", ENumber)};
    const int lexed = CExprUtil::TokenAnalysis(infix, text.c_str());
    const int parsed = lexed == 0 ? CExprUtil::SyntaxAnalysis(infix) : lexed;
    REQUIRE((lexed == 0 || lexed == 20014) && (parsed == 0 || parsed == 20014));
    const int verified = CExprUtil::VerifyExpression(postfix, text.c_str());
    REQUIRE(verified == (parsed == 0 ? 0 : 20014));
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    REQUIRE((location.eReason == EWellFormed) == (verified == 0));
    if (size <= 48) {
        const ErrorLocation model = Model(text.c_str());
        REQUIRE(location.offset == model.offset);
        const auto kind = [](ErrorReason reason) {
            return reason == EWellFormed || reason == EInvalidToken || reason == EUnexpectedEnd
                       ? reason : EOperandExpected;
        };
        REQUIRE(kind(location.eReason) == model.eReason);
    }
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
