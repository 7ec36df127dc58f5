#include "Formula.h"

#include <string>
#include <vector>

#include "Operators.h"
#include "TokenOperators.h"

namespace fernvault::alarm_manager {

constexpr unsigned kBits = 32;

// The primitives of Meaning (Operators.h) on 32-bit solver terms, so that
// the formulas compute each operator exactly as evaluation does.
template <> struct ValueOps<z3::expr> {
    static z3::expr Word(z3::context &context, int32_t value) { return context.bv_val(value, kBits); }
    static z3::expr Truth(const z3::expr &holds)
    {
        return z3::ite(holds, Word(holds.ctx(), 1), Word(holds.ctx(), 0));
    }

    static z3::expr Add(const z3::expr &a, const z3::expr &b) { return a + b; }
    static z3::expr Sub(const z3::expr &a, const z3::expr &b) { return a - b; }
    static z3::expr Mul(const z3::expr &a, const z3::expr &b) { return a * b; }
    // bvsdiv and bvsrem: INT32_MIN / -1 is INT32_MIN, INT32_MIN % -1 is 0.
    static z3::expr Quotient(const z3::expr &a, const z3::expr &b) { return a / b; }
    static z3::expr Remainder(const z3::expr &a, const z3::expr &b) { return z3::srem(a, b); }
    static z3::expr BitAnd(const z3::expr &a, const z3::expr &b) { return a & b; }
    static z3::expr BitOr(const z3::expr &a, const z3::expr &b) { return a | b; }
    static z3::expr BitXor(const z3::expr &a, const z3::expr &b) { return a ^ b; }
    static z3::expr Less(const z3::expr &a, const z3::expr &b) { return Truth(a < b); }  // signed
    static z3::expr Equal(const z3::expr &a, const z3::expr &b) { return Truth(a == b); }
    static z3::expr IsZero(const z3::expr &a) { return Truth(a == Word(a.ctx(), 0)); }
};

namespace {

using Ops = ValueOps<z3::expr>;

// Whether `op` needs its right operand once `left` is known, by the
// evaluator's own rule, which asks only whether the left operand is 0.
z3::expr NeedsRight(BinaryOp op, const z3::expr &left)
{
    z3::context &context = left.ctx();
    return z3::ite(left == Ops::Word(context, 0), context.bool_val(NeedsRightOperand(op, 0)),
        context.bool_val(NeedsRightOperand(op, 1)));
}

// A zero divisor fails where it runs; one that && or || skips does not.
RuleFormula Combine(BinaryOp op, const RuleFormula &left, const RuleFormula &right)
{
    z3::expr fails = left.fails || (NeedsRight(op, left.value) && right.fails);
    if (Divides(op))
        fails = fails || right.value == Ops::Word(left.value.ctx(), 0);
    return {Meaning(op, left.value, right.value), fails};
}

}  // namespace

z3::expr VariableTerm(z3::context &context, uint16_t number)
{
    return context.bv_const(("{$" + std::to_string(number) + "}").c_str(), kBits);
}

std::optional<RuleFormula> FormulaOf(z3::context &context, const TokenList &postfix)
{
    std::vector<RuleFormula> stack;
    for (const ExprToken &token : postfix) {
        if (IsBinaryOperator(token.eTokenCode)) {
            if (stack.size() < 2)
                return std::nullopt;
            const RuleFormula right = stack.back();
            stack.pop_back();
            const RuleFormula left = stack.back();
            stack.pop_back();
            stack.push_back(Combine(OperatorOf(token), left, right));
        } else if (token.eTokenCode == EVariable) {
            stack.push_back({VariableTerm(context, VariableNumber(token.strToken)), context.bool_val(false)});
        } else {
            stack.push_back({Ops::Word(context, ReadInt32(token.strToken.c_str())), context.bool_val(false)});
        }
    }
    if (stack.size() != 1)
        return std::nullopt;
    return stack.back();
}

}  // namespace fernvault::alarm_manager
