// The nodes of a compiled expression tree and the functions that compute
// them. Each node is one operator whose operands' kinds were decided when it
// was compiled; its functions are generated, one for each operator and pair
// of kinds, from Apply (Arithmetic.h), so that every route computes alike:
// - Row computes one row, calling the node's operand nodes; it recurses as
//   deep as the tree is high, which the compiler bounds.
// - Column computes a block of kLanes rows into the node's column, reading
//   its operands' columns, which the nodes before it in postfix order wrote.
//   It computes both operands of && and ||, so it serves only trees in which
//   no node can fail.
#ifndef QUILLET_EXPR_COMPILEDNODES_H
#define QUILLET_EXPR_COMPILEDNODES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "Arithmetic.h"

namespace fernvault::alarm_manager::compiled {

// Where an operand comes from: a slot (a variable's value), a constant, a
// constant divisor of magnitude 2 or more (divided by DivisionMagic), another
// node, or, for && and || only, a slot's or a node's value compared with a
// constant, the comparison fused into the operator that consumes it.
enum class Kind : uint8_t { ESlot, EConstant, EDivisor, ENode, ESlotTest, ENodeTest };

// Whether `kind` is a comparison fused into the && or || that takes it.
constexpr bool IsTest(Kind kind)
{
    return kind == Kind::ESlotTest || kind == Kind::ENodeTest;
}

// A comparison with a constant as the values it holds for: v with
// v - low <= span, wrapping around, so an interval or all but one interval.
struct Range {
    int32_t low;
    uint32_t span;
};

inline int32_t Holds(const Range &range, int32_t value)
{
    return Truth(static_cast<uint32_t>(value) - static_cast<uint32_t>(range.low) <= range.span);
}

// The values `range` does not hold for; none if it holds for every value.
inline std::optional<Range> Complement(const Range &range)
{
    if (range.span == UINT32_MAX)
        return std::nullopt;
    return Range{Wrap(static_cast<uint32_t>(range.low) + range.span + 1U), UINT32_MAX - range.span - 1U};
}

// Where compare(v), a comparison of v with the constant c (on either side),
// holds; none where it holds for no value. The values on c's side of the
// comparison (those for which it gives what it gives at c) run from c, or
// from the least value, to c, or to the greatest: the other side is the rest.
template <typename Compare> std::optional<Range> RangeOf(int32_t c, Compare compare)
{
    constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();
    constexpr int32_t kGreatest = std::numeric_limits<int32_t>::max();
    const bool atC = compare(c);
    const int32_t low = compare(kLeast) == atC ? kLeast : c;
    const int32_t high = compare(kGreatest) == atC ? kGreatest : c;
    const Range side{low, static_cast<uint32_t>(high) - static_cast<uint32_t>(low)};
    return atC ? side : Complement(side);
}

constexpr size_t kLanes = 64;
using Column = std::array<int32_t, kLanes>;

struct Node;

// A block of kLanes rows: a column for each slot, then one for each node.
struct Block {
    std::vector<Column> columns;
    const Node *firstNode;  // the node whose column follows the slots'
    size_t slots;
};

struct Node {
    // One row with the slots' values in `slots`; sets *failed on a division
    // by zero, and returns a value all the same. `failed` may be null for a
    // tree in which no node can fail: no node then writes it.
    int32_t (*row)(const Node &node, const int32_t *slots, bool *failed);
    // The whole evaluation, result and status, of a tree that this node is
    // the root of and in which no node can fail.
    int (*evaluate)(const Node &node, const int32_t *slots, int32_t &result);
    // The node's column of `block`.
    void (*column)(const Node &node, Block &block);
    std::array<const Node *, 2> nodes;  // ENode operands, left and right
    std::array<uint32_t, 2> slots;      // ESlot operands
    std::array<int32_t, 2> constants;   // EConstant and EDivisor operands
    std::array<Range, 2> ranges;        // ESlotTest and ENodeTest operands' comparisons
    DivisionMagic divisor;              // an EDivisor operand's
};

namespace detail {

template <Kind kind> int32_t RowOperand(const Node &node, size_t side, const int32_t *slots, bool *failed)
{
    if constexpr (kind == Kind::ESlot)
        return slots[node.slots[side]];
    else if constexpr (kind == Kind::ENode)
        return node.nodes[side]->row(*node.nodes[side], slots, failed);
    else if constexpr (kind == Kind::ESlotTest)
        return Holds(node.ranges[side], slots[node.slots[side]]);
    else if constexpr (kind == Kind::ENodeTest)
        return Holds(node.ranges[side], node.nodes[side]->row(*node.nodes[side], slots, failed));
    else
        return node.constants[side];
}

// left op right, the right operand of kind `kind`; a zero divisor sets
// *failed.
template <BinaryOp op, Kind kind> int32_t Compute(const Node &node, int32_t left, int32_t right, bool *failed)
{
    if constexpr (kind == Kind::EDivisor) {
        return op == BinaryOp::EDiv ? DivideByConstant(left, right, node.divisor)
                                    : RemainderByConstant(left, right, node.divisor);
    } else {
        int32_t value = 0;
        if (!Apply(op, left, right, value))
            *failed = true;
        return value;
    }
}

template <BinaryOp op, Kind left, Kind right>
int32_t Row(const Node &node, const int32_t *slots, bool *failed)
{
    const int32_t leftValue = RowOperand<left>(node, 0, slots, failed);
    if constexpr (MayShortCircuit(op))
        if (!NeedsRightOperand(op, leftValue))
            return ShortCircuitValue(op);
    return Compute<op, right>(node, leftValue, RowOperand<right>(node, 1, slots, failed), failed);
}

template <BinaryOp op, Kind left, Kind right>
int Evaluate(const Node &node, const int32_t *slots, int32_t &result)
{
    result = Row<op, left, right>(node, slots, nullptr);
    return 0;
}

// An operand's lanes: a column of the block, or one value in every lane.
template <Kind kind> class CLanes {
public:
    CLanes(const Node &node, size_t side, const Block &block)
        : range_(node.ranges[side])
    {
        if constexpr (kind == Kind::ESlot || kind == Kind::ESlotTest)
            column_ = &block.columns[node.slots[side]];
        else if constexpr (kind == Kind::ENode || kind == Kind::ENodeTest)
            column_ = &block.columns[block.slots + static_cast<size_t>(node.nodes[side] - block.firstNode)];
        else
            value_ = node.constants[side];
    }
    [[nodiscard]] int32_t operator[](size_t lane) const
    {
        if constexpr (kind == Kind::ESlot || kind == Kind::ENode)
            return (*column_)[lane];
        else if constexpr (kind == Kind::ESlotTest || kind == Kind::ENodeTest)
            return Holds(range_, (*column_)[lane]);
        else
            return value_;
    }

private:
    const Column *column_ = nullptr;
    int32_t value_ = 0;
    Range range_;
};

template <BinaryOp op, Kind left, Kind right> void ColumnOf(const Node &node, Block &block)
{
    const CLanes<left> a(node, 0, block);
    const CLanes<right> b(node, 1, block);
    Column &out = block.columns[block.slots + static_cast<size_t>(&node - block.firstNode)];
    // No node that the root needs can fail; one that constants left behind
    // unneeded may, and is computed all the same.
    bool unneeded = false;
    const Node local = node;  // read in the loop, where `out` could be it for all the compiler knows
    for (size_t lane = 0; lane < kLanes; ++lane) {
        const int32_t leftValue = a[lane];  // both read first: && and || then vectorise
        const int32_t rightValue = b[lane];
        out[lane] = Compute<op, right>(local, leftValue, rightValue, &unneeded);
    }
}

template <size_t kStride> void GatherRows(const int32_t *rows, Block &block)
{
    for (size_t lane = 0; lane < kLanes; ++lane)
        for (size_t slot = 0; slot < kStride; ++slot)
            block.columns[slot][lane] = rows[lane * kStride + slot];
}

template <Kind kind> using KindConstant = std::integral_constant<Kind, kind>;

// Calls f(KindConstant<kind>) for the runtime `kind`.
template <typename F> void WithKind(Kind kind, F f)
{
    switch (kind) {
    case Kind::ESlot: f(KindConstant<Kind::ESlot>{}); break;
    case Kind::EConstant: f(KindConstant<Kind::EConstant>{}); break;
    case Kind::EDivisor: f(KindConstant<Kind::EDivisor>{}); break;
    case Kind::ENode: f(KindConstant<Kind::ENode>{}); break;
    case Kind::ESlotTest: f(KindConstant<Kind::ESlotTest>{}); break;
    default: f(KindConstant<Kind::ENodeTest>{}); break;
    }
}

// Calls f(std::integral_constant<BinaryOp, op>) for the runtime `op`.
template <typename F> void WithOperator(BinaryOp op, F f)
{
    using B = BinaryOp;
    switch (op) {
    case B::EMul: f(std::integral_constant<B, B::EMul>{}); break;
    case B::EDiv: f(std::integral_constant<B, B::EDiv>{}); break;
    case B::EMod: f(std::integral_constant<B, B::EMod>{}); break;
    case B::EAdd: f(std::integral_constant<B, B::EAdd>{}); break;
    case B::ESub: f(std::integral_constant<B, B::ESub>{}); break;
    case B::EGreater: f(std::integral_constant<B, B::EGreater>{}); break;
    case B::ELess: f(std::integral_constant<B, B::ELess>{}); break;
    case B::EGreaterEqual: f(std::integral_constant<B, B::EGreaterEqual>{}); break;
    case B::ELessEqual: f(std::integral_constant<B, B::ELessEqual>{}); break;
    case B::EEqual: f(std::integral_constant<B, B::EEqual>{}); break;
    case B::ENotEqual: f(std::integral_constant<B, B::ENotEqual>{}); break;
    case B::EBitAnd: f(std::integral_constant<B, B::EBitAnd>{}); break;
    case B::EBitXor: f(std::integral_constant<B, B::EBitXor>{}); break;
    case B::EBitOr: f(std::integral_constant<B, B::EBitOr>{}); break;
    case B::ELogicAnd: f(std::integral_constant<B, B::ELogicAnd>{}); break;
    default: f(std::integral_constant<B, B::ELogicOr>{}); break;
    }
}

}  // namespace detail

// Copies `lanes` rows of `stride` values from `rows` into the slots'
// columns of `block`, the first block.slots values of each row.
inline void Gather(const int32_t *rows, size_t stride, size_t lanes, Block &block)
{
    // A whole block of a stride the compiler knows copies by vector shuffles.
    switch (stride == block.slots && lanes == kLanes ? stride : 0) {
    case 1: detail::GatherRows<1>(rows, block); return;
    case 2: detail::GatherRows<2>(rows, block); return;
    case 3: detail::GatherRows<3>(rows, block); return;
    case 4: detail::GatherRows<4>(rows, block); return;
    default: break;
    }
    for (size_t slot = 0; slot < block.slots; ++slot)
        for (size_t lane = 0; lane < lanes; ++lane)
            block.columns[slot][lane] = rows[lane * stride + slot];
}

// Whether a node of `op` may take operands of kinds `left` and `right`: a
// divisor is the right operand of / or %, a test an operand of && or ||.
constexpr bool Takes(BinaryOp op, Kind left, Kind right)
{
    return left != Kind::EDivisor && (right != Kind::EDivisor || Divides(op)) &&
        (MayShortCircuit(op) || (!IsTest(left) && !IsTest(right)));
}

// Sets the functions of `node` for `op` over operands of kinds `left` and
// `right`, which Takes(op, left, right).
inline void Specialise(Node &node, BinaryOp op, Kind left, Kind right)
{
    detail::WithOperator(op, [&](auto o) {
        detail::WithKind(left, [&](auto l) {
            detail::WithKind(right, [&](auto r) {
                if constexpr (Takes(o.value, l.value, r.value)) {
                    node.row = &detail::Row<o.value, l.value, r.value>;
                    node.evaluate = &detail::Evaluate<o.value, l.value, r.value>;
                    node.column = &detail::ColumnOf<o.value, l.value, r.value>;
                }
            });
        });
    });
}

}  // namespace fernvault::alarm_manager::compiled

#endif  // QUILLET_EXPR_COMPILEDNODES_H
