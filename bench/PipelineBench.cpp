// The expression pipeline against the limit reference and muParser, in one
// run: values are checked to agree first, a summary of ratios follows Google
// Benchmark's table. Figures are CPU time, which a busy machine disturbs less
// than wall time. Records go to a silent quorlith_printf (SilentLog.cpp).
#include <benchmark/benchmark.h>
#include <muParserInt.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CCompiledExpr.h"
#include "LimitReference.h"

namespace {

using namespace fernvault::alarm_manager;
using namespace quillet_bench;

constexpr char kExpression[] =
    "({$1} + 25) * 3 >= 400 && ({$2} % 7 == 0 || {$3} / 4 > 12) & 255 ^ 1 | 4 || {$12} * 16 - {$3} != 70";
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
    size_t tokens;  // as TokenAnalysis counts them
};

// The 99-byte expression E, then chains "(E) + (E) + ... + 1 + 1" of 10^3 + 1
// to 10^6 + 1 tokens (a well-formed expression has an odd count), whose
// values count the true E's.
constexpr size_t kExpr = 0, kShortest = 1, kLongest = 4;
const std::vector<Input> kInputs = [] {
    std::vector<Input> inputs{{"99-byte", kExpression, 0}};
    for (const char *name : {"chain 1e3", "chain 1e4", "chain 1e5", "chain 1e6"}) {
        const auto tokens = static_cast<size_t>(std::stod(name + 6));
        std::string text = std::string("(") + kExpression + ")";  // 39 tokens
        for (size_t count = 39; count <= tokens; count += count + 40 <= tokens + 1 ? 40 : 2)
            text += count + 40 <= tokens + 1 ? " + (" + std::string(kExpression) + ")" : " + 1";
        inputs.push_back({name, text, 0});
    }
    for (Input &input : inputs) {
        TokenList list;
        CExprUtil::TokenAnalysis(list, input.text.c_str());
        input.tokens = list.size();
    }
    return inputs;
}();

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

// The one timed loop. Adds benchmark `row` on every input, or on the 99-byte
// expression alone unless `chains`: `prepare(input)`, untimed, builds what
// the work needs and returns the step that handles one expression.
template <class Prepare> void Add(const char *row, bool chains, Prepare prepare)
{
    for (const Input &input : kInputs) {
        if (!chains && &input != &kInputs[kExpr])
            continue;
        const auto body = [prepare, &input](benchmark::State &state) {
            auto step = prepare(input);
            for (auto _ : state)
                step();
        };
        benchmark::RegisterBenchmark((std::string(row) + "/" + input.name).c_str(), body)
            ->Unit(benchmark::kNanosecond);
    }
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
    Add("whole road", true, [](const Input &input) {
        TokenList list;
        WholeRoad(list, input.text.c_str());
        return [text = input.text.c_str(), list = std::move(list)]() mutable { WholeRoad(list, text); };
    });
    // A new TokenList for every expression, as the tool does.
    Add("whole road, fresh list", true, [](const Input &input) {
        return [text = input.text.c_str()] {
            TokenList list;
            WholeRoad(list, text);
        };
    });
    Add("CCompiledExpr evaluate", true, [](const Input &input) {
        TokenList list;
        CExprUtil::VerifyExpression(list, input.text.c_str());
        return [compiled = CCompiledExpr(list), value = int32_t{0}]() mutable {
            benchmark::DoNotOptimize(compiled.Evaluate(kTimedTable, value));
        };
    });
    Add("reference whole road", true, [](const Input &input) {
        ReferenceProgram program;
        ReferenceRoad(program, input.text.c_str());
        return [text = input.text.c_str(), program = std::move(program)]() mutable {
            ReferenceRoad(program, text);
        };
    });
    Add("reference evaluate", true, [](const Input &input) {
        ReferenceProgram program;
        ReferenceCompile(input.text.c_str(), program);
        return [program, value = int32_t{0}]() mutable {
            benchmark::DoNotOptimize(ReferenceEvaluate(program, kTimedTable, value));
        };
    });
    Add("muParser once, new parser", false,
        [](const Input &) { return [] { benchmark::DoNotOptimize(MuParser(kTimedTable).parser.Eval()); }; });
    Add("muParser evaluate again", false, [](const Input &) {
        auto mu = std::make_unique<MuParser>(kTimedTable);
        mu->parser.Eval();  // the first evaluation parses
        return [mu = std::move(mu)] { benchmark::DoNotOptimize(mu->parser.Eval()); };
    });
}

// Keeps the CPU time per expression of every run, keyed "row/input".
struct SummaryReporter : benchmark::ConsoleReporter {
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (!run.error_occurred)
                ns_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    // Nanoseconds per expression, per token on a chain; 0 when not run.
    double Ns(const std::string &row, size_t input) const
    {
        const auto found = ns_.find(row + "/" + kInputs[input].name);
        const double tokens = input == kExpr ? 1.0 : static_cast<double>(kInputs[input].tokens);
        return found == ns_.end() ? 0.0 : found->second / tokens;
    }
    std::map<std::string, double> ns_;
};

// Row `top` on input `topInput` over row `bottom` on `bottomInput`, as Ns
// gives them, at most (or at least) `limit`.
struct Target {
    const char *top, *bottom;
    size_t topInput, bottomInput;
    double limit;
    bool atMost;
};
const Target kTargets[] = {
    {"whole road, fresh list", "reference whole road", kExpr, kExpr, 5, true},
    {"whole road", "reference whole road", kExpr, kExpr, 3, true},
    {"muParser once, new parser", "whole road, fresh list", kExpr, kExpr, 20, false},
    {"whole road, fresh list", "whole road, fresh list", kLongest, kShortest, 2, true},
    {"whole road", "whole road", kLongest, kShortest, 2, true},
    {"whole road, fresh list", "reference whole road", kLongest, kLongest, 15, true},
    {"whole road", "reference whole road", kLongest, kLongest, 15, true},
    {"CCompiledExpr evaluate", "muParser evaluate again", kExpr, kExpr, 1, true},
    {"CCompiledExpr evaluate", "reference evaluate", kExpr, kExpr, 1.5, true},
};

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
        std::printf("| %s | %.2f | %s %g | %s |\n", what.c_str(), ratio, t.atMost ? "at most" : "at least",
            t.limit,
            top == 0.0 || bottom == 0.0 ? "not run"
                : met                   ? "met"
                                        : "MISSED");
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (!ValuesAgree())
        return 1;
    AddBenchmarks();
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    return 0;
}
