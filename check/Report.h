// The lines quillet-check prints: a rule's facts with the warnings that
// apply, a comparison of two rules, and a malformed rule with a caret.
#ifndef QUILLET_CHECK_REPORT_H
#define QUILLET_CHECK_REPORT_H

#include <string>

#include "CRuleChecker.h"

namespace fernvault::alarm_manager {

// "[{$1}=108 {$3}=-69]", "[]" for no variables.
std::string WitnessText(const Assignment &witness);

// "PREFIX: true W; false W; fails W\n", each W a witness, "never" or
// "unknown", then one line for each of these that applies, in this order:
// "PREFIX: warning: always fails" (never true, never false), else
// "warning: never true" and "warning: may fail on W"; "warning: always true"
// (never false, never fails); "note: undecided within N ms" when a question
// was not decided, and a note for a witness that did not reproduce.
std::string FactsLines(const std::string &prefix, const RuleFacts &facts, unsigned timeoutMs);

// True when `facts` say the rule can be true, can be false and cannot fail.
bool IsSound(const RuleFacts &facts);

// "PREFIX: same as OLD\n", "PREFIX: differs from OLD on W\n" or
// "PREFIX: unknown against OLD\n" for the answer of CRuleChecker::Compare.
std::string CompareLine(const std::string &prefix, const std::string &oldPrefix, const Answer &answer);

// Verifies `text`, a rule of a rules file, into `postfix` (the library's
// records logged). Returns "" when it is well formed, else the lines
// "PREFIX:COL: error: REASON\n", the rule, and a caret under byte COL. The
// library reads an expression up to a NUL byte, so a rule holding one is
// wrong at the NUL unless an invalid token comes before it.
std::string VerifyRule(const std::string &prefix, const std::string &text, TokenList &postfix);

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_CHECK_REPORT_H
