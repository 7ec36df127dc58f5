#include "Formula.h"

#include <string>
#include <vector>

#include "Arithmetic.h"

namespace fernvault::alarm_manager {

namespace {

constexpr unsigned kBits = 32;

z3::expr Word(z3::context &context, int32_t value)
{
    return context.bv_val(value, kBits);
}

z3::expr TruthOf(const z3::expr &holds)
{
    z3::context &context = holds.ctx();
    return z3::ite(holds, Word(context, 1), Word(context, 0));
}

// left op right, where it does not fail.
z3::expr ValueOf(BinaryOp op, const z3::expr &left, const z3::expr &right)
{
    z3::expr zero = Word(left.ctx(), 0);
    switch (op) {
    case BinaryOp::EMul: return left * right;
    case BinaryOp::EDiv: return left / right;  // bvsdiv: INT32_MIN / -1 is INT32_MIN
    case BinaryOp::EMod: return z3::srem(left, right);
    case BinaryOp::EAdd: return left + right;
    case BinaryOp::ESub: return left - right;
    case BinaryOp::EGreater: return TruthOf(left > right);
    case BinaryOp::ELess: return TruthOf(left < right);
    case BinaryOp::EGreaterEqual: return TruthOf(left >= right);
    case BinaryOp::ELessEqual: return TruthOf(left <= right);
    case BinaryOp::EEqual: return TruthOf(left == right);
    case BinaryOp::ENotEqual: return TruthOf(left != right);
    case BinaryOp::EBitAnd: return left & right;
    case BinaryOp::EBitXor: return left ^ right;
    case BinaryOp::EBitOr: return left | right;
    case BinaryOp::ELogicAnd: return z3::ite(left != zero, TruthOf(right != zero), zero);
    case BinaryOp::ELogicOr: return z3::ite(left != zero, Word(left.ctx(), 1), TruthOf(right != zero));
    }
    return zero;
}

// Whether `op` needs its right operand, given the left one.
z3::expr NeedsRight(BinaryOp op, const z3::expr &left)
{
    switch (op) {
    case BinaryOp::ELogicAnd: return left != Word(left.ctx(), 0);
    case BinaryOp::ELogicOr: return left == Word(left.ctx(), 0);
    default: return left.ctx().bool_val(true);
    }
}

RuleFormula Combine(BinaryOp op, const RuleFormula &left, const RuleFormula &right)
{
    z3::expr fails = left.fails || (NeedsRight(op, left.value) && right.fails);
    if (Divides(op))
        fails = fails || right.value == Word(left.value.ctx(), 0);
    return {ValueOf(op, left.value, right.value), fails};
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
            stack.push_back({Word(context, ReadInt32(token.strToken.c_str())), context.bool_val(false)});
        }
    }
    if (stack.size() != 1)
        return std::nullopt;
    return stack.back();
}

}  // namespace fernvault::alarm_manager
