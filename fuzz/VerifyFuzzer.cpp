// Arbitrary bytes as an expression into every operation: the verdict is 0
// exactly when both steps pass, LocateError says well formed exactly then and
// points where an independent model points, an accepted expression comes out
// in postfix, and both evaluation engines agree on any list of tokens.
#include <climits>
#include <cstring>
#include <vector>

#include "Arithmetic.h"
#include "CCompiledExpr.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds)                                                                                       \
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
    const size_t digits = std::min(text.find_first_not_of("0123456789", i), text.size()) - i;
    const size_t close = text.find_first_not_of("0123456789", i + 2);
    if (text.compare(i, 2, "{$") == 0)
        return close < text.size() && text[close] == '}' ? close + 1 - i : 0;
    for (const char *lexeme :
        {"&&", "||", "==", "!=", "<=", ">=", "%", "*", "/", "+", "-", "(", ")", "^", "&", "|", "<", ">"})
        if (text.compare(i, std::strlen(lexeme), lexeme) == 0)
            return std::strlen(lexeme);
    return digits;
}

// The first byte that starts no lexeme, else the first token after which no
// completion (an operand or none, then closing parentheses) is accepted by
// the verifier, else the end. Any grammar error shows as EOperandExpected.
ErrorLocation Model(const std::string &text)
{
    std::vector<size_t> starts, ends;
    for (size_t i = 0, length; i < text.size(); i += length)
        if ((length = text[i] == ' ' ? 1 : LexemeLength(text, i)) == 0)
            return {EInvalidToken, i};
        else if (text[i] != ' ') {
            starts.push_back(i);
            ends.push_back(i + length);
        }
    for (size_t k = 0; k < starts.size(); ++k) {
        bool completes = false;
        for (std::string bare = text.substr(0, ends[k]), operand = bare + " 1";
             !completes && bare.size() <= ends[k] + k + 1; bare += ')', operand += ')')
            completes = Accepted(bare) || Accepted(operand);
        if (!completes)
            return {EOperandExpected, starts[k]};
    }
    return Accepted(text) ? ErrorLocation{EWellFormed, 0} : ErrorLocation{EUnexpectedEnd, text.size()};
}

// EvaluatePostfix and the compiled form give the same status and result, a
// failure being 20014 with the result 0.
void ExpectEnginesAgree(const TokenList &list)
{
    static const VariableTable kTable = {{1, 7}, {2, 0}, {3, INT32_MIN}, {4, -1}};
    TokenList copy = list;
    int32_t value = 12345, compiledValue = 12345;
    const int status = CExprUtil::EvaluatePostfix(copy, kTable, value);
    REQUIRE(status == 0 || (status == 20014 && value == 0));
    REQUIRE(CCompiledExpr(list).Evaluate(kTable, compiledValue) == status && compiledValue == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TokenList infix, postfix{ExprToken("stale", ENumber)};
    const int lexed = CExprUtil::TokenAnalysis(infix, text.c_str());
    const int parsed = lexed == 0 ? CExprUtil::SyntaxAnalysis(infix) : lexed;
    ExpectEnginesAgree(infix);
    REQUIRE((lexed == 0 || lexed == 20014) && (parsed == 0 || parsed == 20014));
    const int verified = CExprUtil::VerifyExpression(postfix, text.c_str());
    REQUIRE(verified == (parsed == 0 ? 0 : 20014));
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    REQUIRE((location.eReason == EWellFormed) == (verified == 0));
    const ErrorReason reason = location.eReason;  // as the model tells grammar errors apart
    const ErrorReason kind =
        reason < EOperandExpected || reason == EUnexpectedEnd ? reason : EOperandExpected;
    // The model is cubic; it reads the text up to a NUL, as the library does.
    // NOLINTNEXTLINE(readability-redundant-string-cstr)
    const ErrorLocation model = size <= 48 ? Model(text.c_str()) : location;
    REQUIRE(location.offset == model.offset && kind == (size <= 48 ? model.eReason : kind));
    if (verified != 0)
        return 0;
    ExpectEnginesAgree(postfix);

    // The operands in their order, and a stack walk that finds two operands
    // at every operator and ends at one: nothing else is left, no parenthesis.
    std::string infixOperands, postfixOperands;
    size_t depth = 0;
    for (const ExprToken &token : infix)
        infixOperands +=
            token.eTokenCode <= ENumber ? std::to_string(token.eTokenCode) + token.strToken + ' ' : "";
    for (const ExprToken &token : postfix) {
        const bool isOperator = IsBinaryOperator(token.eTokenCode);
        REQUIRE(isOperator ? depth-- >= 2 : token.eTokenCode <= ENumber && ++depth > 0);
        postfixOperands += isOperator ? "" : std::to_string(token.eTokenCode) + token.strToken + ' ';
    }
    REQUIRE(depth == 1 && infixOperands == postfixOperands);
    return 0;
}
