// The binary operators of the expression language: one table of their
// texts, precedence levels and properties, and what each computes, for the
// evaluators and for a checker that computes on symbolic values alike.
// Private: not installed.
#ifndef QUILLET_EXPR_OPERATORS_H
#define QUILLET_EXPR_OPERATORS_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "Arithmetic.h"
#include "CExprUtil.h"

namespace fernvault::alarm_manager {

// The properties of an operator (OperatorRow::properties).
enum OperatorProperty : uint8_t {
    ECompares = 1,       // yields 1 or 0 from an order or equality of its operands
    EDivides = 2,        // fails on a zero right operand
    EShortCircuits = 4,  // may leave its right operand unneeded (see NeedsRightOperand)
    ESwaps = 8,          // left op right is right op' left, op' being the row's `swapped`
};

// QUILLET_OPERATORS(X) calls X(name, text, token code, properties, swapped)
// once an operator, in the order of BinaryOp, the token code (precedence)
// non-decreasing. Within a code the last row takes any text no row has. A
// new operator: a row here, its case in Meaning, a case in the lexer and a
// row of the operator tests (docs/operators.md).
#define QUILLET_OPERATORS(X)                                                                                 \
    X(EMul, "*", EMulDivMod, ESwaps, EMul)                                                                   \
    X(EDiv, "/", EMulDivMod, EDivides, EDiv)                                                                 \
    X(EMod, "%", EMulDivMod, EDivides, EMod)                                                                 \
    X(EAdd, "+", EAddSub, ESwaps, EAdd)                                                                      \
    X(ESub, "-", EAddSub, 0, ESub)                                                                           \
    X(EGreater, ">", ERelational, ECompares | ESwaps, ELess)                                                 \
    X(ELess, "<", ERelational, ECompares | ESwaps, EGreater)                                                 \
    X(EGreaterEqual, ">=", ERelational, ECompares | ESwaps, ELessEqual)                                      \
    X(ELessEqual, "<=", ERelational, ECompares | ESwaps, EGreaterEqual)                                      \
    X(EEqual, "==", EEquality, ECompares | ESwaps, EEqual)                                                   \
    X(ENotEqual, "!=", EEquality, ECompares | ESwaps, ENotEqual)                                             \
    X(EBitAnd, "&", EBitAnd, ESwaps, EBitAnd)                                                                \
    X(EBitXor, "^", EBitXor, ESwaps, EBitXor)                                                                \
    X(EBitOr, "|", EBitOr, ESwaps, EBitOr)                                                                   \
    X(ELogicAnd, "&&", ELogicAnd, EShortCircuits, ELogicAnd)                                                 \
    X(ELogicOr, "||", ELogicOr, EShortCircuits, ELogicOr)

// One binary operator, told apart by code and, within a code, by text.
enum class BinaryOp : uint8_t {
#define QUILLET_OPERATOR_NAME(name, text, code, properties, swapped) name,
    QUILLET_OPERATORS(QUILLET_OPERATOR_NAME)
#undef QUILLET_OPERATOR_NAME
};

struct OperatorRow {
    BinaryOp op;
    const char *text;
    TokenCode code;
    uint8_t properties;
    BinaryOp swapped;  // for ESwaps: the operator that computes it with the operands swapped
};

constexpr std::array kOperators = {
#define QUILLET_OPERATOR_ROW(name, text, code, properties, swapped)                                          \
    OperatorRow{BinaryOp::name, text, code, properties, BinaryOp::swapped},
    QUILLET_OPERATORS(QUILLET_OPERATOR_ROW)
#undef QUILLET_OPERATOR_ROW
};

constexpr const OperatorRow &RowOf(BinaryOp op)
{
    return kOperators[static_cast<size_t>(op)];
}

constexpr bool Has(BinaryOp op, OperatorProperty property)
{
    return (RowOf(op).properties & property) != 0;
}

constexpr bool IsComparison(BinaryOp op)
{
    return Has(op, ECompares);
}

constexpr bool Divides(BinaryOp op)
{
    return Has(op, EDivides);
}

constexpr bool MayShortCircuit(BinaryOp op)
{
    return Has(op, EShortCircuits);
}

// Whether left op right equals right op left.
constexpr bool Commutes(BinaryOp op)
{
    return Has(op, ESwaps) && RowOf(op).swapped == op;
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

// What Meaning computes with, for a value type V standing for a 32-bit two's
// complement integer: the static functions of ValueOps<V>, on V:
//   Add, Sub, Mul, BitAnd, BitOr, BitXor  wrapping, bitwise
//   Quotient, Remainder    truncating toward zero, for a divisor that is not
//                          0; INT32_MIN / -1 is INT32_MIN, INT32_MIN % -1 is 0
//   Less(a, b), Equal(a, b), IsZero(a)    1 where a < b (signed), a == b,
//                                         a == 0; else 0
// ValueOps<int32_t> is below; a symbolic value type supplies its own.
template <typename V> struct ValueOps;

// left op right, both operands known (&& and || give what a short circuit
// gives where the left one decides). / and % only where `right` is not 0: a
// zero divisor is a failure, not a value, which the caller rules out first.
template <typename V> [[gnu::always_inline]] inline V Meaning(BinaryOp op, const V &left, const V &right)
{
    using O = ValueOps<V>;
    const auto nonZero = [](const V &value) { return O::IsZero(O::IsZero(value)); };
    switch (op) {
    case BinaryOp::EMul: return O::Mul(left, right);
    case BinaryOp::EDiv: return O::Quotient(left, right);
    case BinaryOp::EMod: return O::Remainder(left, right);
    case BinaryOp::EAdd: return O::Add(left, right);
    case BinaryOp::ESub: return O::Sub(left, right);
    case BinaryOp::EGreater: return O::Less(right, left);
    case BinaryOp::ELess: return O::Less(left, right);
    case BinaryOp::EGreaterEqual: return O::IsZero(O::Less(left, right));
    case BinaryOp::ELessEqual: return O::IsZero(O::Less(right, left));
    case BinaryOp::EEqual: return O::Equal(left, right);
    case BinaryOp::ENotEqual: return O::IsZero(O::Equal(left, right));
    case BinaryOp::EBitAnd: return O::BitAnd(left, right);
    case BinaryOp::EBitXor: return O::BitXor(left, right);
    case BinaryOp::EBitOr: return O::BitOr(left, right);
    case BinaryOp::ELogicAnd: return O::BitAnd(nonZero(left), nonZero(right));
    case BinaryOp::ELogicOr: return nonZero(O::BitOr(left, right));
    }
    return left;  // not reached: the switch names every operator
}

// 32-bit integers: wrapping through uint32_t, -1 tested before dividing,
// through double precision where that is the cheaper division.
template <> struct ValueOps<int32_t> {
    static uint32_t Bits(int32_t value) { return static_cast<uint32_t>(value); }

    static int32_t Add(int32_t a, int32_t b) { return Wrap(Bits(a) + Bits(b)); }
    static int32_t Sub(int32_t a, int32_t b) { return Wrap(Bits(a) - Bits(b)); }
    static int32_t Mul(int32_t a, int32_t b) { return Wrap(Bits(a) * Bits(b)); }
    static int32_t Quotient(int32_t a, int32_t b)
    {
        if (b == -1)
            return Wrap(0U - Bits(a));
        return kDivideThroughDouble ? QuotientThroughDouble(a, b) : a / b;
    }
    static int32_t Remainder(int32_t a, int32_t b)
    {
        if (kDivideThroughDouble)
            return Sub(a, Mul(Quotient(a, b), b));
        return b == -1 ? 0 : a % b;
    }
    static int32_t BitAnd(int32_t a, int32_t b) { return Wrap(Bits(a) & Bits(b)); }
    static int32_t BitOr(int32_t a, int32_t b) { return Wrap(Bits(a) | Bits(b)); }
    static int32_t BitXor(int32_t a, int32_t b) { return Wrap(Bits(a) ^ Bits(b)); }
    static int32_t Less(int32_t a, int32_t b) { return Truth(a < b); }
    static int32_t Equal(int32_t a, int32_t b) { return Truth(a == b); }
    static int32_t IsZero(int32_t a) { return Truth(a == 0); }
};

// Apply for an operator known when compiling.
template <BinaryOp op> [[gnu::always_inline]] inline bool ApplyAs(int32_t left, int32_t right, int32_t &value)
{
    if (Divides(op) && right == 0)
        return false;
    value = Meaning(op, left, right);
    return true;
}

// left op right into `value`; false, with `value` untouched, for "/" and "%"
// by zero. Inlined wherever it is called: with `op` known there, only its
// case remains; else one jump leads to its case, where what the operator
// needs (a divisor test or none) is known.
[[gnu::always_inline]] inline bool Apply(BinaryOp op, int32_t left, int32_t right, int32_t &value)
{
    switch (op) {
#define QUILLET_APPLY_CASE(name, text, code, properties, swapped)                                            \
    case BinaryOp::name: return ApplyAs<BinaryOp::name>(left, right, value);
        QUILLET_OPERATORS(QUILLET_APPLY_CASE)
#undef QUILLET_APPLY_CASE
    }
    return false;  // not reached: the switch names every operator
}

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_OPERATORS_H
