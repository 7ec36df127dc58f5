// A rule's meaning as bit-vector formulas, for the solver behind CRuleChecker.
#ifndef QUILLET_CHECK_FORMULA_H
#define QUILLET_CHECK_FORMULA_H

#include <z3++.h>

#include <cstdint>
#include <optional>

#include "CExprUtil.h"

namespace fernvault::alarm_manager {

// What a rule computes for every assignment of its variables: `value`, its
// 32-bit result wherever `fails` is false; `fails`, whether a division or
// remainder by zero runs (one that && or || skips does not).
struct RuleFormula {
    z3::expr value;
    z3::expr fails;
};

// Variable `number`: one 32-bit constant of `context` whichever rule reads it.
z3::expr VariableTerm(z3::context &context, uint16_t number);

// The formulas of `postfix`, a list VerifyExpression accepted, over the
// VariableTerm constants; nullopt for a list that is not one expression.
std::optional<RuleFormula> FormulaOf(z3::context &context, const TokenList &postfix);

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_CHECK_FORMULA_H
