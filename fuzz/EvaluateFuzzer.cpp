// Arbitrary token lists and variable tables into SubstituteVariables and
// EvaluatePostfix: a failure is 20014 with the result 0, and status and value
// are those of a tree-walking reference.
//
// Input: byte 0 holds the table size (low 3 bits) and the mode (bit 3), then
// 6 bytes per table entry: variable number (2), value (4). In text mode the
// rest is an expression, evaluated if it verifies; else it is a token list,
// per token a code byte (code = byte % 16 - 2, outside the valid codes too),
// a length byte (% 8) and the text.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "Arithmetic.h"
#include "CExprUtil.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds) \
    ((holds) ? void() : (std::fputs("invariant broken: " #holds "\n", stderr), std::abort()))

namespace {

// The list as a forest: each operator joins the two trees on top of the
// stack. Every tree left at the end is computed (values below the top are
// dropped, not skipped); the right operand of && and || only when the left
// one does not decide. No value where the library must fail.
std::optional<int32_t> Reference(const TokenList &list, const VariableTable &table)
{
    const auto number = [&list](size_t i) { return ReadInt32(list[i].strToken.c_str()); };
    std::vector<std::pair<size_t, size_t>> operands(list.size());  // of each operator
    std::vector<size_t> roots;
    for (size_t i = 0; i < list.size(); ++i) {
        const int32_t code = list[i].eTokenCode;
        if (code == EVariable && table.count(static_cast<uint16_t>(number(i))) == 0)
            return std::nullopt;
        if (IsBinaryOperator(code)) {
            if (roots.size() < 2)
                return std::nullopt;
            operands[i] = {roots[roots.size() - 2], roots.back()};
            roots.resize(roots.size() - 2);
        }
        roots.push_back(i);
    }
    const auto compute = [&](const auto &self, size_t i) -> std::optional<int32_t> {
        if (!IsBinaryOperator(list[i].eTokenCode))
            return list[i].eTokenCode == EVariable ? table.at(static_cast<uint16_t>(number(i)))
                                                   : number(i);
        const BinaryOp op = OperatorOf(list[i]);
        const std::optional<int32_t> left = self(self, operands[i].first);
        if (!left || !NeedsRightOperand(op, *left))
            return left ? std::optional<int32_t>(op == BinaryOp::ELogicOr) : std::nullopt;
        const std::optional<int32_t> right = self(self, operands[i].second);
        int32_t value = 0;
        return right && Apply(op, *left, *right, value) ? std::optional(value) : std::nullopt;
    };
    std::optional<int32_t> value;
    for (const size_t root : roots)
        if (!(value = compute(compute, root)))
            return std::nullopt;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const int head = size > 0 ? data[0] : 0;
    size_t at = 1;
    VariableTable table;
    for (int n = head & 7; n > 0 && at + 6 <= size; --n, at += 6) {
        int32_t value;
        std::memcpy(&value, data + at + 2, sizeof value);
        table[static_cast<uint16_t>(data[at] | data[at + 1] << 8)] = value;
    }
    TokenList list;
    if (head & 8) {
        if (CExprUtil::VerifyExpression(list, std::string(bytes + at, bytes + size).c_str()) != 0)
            return 0;
    } else {
        for (size_t length; at + 1 < size; at += 2 + length) {
            length = std::min<size_t>(data[at + 1] % 8, size - at - 2);
            list.emplace_back(bytes + at + 2, length, data[at] % 16 - 2);
        }
    }

    TokenList substituted = list, evaluated = list;
    const int substitution = CExprUtil::SubstituteVariables(substituted, table);
    int32_t result = 12345;
    const int status = CExprUtil::EvaluatePostfix(evaluated, table, result);
    REQUIRE(substitution == 0 || substitution == 20014);
    REQUIRE(status == 0 || (status == 20014 && result == 0));
    // Deeper trees would make the recursive reference the thing that breaks.
    if (list.size() > 4096)
        return 0;
    const std::optional<int32_t> expected = Reference(list, table);
    REQUIRE(status == (expected ? 0 : 20014) && result == expected.value_or(0));
    return 0;
}
