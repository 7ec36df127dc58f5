#include "CCompiledExpr.h"

#include <algorithm>

#include "CompiledNodes.h"
#include "Evaluation.h"
#include "FailureRecord.h"

namespace fernvault::alarm_manager {

namespace {
using compiled::Kind;
using compiled::Node;
using evaluation::Failure;
using evaluation::PostfixEntry;
using evaluation::RecordFailure;

// Rows a column at a time pay where a lane loop runs in vector registers;
// without them (the 32-bit ARM baseline has no NEON) a row through the tree
// costs less than a row of every column.
#if defined(__SSE2__) || defined(__ARM_NEON)
constexpr bool kColumns = true;
#else
constexpr bool kColumns = false;
#endif

// Computing a node calls its operand nodes, so a tree higher than this runs
// on the stack engine instead: the call stack stays small at any depth.
constexpr uint32_t kMaxHeight = 100;

// A value while the tree is built: what it is, how high its tree is, and
// whether computing it may divide by zero.
struct Pending {
    Kind kind;
    int32_t constant;  // an EConstant's, or the constant a test compares with
    uint32_t index;    // the slot of an ESlot or ESlotTest, the node of an ENode or ENodeTest
    uint32_t height;
    bool canFail;
    BinaryOp comparison;    // a test's
    bool constantLeft;      // whether a test's constant is its comparison's left operand
    compiled::Range range;  // where a test holds
};

Pending Constant(int32_t value)
{
    return {Kind::EConstant, value, 0, 0, false, BinaryOp::EMul, false, {}};
}

bool IsTest(Kind kind)
{
    return kind == Kind::ESlotTest || kind == Kind::ENodeTest;
}

bool Divides(BinaryOp op)
{
    return op == BinaryOp::EDiv || op == BinaryOp::EMod;
}

// The node for left op right, appended to `nodes`, which has room for it.
Pending AddNode(BinaryOp op, const Pending &left, const Pending &right, std::vector<Node> &nodes)
{
    Node node{};
    Kind rightKind = right.kind;
    if (Divides(op) && right.kind == Kind::EConstant && Magnitude(right.constant) >= 2) {
        rightKind = Kind::EDivisor;
        node.divisor = MagicFor(Magnitude(right.constant));
    }
    const std::array<const Pending *, 2> sides = {&left, &right};
    for (size_t side = 0; side < 2; ++side) {
        const Pending &operand = *sides[side];
        node.slots[side] = operand.index;
        node.constants[side] = operand.constant;
        const bool isNode = operand.kind == Kind::ENode || operand.kind == Kind::ENodeTest;
        node.nodes[side] = isNode ? &nodes[operand.index] : nullptr;
        node.ranges[side] = operand.range;
    }
    compiled::Specialise(node, op, left.kind, rightKind);
    nodes.push_back(node);
    const bool zeroPossible = !(right.kind == Kind::EConstant && right.constant != 0);
    return {Kind::ENode, 0, static_cast<uint32_t>(nodes.size() - 1), 1 + std::max(left.height, right.height),
        left.canFail || right.canFail || (Divides(op) && zeroPossible), BinaryOp::EMul, false, {}};
}

// A test as a node of its own, for an operator that cannot fuse it.
Pending Materialise(const Pending &value, std::vector<Node> &nodes)
{
    if (!IsTest(value.kind))
        return value;
    Pending operand = value;
    operand.kind = value.kind == Kind::ESlotTest ? Kind::ESlot : Kind::ENode;
    const Pending constant = Constant(value.constant);
    return value.constantLeft ? AddNode(value.comparison, constant, operand, nodes)
                              : AddNode(value.comparison, operand, constant, nodes);
}

// left op right: a constant where constants decide it, keeping a division
// by zero that may run as a node; a comparison with a constant as a test,
// which && and || fuse; else a node.
Pending Join(BinaryOp op, const Pending &left, const Pending &right, std::vector<Node> &nodes)
{
    if (left.kind == Kind::EConstant) {
        if (!NeedsRightOperand(op, left.constant))
            return Constant(ShortCircuitValue(op));
        int32_t value = 0;
        if (right.kind == Kind::EConstant && Apply(op, left.constant, right.constant, value))
            return Constant(value);
    }
    if (MayShortCircuit(op))
        return AddNode(op, left, right, nodes);
    const Pending l = Materialise(left, nodes);
    const Pending r = Materialise(right, nodes);
    if (IsComparison(op) && (l.kind == Kind::EConstant) != (r.kind == Kind::EConstant)) {
        const bool constantLeft = l.kind == Kind::EConstant;
        const int32_t constant = constantLeft ? l.constant : r.constant;
        const auto range = compiled::RangeOf(constant, [&](int32_t value) {
            int32_t holds = 0;
            Apply(op, constantLeft ? constant : value, constantLeft ? value : constant, holds);
            return holds != 0;
        });
        if (range) {
            Pending test = constantLeft ? r : l;
            test.kind = test.kind == Kind::ESlot ? Kind::ESlotTest : Kind::ENodeTest;
            test.constant = constant;
            test.comparison = op;
            test.constantLeft = constantLeft;
            test.range = *range;
            return test;
        }
    }
    return AddNode(op, l, r, nodes);
}

}  // namespace

CCompiledExpr::CCompiledExpr(const TokenList &postfix)
{
    for (const ExprToken &token : postfix)
        if (token.eTokenCode == EVariable)
            variables_.push_back(VariableNumber(token.strToken));
    std::sort(variables_.begin(), variables_.end());
    variables_.erase(std::unique(variables_.begin(), variables_.end()), variables_.end());
    slotTexts_.resize(variables_.size());
    std::vector<bool> named(variables_.size(), false);

    std::vector<PostfixEntry> entries;
    entries.reserve(postfix.size());
    for (const ExprToken &token : postfix) {
        if (IsBinaryOperator(token.eTokenCode)) {
            entries.push_back(PostfixEntry{0, OperatorOf(token), true, false});
        } else if (token.eTokenCode != EVariable) {
            entries.push_back(PostfixEntry{ReadInt32(token.strToken.c_str()), BinaryOp::EMul, false, false});
        } else {
            const auto slot = static_cast<uint32_t>(
                std::lower_bound(variables_.begin(), variables_.end(), VariableNumber(token.strToken)) -
                variables_.begin());
            if (!named[slot]) {
                named[slot] = true;
                slotsInListOrder_.push_back(slot);
                slotTexts_[slot] = token.strToken;
            }
            entries.push_back(PostfixEntry{static_cast<int32_t>(slot), BinaryOp::EMul, false, true});
        }
    }
    if (!CompileTree(entries)) {
        nodes_.clear();
        nodes_.shrink_to_fit();
        entries_ = std::move(entries);
    }
}

CCompiledExpr::CCompiledExpr(CCompiledExpr &&other) noexcept = default;
CCompiledExpr &CCompiledExpr::operator=(CCompiledExpr &&other) noexcept = default;
CCompiledExpr::~CCompiledExpr() = default;

// Builds the tree of a well-formed list no higher than kMaxHeight; false
// for any other list.
bool CCompiledExpr::CompileTree(const std::vector<PostfixEntry> &entries)
{
    // Nodes point at one another: no reallocation. Each operator makes at
    // most two (a test it cannot fuse, and its own), the root one more.
    nodes_.reserve(2 * entries.size() + 1);
    std::vector<Pending> stack;
    for (const PostfixEntry &entry : entries) {
        if (!entry.isOperator) {
            stack.push_back(entry.isVariable ? Pending{Kind::ESlot, 0, static_cast<uint32_t>(entry.value), 0,
                                                   false, BinaryOp::EMul, false, {}}
                                             : Constant(entry.value));
            continue;
        }
        if (stack.size() < 2)
            return false;
        const Pending right = stack.back();
        stack.pop_back();
        stack.back() = Join(entry.op, stack.back(), right, nodes_);
        if (stack.back().height > kMaxHeight)
            return false;
    }
    if (stack.size() != 1)
        return false;
    // A root that is no node becomes one: x | 0 is x.
    const Pending value = Materialise(stack.back(), nodes_);
    const Pending root =
        value.kind == Kind::ENode ? value : AddNode(BinaryOp::EBitOr, value, Constant(0), nodes_);
    root_ = &nodes_[root.index];
    infallibleRoot_ = root.canFail ? nullptr : root_;
    return true;
}

// The evaluation with the slots' values in `slots`.
int CCompiledExpr::EvaluateSlots(const int32_t *slots, int32_t &result) const
{
    result = 0;
    if (root_ == nullptr)
        return RunOnStack(slots, result);
    bool failed = false;
    const int32_t value = root_->row(*root_, slots, &failed);
    if (failed)
        return RecordFailure(Failure::EDenominator);
    result = value;
    return 0;
}

int CCompiledExpr::RunOnStack(const int32_t *slots, int32_t &result) const
{
    if (entries_.empty())
        return RecordFailure(Failure::EEmptyList);
    return RecordFailure(
        evaluation::RunWithStack(evaluation::CEntryProgram(entries_.data(), entries_.size(), slots), result));
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    result = 0;
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> slots(local, variables_.size());
    // Both are ascending: the entry after one slot's is often the next slot's.
    auto entry = table.begin();
    for (size_t slot = 0; slot < variables_.size(); ++slot) {
        if (entry == table.end() || entry->first != variables_[slot])
            entry = table.find(variables_[slot]);
        if (entry == table.end())
            return MissingVariable(0, &table);
        slots.Data()[slot] = entry->second;
        ++entry;
    }
    return EvaluateSlots(slots.Data(), result);
}

int CCompiledExpr::Evaluate(const int32_t *values, size_t count, int32_t &result) const
{
    if (infallibleRoot_ != nullptr && count >= variables_.size())
        return infallibleRoot_->evaluate(*infallibleRoot_, values, result);
    if (count < variables_.size()) {
        result = 0;
        return MissingVariable(count, nullptr);
    }
    return EvaluateSlots(values, result);
}

// The record of the first variable in list order that the slots (the first
// `count`) or `table` lack.
int CCompiledExpr::MissingVariable(size_t count, const VariableTable *table) const
{
    for (const uint32_t slot : slotsInListOrder_)
        if (table != nullptr ? table->find(variables_[slot]) == table->end() : slot >= count)
            return RecordFailure(Failure::EMissingVariable, slotTexts_[slot].c_str());
    return RecordFailure(Failure::EMissingVariable, "");
}

int CCompiledExpr::EvaluateRows(
    const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const
{
    if (kColumns && infallibleRoot_ != nullptr && stride >= variables_.size()) {
        EvaluateColumns(rows, stride, count, results);
        std::fill_n(statuses, count, 0);
        return 0;
    }
    int status = 0;
    for (size_t row = 0; row < count; ++row) {
        statuses[row] = Evaluate(stride != 0 ? rows + row * stride : rows, stride, results[row]);
        status = status != 0 ? status : statuses[row];
    }
    return status;
}

// The rows of a tree that cannot fail, compiled kLanes at a time: each
// node's column from its operands' columns, in postfix order.
void CCompiledExpr::EvaluateColumns(const int32_t *rows, size_t stride, size_t count, int32_t *results) const
{
    using compiled::kLanes;
    compiled::Block block{
        std::vector<compiled::Column>(variables_.size() + nodes_.size()), nodes_.data(), variables_.size()};
    const compiled::Column &values =
        block.columns[variables_.size() + static_cast<size_t>(root_ - nodes_.data())];
    for (size_t done = 0; done < count; done += kLanes) {
        const size_t lanes = std::min(kLanes, count - done);
        compiled::Gather(rows + done * stride, stride, lanes, block);
        for (const Node &node : nodes_)
            node.column(node, block);
        std::copy_n(values.begin(), lanes, results + done);
    }
}

}  // namespace fernvault::alarm_manager
