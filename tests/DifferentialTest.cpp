// The host C compiler as an oracle: random well-formed expressions are
// computed by one generated C program (int arithmetic, -fwrapv), by
// VerifyExpression + EvaluatePostfix and by CCompiledExpr, and every value
// must agree.
//
// QUILLET_DIFF_SEED and QUILLET_DIFF_COUNT override the seed and the number
// of expressions compared, QUILLET_DIFF_CC the compiler (clang by default:
// gcc 12 with -fwrapv folds 5 - x / (a - b) into 5 + x / (b - a), which
// traps for x = INT_MIN, a - b = 1).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "CCompiledExpr.h"
#include "CExprUtil.h"
#include "ProcessRunner.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

// Binary operators and their precedence levels, 1 binding tightest, as in C.
const std::pair<std::string, int> kOperators[] = {
    {"*", 1}, {"/", 1}, {"%", 1}, {"+", 2}, {"-", 2}, {"<", 3}, {">", 3}, {"<=", 3}, {">=", 3},
    {"==", 4}, {"!=", 4}, {"&", 5}, {"^", 6}, {"|", 7}, {"&&", 8}, {"||", 9},
};

// What C's evaluation yields: a value, or where it first divides by zero or
// computes INT_MIN / -1 (or % -1) on a path it evaluates, one of these.
constexpr int64_t kZeroDivisor = INT64_MIN, kOverflow = INT64_MAX;

// A variable {$N} in the text, which C names vN.
const std::regex kVariable(R"(\{\$(\d+)\})");

// left op right as C evaluates it: the right operand of && and || only
// when the left one does not decide.
int64_t Combine(const std::string &op, int64_t a, int64_t b)
{
    const auto trapped = [](int64_t v) { return v == kZeroDivisor || v == kOverflow; };
    if (trapped(a))
        return a;
    if ((op == "&&" && a == 0) || (op == "||" && a != 0))
        return op == "||";
    if (trapped(b))
        return b;
    if ((op == "/" || op == "%") && (b == 0 || (a == INT32_MIN && b == -1)))
        return b == 0 ? kZeroDivisor : kOverflow;
    const int64_t v = op == "*" ? a * b : op == "/" ? a / b : op == "%" ? a % b
                    : op == "+" ? a + b : op == "-" ? a - b : op == "<" ? a < b
                    : op == ">" ? a > b : op == "<=" ? a <= b : op == ">=" ? a >= b
                    : op == "==" ? a == b : op == "!=" ? a != b : op == "&" ? (a & b)
                    : op == "^" ? (a ^ b) : op == "|" ? (a | b) : b != 0;  // && and || decided by b
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// A generated expression: its text, its precedence level (0 for an operand
// or a parenthesised group), and what C makes of it.
struct Expr {
    std::string text;
    int level;
    int64_t outcome;
};

// No two random draws are unsequenced, so that a seed gives the same
// expressions whatever order a compiler evaluates operands in.
class Generator {
public:
    explicit Generator(uint64_t seed) : random_(seed) {}

    // A fresh expression over fresh variables, 1 to 6 operator levels deep.
    Expr Next(VariableTable &table)
    {
        for (uint16_t n = 0; n < kVariables; ++n)
            table[n] = Pick({INT32_MIN, INT32_MIN + 1, -1, 0, 1, 2, 7, INT32_MAX,
                             static_cast<int32_t>(random_()),
                             static_cast<int32_t>(Below(201)) - 100});
        return Make(table, 1 + static_cast<int>(Below(6)));
    }

private:
    static constexpr uint16_t kVariables = 6;

    uint64_t Below(uint64_t n) { return random_() % n; }
    int32_t Pick(std::initializer_list<int32_t> v) { return v.begin()[Below(v.size())]; }

    Expr Operand(const VariableTable &table)
    {
        if (Below(3) == 0) {
            const uint16_t n = static_cast<uint16_t>(Below(kVariables));
            return {"{$" + std::to_string(n) + "}", 0, table.at(n)};
        }
        const int32_t value = Below(2) ? static_cast<int32_t>(Below(10))
                                       : Pick({0, 1, 2, 65535, 65536, INT32_MAX - 1, INT32_MAX,
                                               static_cast<int32_t>(random_() >> 33)});
        return {std::to_string(value), 0, value};
    }

    // Parentheses where the tree needs them (a looser operand, or an equal
    // one on the right: every level groups from the left), and at random.
    Expr Make(const VariableTable &table, int depth)
    {
        if (depth == 0 || Below(4) == 0)
            return Operand(table);
        const auto &[op, level] = kOperators[Below(std::size(kOperators))];
        Expr left = Make(table, depth - 1);
        while (left.level > level || Below(8) == 0)
            left = {"(" + left.text + ")", 0, left.outcome};
        Expr right = Make(table, depth - 1);
        while (right.level >= level || Below(8) == 0)
            right = {"(" + right.text + ")", 0, right.outcome};
        return {left.text + op + right.text, level, Combine(op, left.outcome, right.outcome)};
    }

    std::mt19937_64 random_;
};

// The environment variable `name` when set and not empty, else `fallback`.
std::string Setting(const char *name, const std::string &fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

TEST(Differential, AgreesWithTheHostCompiler)
{
    const uint64_t seed = std::stoull(Setting("QUILLET_DIFF_SEED", "20240611"));
    const size_t count = std::stoull(Setting("QUILLET_DIFF_COUNT", "10000"));
    const std::string compiler = Setting("QUILLET_DIFF_CC", QUILLET_HOST_CC);
    std::printf("differential test: seed %llu (QUILLET_DIFF_SEED), %zu expressions, compiler %s\n",
                static_cast<unsigned long long>(seed), count, compiler.c_str());
    Generator generator(seed);
    std::vector<std::pair<std::string, int32_t>> cases;  // text, the library's value
    std::ostringstream program;
    program << "#include <stdio.h>\nint main(void)\n{\nsetvbuf(stdout, NULL, _IOLBF, 0);\n";
    size_t zeroDivisors = 0, overflows = 0;
    while (cases.size() < count) {
        VariableTable table;
        const Expr e = generator.Next(table);
        TokenList list;
        int32_t value = 0, compiledValue = 0;
        int status = -1;
        if (CExprUtil::VerifyExpression(list, e.text.c_str()) == 0) {
            const CCompiledExpr compiled(list);  // before evaluation rewrites the variables
            status = CExprUtil::EvaluatePostfix(list, table, value);
            EXPECT_EQ(compiled.Evaluate(table, compiledValue), status) << e.text << " seed " << seed;
            EXPECT_EQ(compiledValue, value) << e.text << " seed " << seed;
        }
        TakeRecords();
        if (e.outcome == kOverflow) {
            ++overflows;
            continue;
        }
        // Where C would trap dividing by zero, the library must fail.
        EXPECT_EQ(status, e.outcome == kZeroDivisor ? 20014 : 0) << e.text << " seed " << seed;
        if (e.outcome == kZeroDivisor) {
            ++zeroDivisors;
            continue;
        }
        cases.emplace_back(e.text, value);
        // C reads -2147483648 as a wider constant negated; the value fits.
        program << "{";
        for (const auto &[n, v] : table)
            program << " int v" << n << " = " << v << ";";
        program << " printf(\"%d\\n\", " << std::regex_replace(e.text, kVariable, "v$1")
                << "); }\n";
    }
    program << "return 0;\n}\n";

    char dir[] = "/tmp/quillet-differential-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string binary = std::string(dir) + "/oracle", source = binary + ".c";
    std::ofstream(source) << program.str();
    const ProcessResult compiled =
        RunProcess({compiler, "-std=c11", "-O0", "-fwrapv", "-w", source, "-o", binary});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    const ProcessResult ran = RunProcess({binary});
    std::filesystem::remove_all(dir);

    std::istringstream values(ran.out);
    size_t mismatches = 0;
    for (const auto &[text, value] : cases) {
        int32_t expected = 0;
        ASSERT_TRUE(values >> expected) << "the C program stopped (status " << ran.status
                                        << ") at " << text << " (seed " << seed << ")";
        if (value != expected && ++mismatches <= 20)
            ADD_FAILURE() << text << "\n  C: " << expected << "  library: " << value
                          << "  (seed " << seed << ")";
    }
    std::printf("differential test: %zu expressions compared, %zu mismatches; %zu dividing by "
                "zero failed in the library as they must; %zu left out (INT_MIN / -1)\n",
                cases.size(), mismatches, zeroDivisors, overflows);
}

}  // namespace
