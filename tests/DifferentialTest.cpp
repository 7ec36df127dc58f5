// The host C compiler as an oracle: random well-formed expressions are
// computed by one generated C program (int arithmetic, -fwrapv) and by
// VerifyExpression + EvaluatePostfix, and every value must agree.
//
// QUILLET_DIFF_SEED and QUILLET_DIFF_COUNT override the seed and the number
// of expressions compared, QUILLET_DIFF_CC the compiler (clang by default:
// gcc 12 with -fwrapv folds 5 - x / (a - b) into 5 + x / (b - a), which
// traps for x = INT_MIN, a - b = 1).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "CExprUtil.h"
#include "ProcessRunner.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr uint64_t kDefaultSeed = 20240611;
constexpr size_t kDefaultCount = 2000;

// Binary operators by precedence level, 1 binding tightest, as in C.
struct Operator {
    const char *text;
    int level;
};
const Operator kOperators[] = {
    {"*", 1}, {"/", 1}, {"%", 1}, {"+", 2}, {"-", 2}, {"<", 3}, {">", 3}, {"<=", 3}, {">=", 3},
    {"==", 4}, {"!=", 4}, {"&", 5}, {"^", 6}, {"|", 7}, {"&&", 8}, {"||", 9},
};

// What C's evaluation of an expression does: yields a value, or first
// divides by zero, or first computes INT_MIN / -1 (or % -1), on a path it
// evaluates.
struct Outcome {
    enum Kind { EValue, EZeroDivisor, EOverflow } kind;
    int32_t value;
};

int32_t Wrap(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

// left op right as C evaluates it: the right operand of && and || only
// when the left one does not decide.
Outcome Combine(const std::string &op, Outcome left, Outcome r)
{
    if (left.kind != Outcome::EValue)
        return left;
    if (op == "&&" && left.value == 0)
        return {Outcome::EValue, 0};
    if (op == "||" && left.value != 0)
        return {Outcome::EValue, 1};
    if (r.kind != Outcome::EValue)
        return r;
    const int64_t a = left.value, b = r.value;
    if ((op == "/" || op == "%") && b == 0)
        return {Outcome::EZeroDivisor, 0};
    if ((op == "/" || op == "%") && a == INT32_MIN && b == -1)
        return {Outcome::EOverflow, 0};
    const int64_t v = op == "*" ? a * b : op == "/" ? a / b : op == "%" ? a % b
                    : op == "+" ? a + b : op == "-" ? a - b : op == "<" ? a < b
                    : op == ">" ? a > b : op == "<=" ? a <= b : op == ">=" ? a >= b
                    : op == "==" ? a == b : op == "!=" ? a != b : op == "&" ? (a & b)
                    : op == "^" ? (a ^ b) : op == "|" ? (a | b) : op == "&&" ? b != 0 : b != 0;
    return {Outcome::EValue, Wrap(v)};
}

// One generated expression: its text for the library and for C, its
// precedence level (0 for an operand or a parenthesised group), and what C
// makes of it.
struct Expr {
    std::string text;
    std::string c;
    int level;
    Outcome outcome;
};

class Generator {
public:
    explicit Generator(uint64_t seed) : random_(seed) {}

    // A fresh expression with its own variables, 1 to 6 operator levels deep.
    Expr Next(VariableTable &table)
    {
        table.clear();
        for (uint16_t n = 0; n < kVariables; ++n)
            table[n] = Pick({INT32_MIN, INT32_MIN + 1, -1, 0, 1, 2, 7, INT32_MAX,
                             Wrap(static_cast<int64_t>(random_())), Wrap(Below(201) - 100)});
        return Make(table, 1 + static_cast<int>(Below(6)));
    }

private:
    static constexpr uint16_t kVariables = 6;

    int64_t Below(uint64_t n) { return static_cast<int64_t>(random_() % n); }
    int32_t Pick(std::initializer_list<int32_t> values) { return values.begin()[Below(values.size())]; }
    // Blanks around a token: none or one (the library skips them).
    std::pair<std::string, std::string> Blanks()
    {
        const int64_t r = Below(4);
        return {r & 1 ? " " : "", r & 2 ? " " : ""};
    }

    // Random extra parentheses, at any depth, around `e`.
    Expr Group(Expr e)
    {
        for (int i = Below(8) == 0 ? 1 + static_cast<int>(Below(3)) : 0; i > 0; --i) {
            const auto [before, after] = Blanks();
            e = {"(" + before + e.text + after + ")", "(" + e.c + ")", 0, e.outcome};
        }
        return e;
    }

    Expr Operand(const VariableTable &table)
    {
        if (Below(3) == 0) {
            const uint16_t n = static_cast<uint16_t>(Below(kVariables));
            // The same variable written with leading zeros, or as a number
            // whose low 16 bits name it.
            const int64_t shown = Below(6) == 0 ? n + 65536 * (1 + Below(3)) : n;
            const std::string zeros = Below(6) == 0 ? "00" : "";
            return {"{$" + zeros + std::to_string(shown) + "}", "v" + std::to_string(n), 0,
                    {Outcome::EValue, table.at(n)}};
        }
        const int32_t value = Below(2) ? static_cast<int32_t>(Below(10))
                                       : Pick({0, 1, 2, 65535, 65536, INT32_MAX - 1, INT32_MAX,
                                               static_cast<int32_t>(random_() >> 33)});
        return {std::to_string(value), std::to_string(value), 0, {Outcome::EValue, value}};
    }

    Expr Make(const VariableTable &table, int depth)
    {
        if (depth == 0 || Below(4) == 0)
            return Group(Operand(table));
        const Operator &op = kOperators[Below(std::size(kOperators))];
        Expr left = Make(table, depth - 1);
        Expr right = Make(table, depth - 1);
        // Parentheses where the tree needs them: a looser operand, or an
        // equal one on the right (every level groups from the left).
        if (left.level > op.level)
            left = {"(" + left.text + ")", "(" + left.c + ")", 0, left.outcome};
        if (right.level >= op.level)
            right = {"(" + right.text + ")", "(" + right.c + ")", 0, right.outcome};
        const auto [before, after] = Blanks();
        return Group({left.text + before + op.text + after + right.text,
                      left.c + " " + op.text + " " + right.c, op.level,
                      Combine(op.text, left.outcome, right.outcome)});
    }

    std::mt19937_64 random_;
};

std::string CLiteral(int32_t value)
{
    return value == INT32_MIN ? "(-2147483647 - 1)" : std::to_string(value);
}

uint64_t FromEnvironment(const char *name, uint64_t fallback)
{
    const char *text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

struct Case {
    std::string text;
    VariableTable table;
    int32_t value;  // the library's
};

TEST(Differential, AgreesWithTheHostCompiler)
{
    const uint64_t seed = FromEnvironment("QUILLET_DIFF_SEED", kDefaultSeed);
    const size_t count = FromEnvironment("QUILLET_DIFF_COUNT", kDefaultCount);
    const char *compiler = std::getenv("QUILLET_DIFF_CC");
    compiler = compiler != nullptr && *compiler != '\0' ? compiler : QUILLET_HOST_CC;
    std::printf("differential test: seed %llu (QUILLET_DIFF_SEED), %zu expressions, compiler %s\n",
                static_cast<unsigned long long>(seed), count, compiler);
    Generator generator(seed);
    std::vector<Case> cases;
    std::ostringstream program;
    program << "#include <stdio.h>\nint main(void)\n{\nsetvbuf(stdout, NULL, _IOLBF, 0);\n";
    size_t zeroDivisors = 0, overflows = 0;
    while (cases.size() < count) {
        VariableTable table;
        const Expr e = generator.Next(table);
        TokenList list;
        int32_t value = 0;
        const int verified = CExprUtil::VerifyExpression(list, e.text.c_str());
        const int evaluated = verified == 0 ? CExprUtil::EvaluatePostfix(list, table, value) : -1;
        TakeRecords();
        if (e.outcome.kind == Outcome::EOverflow) {
            ++overflows;
            continue;
        }
        if (e.outcome.kind == Outcome::EZeroDivisor) {
            // C would trap; the library must fail, not return a value.
            ++zeroDivisors;
            EXPECT_EQ(evaluated, 20014) << e.text << " (seed " << seed << ")";
            continue;
        }
        ASSERT_EQ(verified, 0) << e.text << " (seed " << seed << ")";
        cases.push_back({e.text, table, evaluated == 0 ? value : -1});
        EXPECT_EQ(evaluated, 0) << e.text << " (seed " << seed << ")";
        program << "{";
        for (const auto &[n, v] : table)
            program << " int v" << n << " = " << CLiteral(v) << ";";
        program << " printf(\"%d\\n\", " << e.c << "); }\n";
    }
    program << "return 0;\n}\n";

    char dir[] = "/tmp/quillet-differential-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string source = std::string(dir) + "/oracle.c", binary = std::string(dir) + "/oracle";
    std::ofstream(source) << program.str();
    const ProcessResult compiled =
        RunProcess({compiler, "-std=c11", "-O0", "-fwrapv", "-w", source, "-o", binary});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    const ProcessResult ran = RunProcess({binary});
    std::filesystem::remove_all(dir);

    std::istringstream values(ran.out);
    size_t compared = 0, mismatches = 0;
    for (const Case &c : cases) {
        int32_t expected = 0;
        ASSERT_TRUE(values >> expected) << "the C program stopped (status " << ran.status
                                        << ") at " << c.text << " (seed " << seed << ")";
        ++compared;
        if (c.value != expected && ++mismatches <= 20)
            ADD_FAILURE() << c.text << "\n  C: " << expected << "  library: " << c.value
                          << "  (seed " << seed << ")";
    }
    std::printf("differential test: %zu expressions compared, %zu mismatches; %zu dividing by "
                "zero failed in the library as they must; %zu left out (INT_MIN / -1)\n",
                compared, mismatches, zeroDivisors, overflows);
    EXPECT_EQ(compared, count);
}

}  // namespace
