#include "CCompiledExpr.h"

#include <algorithm>

#include "CompiledNodes.h"
#include "Evaluation.h"
#include "TokenOperators.h"
#include "TreeBuilder.h"

namespace fernvault::alarm_manager {

namespace {
using compiled::Block;
using compiled::kLanes;
using compiled::Node;

template <size_t kStride> void GatherRows(const int32_t *rows, Block &block)
{
    for (size_t lane = 0; lane < kLanes; ++lane)
        for (size_t slot = 0; slot < kStride; ++slot)
            block.columns[slot][lane] = rows[lane * kStride + slot];
}

// Copies the first block.slots values of `lanes` rows of `stride` values
// into the slots' columns.
void Gather(const int32_t *rows, size_t stride, size_t lanes, Block &block)
{
    // A whole block of a stride the compiler knows copies by vector shuffles.
    switch (stride == block.slots && lanes == kLanes ? stride : 0) {
    case 1: GatherRows<1>(rows, block); return;
    case 2: GatherRows<2>(rows, block); return;
    case 3: GatherRows<3>(rows, block); return;
    case 4: GatherRows<4>(rows, block); return;
    default: break;
    }
    for (size_t slot = 0; slot < block.slots; ++slot)
        for (size_t lane = 0; lane < lanes; ++lane)
            block.columns[slot][lane] = rows[lane * stride + slot];
}
}  // namespace

CCompiledExpr::CCompiledExpr(const TokenList &postfix)
    : postfix_(postfix)
{
    for (const ExprToken &token : postfix)
        if (token.eTokenCode == EVariable)
            variables_.push_back(VariableNumber(token.strToken));
    std::sort(variables_.begin(), variables_.end());
    variables_.erase(std::unique(variables_.begin(), variables_.end()), variables_.end());
    compiled::Tree tree;
    if (!compiled::BuildTree(postfix, variables_, tree))
        return;  // not one expression: run as EvaluatePostfix runs it
    nodes_ = std::move(tree.nodes);
    steps_ = std::move(tree.steps);
    slots_ = tree.slots;
    columns_ = !tree.canFail;
    root_ = steps_.empty() ? &nodes_.back() : nullptr;
    rootValues_ = root_ != nullptr ? variables_.size() : SIZE_MAX;
}

// The nodes point at one another: a copy compiles the list again, for
// nodes of its own.
CCompiledExpr::CCompiledExpr(const CCompiledExpr &other)
    : CCompiledExpr(other.postfix_)
{
}

CCompiledExpr &CCompiledExpr::operator=(const CCompiledExpr &other)
{
    if (this != &other)
        *this = CCompiledExpr(other);
    return *this;
}

CCompiledExpr::CCompiledExpr(CCompiledExpr &&other) noexcept = default;
CCompiledExpr &CCompiledExpr::operator=(CCompiledExpr &&other) noexcept = default;
CCompiledExpr::~CCompiledExpr() = default;

// The evaluation with the slots' values in `slots`.
int CCompiledExpr::EvaluateSlots(const int32_t *slots, int32_t &result) const
{
    if (root_ != nullptr)
        return root_->evaluate(*root_, slots, result);
    return nodes_.empty() ? RunPostfix(slots, variables_.size(), result) : RunSegments(slots, result);
}

// A tree cut into segments: its steps, then its root, over a copy of the
// slots with room for the segments' values.
int CCompiledExpr::RunSegments(const int32_t *slots, int32_t &result) const
{
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> values(local, slots_);
    std::copy_n(slots, variables_.size(), values.Data());
    return compiled::EvaluateCut(nodes_, steps_, values.Data(), result);
}

// EvaluatePostfix on a copy of the list: a list that is no tree runs so,
// and a table that lacks a variable fails so, with its record.
int CCompiledExpr::RunPostfix(const VariableTable &table, int32_t &result) const
{
    TokenList list = postfix_;
    return CExprUtil::EvaluatePostfix(list, table, result);
}

// RunPostfix over the first `count` slots; out of line, so that the table
// never weighs on the frames of the evaluations by slots.
int CCompiledExpr::RunPostfix(const int32_t *slots, size_t count, int32_t &result) const
{
    VariableTable table;
    for (size_t slot = 0; slot < count; ++slot)
        table.emplace(variables_[slot], slots[slot]);
    return RunPostfix(table, result);
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> slots(local, variables_.size());
    if (!ReadTable(table, slots.Data()))
        return RunPostfix(table, result);
    return EvaluateSlots(slots.Data(), result);
}

// Writes each slot's value from `table` into `slots`; false if it lacks one.
bool CCompiledExpr::ReadTable(const VariableTable &table, int32_t *slots) const
{
    // Both are ascending: the entry after one slot's is often the next slot's,
    // and looked for only if there is a next slot.
    const auto end = table.end();
    auto entry = table.begin();
    for (size_t slot = 0; slot < variables_.size(); ++slot) {
        if (slot != 0 && entry != end)
            ++entry;
        if (entry == end || entry->first != variables_[slot]) {
            entry = table.find(variables_[slot]);
            if (entry == end)
                return false;
        }
        slots[slot] = entry->second;
    }
    return true;
}

int CCompiledExpr::Evaluate(const int32_t *values, size_t count, int32_t &result) const
{
    if (count >= rootValues_)
        return root_->evaluate(*root_, values, result);
    if (count < variables_.size())
        return RunPostfix(values, count, result);
    return EvaluateSlots(values, result);
}

int CCompiledExpr::EvaluateRows(
    const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const
{
    if (columns_ && stride >= variables_.size()) {
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
    Block block{std::vector<compiled::Column>(slots_ + nodes_.size()), variables_.size()};
    const compiled::Column &values = block.columns[nodes_.back().out];
    for (size_t done = 0; done < count; done += kLanes) {
        const size_t lanes = std::min(kLanes, count - done);
        Gather(rows + done * stride, stride, lanes, block);
        for (const Node &node : nodes_)
            node.column(node, block);
        std::copy_n(values.begin(), lanes, results + done);
    }
}

}  // namespace fernvault::alarm_manager
