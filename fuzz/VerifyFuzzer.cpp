// Arbitrary bytes into verification: as expression text through
// TokenAnalysis, SyntaxAnalysis and VerifyExpression, and as a list of token
// codes straight into SyntaxAnalysis and ConvertToPostfix.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CExprUtil.h"
#include "SilentLog.h"

using namespace fernvault::alarm_manager;

namespace {

bool IsParenthesis(const ExprToken &token)
{
    return token.eTokenCode == ELeftParen || token.eTokenCode == ERightParen;
}

bool IsOperand(const ExprToken &token)
{
    return token.eTokenCode == EVariable || token.eTokenCode == ENumber;
}

// `postfix` is the conversion of the accepted `infix`: no parentheses, the
// parenthesis tokens gone and nothing else, the operands in their order, and
// a stack walk that finds two operands at every operator and ends at one.
void RequirePostfixOf(const TokenList &infix, const TokenList &postfix)
{
    size_t parentheses = 0;
    std::string infixOperands, postfixOperands;
    for (const ExprToken &token : infix) {
        parentheses += IsParenthesis(token);
        if (IsOperand(token))
            infixOperands += token.strToken + '/' + std::to_string(token.eTokenCode) + ' ';
    }
    Require(postfix.size() == infix.size() - parentheses, "postfix length");
    size_t depth = 0;
    for (const ExprToken &token : postfix) {
        Require(!IsParenthesis(token), "no parentheses in postfix");
        if (IsBinaryOperator(token.eTokenCode)) {
            Require(depth >= 2, "two operands at every operator");
            --depth;
        } else {
            ++depth;
            postfixOperands += token.strToken + '/' + std::to_string(token.eTokenCode) + ' ';
        }
    }
    Require(depth == 1, "postfix leaves one value");
    Require(infixOperands == postfixOperands, "operands keep their order");
}

// The tokens spell the text again, blanks left out.
void RequireSpelling(const TokenList &tokens, const std::string &text)
{
    std::string spelled, unblanked;
    for (const ExprToken &token : tokens)
        spelled += token.eTokenCode == EVariable ? "{$" + token.strToken + "}" : token.strToken;
    for (const char c : text)
        if (c != ' ')
            unblanked += c;
    Require(spelled == unblanked, "tokens spell the text");
}

void CheckText(const char *text)
{
    TokenList tokens;
    const int lexed = CExprUtil::TokenAnalysis(tokens, text);
    const int parsed = lexed == 0 ? CExprUtil::SyntaxAnalysis(tokens) : lexed;
    Require(lexed == 0 || lexed == 20014, "token analysis status");
    Require(parsed == 0 || parsed == 20014, "syntax analysis status");
    if (lexed == 0)
        RequireSpelling(tokens, text);
    TakeLogCounts();

    TokenList list{ExprToken("stale", ENumber)};
    const int verified = CExprUtil::VerifyExpression(list, text);
    const LogCounts logged = TakeLogCounts();
    Require(verified == (lexed == 0 && parsed == 0 ? 0 : 20014), "0 exactly when both steps pass");
    if (verified == 0) {
        Require(logged.errors == 0 && logged.traces == 3, "three trace records on success");
        RequirePostfixOf(tokens, list);
    } else {
        Require(logged.errors == 2, "a failure is logged by its step and by the driver");
    }
}

// Each byte a token code 0 to 12; the text numbers the token, so operand
// order can be followed through the conversion.
void CheckCodes(const uint8_t *data, size_t size)
{
    TokenList list;
    for (size_t i = 0; i < size; ++i)
        list.emplace_back(std::to_string(i), data[i] % 13);
    const TokenList infix = list;
    const int parsed = CExprUtil::SyntaxAnalysis(list);
    const LogCounts logged = TakeLogCounts();
    Require(logged.errors + logged.traces == 1, "one verdict record");
    CExprUtil::ConvertToPostfix(list);
    if (parsed == 0)
        RequirePostfixOf(infix, list);
    else
        Require(parsed == 20014, "syntax analysis status");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    CheckText(text.c_str());
    CheckCodes(data, size);
    return 0;
}
