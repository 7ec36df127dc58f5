// quillet-check [--timeout-ms N] [--samples OUT] [--against OLD] RULES
//
// For each rule of RULES, whether it can be true, can be false and can fail,
// each with a witness or proved never (CRuleChecker.h, Report.h); with
// --against, whether each rule does what the rule in the same place of OLD
// does; with --samples, a samples file of the witnesses for replay_rules.
// The library's log records are not written: the lines here say what they do.
//
// Exit status 0 when every rule can be true, can be false and cannot fail
// (with --against: every pair the same), 1 otherwise, 2 for a usage error, a
// file that cannot be read or written, or a malformed range directive (said
// on standard error before anything is checked).
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "CCompiledExpr.h"
#include "CRuleChecker.h"
#include "Report.h"
#include "RulesFile.h"
#include "Samples.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr unsigned kDefaultTimeoutMs = 10000;

struct Options {
    unsigned timeoutMs = kDefaultTimeoutMs;
    const char *samples = nullptr;
    const char *against = nullptr;
    const char *rules = nullptr;
};

int Usage()
{
    (void)std::fputs("usage: quillet-check [--timeout-ms N] [--samples OUT] [--against OLD] RULES\n", stderr);
    return 2;
}

// The options in `options`; false for anything else.
bool ReadOptions(int argc, char *const *argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool takesValue = word == "--timeout-ms" || word == "--samples" || word == "--against";
        if (takesValue && i + 1 >= argc)
            return false;
        if (word == "--timeout-ms") {
            const char *text = argv[++i];
            const char *last = text + std::strlen(text);
            const auto [end, error] = std::from_chars(text, last, options.timeoutMs);
            if (end != last || error != std::errc() || options.timeoutMs == 0)
                return false;
        } else if (word == "--samples") {
            options.samples = argv[++i];
        } else if (word == "--against") {
            options.against = argv[++i];
        } else if (options.rules == nullptr && word.compare(0, 2, "--") != 0) {
            options.rules = argv[i];
        } else {
            return false;
        }
    }
    return options.rules != nullptr;
}

// All of file `path` in `text`; false after saying why it cannot be read.
bool ReadFile(const char *path, std::string &text)
{
    std::FILE *file = std::fopen(path, "rb");
    bool failed = file == nullptr;
    constexpr size_t kChunk = 4096;
    std::array<char, kChunk> buffer{};
    for (size_t got; !failed && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        text.append(buffer.data(), got);
    failed = failed || std::ferror(file) != 0;
    const int error = errno;
    if (file != nullptr)
        (void)std::fclose(file);  // only read from: nothing is lost if closing fails
    if (failed)
        (void)std::fprintf(stderr, "quillet-check: cannot read %s: %s\n", path, std::strerror(error));
    return !failed;
}

bool ReadRules(const char *path, RulesFile &file)
{
    std::string text;
    if (!ReadFile(path, text))
        return false;
    const std::string problem = ParseRulesFile(path, text, file);
    if (!problem.empty())
        (void)std::fprintf(stderr, "%s\n", problem.c_str());
    return problem.empty();
}

bool WriteFile(const char *path, const std::string &text)
{
    std::FILE *file = std::fopen(path, "wb");
    const bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = file != nullptr && std::fclose(file) == 0;
    if (!written || !closed)
        (void)std::fprintf(stderr, "quillet-check: cannot write %s: %s\n", path, std::strerror(errno));
    return written && closed;
}

std::string PrefixOf(const char *path, const RuleLine &rule)
{
    return std::string(path) + ":" + std::to_string(rule.line);
}

void Print(const std::string &lines)
{
    (void)std::fputs(lines.c_str(), stdout);
    (void)std::fflush(stdout);  // a long file shows its rules as they are decided
}

// What a run found: whether every rule was sound, and the samples to write.
struct Findings {
    bool sound = true;
    std::set<uint16_t> variables;
    std::vector<Assignment> witnesses;

    // Verifies `rule` into `postfix`; false after printing why it is malformed.
    bool Verify(const std::string &prefix, const RuleLine &rule, TokenList &postfix)
    {
        const std::string errors = VerifyRule(prefix, rule.text, postfix);
        Print(errors);
        sound = sound && errors.empty();
        const CCompiledExpr compiled(postfix);
        if (errors.empty())
            variables.insert(compiled.GetVariables().begin(), compiled.GetVariables().end());
        return errors.empty();
    }

    void Keep(const Answer &answer)
    {
        if (answer.verdict == Answer::EFound)
            witnesses.push_back(answer.witness);
    }
};

void CheckEach(const Options &options, const RulesFile &file, CRuleChecker &checker, Findings &findings)
{
    for (const RuleLine &rule : file.rules) {
        const std::string prefix = PrefixOf(options.rules, rule);
        TokenList postfix;
        if (!findings.Verify(prefix, rule, postfix))
            continue;
        const RuleFacts facts = checker.Check(postfix, file.ranges);
        Print(FactsLines(prefix, facts, options.timeoutMs));
        findings.sound = findings.sound && IsSound(facts);
        for (const Answer *answer : {&facts.canBeTrue, &facts.canBeFalse, &facts.canFail})
            findings.Keep(*answer);
    }
}

void CompareEach(const Options &options, const RulesFile &file, const RulesFile &old, CRuleChecker &checker,
    Findings &findings)
{
    for (size_t k = 0; k < std::max(file.rules.size(), old.rules.size()); ++k) {
        if (k >= old.rules.size() || k >= file.rules.size()) {
            const bool newOnly = k >= old.rules.size();
            const std::string prefix =
                newOnly ? PrefixOf(options.rules, file.rules[k]) : PrefixOf(options.against, old.rules[k]);
            Print(prefix + ": no rule to compare in " + (newOnly ? options.against : options.rules) + "\n");
            findings.sound = false;
            continue;
        }
        const std::string prefix = PrefixOf(options.rules, file.rules[k]);
        const std::string oldPrefix = PrefixOf(options.against, old.rules[k]);
        TokenList postfix;
        TokenList oldPostfix;
        const bool wellFormed = findings.Verify(prefix, file.rules[k], postfix);
        if (!findings.Verify(oldPrefix, old.rules[k], oldPostfix) || !wellFormed)
            continue;
        const Answer answer = checker.Compare(postfix, file.ranges, oldPostfix, old.ranges);
        Print(CompareLine(prefix, oldPrefix, answer));
        findings.sound = findings.sound && answer.verdict == Answer::ENever;
        findings.Keep(answer);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    Options options;
    if (!ReadOptions(argc, argv, options))
        return Usage();
    RulesFile file;
    RulesFile old;
    if (!ReadRules(options.rules, file) || (options.against != nullptr && !ReadRules(options.against, old)))
        return 2;
    CRuleChecker checker(options.timeoutMs);
    Findings findings;
    if (options.against != nullptr)
        CompareEach(options, file, old, checker, findings);
    else
        CheckEach(options, file, checker, findings);
    RangeTable ranges = file.ranges;
    ranges.insert(old.ranges.begin(), old.ranges.end());  // RULES' own first
    if (options.samples != nullptr &&
        !WriteFile(options.samples, SamplesText(findings.variables, findings.witnesses, ranges)))
        return 2;
    return findings.sound ? 0 : 1;
}
