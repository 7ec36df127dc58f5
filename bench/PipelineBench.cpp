// Benchmarks of the expression pipeline, each operation alone and the whole
// road, against the limit reference and muParser, in one run. Values are
// checked to agree first; a summary of ratios follows Google Benchmark's table.
// The summary uses CPU time per expression, which a busy machine disturbs
// less than wall time.
// Records go to a silent quorlith_printf (SilentLog.cpp): they are not what
// is measured.
#include <benchmark/benchmark.h>
#include <muParserInt.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
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
    "(((a + 25) * 3 >= 400) && (xor(((b % 7 == 0) || (c / 4 > 12)) & 255, 1) | 4)) || "
    "(d * 16 - c != 70)";

const VariableTable kTables[] = {
    {{1, 120}, {2, 14}, {3, 50}, {12, 5}},
    {{1, 100}, {2, 13}, {3, 20}, {12, 5}},
    {{1, 100}, {2, 13}, {3, 10}, {12, 5}},
    {{1, -30}, {2, -14}, {3, -9}, {12, -2}},
};
const VariableTable &kTimedTable = kTables[2];

struct Input {
    std::string name;
    std::string text;
    size_t tokens;
};

// "(E) + (E) + ... + 1 + 1" of the expression E, `tokens` + 1 tokens long (a
// well-formed expression has an odd count); its value counts the true E's.
std::string Chain(size_t tokens)
{
    const std::string unit = std::string("(") + kExpression + ")";  // 39 tokens
    std::string text = unit;
    size_t count = 39;
    for (; count + 40 <= tokens + 1; count += 40)
        text += " + " + unit;
    for (; count < tokens + 1; count += 2)
        text += " + 1";
    return text;
}

std::vector<Input> MakeInputs()
{
    std::vector<Input> inputs{{"99-byte", kExpression, 0}};
    for (const char *name : {"1e3", "1e4", "1e5", "1e6"})
        inputs.push_back({std::string("chain ") + name, Chain(static_cast<size_t>(std::stod(name))), 0});
    for (Input &input : inputs) {
        TokenList list;
        CExprUtil::TokenAnalysis(list, input.text.c_str());
        input.tokens = list.size();
    }
    return inputs;
}

// muParser with the four variables bound and xor defined.
struct MuParser {
    MuParser()
    {
        parser.DefineVar("a", &a);
        parser.DefineVar("b", &b);
        parser.DefineVar("c", &c);
        parser.DefineVar("d", &d);
        parser.DefineFun("xor", Xor);
        parser.SetExpr(kMuExpression);
    }
    void Bind(const VariableTable &table)
    {
        a = table.at(1);
        b = table.at(2);
        c = table.at(3);
        d = table.at(12);
    }
    static mu::value_type Xor(mu::value_type left, mu::value_type right)
    {
        return static_cast<int>(left) ^ static_cast<int>(right);
    }
    mu::value_type a = 0, b = 0, c = 0, d = 0;
    mu::ParserInt parser;
};

TokenList Postfix(const std::string &text)
{
    TokenList list;
    CExprUtil::VerifyExpression(list, text.c_str());
    return list;
}

// Every implementation must compute the same value for every table before
// any time is taken.
bool ValuesAgree(const std::vector<Input> &inputs)
{
    bool agree = true;
    for (const Input &input : inputs) {
        for (const VariableTable &table : kTables) {
            TokenList list;
            int32_t road = 0, compiled = 0, reference = 0;
            ReferenceProgram program;
            const bool ok = CExprUtil::VerifyExpression(list, input.text.c_str()) == 0 &&
                            CCompiledExpr(list).Evaluate(table, compiled) == 0 &&
                            CExprUtil::EvaluatePostfix(list, table, road) == 0 &&
                            ReferenceValidate(input.text.c_str()) &&
                            ReferenceCompile(input.text.c_str(), program) &&
                            ReferenceEvaluate(program, table, reference);
            std::string values = std::to_string(road) + " " + std::to_string(compiled) + " " +
                                 std::to_string(reference);
            bool same = ok && road == compiled && road == reference;
            if (input.text == kExpression) {
                MuParser mu;
                mu.Bind(table);
                const auto value = static_cast<int32_t>(mu.parser.Eval());
                values += " " + std::to_string(value);
                same = same && value == road;
            }
            std::printf("%-8s %s, %zu tokens: %s (quillet, CCompiledExpr, reference%s)\n", same ? "agree" : "DISAGREE",
                        input.name.c_str(), input.tokens, values.c_str(), input.text == kExpression ? ", muParser" : "");
            agree = agree && same;
        }
    }
    return agree;
}

// Runs `operation` on fresh copies of `pristine`, restored with the timer
// paused, in batches large enough that pausing costs nothing measurable.
void OnCopies(benchmark::State &state, const TokenList &pristine,
              const std::function<void(TokenList &)> &operation, size_t &batch)
{
    batch = std::max<size_t>(1, 2048 / std::max<size_t>(1, pristine.size()));
    std::vector<TokenList> lists(batch, pristine);
    for (auto _ : state) {
        state.PauseTiming();
        for (TokenList &list : lists)
            list = pristine;
        state.ResumeTiming();
        for (TokenList &list : lists)
            operation(list);
        benchmark::ClobberMemory();
    }
}

using Body = std::function<void(benchmark::State &, const Input &, size_t &batch)>;

struct Operation {
    const char *name;
    Body body;
    bool expressionOnly;  // muParser runs on the 99-byte expression only
};

std::vector<Operation> Operations()
{
    const auto each = [](auto step) {
        return [step](benchmark::State &state, const Input &input, size_t &) {
            for (auto _ : state)
                step(input);
        };
    };
    const auto onInfix = [](auto step) {
        return [step](benchmark::State &state, const Input &input, size_t &batch) {
            TokenList infix;
            CExprUtil::TokenAnalysis(infix, input.text.c_str());
            OnCopies(state, infix, step, batch);
        };
    };
    const auto onPostfix = [](auto step) {
        return [step](benchmark::State &state, const Input &input, size_t &batch) {
            OnCopies(state, Postfix(input.text), step, batch);
        };
    };
    // An operation on a reused list and the input's text.
    const auto onText = [](auto operation) {
        return [operation](benchmark::State &state, const Input &input, size_t &) {
            TokenList list;
            for (auto _ : state)
                benchmark::DoNotOptimize(operation(list, input.text.c_str()));
        };
    };
    return {
        {"TokenAnalysis", onText(&CExprUtil::TokenAnalysis), false},
        {"SyntaxAnalysis",
         [](benchmark::State &state, const Input &input, size_t &) {
             TokenList list;
             CExprUtil::TokenAnalysis(list, input.text.c_str());
             for (auto _ : state)
                 benchmark::DoNotOptimize(CExprUtil::SyntaxAnalysis(list));
         },
         false},
        {"ConvertToPostfix", onInfix([](TokenList &list) { CExprUtil::ConvertToPostfix(list); }), false},
        {"VerifyExpression", onText(&CExprUtil::VerifyExpression), false},
        {"SubstituteVariables",
         onPostfix([](TokenList &list) {
             benchmark::DoNotOptimize(CExprUtil::SubstituteVariables(list, kTimedTable));
         }),
         false},
        {"EvaluatePostfix", onPostfix([](TokenList &list) {
             int32_t value = 0;
             benchmark::DoNotOptimize(CExprUtil::EvaluatePostfix(list, kTimedTable, value));
         }),
         false},
        {"whole road",
         [](benchmark::State &state, const Input &input, size_t &) {
             TokenList list;
             for (auto _ : state) {
                 int32_t value = 0;
                 CExprUtil::VerifyExpression(list, input.text.c_str());
                 benchmark::DoNotOptimize(CExprUtil::EvaluatePostfix(list, kTimedTable, value));
             }
         },
         false},
        {"whole road, fresh list", each([](const Input &input) {
             TokenList list;
             int32_t value = 0;
             CExprUtil::VerifyExpression(list, input.text.c_str());
             benchmark::DoNotOptimize(CExprUtil::EvaluatePostfix(list, kTimedTable, value));
         }),
         false},
        {"CCompiledExpr compile",
         [](benchmark::State &state, const Input &input, size_t &) {
             const TokenList list = Postfix(input.text);
             for (auto _ : state) {
                 CCompiledExpr compiled(list);
                 benchmark::DoNotOptimize(compiled);
             }
         },
         false},
        {"CCompiledExpr evaluate",
         [](benchmark::State &state, const Input &input, size_t &) {
             const CCompiledExpr compiled(Postfix(input.text));
             for (auto _ : state) {
                 int32_t value = 0;
                 benchmark::DoNotOptimize(compiled.Evaluate(kTimedTable, value));
                 benchmark::DoNotOptimize(value);
             }
         },
         false},
        {"reference validate",
         each([](const Input &input) { benchmark::DoNotOptimize(ReferenceValidate(input.text.c_str())); }),
         false},
        {"reference compile",
         [](benchmark::State &state, const Input &input, size_t &) {
             ReferenceProgram program;
             for (auto _ : state)
                 benchmark::DoNotOptimize(ReferenceCompile(input.text.c_str(), program));
         },
         false},
        {"reference evaluate",
         [](benchmark::State &state, const Input &input, size_t &) {
             ReferenceProgram program;
             ReferenceCompile(input.text.c_str(), program);
             for (auto _ : state) {
                 int32_t value = 0;
                 benchmark::DoNotOptimize(ReferenceEvaluate(program, kTimedTable, value));
                 benchmark::DoNotOptimize(value);
             }
         },
         false},
        {"reference whole road",
         [](benchmark::State &state, const Input &input, size_t &) {
             ReferenceProgram program;
             for (auto _ : state) {
                 int32_t value = 0;
                 ReferenceCompile(input.text.c_str(), program);
                 benchmark::DoNotOptimize(ReferenceEvaluate(program, kTimedTable, value));
             }
         },
         false},
        // What building a fresh list of this data model costs by itself: the
        // floor of any caller that hands the pipeline a new list.
        {"reference fresh token list", each([](const Input &input) {
             TokenList list;
             list.reserve(input.tokens);
             for (size_t i = 0; i < input.tokens; ++i)
                 list.emplace_back("1", 1, ENumber);
             benchmark::DoNotOptimize(list.data());
         }),
         false},
        {"muParser once, new parser", each([](const Input &) {
             MuParser mu;
             mu.Bind(kTimedTable);
             benchmark::DoNotOptimize(mu.parser.Eval());
         }),
         true},
        {"muParser once, reused parser",
         [](benchmark::State &state, const Input &, size_t &) {
             MuParser mu;
             mu.Bind(kTimedTable);
             for (auto _ : state) {
                 mu.parser.SetExpr(kMuExpression);
                 benchmark::DoNotOptimize(mu.parser.Eval());
             }
         },
         true},
        {"muParser evaluate again",
         [](benchmark::State &state, const Input &, size_t &) {
             MuParser mu;
             mu.Bind(kTimedTable);
             mu.parser.Eval();
             for (auto _ : state)
                 benchmark::DoNotOptimize(mu.parser.Eval());
         },
         true},
    };
}

struct Measured {
    double nsPerExpression;
    size_t tokens;
};

// Keeps every result, keyed "operation/input", for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (!run.error_occurred)
                results_[run.benchmark_name()] =
                    Measured{run.GetAdjustedCPUTime() / run.counters.at("expressions"),
                             static_cast<size_t>(run.counters.at("tokens"))};
        ConsoleReporter::ReportRuns(runs);
    }
    double Ns(const std::string &operation, const Input &input) const
    {
        const auto found = results_.find(operation + "/" + input.name);
        return found == results_.end() ? 0.0 : found->second.nsPerExpression;
    }

private:
    std::map<std::string, Measured> results_;
};

void PrintSummary(const SummaryReporter &results, const std::vector<Input> &inputs,
                  const std::vector<Operation> &operations)
{
    const Input &expression = inputs.front();
    std::printf("\nns per expression (99-byte, %zu tokens) and ns per token (chains):\n\n",
                expression.tokens);
    std::printf("| operation |");
    for (const Input &input : inputs)
        std::printf(" %s (%zu tokens) |", input.name.c_str(), input.tokens);
    std::printf("\n|---|");
    for (size_t i = 0; i < inputs.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    for (const Operation &operation : operations) {
        std::printf("| %s |", operation.name);
        for (const Input &input : inputs) {
            const double ns = results.Ns(operation.name, input);
            if (ns == 0.0)
                std::printf(" |");
            else if (&input == &expression)
                std::printf(" %.1f |", ns);
            else
                std::printf(" %.2f |", ns / static_cast<double>(input.tokens));
        }
        std::printf("\n");
    }

    const auto ns = [&](const char *operation, const Input &input) { return results.Ns(operation, input); };
    const auto perToken = [&](const char *operation, const Input &input) {
        return ns(operation, input) / static_cast<double>(input.tokens);
    };
    const Input &smallest = inputs[1];
    const Input &largest = inputs.back();
    struct Target {
        std::string what;
        double ratio;
        double limit;
        bool atMost;
    };
    const Target targets[] = {
        {"whole road, fresh list / reference whole road (99-byte)",
         ns("whole road, fresh list", expression) / ns("reference whole road", expression), 5, true},
        {"whole road / reference whole road (99-byte)",
         ns("whole road", expression) / ns("reference whole road", expression), 5, true},
        {"muParser once, new parser / whole road, fresh list (99-byte)",
         ns("muParser once, new parser", expression) / ns("whole road, fresh list", expression), 20, false},
        {"muParser once, reused parser / whole road, fresh list (99-byte)",
         ns("muParser once, reused parser", expression) / ns("whole road, fresh list", expression), 20,
         false},
        {"whole road, fresh list: per token " + largest.name + " / " + smallest.name,
         perToken("whole road, fresh list", largest) / perToken("whole road, fresh list", smallest), 2, true},
        {"whole road: per token " + largest.name + " / " + smallest.name,
         perToken("whole road", largest) / perToken("whole road", smallest), 2, true},
        {"whole road, fresh list / reference whole road (" + largest.name + ")",
         ns("whole road, fresh list", largest) / ns("reference whole road", largest), 15, true},
        {"whole road / reference whole road (" + largest.name + ")",
         ns("whole road", largest) / ns("reference whole road", largest), 15, true},
        {"CCompiledExpr evaluate / muParser evaluate again (99-byte)",
         ns("CCompiledExpr evaluate", expression) / ns("muParser evaluate again", expression), 1, true},
        {"CCompiledExpr evaluate / reference evaluate (99-byte)",
         ns("CCompiledExpr evaluate", expression) / ns("reference evaluate", expression), 2, true},
    };
    std::printf("\nTargets, ratios within this run:\n\n| ratio | measured | target | |\n|---|---:|---:|---|\n");
    for (const Target &target : targets) {
        const bool met = target.atMost ? target.ratio <= target.limit : target.ratio >= target.limit;
        std::printf("| %s | %.2f | %s %.0f | %s |\n", target.what.c_str(), target.ratio,
                    target.atMost ? "at most" : "at least", target.limit, met ? "met" : "MISSED");
    }
}

}  // namespace

int main(int argc, char **argv)
{
    const std::vector<Input> inputs = MakeInputs();
    if (!ValuesAgree(inputs))
        return 1;
    const std::vector<Operation> operations = Operations();
    for (const Operation &operation : operations) {
        for (const Input &input : inputs) {
            if (operation.expressionOnly && input.text != kExpression)
                continue;
            const std::string name = std::string(operation.name) + "/" + input.name;
            benchmark::RegisterBenchmark(name.c_str(), [&operation, &input](benchmark::State &state) {
                size_t batch = 1;
                operation.body(state, input, batch);
                state.counters["expressions"] = static_cast<double>(batch);
                state.counters["tokens"] = static_cast<double>(input.tokens);
            })->Unit(benchmark::kNanosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter, inputs, operations);
    return 0;
}
