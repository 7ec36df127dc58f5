#include "CCompiledExpr.h"

#include <algorithm>

#include "CompiledNodes.h"
#include "Evaluation.h"
#include "TokenOperators.h"
#include "TreeBuilder.h"

namespace fernvault::alarm_manager {

namespace {
using compiled::Node;
using evaluation::Failure;
using evaluation::PostfixEntry;
using evaluation::RecordFailure;
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
            entries.push_back(PostfixEntry::Operator(OperatorOf(token)));
        } else if (token.eTokenCode != EVariable) {
            entries.push_back(PostfixEntry::Value(ReadInt32(token.strToken.c_str())));
        } else {
            const auto slot = static_cast<uint32_t>(
                std::lower_bound(variables_.begin(), variables_.end(), VariableNumber(token.strToken)) -
                variables_.begin());
            if (!named[slot]) {
                named[slot] = true;
                slotsInListOrder_.push_back(slot);
                slotTexts_[slot] = token.strToken;
            }
            entries.push_back(PostfixEntry::Slot(slot));
        }
    }
    if (!CompileTree(entries))
        entries_ = std::move(entries);
}

// The nodes point at one another and the root at one of them: a copy's
// point at its own.
CCompiledExpr::CCompiledExpr(const CCompiledExpr &other)
    : variables_(other.variables_)
    , slotTexts_(other.slotTexts_)
    , slotsInListOrder_(other.slotsInListOrder_)
    , nodes_(other.nodes_)
    , steps_(other.steps_)
    , slots_(other.slots_)
    , columns_(other.columns_)
    , rootValues_(other.rootValues_)
    , entries_(other.entries_)
{
    const auto own = [this, &other](const Node *node) {
        return node == nullptr ? nullptr : nodes_.data() + (node - other.nodes_.data());
    };
    for (Node &node : nodes_)
        for (const Node *&operand : node.nodes)
            operand = own(operand);
    root_ = own(other.root_);
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

// Builds the tree of a well-formed list; false for any other list.
bool CCompiledExpr::CompileTree(const std::vector<PostfixEntry> &entries)
{
    compiled::Tree tree;
    if (!compiled::BuildTree(entries, tree))
        return false;
    nodes_ = std::move(tree.nodes);
    steps_ = std::move(tree.steps);
    slots_ = tree.slots;
    columns_ = !tree.canFail;
    root_ = steps_.empty() ? &nodes_.back() : nullptr;
    rootValues_ = root_ != nullptr ? variables_.size() : SIZE_MAX;
    return true;
}

// The evaluation with the slots' values in `slots`.
int CCompiledExpr::EvaluateSlots(const int32_t *slots, int32_t &result) const
{
    if (root_ != nullptr)
        return root_->evaluate(*root_, slots, result);
    result = 0;
    return nodes_.empty() ? RunOnStack(slots, result) : RunSegments(slots, result);
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

int CCompiledExpr::RunOnStack(const int32_t *slots, int32_t &result) const
{
    if (entries_.empty())
        return RecordFailure(Failure::EEmptyList);
    return RecordFailure(
        evaluation::RunWithStack(evaluation::CEntryProgram(entries_.data(), entries_.size(), slots), result));
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> slots(local, variables_.size());
    if (!ReadTable(table, slots.Data())) {
        result = 0;
        return MissingVariable(0, &table);
    }
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
    using compiled::kLanes;
    compiled::Block block{std::vector<compiled::Column>(slots_ + nodes_.size()), variables_.size()};
    const compiled::Column &values = block.columns[nodes_.back().out];
    for (size_t done = 0; done < count; done += kLanes) {
        const size_t lanes = std::min(kLanes, count - done);
        compiled::Gather(rows + done * stride, stride, lanes, block);
        for (const Node &node : nodes_)
            node.column(node, block);
        std::copy_n(values.begin(), lanes, results + done);
    }
}

}  // namespace fernvault::alarm_manager
