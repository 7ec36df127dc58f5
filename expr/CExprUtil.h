// Expression utility: token analysis, syntax analysis, postfix conversion,
// variable substitution and 32-bit evaluation of integer expressions.
//
// Every operation is class-level and works only on its arguments, so calls on
// different lists may run at the same time. Statuses are 0 for success and
// APR_EGENERAL (20014) for failure; a failure is logged once, where it is
// found. Allocation failures (std::bad_alloc) pass through to the caller.
#ifndef QUILLET_EXPR_CEXPRUTIL_H
#define QUILLET_EXPR_CEXPRUTIL_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fernvault::alarm_manager {

// Token codes. Among the operators the code is the precedence level: a
// smaller code binds tighter. ENoToken is never stored in a token.
enum TokenCode : int32_t {
    ENoToken = -1,
    EVariable = 0,  // {$N}; the text holds the digits N only
    ENumber,        // a run of decimal digits, leading zeros kept
    ELeftParen,
    ERightParen,
    EMulDivMod,   // * / %
    EAddSub,      // + -
    ERelational,  // < > <= >=
    EEquality,    // == !=
    EBitAnd,      // &
    EBitXor,      // ^
    EBitOr,       // |
    ELogicAnd,    // &&
    ELogicOr,     // ||
};

struct ExprToken {
    ExprToken(std::string text, int32_t code)
        : strToken(std::move(text))
        , eTokenCode(code)
    {
    }
    // The text given as `length` bytes at `text`, built in place.
    ExprToken(const char *text, size_t length, int32_t code)
        : strToken(text, length)
        , eTokenCode(code)
    {
    }

    std::string strToken;
    int32_t eTokenCode;
};

using TokenList = std::vector<ExprToken>;

// Variable number to value.
using VariableTable = std::map<uint16_t, int32_t>;

// True exactly for the operator codes EMulDivMod to EBitOr, the precedence
// levels of the seven binary operator groups.
constexpr bool IsOperator(int32_t code)
{
    return code >= EMulDivMod && code <= EBitOr;
}

// Why an expression is not well formed; ReasonText gives each in words.
enum ErrorReason : int32_t {
    EWellFormed = 0,
    ENullExpression,           // "no expression"
    EInvalidToken,             // "invalid token"
    EOperandExpected,          // "operand expected"
    EOperatorExpected,         // "operator expected"
    EOperatorOrParenExpected,  // "operator or ')' expected"
    EUnmatchedParen,           // "unmatched ')'"
    EUnexpectedEnd,            // "unexpected end"
};

// Where an expression first goes wrong: the 0-based byte offset and why.
struct ErrorLocation {
    ErrorReason eReason;
    size_t offset;  // 0 when well formed
};

class CExprUtil {
public:
    CExprUtil();
    virtual ~CExprUtil();

    // Empties `list` and appends the tokens of `expression` in source order.
    // Returns 0, or 20014 at the first byte that starts no valid token; the
    // list then keeps the tokens read before it. A null or empty expression
    // fails and leaves the list exactly as it was passed.
    static int TokenAnalysis(TokenList &list, const char *expression);

    // Returns 0 when the codes of `list` form one well-formed expression
    // (expression := factor { operator factor }), else 20014. Reads codes
    // only; any depth of nesting runs in constant stack.
    static int SyntaxAnalysis(const TokenList &list);

    // Token analysis then syntax analysis of `expression`. On success (0) the
    // list holds the expression in postfix order; on failure (20014) it holds
    // what the failing step left (see TokenAnalysis and SyntaxAnalysis).
    static int VerifyExpression(TokenList &list, const char *expression);

    // Where `expression` (possibly null) first stops being well formed, judged
    // as VerifyExpression judges it: a byte that starts no valid token anywhere
    // wins over a grammar error before it. An unfinished expression points at
    // its end. EWellFormed exactly when VerifyExpression would return 0.
    // Writes no record, allocates nothing, constant stack, one pass.
    static ErrorLocation LocateError(const char *expression);

    // A short English text for `reason`: "operand expected", ...
    static const char *ReasonText(ErrorReason reason);

    // Rewrites a list accepted by SyntaxAnalysis into postfix order; the
    // parentheses are dropped, operands keep their order, texts and codes are
    // unchanged. If an allocation fails, the list is left as it was.
    static void ConvertToPostfix(TokenList &list);

    // Replaces the text of every EVariable token by its value from `table`,
    // in decimal. Returns 0, or 20014 at the first variable missing from the
    // table; tokens before it stay substituted, it and later ones unchanged.
    static int SubstituteVariables(TokenList &list, const VariableTable &table);

    // Substitutes the variables of a postfix `list`, then computes it in
    // 32-bit two's complement. Returns 0 and writes `result`, or 20014 with
    // `result` 0 (a missing variable, too few operands for an operator, a
    // needed division by zero, or an empty list).
    static int EvaluatePostfix(TokenList &list, const VariableTable &table, int32_t &result);
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_CEXPRUTIL_H
