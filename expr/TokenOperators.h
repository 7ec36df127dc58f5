// From tokens to what the evaluators compute with: the operator a token
// names and the variable a token's text names. Private: not installed.
#ifndef QUILLET_EXPR_TOKENOPERATORS_H
#define QUILLET_EXPR_TOKENOPERATORS_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "Arithmetic.h"
#include "CExprUtil.h"
#include "Operators.h"

namespace fernvault::alarm_manager {

// The codes that postfix conversion reorders and evaluation computes: every
// code of the operator table.
constexpr bool IsBinaryOperator(int32_t code)
{
    return code >= kOperators.front().code && code <= kOperators.back().code;
}

namespace detail {

// A text of one or two bytes as one number, 0 for any other: texts compare as numbers.
constexpr uint32_t Packed(const char *text, size_t length)
{
    const auto byte = [text](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(text[i])); };
    return length == 1 ? byte(0) : length == 2 ? byte(0) | byte(1) << CHAR_BIT : 0;
}

// Whether the rows rank in code order with no code skipped, each text one or
// two bytes, and IsOperator (the grammar's codes) is the codes of the
// operators that always need both operands.
constexpr bool TableFitsTokens()
{
    bool fits = IsOperator(kOperators.front().code) && !IsOperator(kOperators.front().code - 1);
    for (size_t i = 0; i < kOperators.size(); ++i) {
        const OperatorRow &row = kOperators[i];
        const int32_t step = i == 0 ? 0 : row.code - kOperators[i - 1].code;
        fits = fits && (step == 0 || step == 1) && IsOperator(row.code) != MayShortCircuit(row.op) &&
            Packed(row.text, std::char_traits<char>::length(row.text)) != 0;
    }
    return fits;
}
static_assert(TableFitsTokens(), "the operator table fits the token codes and texts");

// Whether row `row` is the one for `code` and `text`, setting `op` then. The
// last row of a code takes any text.
template <size_t row> [[gnu::always_inline]] inline bool RowMatches(int32_t code, uint32_t text, BinaryOp &op)
{
    constexpr OperatorRow kRow = kOperators[row];
    constexpr bool kAnyText = row + 1 == kOperators.size() || kOperators[row + 1].code != kRow.code;
    if (code != kRow.code ||
        (!kAnyText && text != Packed(kRow.text, std::char_traits<char>::length(kRow.text))))
        return false;
    op = kRow.op;
    return true;
}

// The rows tested one by one, each with its code and text known to the
// compiler: each gives its own operator, so that a switch over the result
// (Apply's) is resolved where the row matched.
template <size_t... rows>
[[gnu::always_inline]] inline BinaryOp OperatorOfRows(
    int32_t code, uint32_t text, std::index_sequence<rows...> /*rows*/)
{
    BinaryOp op = kOperators.back().op;
    (void)(RowMatches<rows>(code, text, op) || ...);
    return op;
}

}  // namespace detail

// The operator of an IsBinaryOperator token: the row of its code and text,
// else the last row of its code (the last row of all for any other code).
[[gnu::always_inline]] inline BinaryOp OperatorOf(const ExprToken &token)
{
    return detail::OperatorOfRows(token.eTokenCode,
        detail::Packed(token.strToken.data(), token.strToken.size()),
        std::make_index_sequence<kOperators.size()>());
}

// The variable a token's text names: the low 16 bits of its saturated value,
// so 65536 is variable 0 and every number from 2147483647 up is 65535.
inline uint16_t VariableNumber(const std::string &text)
{
    return static_cast<uint16_t>(ReadInt32(text.c_str()));
}

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_TOKENOPERATORS_H
