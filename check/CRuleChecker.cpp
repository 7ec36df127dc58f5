#include "CRuleChecker.h"

#include <z3++.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

#include "CCompiledExpr.h"
#include "Formula.h"

namespace fernvault::alarm_manager {

namespace {

constexpr unsigned kBits = 32;

// What one evaluation gave.
enum class Outcome { ETrue, EFalse, EFails };

// Evaluates `compiled` with the values `witness` gives its variables (every
// one of them is in it): the status, and the result in `value`.
int Run(const CCompiledExpr &compiled, const Assignment &witness, int32_t &value)
{
    std::vector<int32_t> values;
    for (const uint16_t variable : compiled.GetVariables())
        values.push_back(
            std::lower_bound(witness.begin(), witness.end(), std::make_pair(variable, INT32_MIN))->second);
    return compiled.Evaluate(values.data(), values.size(), value);
}

Outcome OutcomeOf(const CCompiledExpr &compiled, const Assignment &witness)
{
    int32_t value = 0;
    if (Run(compiled, witness, value) != 0)
        return Outcome::EFails;
    return value != 0 ? Outcome::ETrue : Outcome::EFalse;
}

// Whether `witness` gives each variable `compiled` reads a value within its range.
bool WithinRanges(const Assignment &witness, const CCompiledExpr &compiled, const RangeTable &ranges)
{
    const std::vector<uint16_t> &read = compiled.GetVariables();
    return std::all_of(witness.begin(), witness.end(), [&](const std::pair<uint16_t, int32_t> &entry) {
        const auto range = ranges.find(entry.first);
        return range == ranges.end() || !std::binary_search(read.begin(), read.end(), entry.first) ||
            (range->second.low <= entry.second && entry.second <= range->second.high);
    });
}

std::vector<uint16_t> Union(const std::vector<uint16_t> &first, const std::vector<uint16_t> &second)
{
    std::set<uint16_t> all(first.begin(), first.end());
    all.insert(second.begin(), second.end());
    return {all.begin(), all.end()};
}

}  // namespace

// One solver context for every question of a checker, so that a variable is
// one constant in the formulas of every rule.
struct CRuleChecker::CSolver {
    z3::context context;
    unsigned timeoutMs;

    // The constraints of `ranges` on `variables`.
    z3::expr Within(const std::vector<uint16_t> &variables, const RangeTable &ranges)
    {
        z3::expr all = context.bool_val(true);
        for (const uint16_t variable : variables) {
            const auto range = ranges.find(variable);
            if (range == ranges.end())
                continue;
            const z3::expr term = VariableTerm(context, variable);
            all = all && z3::sge(term, context.bv_val(range->second.low, kBits)) &&
                z3::sle(term, context.bv_val(range->second.high, kBits));
        }
        return all;
    }

    // The value of each of `variables` in `model`.
    Assignment WitnessOf(const z3::model &model, const std::vector<uint16_t> &variables)
    {
        Assignment witness;
        for (const uint16_t variable : variables) {
            const z3::expr value = model.eval(VariableTerm(context, variable), true);
            witness.emplace_back(
                variable, static_cast<int32_t>(static_cast<uint32_t>(value.get_numeral_uint64())));
        }
        return witness;
    }

    // Whether some assignment of `variables` satisfies `question`; a witness
    // counts only once `does` confirms it.
    Answer Ask(const z3::expr &question, const std::vector<uint16_t> &variables,
        const std::function<bool(const Assignment &)> &does)
    {
        try {
            z3::solver solver(context, "QF_BV");
            z3::params params(context);
            params.set("timeout", timeoutMs);
            solver.set(params);
            solver.add(question);
            switch (solver.check()) {
            case z3::unsat: return {Answer::ENever, {}};
            case z3::unknown: return {Answer::EUnknown, {}};
            case z3::sat: break;
            }
            Assignment witness = WitnessOf(solver.get_model(), variables);
            return {does(witness) ? Answer::EFound : Answer::EUnconfirmed, std::move(witness)};
        } catch (const z3::exception &) {
            return {Answer::EUnknown, {}};  // the solver gave up (out of memory, cancelled): nothing decided
        }
    }
};

CRuleChecker::CRuleChecker(unsigned timeoutMs)
    : solver_(new CSolver{{}, timeoutMs})
{
}

CRuleChecker::~CRuleChecker() = default;

RuleFacts CRuleChecker::Check(const TokenList &rule, const RangeTable &ranges)
{
    const Answer undecided{Answer::EUnknown, {}};
    const CCompiledExpr compiled(rule);
    const std::vector<uint16_t> &variables = compiled.GetVariables();
    std::optional<RuleFormula> formula;
    try {
        formula = FormulaOf(solver_->context, rule);
    } catch (const z3::exception &) {
    }
    if (!formula)
        return {undecided, undecided, undecided};
    const z3::expr within = solver_->Within(variables, ranges);
    const z3::expr zero = solver_->context.bv_val(0, kBits);
    const auto question = [&](const z3::expr &condition, Outcome outcome) {
        return solver_->Ask(within && condition, variables, [&](const Assignment &witness) {
            return WithinRanges(witness, compiled, ranges) && OutcomeOf(compiled, witness) == outcome;
        });
    };
    return {question(!formula->fails && formula->value != zero, Outcome::ETrue),
        question(!formula->fails && formula->value == zero, Outcome::EFalse),
        question(formula->fails, Outcome::EFails)};
}

Answer CRuleChecker::Compare(
    const TokenList &rule, const RangeTable &ranges, const TokenList &old, const RangeTable &oldRanges)
{
    const CCompiledExpr compiled(rule);
    const CCompiledExpr oldCompiled(old);
    std::optional<RuleFormula> formula;
    std::optional<RuleFormula> oldFormula;
    try {
        formula = FormulaOf(solver_->context, rule);
        oldFormula = FormulaOf(solver_->context, old);
    } catch (const z3::exception &) {
    }
    if (!formula || !oldFormula)
        return {Answer::EUnknown, {}};
    const std::vector<uint16_t> variables = Union(compiled.GetVariables(), oldCompiled.GetVariables());
    const z3::expr differ =
        formula->fails != oldFormula->fails || (!formula->fails && formula->value != oldFormula->value);
    return solver_->Ask(solver_->Within(compiled.GetVariables(), ranges) &&
            solver_->Within(oldCompiled.GetVariables(), oldRanges) && differ,
        variables, [&](const Assignment &witness) {
            int32_t value = 0;
            int32_t oldValue = 0;
            const int status = Run(compiled, witness, value);
            const int oldStatus = Run(oldCompiled, witness, oldValue);
            return WithinRanges(witness, compiled, ranges) && WithinRanges(witness, oldCompiled, oldRanges) &&
                (status != oldStatus || (status == 0 && value != oldValue));
        });
}

}  // namespace fernvault::alarm_manager
