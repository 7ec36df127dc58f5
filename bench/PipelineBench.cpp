// The expression pipeline against the limit reference and muParser, in one
// run, and the compiled form's evaluations over many samples (Samples.h)
// against the reference and each rule written by hand: values are checked to agree
// first, a summary of ratios follows Google Benchmark's table. Figures are CPU time, which a busy machine
// disturbs less than wall time. Records go to a silent quorlith_printf (SilentLog.cpp).
#include <benchmark/benchmark.h>
#include <muParserInt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CCompiledExpr.h"
#include "LimitReference.h"
#include "Samples.h"

namespace {

using namespace fernvault::alarm_manager;
using namespace quillet_bench;

// The counter of a row whose step does many evaluations: seconds per evaluation.
constexpr char kPerEvaluation[] = "per eval";

// The same computation for muParser's integer parser, whose & | && || share
// one precedence level and whose ^ is a power: fully bracketed, xor a function.
constexpr char kMuExpression[] =
    "(((a + 25) * 3 >= 400) && (xor(((b % 7 == 0) || (c / 4 > 12)) & 255, 1) | 4)) || (d * 16 - c != 70)";

const VariableTable kTables[] = {
    {{1, 120}, {2, 14}, {3, 50}, {12, 5}},
    {{1, 100}, {2, 13}, {3, 20}, {12, 5}},
    {{1, 100}, {2, 13}, {3, 10}, {12, 5}},
    {{1, -30}, {2, -14}, {3, -9}, {12, -2}},
};
const VariableTable &kTimedTable = kTables[2];

struct Input {
    std::string name, text;
    size_t tokens;               // as TokenAnalysis counts them
    const Rule *rule = nullptr;  // the rule it is, evaluated over the samples
    bool longChain = false;      // one of kChains, evaluated by slots
};

// The 99-byte expression E, then chains "(E) + (E) + ... + 1 + 1" of 10^3 + 1
// to 10^6 + 1 tokens (a well-formed expression has an odd count), whose
// values count the true E's, then the other rules, then the long chains of
// Samples.h, the 30-term one first.
constexpr size_t kExpr = 0, kShortest = 1, kLongest = 4;
const std::vector<Input> kInputs = [] {
    std::vector<Input> inputs{{kRules[0].name, kExpression, 0, &kRules[0]}};
    for (const char *name : {"chain 1e3", "chain 1e4", "chain 1e5", "chain 1e6"}) {
        const auto tokens = static_cast<size_t>(std::stod(name + 6));
        std::string text = std::string("(") + kExpression + ")";  // 39 tokens
        for (size_t count = 39; count <= tokens; count += count + 40 <= tokens + 1 ? 40 : 2)
            text += count + 40 <= tokens + 1 ? " + (" + std::string(kExpression) + ")" : " + 1";
        inputs.push_back({name, text, 0});
    }
    for (const Rule &rule : kRules)
        if (&rule != &kRules[0])
            inputs.push_back({rule.name, rule.text, 0, &rule});
    for (const Chain &chain : kChains)
        inputs.push_back({chain.name, ChainText(chain.terms), 0, nullptr, true});
    for (Input &input : inputs) {
        TokenList list;
        CExprUtil::TokenAnalysis(list, input.text.c_str());
        input.tokens = list.size();
    }
    return inputs;
}();
const size_t kFirstChain = kInputs.size() - std::size(kChains);

// The four comparisons on `s`, each computed whether or not the expression
// reaches it: `>= 400`, `% 7 == 0`, `/ 4 > 12`, `!= 70`.
std::array<bool, 4> Comparisons(const Sample &s)
{
    return {Signed((Bits(s[0]) + 25u) * 3u) >= 400, s[1] % 7 == 0, s[2] / 4 > 12,
        Signed(Bits(s[3]) * 16u - Bits(s[2])) != 70};
}

// muParser with the four variables bound to `table` and xor defined. It
// holds the addresses of its own members, so it stays where it was made.
struct MuParser {
    explicit MuParser(const VariableTable &table)
        : a(table.at(1))
        , b(table.at(2))
        , c(table.at(3))
        , d(table.at(12))
    {
        parser.DefineVar("a", &a);
        parser.DefineVar("b", &b);
        parser.DefineVar("c", &c);
        parser.DefineVar("d", &d);
        parser.DefineFun(
            "xor", +[](mu::value_type l, mu::value_type r) -> mu::value_type {
                return static_cast<int>(l) ^ static_cast<int>(r);
            });
        parser.SetExpr(kMuExpression);
    }
    MuParser(const MuParser &) = delete;
    mu::value_type a, b, c, d;
    mu::ParserInt parser;
};

// Every implementation must compute the same value for every table before
// any time is taken.
bool ValuesAgree()
{
    bool agree = true;
    for (const Input &input : kInputs) {
        const bool withMu = &input == &kInputs[kExpr];
        for (const VariableTable &table : kTables) {
            const char *text = input.text.c_str();
            TokenList list;
            ReferenceProgram program;
            int32_t road = 0, compiled = 0, reference = 0;
            const auto mu = withMu ? static_cast<int32_t>(MuParser(table).parser.Eval()) : 0;
            const bool same = CExprUtil::VerifyExpression(list, text) == 0 &&
                CCompiledExpr(list).Evaluate(table, compiled) == 0 &&
                CExprUtil::EvaluatePostfix(list, table, road) == 0 && ReferenceCompile(text, program) &&
                ReferenceEvaluate(program, table, reference) && road == compiled && road == reference &&
                (!withMu || mu == road);
            std::printf("%-8s %s, %zu tokens: %d %d %d%s (quillet, CCompiledExpr, reference%s)\n",
                same ? "agree" : "DISAGREE", input.name.c_str(), input.tokens, road, compiled, reference,
                withMu ? (" " + std::to_string(mu)).c_str() : "", withMu ? ", muParser" : "");
            agree = agree && same;
        }
    }
    return agree;
}

// One evaluation: its value, or none where it failed. The value is taken by
// reference, so that it is read after `ok`, which writes it, is computed.
using Outcome = std::optional<int32_t>;
Outcome Of(bool ok, const int32_t &value)
{
    return ok ? Outcome(value) : std::nullopt;
}

std::string Text(const Outcome &outcome)
{
    return outcome ? std::to_string(*outcome) : "fails";
}

// Every sample through every evaluation of the rule `input` is, before any
// time is taken: each succeeds with the same value, or each fails, and some
// sample succeeds.
bool SamplesAgree(const Input &input)
{
    const char *text = input.text.c_str();
    const CCompiledExpr compiled = Compiled(text);
    const size_t stride = compiled.GetVariables().size();
    const std::vector<int32_t> rows = SlotRows(compiled);
    ReferenceProgram program;
    std::vector<int32_t> results(kSampleCount);
    std::vector<int> statuses(kSampleCount);
    bool agree = ReferenceCompile(text, program);
    compiled.EvaluateRows(rows.data(), stride, kSampleCount, results.data(), statuses.data());
    size_t trues = 0, failures = 0;
    for (size_t r = 0; r < kSampleCount; ++r) {
        const Sample &s = kSamples[r];
        const VariableTable table = TableOf(s);
        TokenList list;
        int32_t road = 0, byTable = 0, bySlots = 0, reference = 0, hand = 0;
        const bool roadOk = CExprUtil::VerifyExpression(list, text) == 0 &&
            CExprUtil::EvaluatePostfix(list, table, road) == 0;
        const Outcome outcomes[] = {Of(roadOk, road), Of(compiled.Evaluate(table, byTable) == 0, byTable),
            Of(compiled.Evaluate(rows.data() + r * stride, stride, bySlots) == 0, bySlots),
            Of(statuses[r] == 0, results[r]), Of(ReferenceEvaluate(program, table, reference), reference),
            Of(input.rule->handWritten(s, hand), hand)};
        bool same = true;
        for (const Outcome &outcome : outcomes)
            same = same && outcome == outcomes[0];
        if (!same)
            std::printf("DISAGREE %s, sample %zu {%d, %d, %d, %d}: %s %s %s %s %s %s\n", input.name.c_str(),
                r, s[0], s[1], s[2], s[3], Text(outcomes[0]).c_str(), Text(outcomes[1]).c_str(),
                Text(outcomes[2]).c_str(), Text(outcomes[3]).c_str(), Text(outcomes[4]).c_str(),
                Text(outcomes[5]).c_str());
        agree = agree && same;
        trues += outcomes[0].value_or(0) != 0;
        failures += !outcomes[0];
    }
    agree = agree && failures < kSampleCount;
    std::printf("%-8s %s, %zu samples: %zu true, %zu fail (quillet, Evaluate(table), by slots, EvaluateRows, "
                "reference, hand-written)\n",
        agree ? "agree" : "DISAGREE", input.name.c_str(), kSampleCount, trues, failures);
    return agree;
}

// Each of the 99-byte expression's four comparisons is true in some samples
// and false in others.
bool ComparisonsOnBothSides()
{
    size_t comparisons[4] = {};
    for (const Sample &s : kSamples)
        for (size_t c = 0; c < 4; ++c)
            comparisons[c] += Comparisons(s)[c];
    bool both = true;
    for (const size_t count : comparisons)
        both = both && count > 0 && count < kSampleCount;
    std::printf("%-8s 99-byte, true in samples: >= 400 %zu, %% 7 == 0 %zu, / 4 > 12 %zu, != 70 %zu\n",
        both ? "agree" : "DISAGREE", comparisons[0], comparisons[1], comparisons[2], comparisons[3]);
    return both;
}

// The inputs a benchmark row runs on.
enum class Inputs {
    kExpression,  // the 99-byte expression
    kChains,      // it and the chains
    kRules,       // every rule, the 99-byte expression first
};

bool RunsOn(Inputs inputs, const Input &input)
{
    switch (inputs) {
    case Inputs::kExpression: return &input == &kInputs[kExpr];
    case Inputs::kChains: return (input.rule == nullptr && !input.longChain) || &input == &kInputs[kExpr];
    case Inputs::kRules: return input.rule != nullptr;
    }
    return false;
}

// The one timed loop. Adds benchmark `row` on `input`: `prepare(input)`,
// untimed, builds what the work needs and returns the step that does
// `evaluations` evaluations; the figures are per evaluation.
template <class Prepare> void AddOn(const Input &input, const char *row, Prepare prepare, size_t evaluations)
{
    const auto body = [prepare, &input, evaluations](benchmark::State &state) {
        auto step = prepare(input);
        for (auto _ : state)
            step();
        if (evaluations > 1)
            state.counters[kPerEvaluation] = benchmark::Counter(static_cast<double>(evaluations),
                benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    };
    benchmark::RegisterBenchmark((std::string(row) + "/" + input.name).c_str(), body)
        ->Unit(benchmark::kNanosecond);
}

// Adds benchmark `row` on `inputs`, as AddOn.
template <class Prepare> void Add(const char *row, Inputs inputs, Prepare prepare, size_t evaluations = 1)
{
    for (const Input &input : kInputs)
        if (RunsOn(inputs, input))
            AddOn(input, row, prepare, evaluations);
}

// Adds benchmark `row` over the samples on `inputs`, its figures per sample:
// `prepare` as Add's, its step evaluating every sample.
template <class Prepare> void AddSamples(const char *row, Inputs inputs, Prepare prepare)
{
    Add(row, inputs, prepare, kSampleCount);
}

// The floor: each rule by hand, in a loop that writes an array of results
// (0 where the rule fails, as CCompiledExpr gives). Rule by rule, so that
// each step has its rule inlined, as the benchmark loop has the step.
template <size_t... I> void AddHandWritten(std::index_sequence<I...>)
{
    const auto inputOf = [](const Rule &rule) -> const Input & {
        return *std::find_if(
            kInputs.begin(), kInputs.end(), [&rule](const Input &i) { return i.rule == &rule; });
    };
    (AddOn(
         inputOf(kRules[I]), "hand-written C++, samples",
         [](const Input &) {
             return [results = std::vector<int32_t>(kSampleCount)]() mutable {
                 for (size_t r = 0; r < kSampleCount; ++r) {
                     int32_t value = 0;
                     results[r] = kRules[I].handWritten(kSamples[r], value) ? value : 0;
                 }
                 benchmark::DoNotOptimize(results.data());
                 benchmark::ClobberMemory();
             };
         },
         kSampleCount),
        ...);
}

// A step that evaluates every sample (or the first `samples`), sample r by
// `evaluate(r, value)`, which returns a status.
template <class Evaluate> auto EachSample(Evaluate evaluate, size_t samples = kSampleCount)
{
    return [evaluate = std::move(evaluate), samples] {
        for (size_t r = 0; r < samples; ++r) {
            int32_t value = 0;
            benchmark::DoNotOptimize(evaluate(r, value));
            benchmark::DoNotOptimize(value);
        }
    };
}

// The whole road on `text` with the timed table: verify into `list`, evaluate.
void WholeRoad(TokenList &list, const char *text)
{
    int32_t value = 0;
    CExprUtil::VerifyExpression(list, text);
    benchmark::DoNotOptimize(CExprUtil::EvaluatePostfix(list, kTimedTable, value));
}

void ReferenceRoad(ReferenceProgram &program, const char *text)
{
    int32_t value = 0;
    ReferenceCompile(text, program);
    benchmark::DoNotOptimize(ReferenceEvaluate(program, kTimedTable, value));
}

void AddBenchmarks()
{
    // The list keeps the storage of the expression before, the first one's too.
    Add("whole road", Inputs::kChains, [](const Input &input) {
        TokenList list;
        WholeRoad(list, input.text.c_str());
        return [text = input.text.c_str(), list = std::move(list)]() mutable { WholeRoad(list, text); };
    });
    // A new TokenList for every expression, as the tool does.
    Add("whole road, fresh list", Inputs::kChains, [](const Input &input) {
        return [text = input.text.c_str()] {
            TokenList list;
            WholeRoad(list, text);
        };
    });
    Add("CCompiledExpr evaluate", Inputs::kChains, [](const Input &input) {
        return [compiled = Compiled(input.text.c_str()), value = int32_t{0}]() mutable {
            benchmark::DoNotOptimize(compiled.Evaluate(kTimedTable, value));
        };
    });
    Add("reference whole road", Inputs::kChains, [](const Input &input) {
        ReferenceProgram program;
        ReferenceRoad(program, input.text.c_str());
        return [text = input.text.c_str(), program = std::move(program)]() mutable {
            ReferenceRoad(program, text);
        };
    });
    Add("reference evaluate", Inputs::kChains, [](const Input &input) {
        ReferenceProgram program;
        ReferenceCompile(input.text.c_str(), program);
        return [program, value = int32_t{0}]() mutable {
            benchmark::DoNotOptimize(ReferenceEvaluate(program, kTimedTable, value));
        };
    });
    Add("muParser once, new parser", Inputs::kExpression,
        [](const Input &) { return [] { benchmark::DoNotOptimize(MuParser(kTimedTable).parser.Eval()); }; });
    Add("muParser evaluate again", Inputs::kExpression, [](const Input &) {
        auto mu = std::make_unique<MuParser>(kTimedTable);
        mu->parser.Eval();  // the first evaluation parses
        return [mu = std::move(mu)] { benchmark::DoNotOptimize(mu->parser.Eval()); };
    });
    // Over the samples; a table is rewritten before each call, a row of
    // slots is read in place.
    AddSamples("reference evaluate, samples", Inputs::kRules, [](const Input &input) {
        ReferenceProgram program;
        ReferenceCompile(input.text.c_str(), program);
        return EachSample([program, table = std::make_unique<SampleTable>()](size_t r, int32_t &value) {
            return ReferenceEvaluate(program, table->Write(kSamples[r]), value);
        });
    });
    AddSamples("Evaluate(table), samples", Inputs::kExpression, [](const Input &input) {
        return EachSample(
            [compiled = Compiled(input.text.c_str()), table = std::make_unique<SampleTable>()](
                size_t r, int32_t &value) { return compiled.Evaluate(table->Write(kSamples[r]), value); });
    });
    AddSamples("Evaluate by slots, samples", Inputs::kRules, [](const Input &input) {
        const CCompiledExpr compiled = Compiled(input.text.c_str());
        return EachSample(
            [compiled, stride = compiled.GetVariables().size(), rows = SlotRows(compiled)](size_t r,
                int32_t &value) { return compiled.Evaluate(rows.data() + r * stride, stride, value); });
    });
    AddSamples("EvaluateRows, samples", Inputs::kExpression, [](const Input &input) {
        const CCompiledExpr compiled = Compiled(input.text.c_str());
        return [compiled, rows = SlotRows(compiled), results = std::vector<int32_t>(kSampleCount),
                   statuses = std::vector<int>(kSampleCount)]() mutable {
            benchmark::DoNotOptimize(compiled.EvaluateRows(
                rows.data(), compiled.GetVariables().size(), kSampleCount, results.data(), statuses.data()));
            benchmark::ClobberMemory();
        };
    });
    // Each long chain on the first samples, as many a step as make about the
    // tokens of the 30-term chain on all of them; its figures per token.
    for (size_t chain = kFirstChain; chain < kInputs.size(); ++chain) {
        const size_t evaluations =
            std::max<size_t>(1, kSampleCount * kInputs[kFirstChain].tokens / kInputs[chain].tokens);
        AddOn(
            kInputs[chain], "Evaluate by slots, samples",
            [evaluations](const Input &input) {
                const CCompiledExpr compiled = Compiled(input.text.c_str());
                return EachSample(
                    [compiled, stride = compiled.GetVariables().size(), rows = SlotRows(compiled)](
                        size_t r, int32_t &value) {
                        return compiled.Evaluate(rows.data() + r * stride, stride, value);
                    },
                    evaluations);
            },
            evaluations);
    }
    AddHandWritten(std::make_index_sequence<std::size(kRules)>());
}

// Keeps the CPU time per evaluation of every run, keyed "row/input".
struct SummaryReporter : benchmark::ConsoleReporter {
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const auto per = run.counters.find(kPerEvaluation);
            if (!run.error_occurred)
                ns_[run.benchmark_name()] =
                    per == run.counters.end() ? run.GetAdjustedCPUTime() : per->second.value * 1e9;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Nanoseconds per evaluation, per token on a chain; 0 when not run.
    double Ns(const std::string &row, size_t input) const
    {
        const auto found = ns_.find(row + "/" + kInputs[input].name);
        const double tokens = kInputs[input].rule ? 1.0 : static_cast<double>(kInputs[input].tokens);
        return found == ns_.end() ? 0.0 : found->second / tokens;
    }
    std::map<std::string, double> ns_;
};

// Row `top` on input `topInput` over row `bottom` on `bottomInput`, as Ns
// gives them, at most (or at least) `limit`; a limit of 0 is none.
struct Target {
    const char *top, *bottom;
    size_t topInput, bottomInput;
    double limit;
    bool atMost;
};
const std::vector<Target> kTargets = [] {
    std::vector<Target> targets{
        {"whole road, fresh list", "reference whole road", kExpr, kExpr, 5, true},
        {"whole road", "reference whole road", kExpr, kExpr, 3, true},
        {"muParser once, new parser", "whole road, fresh list", kExpr, kExpr, 20, false},
        {"whole road, fresh list", "whole road, fresh list", kLongest, kShortest, 2, true},
        {"whole road", "whole road", kLongest, kShortest, 2, true},
        {"whole road, fresh list", "reference whole road", kLongest, kLongest, 15, true},
        {"whole road", "reference whole road", kLongest, kLongest, 15, true},
        {"CCompiledExpr evaluate", "muParser evaluate again", kExpr, kExpr, 1, true},
        {"CCompiledExpr evaluate", "reference evaluate", kExpr, kExpr, 1.5, true},
        {"Evaluate by slots, samples", "reference evaluate, samples", kExpr, kExpr, 0.30, true},
        {"EvaluateRows, samples", "reference evaluate, samples", kExpr, kExpr, 0.08, true},
        {"Evaluate(table), samples", "reference evaluate, samples", kExpr, kExpr, 0.6, true},
        {"Evaluate by slots, samples", "hand-written C++, samples", kExpr, kExpr, 7, true},
        {"EvaluateRows, samples", "hand-written C++, samples", kExpr, kExpr, 0, true},
        {"Evaluate(table), samples", "hand-written C++, samples", kExpr, kExpr, 0, true},
        {"reference evaluate, samples", "hand-written C++, samples", kExpr, kExpr, 0, true},
    };
    for (size_t rule = kLongest + 1; rule < kFirstChain; ++rule)
        for (const char *bottom : {"reference evaluate, samples", "hand-written C++, samples"})
            targets.push_back({"Evaluate by slots, samples", bottom, rule, rule, 0, true});
    // The chains' target is in instructions (bench/count-instructions.sh);
    // timed, a long chain also pays for nodes that leave the caches.
    for (size_t chain = kFirstChain + 1; chain < kInputs.size(); ++chain)
        targets.push_back(
            {"Evaluate by slots, samples", "Evaluate by slots, samples", chain, kFirstChain, 0, true});
    return targets;
}();

std::string Format(double limit)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", limit);
    return text;
}

void PrintSummary(const SummaryReporter &results)
{
    std::printf(
        "\nTargets, ratios within this run:\n\n| ratio | measured | target | |\n|---|---:|---:|---|\n");
    for (const Target &t : kTargets) {
        const std::string &topInput = kInputs[t.topInput].name, &bottomInput = kInputs[t.bottomInput].name;
        const std::string what = t.topInput == t.bottomInput
            ? std::string(t.top) + " / " + t.bottom + " (" + topInput + ")"
            : std::string(t.top) + ": per token " + topInput + " / " + bottomInput;
        const double top = results.Ns(t.top, t.topInput), bottom = results.Ns(t.bottom, t.bottomInput);
        const double ratio = top / bottom;
        const bool met = t.atMost ? ratio <= t.limit : ratio >= t.limit;
        const std::string target =
            t.limit == 0 ? "none" : (t.atMost ? "at most " : "at least ") + Format(t.limit);
        std::printf("| %s | %.2f | %s | %s |\n", what.c_str(), ratio, target.c_str(),
            top == 0.0 || bottom == 0.0 ? "not run"
                : t.limit == 0          ? ""
                : met                   ? "met"
                                        : "MISSED");
    }
    std::printf("\nEvaluate by slots, nanoseconds a token:");
    for (size_t chain = kFirstChain; chain < kInputs.size(); ++chain)
        std::printf(" %s %.3g%s", kInputs[chain].name.c_str(),
            results.Ns("Evaluate by slots, samples", chain), chain + 1 < kInputs.size() ? "," : "\n");
}

}  // namespace

int main(int argc, char **argv)
{
    bool agree = ValuesAgree() && ComparisonsOnBothSides();
    for (const Input &input : kInputs)
        agree = agree && (input.rule == nullptr || SamplesAgree(input));
    if (!agree)
        return 1;
    AddBenchmarks();
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    return 0;
}
