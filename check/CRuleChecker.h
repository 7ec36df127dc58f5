// What a rule can do, decided over every assignment of its variables: can it
// be true (status 0, value not 0), false (status 0, value 0), or fail (a
// division or remainder by zero that runs, status 20014)? And does a new rule
// behave exactly as an old one?
//
//   TokenList list;
//   CExprUtil::VerifyExpression(list, "{$1} * 3 == 1");   // 0: postfix now
//   CRuleChecker checker(10000);
//   const RuleFacts facts = checker.Check(list, {});
//   // facts.canBeTrue:  EFound, {{1, -1431655765}}
//   // facts.canBeFalse: EFound;  facts.canFail: ENever
//
// The questions are put to a bit-vector solver as formulas that carry the
// library's meaning: + - * wrap, / and % truncate, INT32_MIN / -1 is
// INT32_MIN and INT32_MIN % -1 is 0, && and || skip their right operand (and
// a division by zero in it) as evaluation does. Every witness is evaluated
// with CCompiledExpr before it is returned and does what its question asks;
// ENever comes only from the solver's proof. A checker is used by one thread
// at a time; checkers on different threads share nothing.
#ifndef QUILLET_CHECK_CRULECHECKER_H
#define QUILLET_CHECK_CRULECHECKER_H

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "CExprUtil.h"
#include "RulesFile.h"

namespace fernvault::alarm_manager {

// A value for each variable, ascending by number, each once.
using Assignment = std::vector<std::pair<uint16_t, int32_t>>;

struct Answer {
    enum Verdict {
        EFound,        // `witness` does it, confirmed by evaluation
        ENever,        // the solver proved that no assignment does
        EUnknown,      // not decided within the time limit
        EUnconfirmed,  // the solver's `witness` did not do it when evaluated
    };
    Verdict verdict;
    Assignment witness;  // for EFound and EUnconfirmed
};

struct RuleFacts {
    Answer canBeTrue;
    Answer canBeFalse;
    Answer canFail;
};

class CRuleChecker {
public:
    // Each question may take the solver `timeoutMs` milliseconds (its own
    // limit; a question that reaches it is EUnknown).
    explicit CRuleChecker(unsigned timeoutMs);
    ~CRuleChecker();
    CRuleChecker(const CRuleChecker &) = delete;
    CRuleChecker &operator=(const CRuleChecker &) = delete;

    // The three facts of `rule`, a list VerifyExpression accepted (postfix),
    // over every assignment of the variables it reads, each within its entry
    // of `ranges` (any value without one). Witnesses name every variable the
    // rule reads.
    RuleFacts Check(const TokenList &rule, const RangeTable &ranges);

    // Whether `rule` (its variables within `ranges`) and `old` (within
    // `oldRanges`; a variable of both within both) give the same status and,
    // where both succeed, the same value for every assignment: ENever when
    // they do, EFound with an assignment of every variable of either on
    // which they differ.
    Answer Compare(
        const TokenList &rule, const RangeTable &ranges, const TokenList &old, const RangeTable &oldRanges);

private:
    struct CSolver;
    std::unique_ptr<CSolver> solver_;
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_CHECK_CRULECHECKER_H
