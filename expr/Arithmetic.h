// 32-bit arithmetic of the expression language, free of undefined behaviour:
// sums, differences and products wrap; division truncates toward zero;
// comparisons and the logical operators yield 1 or 0.
#ifndef QUILLET_EXPR_ARITHMETIC_H
#define QUILLET_EXPR_ARITHMETIC_H

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "CExprUtil.h"
#include "Operators.h"

namespace fernvault::alarm_manager {

// The operators that postfix conversion reorders and evaluation computes:
// the IsOperator codes, then && and ||, ranked after | in code order.
constexpr bool IsBinaryOperator(int32_t code)
{
    return code >= EMulDivMod && code <= ELogicOr;
}
static_assert(ELogicAnd == EBitOr + 1 && ELogicOr == ELogicAnd + 1,
    "the logical operators rank right after the bit operators");

// Reads `text` as strtol does in base 10 (leading white space, one sign,
// digits up to the first non-digit; no digits gives 0), saturating at the
// 32-bit limits whatever the width of long.
inline int32_t ReadInt32(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    // Accumulate the magnitude, stopping it one past the largest we can need.
    const uint32_t limit = negative ? 0x80000000U : 0x7FFFFFFFU;
    uint32_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<uint32_t>(*text - '0');
        if (magnitude > (limit - digit) / 10U) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10U + digit;
    }
    return negative ? static_cast<int32_t>(0U - magnitude) : static_cast<int32_t>(magnitude);
}

// The variable a token's text names: the low 16 bits of its saturated value,
// so 65536 is variable 0 and every number from 2147483647 up is 65535.
inline uint16_t VariableNumber(const std::string &text)
{
    return static_cast<uint16_t>(ReadInt32(text.c_str()));
}

// The operator of an IsBinaryOperator token. Within a code the texts are
// tested in a fixed order and the last row takes every other text.
inline BinaryOp OperatorOf(const ExprToken &token)
{
    const char *text = token.strToken.c_str();
    const auto is = [text](const char *lexeme) { return std::strcmp(text, lexeme) == 0; };
    switch (token.eTokenCode) {
    case EMulDivMod: return is("*") ? BinaryOp::EMul : is("/") ? BinaryOp::EDiv : BinaryOp::EMod;
    case EAddSub: return is("+") ? BinaryOp::EAdd : BinaryOp::ESub;
    case ERelational:
        return is(">") ? BinaryOp::EGreater
            : is("<")  ? BinaryOp::ELess
            : is(">=") ? BinaryOp::EGreaterEqual
                       : BinaryOp::ELessEqual;
    case EEquality: return is("==") ? BinaryOp::EEqual : BinaryOp::ENotEqual;
    case EBitAnd: return BinaryOp::EBitAnd;
    case EBitXor: return BinaryOp::EBitXor;
    case EBitOr: return BinaryOp::EBitOr;
    case ELogicAnd: return BinaryOp::ELogicAnd;
    default: return BinaryOp::ELogicOr;
    }
}

// Whether `op` needs its right operand once the left one is known: false
// where && or || is already decided by the left operand, as in C.
constexpr bool NeedsRightOperand(BinaryOp op, int32_t left)
{
    return op == BinaryOp::ELogicAnd ? left != 0 : op == BinaryOp::ELogicOr ? left == 0 : true;
}

// The value of an && or || that its left operand decided: 0 for &&, 1 for ||.
constexpr int32_t ShortCircuitValue(BinaryOp op)
{
    return op == BinaryOp::ELogicOr ? 1 : 0;
}

// Whether `op` may leave its right operand unneeded (&& and ||).
constexpr bool MayShortCircuit(BinaryOp op)
{
    return !NeedsRightOperand(op, 0) || !NeedsRightOperand(op, 1);
}

// Whether `op` divides: / and %, the operators that fail on a zero divisor.
constexpr bool Divides(BinaryOp op)
{
    return op == BinaryOp::EDiv || op == BinaryOp::EMod;
}

// Whether `op` compares its operands (yielding 1 or 0).
constexpr bool IsComparison(BinaryOp op)
{
    return op >= BinaryOp::EGreater && op <= BinaryOp::ENotEqual;
}

// A comparison's or a logic operator's result: 1 or 0.
inline int32_t Truth(bool holds)
{
    return holds ? 1 : 0;
}

inline int32_t Wrap(uint32_t bits)
{
    return static_cast<int32_t>(bits);
}

// left op right into `value`; false, with `value` untouched, for "/" and "%"
// by zero. Inlined wherever it is called: with `op` known there, only its
// case of Meaning remains.
[[gnu::always_inline]] inline bool Apply(BinaryOp op, int32_t left, int32_t right, int32_t &value)
{
    if (Divides(op) && right == 0)
        return false;
    value = Meaning(op, left, right);
    return true;
}

// |value| as an unsigned number, defined for INT32_MIN too.
constexpr uint32_t Magnitude(int32_t value)
{
    return value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

// How DivideByConstant divides a magnitude n by one of 2 or more: the high
// half of the 32-bit product n * multiplier, shifted right by `shift`.
struct DivisionMagic {
    uint32_t multiplier;
    uint32_t shift;
};

// For 2^k, 2^(32-k) and no shift. Else, with l = floor(log2 magnitude),
// m = ceil(2^(32+l) / magnitude), which is below 2^32, and the shift l:
// floor(n * m / 2^(32+l)) is floor(n / magnitude) for every n up to 2^31,
// since m * magnitude - 2^(32+l) is below magnitude <= 2^(l+1), so n times
// it stays below 2^(32+l).
constexpr DivisionMagic MagicFor(uint32_t magnitude)
{
    constexpr unsigned kBits = 32;
    uint32_t log = 0;
    for (uint32_t rest = magnitude; rest > 1; rest >>= 1)
        ++log;
    if ((magnitude & (magnitude - 1)) == 0)
        return {static_cast<uint32_t>(uint64_t{1} << (kBits - log)), 0};
    return {static_cast<uint32_t>((uint64_t{1} << (kBits + log)) / magnitude + 1), log};
}

// The quotient that Apply gives for left / divisor, where |divisor| is 2 or
// more and `magic` is MagicFor(|divisor|): a multiplication instead of a
// hardware division, the dearest step of an evaluation, and no branch, so
// that a loop over many values vectorises.
inline int32_t DivideByConstant(int32_t left, int32_t divisor, DivisionMagic magic)
{
    constexpr unsigned kBits = 32;
    const uint32_t magnitude = Magnitude(left);
    const auto quotient =
        static_cast<uint32_t>((uint64_t{magnitude} * magic.multiplier) >> kBits) >> magic.shift;
    const uint32_t negate = (left < 0) != (divisor < 0) ? ~0U : 0U;
    return Wrap((quotient ^ negate) - negate);
}

// The remainder that Apply gives for left % divisor, as DivideByConstant.
inline int32_t RemainderByConstant(int32_t left, int32_t divisor, DivisionMagic magic)
{
    const int32_t quotient = DivideByConstant(left, divisor, magic);
    return Wrap(
        static_cast<uint32_t>(left) - static_cast<uint32_t>(quotient) * static_cast<uint32_t>(divisor));
}

// A value on an evaluation stack. It is poisoned when it stems from a
// division by zero whose failure waits on an && or || that may not need it.
struct Operand {
    int32_t value;
    bool poisoned;
};

// left op right into `value`, where a poisoned operand that the result needs
// poisons the result. False for a zero denominator between clean operands:
// the caller fails at once, or poisons the result if an && or || follows.
inline bool Combine(BinaryOp op, Operand left, Operand right, Operand &value)
{
    const bool needsRight = NeedsRightOperand(op, left.value);
    value.poisoned = left.poisoned || (needsRight && right.poisoned);
    if (value.poisoned)
        return true;  // its value is never read
    if (needsRight)
        return Apply(op, left.value, right.value, value.value);
    value.value = ShortCircuitValue(op);
    return true;
}

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_ARITHMETIC_H
