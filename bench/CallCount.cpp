// quillet_call_count MODE RULE CALLS: compiles RULE (a name in kRules or
// kChains) once, then makes CALLS evaluations of it over the samples (whole
// passes, CALLS a multiple of their count, but by slots, where the last pass
// may stop early), and prints its token count and a checksum of every result
// and status. Nothing else runs in the loop, so the difference in instructions
// between two call counts, over the difference in calls, is the cost of one
// evaluation (bench/count-instructions.sh). MODE is how a host calls:
//
//   slots  Evaluate(values, count, result) on the sample's row of slots, read in place
//   table  the sample's four values written into one reused table, then Evaluate(table, result)
//   rows   one EvaluateRows over all the samples' rows a pass: CALLS counts
//          rows; the checksum is the last pass's
//   road   the whole road with no compiled form: VerifyExpression into one
//          reused list, then EvaluatePostfix with the reused table
//
// Records go to a silent quorlith_printf (SilentLog.cpp).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Samples.h"

namespace {

using namespace quillet_bench;
using fernvault::alarm_manager::CExprUtil;
using fernvault::alarm_manager::TokenList;

// What the loop keeps alive: the sum of the results and the failures.
struct Checksum {
    uint32_t sum = 0;
    size_t failed = 0;
    void Add(int status, int32_t value)
    {
        sum += Bits(value);
        failed += status != 0;
    }
};

// The last pass may stop early: one call of a long chain costs as much as
// passes of a short rule, so it makes a few calls, on the first samples.
Checksum BySlots(const CCompiledExpr &compiled, size_t calls)
{
    const size_t stride = compiled.GetVariables().size();
    const std::vector<int32_t> rows = SlotRows(compiled);
    Checksum checksum;
    int32_t value = 0;
    for (size_t done = 0; done < calls; done += kSampleCount) {
        const int32_t *const end = rows.data() + std::min(calls - done, kSampleCount) * stride;
        for (const int32_t *row = rows.data(); row != end; row += stride) {
            const int status = compiled.Evaluate(row, stride, value);
            checksum.Add(status, value);
        }
    }
    return checksum;
}

// Out of line, so that its map writes compile alike whatever main holds:
// inlined, they moved by 2% with changes to main alone.
[[gnu::noinline]] Checksum ByTable(const CCompiledExpr &compiled, size_t passes)
{
    SampleTable table;
    Checksum checksum;
    int32_t value = 0;
    for (size_t pass = 0; pass < passes; ++pass)
        for (const Sample &s : kSamples) {
            const int status = compiled.Evaluate(table.Write(s), value);
            checksum.Add(status, value);
        }
    return checksum;
}

// The results of the last pass are summed after the loop: each pass writes
// them through the library, which the compiler cannot drop.
Checksum ByRows(const CCompiledExpr &compiled, size_t passes)
{
    const size_t stride = compiled.GetVariables().size();
    const std::vector<int32_t> rows = SlotRows(compiled);
    std::vector<int32_t> results(kSampleCount);
    std::vector<int> statuses(kSampleCount);
    for (size_t pass = 0; pass < passes; ++pass)
        compiled.EvaluateRows(rows.data(), stride, kSampleCount, results.data(), statuses.data());
    Checksum checksum;
    for (size_t r = 0; r < kSampleCount; ++r)
        checksum.Add(statuses[r], results[r]);
    return checksum;
}

Checksum ByRoad(const char *text, size_t passes)
{
    SampleTable table;
    TokenList list;
    Checksum checksum;
    int32_t value = 0;
    for (size_t pass = 0; pass < passes; ++pass)
        for (const Sample &s : kSamples) {
            int status = CExprUtil::VerifyExpression(list, text);
            if (status == 0)
                status = CExprUtil::EvaluatePostfix(list, table.Write(s), value);
            checksum.Add(status, value);
        }
    return checksum;
}

// The text of the rule or chain `name`; empty if there is none.
std::string FindText(const char *name)
{
    for (const Rule &rule : kRules)
        if (std::strcmp(rule.name, name) == 0)
            return rule.text;
    for (const Chain &chain : kChains)
        if (std::strcmp(chain.name, name) == 0)
            return ChainText(chain.terms);
    return "";
}

size_t TokenCount(const std::string &text)
{
    TokenList list;
    CExprUtil::TokenAnalysis(list, text.c_str());
    return list.size();
}

int Usage()
{
    std::fprintf(stderr,
        "usage: quillet_call_count slots|table|rows|road RULE CALLS (a multiple of %zu but by slots)\n",
        kSampleCount);
    for (const Rule &rule : kRules)
        std::fprintf(stderr, "  %-9s %s\n", rule.name, rule.text);
    for (const Chain &chain : kChains)
        std::fprintf(stderr, "  %-9s %zu terms: %s ...\n", chain.name, chain.terms, ChainText(3).c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return Usage();
    const std::string mode = argv[1];
    const std::string text = FindText(argv[2]);
    char *end = nullptr;
    const size_t calls = std::strtoul(argv[3], &end, 10);
    if (text.empty() || *end != '\0' || (mode != "slots" && calls % kSampleCount != 0) ||
        (mode != "slots" && mode != "table" && mode != "rows" && mode != "road"))
        return Usage();
    const CCompiledExpr compiled = Compiled(text.c_str());
    const size_t passes = calls / kSampleCount;
    const Checksum checksum = mode == "rows" ? ByRows(compiled, passes)
        : mode == "table"                    ? ByTable(compiled, passes)
        : mode == "road"                     ? ByRoad(text.c_str(), passes)
                                             : BySlots(compiled, calls);
    std::printf("%s %s, %zu tokens, %zu calls: sum %u, %zu failed\n", argv[1], argv[2], TokenCount(text),
        calls, static_cast<unsigned>(checksum.sum), checksum.failed);
    return 0;
}
