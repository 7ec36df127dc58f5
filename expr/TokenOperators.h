// From tokens to what the evaluators compute with: the operator a token
// names and the variable a token's text names. Private: not installed.
#ifndef QUILLET_EXPR_TOKENOPERATORS_H
#define QUILLET_EXPR_TOKENOPERATORS_H

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "Arithmetic.h"
#include "CExprUtil.h"
#include "Operators.h"

namespace fernvault::alarm_manager {

namespace detail {

// Whether the table's codes run without a gap from its first to its last.
constexpr bool CodesAreContiguous()
{
    for (size_t i = 1; i < kOperators.size(); ++i)
        if (kOperators[i].code != kOperators[i - 1].code && kOperators[i].code != kOperators[i - 1].code + 1)
            return false;
    return true;
}
static_assert(CodesAreContiguous(), "the operator rows rank in code order, no code skipped");

// Whether IsOperator, the grammar's codes, is exactly the codes of the
// operators that always need both operands.
constexpr bool GrammarAgreesWithTable()
{
    for (const OperatorRow &row : kOperators)
        if (IsOperator(row.code) == MayShortCircuit(row.op))
            return false;
    return IsOperator(kOperators.front().code) && !IsOperator(kOperators.front().code - 1);
}
static_assert(GrammarAgreesWithTable(), "IsOperator names the codes of the operators but && and ||");

}  // namespace detail

// The codes that postfix conversion reorders and evaluation computes: every
// code of the operator table.
constexpr bool IsBinaryOperator(int32_t code)
{
    return code >= kOperators.front().code && code <= kOperators.back().code;
}

namespace detail {

// Whether row i is the last of its code, the one that takes any text.
constexpr bool TakesAnyText(size_t i)
{
    return i + 1 == kOperators.size() || kOperators[i + 1].code != kOperators[i].code;
}

// A text of up to two bytes as one number, 0 for any other text: texts
// compare as numbers.
constexpr uint32_t Packed(const char *text, size_t length)
{
    return length == 1 ? static_cast<uint8_t>(text[0])
        : length == 2
        ? static_cast<uint8_t>(text[0]) | static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << CHAR_BIT
        : 0;
}

constexpr std::array<uint32_t, kOperators.size()> PackedTexts()
{
    std::array<uint32_t, kOperators.size()> packed{};
    for (size_t i = 0; i < kOperators.size(); ++i)
        packed[i] = Packed(kOperators[i].text, kOperators[i].text[1] == '\0' ? 1 : 2);
    return packed;
}
inline constexpr std::array kPackedTexts = PackedTexts();
static_assert(
    [] {
        size_t fitting = 0;
        for (const OperatorRow &row : kOperators)
            fitting += row.text[0] != '\0' && (row.text[1] == '\0' || row.text[2] == '\0') ? 1 : 0;
        return fitting == kOperators.size();
    }(),
    "every operator's text is one or two bytes");

}  // namespace detail

namespace detail {

// Whether `row` is the one for `code` and `text`, then setting `op`.
template <size_t row> [[gnu::always_inline]] inline bool RowMatches(int32_t code, uint32_t text, BinaryOp &op)
{
    constexpr OperatorRow kRow = kOperators[row];
    if (code != kRow.code || (!TakesAnyText(row) && text != kPackedTexts[row]))
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
// the last row of its code for any other text. The rows of a code are
// tested in table order.
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
