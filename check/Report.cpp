#include "Report.h"

#include <algorithm>

namespace fernvault::alarm_manager {

namespace {

std::string AnswerText(const Answer &answer)
{
    switch (answer.verdict) {
    case Answer::EFound: return WitnessText(answer.witness);
    case Answer::ENever: return "never";
    case Answer::EUnknown:
    case Answer::EUnconfirmed: return "unknown";
    }
    return "unknown";
}

bool IsNever(const Answer &answer)
{
    return answer.verdict == Answer::ENever;
}

bool Any(const RuleFacts &facts, Answer::Verdict verdict)
{
    return facts.canBeTrue.verdict == verdict || facts.canBeFalse.verdict == verdict ||
        facts.canFail.verdict == verdict;
}

// The warnings of `facts`, one "warning: ..." a line, each after `lead`.
std::string Warnings(const std::string &lead, const RuleFacts &facts)
{
    if (IsNever(facts.canBeTrue) && IsNever(facts.canBeFalse))
        return lead + "warning: always fails\n";
    std::string lines;
    if (IsNever(facts.canBeTrue))
        lines += lead + "warning: never true\n";
    if (IsNever(facts.canBeFalse) && IsNever(facts.canFail))
        lines += lead + "warning: always true\n";
    if (facts.canFail.verdict == Answer::EFound)
        lines += lead + "warning: may fail on " + WitnessText(facts.canFail.witness) + "\n";
    return lines;
}

// The `length` bytes at `text` as one line, every byte that is not printable
// ASCII as '?', then a line with a caret under byte `offset`.
std::string CaretLines(const std::string &text, size_t offset)
{
    std::string line = text;
    std::replace_if(
        line.begin(), line.end(), [](char byte) { return byte < ' ' || byte > '~'; }, '?');
    return line + "\n" + std::string(offset, ' ') + "^\n";
}

}  // namespace

std::string WitnessText(const Assignment &witness)
{
    std::string text = "[";
    for (const auto &[variable, value] : witness)
        text += (text.size() > 1 ? " {$" : "{$") + std::to_string(variable) + "}=" + std::to_string(value);
    return text + "]";
}

std::string FactsLines(const std::string &prefix, const RuleFacts &facts, unsigned timeoutMs)
{
    const std::string lead = prefix + ": ";
    std::string lines = lead + "true " + AnswerText(facts.canBeTrue) + "; false " +
        AnswerText(facts.canBeFalse) + "; fails " + AnswerText(facts.canFail) + "\n" + Warnings(lead, facts);
    if (Any(facts, Answer::EUnknown))
        lines += lead + "note: undecided within " + std::to_string(timeoutMs) + " ms\n";
    if (Any(facts, Answer::EUnconfirmed))
        lines += lead + "note: a witness of the solver did not reproduce; taken as unknown\n";
    return lines;
}

bool IsSound(const RuleFacts &facts)
{
    return facts.canBeTrue.verdict == Answer::EFound && facts.canBeFalse.verdict == Answer::EFound &&
        IsNever(facts.canFail);
}

std::string CompareLine(const std::string &prefix, const std::string &oldPrefix, const Answer &answer)
{
    switch (answer.verdict) {
    case Answer::ENever: return prefix + ": same as " + oldPrefix + "\n";
    case Answer::EFound:
        return prefix + ": differs from " + oldPrefix + " on " + WitnessText(answer.witness) + "\n";
    case Answer::EUnknown:
    case Answer::EUnconfirmed: break;
    }
    return prefix + ": unknown against " + oldPrefix + "\n";
}

std::string VerifyRule(const std::string &prefix, const std::string &text, TokenList &postfix)
{
    const size_t nul = text.find('\0');
    if (nul == std::string::npos && CExprUtil::VerifyExpression(postfix, text.c_str()) == 0)
        return "";
    ErrorLocation where = CExprUtil::LocateError(text.c_str());
    if (nul != std::string::npos && where.eReason != EInvalidToken)
        where = {EInvalidToken, nul};
    return prefix + ":" + std::to_string(where.offset + 1) +
        ": error: " + CExprUtil::ReasonText(where.eReason) + "\n" + CaretLines(text, where.offset);
}

}  // namespace fernvault::alarm_manager
