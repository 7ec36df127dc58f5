// The binary operators of the expression language and what each computes.
// Private: not installed. Includes the standard library alone, so that any
// code that reasons about the operators (the evaluators here, a checker that
// computes on symbolic values) takes their meaning from this one place.
#ifndef QUILLET_EXPR_OPERATORS_H
#define QUILLET_EXPR_OPERATORS_H

#include <cstdint>

namespace fernvault::alarm_manager {

// One binary operator, told apart by code and, within a code, by text.
enum class BinaryOp : uint8_t {
    EMul,
    EDiv,
    EMod,
    EAdd,
    ESub,
    EGreater,
    ELess,
    EGreaterEqual,
    ELessEqual,
    EEqual,
    ENotEqual,
    EBitAnd,
    EBitXor,
    EBitOr,
    ELogicAnd,
    ELogicOr,
};

// The primitives that Meaning computes with, for a value type V: a
// specialisation of ValueOps<V> whose static functions take and return V,
// every V standing for a 32-bit two's complement integer:
//   Add, Sub, Mul          wrapping sum, difference and product
//   Quotient, Remainder    division truncating toward zero, for a divisor
//                          that is not 0; INT32_MIN / -1 is INT32_MIN and
//                          INT32_MIN % -1 is 0
//   BitAnd, BitOr, BitXor  bitwise
//   Less(a, b)             1 where a < b (signed), else 0
//   Equal(a, b)            1 where a == b, else 0
//   IsZero(a)              1 where a == 0, else 0
// ValueOps<int32_t> is below; a symbolic value type supplies its own.
template <typename V> struct ValueOps;

// left op right, with both operands known: && and || then give 1 or 0 from
// both, as a short circuit gives where the left operand decides. / and %
// are defined only where `right` is not 0; the caller rules a zero divisor
// out first (it is a failure, not a value).
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

// 32-bit integers, free of undefined behaviour: the arithmetic wraps through
// uint32_t and division tests for -1 before it divides.
template <> struct ValueOps<int32_t> {
    static int32_t Wrap(uint32_t bits) { return static_cast<int32_t>(bits); }
    static uint32_t Bits(int32_t value) { return static_cast<uint32_t>(value); }
    static int32_t Truth(bool holds) { return holds ? 1 : 0; }

    static int32_t Add(int32_t a, int32_t b) { return Wrap(Bits(a) + Bits(b)); }
    static int32_t Sub(int32_t a, int32_t b) { return Wrap(Bits(a) - Bits(b)); }
    static int32_t Mul(int32_t a, int32_t b) { return Wrap(Bits(a) * Bits(b)); }
    static int32_t Quotient(int32_t a, int32_t b) { return b == -1 ? Wrap(0U - Bits(a)) : a / b; }
    static int32_t Remainder(int32_t a, int32_t b) { return b == -1 ? 0 : a % b; }
    static int32_t BitAnd(int32_t a, int32_t b) { return Wrap(Bits(a) & Bits(b)); }
    static int32_t BitOr(int32_t a, int32_t b) { return Wrap(Bits(a) | Bits(b)); }
    static int32_t BitXor(int32_t a, int32_t b) { return Wrap(Bits(a) ^ Bits(b)); }
    static int32_t Less(int32_t a, int32_t b) { return Truth(a < b); }
    static int32_t Equal(int32_t a, int32_t b) { return Truth(a == b); }
    static int32_t IsZero(int32_t a) { return Truth(a == 0); }
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_OPERATORS_H
