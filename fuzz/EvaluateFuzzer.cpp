// Arbitrary token lists and variable tables into SubstituteVariables and
// EvaluatePostfix, checked against a tree-walking reference evaluator.
//
// Input: byte 0 holds the table size (low 3 bits) and the mode (bit 3); then
// per table entry 2 bytes of variable number and 4 of value. In text mode
// the rest is an expression, verified and, when valid, evaluated. Otherwise
// the rest is a token list: per token a code byte (code = byte % 16 - 2, so
// codes outside the valid range occur too), a length byte (% 8) and the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "Arithmetic.h"
#include "CExprUtil.h"
#include "SilentLog.h"

using namespace fernvault::alarm_manager;

namespace {

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ == size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <typename T>
    T Value()
    {
        T value{};
        const size_t n = std::min(sizeof value, size_ - at_);
        std::memcpy(&value, data_ + at_, n);
        at_ += n;
        return value;
    }
    std::string Text(size_t length)
    {
        length = std::min(length, size_ - at_);
        std::string text(reinterpret_cast<const char *>(data_ + at_), length);
        at_ += length;
        return text;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

// The list as a forest: each operator joins the two trees on top of the
// stack. Every tree left at the end is computed (values below the top are
// dropped, not skipped); the right operand of && and || only when the left
// one does not decide. No value where C-like evaluation has no value.
class Reference {
public:
    std::optional<int32_t> Evaluate(TokenList list, const VariableTable &table)
    {
        if (list.empty())
            return std::nullopt;
        for (ExprToken &token : list) {
            if (token.eTokenCode != EVariable)
                continue;
            const auto entry = table.find(static_cast<uint16_t>(ReadInt32(token.strToken.c_str())));
            if (entry == table.end())
                return std::nullopt;
            token.strToken = std::to_string(entry->second);
        }
        std::vector<size_t> roots;
        for (const ExprToken &token : list) {
            Node node{ReadInt32(token.strToken.c_str()), BinaryOp::EMul, 0, 0};
            if (IsBinaryOperator(token.eTokenCode)) {
                if (roots.size() < 2)
                    return std::nullopt;
                node = {0, OperatorOf(token), roots[roots.size() - 2], roots.back()};
                roots.resize(roots.size() - 2);
            }
            nodes_.push_back(node);
            roots.push_back(nodes_.size());
        }
        std::optional<int32_t> value;
        for (const size_t root : roots)
            if (!(value = Compute(root)))
                return std::nullopt;
        return value;
    }

private:
    struct Node {
        int32_t value;
        BinaryOp op;
        size_t left, right;  // 1-based; 0 for an operand
    };

    std::optional<int32_t> Compute(size_t id) const
    {
        const Node &node = nodes_[id - 1];
        if (node.left == 0)
            return node.value;
        const std::optional<int32_t> left = Compute(node.left);
        if (!left)
            return std::nullopt;
        if (!NeedsRightOperand(node.op, *left))
            return node.op == BinaryOp::ELogicOr;
        const std::optional<int32_t> right = Compute(node.right);
        int32_t value = 0;
        if (!right || !Apply(node.op, *left, *right, value))
            return std::nullopt;
        return value;
    }

    std::vector<Node> nodes_;
};

void Check(const TokenList &list, const VariableTable &table)
{
    TokenList substituted = list;
    const int status = CExprUtil::SubstituteVariables(substituted, table);
    LogCounts logged = TakeLogCounts();
    Require(status == 0 || status == 20014, "substitution status");
    Require(logged.errors == (status != 0) && logged.traces == 0, "a missing variable logged once");

    TokenList evaluated = list;
    int32_t result = 12345;
    const int evaluatedStatus = CExprUtil::EvaluatePostfix(evaluated, table, result);
    logged = TakeLogCounts();
    Require(evaluatedStatus == 0 || evaluatedStatus == 20014, "evaluation status");
    Require(evaluatedStatus == 0 || result == 0, "a failure leaves the result 0");
    Require(logged.errors == (evaluatedStatus != 0) && logged.traces == 0,
            "a failure logged once, success not at all");

    // Deep trees would make the recursive reference the thing that breaks.
    if (list.size() > 4096)
        return;
    const std::optional<int32_t> expected = Reference().Evaluate(list, table);
    Require(evaluatedStatus == (expected ? 0 : 20014), "status as the reference");
    Require(result == expected.value_or(0), "value as the reference");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    const uint8_t head = input.Byte();
    VariableTable table;
    for (int i = head & 7; i > 0; --i) {
        const uint16_t number = input.Value<uint16_t>();
        table[number] = input.Value<int32_t>();
    }
    TokenList list;
    if (head & 8) {
        const std::string text = input.Text(size);
        const int verified = CExprUtil::VerifyExpression(list, text.c_str());
        TakeLogCounts();
        if (verified != 0)
            return 0;
    } else {
        while (!input.Empty()) {
            const int32_t code = input.Byte() % 16 - 2;
            list.emplace_back(input.Text(input.Byte() % 8), code);
        }
    }
    Check(list, table);
    return 0;
}
