// The nodes of a compiled expression tree: one operator each, over operands
// whose kinds were decided when compiling. Their functions (CompiledNodes.cpp)
// are generated from Apply for each node the builder makes (Builds).
#ifndef QUILLET_EXPR_COMPILEDNODES_H
#define QUILLET_EXPR_COMPILEDNODES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "Arithmetic.h"
#include "Operators.h"

namespace fernvault::alarm_manager::compiled {

// Where an operand comes from: a slot (a variable's value), a constant, a
// constant divisor of magnitude 2 or more (DivisionMagic), another node, or,
// for && and || only, a test: a slot or node compared with a constant.
enum class Kind : uint8_t { ESlot, EConstant, EDivisor, ENode, ESlotTest, ENodeTest };

constexpr bool IsTest(Kind kind)
{
    return kind == Kind::ESlotTest || kind == Kind::ENodeTest;
}

// Whether an operand of kind `kind` reads a slot (or tests one).
constexpr bool IsSlot(Kind kind)
{
    return kind == Kind::ESlot || kind == Kind::ESlotTest;
}

// Whether an operand of kind `kind` is a node's value (or tests one).
constexpr bool IsNode(Kind kind)
{
    return kind == Kind::ENode || kind == Kind::ENodeTest;
}

// The values a test holds for: v with v - low <= span, wrapping around.
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

// Where compare(v), a comparison of v with the constant c, holds; none where
// it holds for no value. The values for which it gives what it gives at c
// run from c (or the least value) to c (or the greatest).
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

// kLanes rows: a column for each slot, then one for each node (Node::out).
struct Block {
    std::vector<Column> columns;
    size_t slots;  // the variables' slots, filled from the rows
};

struct Node {
    // One row over `slots`; sets *failed on a division by zero (null where
    // no node of the tree can fail) and returns a value all the same.
    int32_t (*row)(const Node &node, const int32_t *slots, bool *failed);
    // The root's alone (MakeRoot): the whole evaluation of a tree with no
    // segments, its status 0, or 20014 with result 0 and the record written.
    int (*evaluate)(const Node &node, const int32_t *slots, int32_t &result);
    // The node's column of `block`.
    void (*column)(const Node &node, Block &block);
    std::array<const Node *, 2> nodes;  // ENode operands, left and right
    std::array<uint32_t, 2> slots;      // a slot operand's slot, a node operand's column (its out)
    std::array<int32_t, 2> constants;   // EConstant and EDivisor operands
    std::array<Range, 2> ranges;        // ESlotTest and ENodeTest operands' comparisons
    DivisionMagic divisor;              // an EDivisor operand's
    uint32_t out;                       // the column of a Block it computes
    BinaryOp op;
    std::array<Kind, 2> kinds;  // the left operand's and the right one's
};

// One step of the walk before a cut tree's root (TreeBuilder.h): a segment's
// value into its slot, or the test of an && or || whose right operand is cut:
// where its left operand's slot decides it, the right operand's steps, and
// any division by zero in them, are skipped.
struct Step {
    bool test;
    BinaryOp op;    // a test's: && or ||
    uint32_t node;  // a segment's root, by position
    uint32_t slot;  // the slot a segment fills, or the one a test reads
    uint32_t skip;  // a test's: the steps of its right operand
    Range truth;    // a test's: the values of its slot for which the left operand is true
};

// The evaluation of a cut tree: `steps`, then the root, the last of `nodes`.
// `slots` holds the variables' values and room for the segments'.
int EvaluateCut(
    const std::vector<Node> &nodes, const std::vector<Step> &steps, int32_t *slots, int32_t &result);

// Whether the builder writes `op` as its mirror: > as <, >= as <=.
constexpr bool IsMirrored(BinaryOp op)
{
    return Has(op, ESwaps) && RowOf(op).swapped > op;
}

// The builder's operand order for a commutative operator: nodes (and tests,
// which become nodes), then slots, then constants.
constexpr int Rank(Kind kind)
{
    return kind == Kind::EConstant ? 2 : kind == Kind::ESlot ? 1 : 0;
}

// Whether the builder makes a node of `op` over kinds `left` and `right`:
// exactly the nodes that have functions. A test is an operand of && and ||
// alone; a constant is their right one only beside a left one that may fail
// or a test made a node (test && 1). Two constants are 1 / 0 or a constant
// root c | 0; a divisor is the right operand of / and %. An operator that
// swaps has a value on its left (a comparison with a constant is a test),
// in Rank order if it commutes; x - c is x + -c.
constexpr bool Builds(BinaryOp op, Kind left, Kind right)
{
    const auto value = [](Kind kind) { return kind == Kind::ESlot || kind == Kind::ENode; };
    if (MayShortCircuit(op))
        return right == Kind::EConstant
            ? IsNode(left) || (op == BinaryOp::ELogicAnd && left == Kind::ESlotTest)
            : (value(left) || IsTest(left)) && (value(right) || IsTest(right));
    if (IsTest(left) || IsTest(right) || left == Kind::EDivisor || IsMirrored(op) ||
        (right == Kind::EDivisor && !Divides(op)))
        return false;
    if (left == Kind::EConstant && right == Kind::EConstant)
        return op == BinaryOp::EDiv || op == BinaryOp::EBitOr;
    if (Divides(op))
        return value(right) || (right == Kind::EDivisor && left != Kind::EConstant);
    if (Has(op, ESwaps))
        return value(left) && !(IsComparison(op) && right == Kind::EConstant) &&
            (!Commutes(op) || Rank(left) <= Rank(right));
    return op != BinaryOp::ESub || right != Kind::EConstant;
}

// Whether such a node may be in a tree in which no node can fail: not a
// division by a value, nor a constant kept beside a left operand that may fail.
constexpr bool MayBeInfallible(BinaryOp op, Kind left, Kind right)
{
    if (Divides(op))
        return right == Kind::EDivisor;
    return !(MayShortCircuit(op) && right == Kind::EConstant && left != Kind::ESlotTest &&
        !(op == BinaryOp::ELogicAnd && left == Kind::ENodeTest));
}

// Sets the functions of `node`, whose op and kinds are set; aborts for a
// node that Builds does not name.
void Specialise(Node &node);

// Sets `root`'s evaluate, for a tree in which a node may divide by zero if `canFail`.
void MakeRoot(Node &root, bool canFail);

}  // namespace fernvault::alarm_manager::compiled

#endif  // QUILLET_EXPR_COMPILEDNODES_H
