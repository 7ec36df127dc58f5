#include "TreeBuilder.h"

#include "TokenOperators.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace fernvault::alarm_manager::compiled {

namespace {

using O = ValueOps<int32_t>;

// A value while the tree is built.
struct Pending {
    Kind kind;
    int32_t constant;  // an EConstant's
    uint32_t index;    // the slot of an ESlot or ESlotTest, the node of an ENode or ENodeTest
    Range range;       // where an ESlotTest or ENodeTest holds
    uint32_t height;   // nodes on the longest way down from it
    bool canFail;      // whether computing it may divide by zero
    std::optional<std::array<int32_t, 2>> values;  // the values it can take, where at most two
    bool segmented = false;                        // whether computing it reads a segment's slot
};

constexpr std::array<int32_t, 2> kTruthValues = {0, 1};
constexpr Range kZero = {0, 0};                  // x == 0
constexpr Range kNonZero = {1, UINT32_MAX - 1};  // x != 0

Pending Constant(int32_t value)
{
    return {Kind::EConstant, value, 0, {}, 0, false, std::array<int32_t, 2>{value, value}};
}

Pending Slot(uint32_t slot)
{
    return {Kind::ESlot, 0, slot, {}, 0, false, std::nullopt};
}

// Whether `value` is always 0 or 1.
bool IsTruth(const Pending &value)
{
    return value.values && static_cast<uint32_t>((*value.values)[0]) <= 1 &&
        static_cast<uint32_t>((*value.values)[1]) <= 1;
}

// The truth of `value` where it is a constant, or never 0 and cannot fail.
std::optional<int32_t> KnownTruth(const Pending &value)
{
    const bool nonZero = value.values && (*value.values)[0] != 0 && (*value.values)[1] != 0;
    if (value.canFail || !(value.kind == Kind::EConstant || nonZero))
        return std::nullopt;
    return Truth(nonZero);
}

// What op gives over a constant and an operand always 0 or 1 (not a
// constant), where that operand is 0 and where it is 1; none for other
// operands, or where either would divide by zero.
std::optional<std::array<int32_t, 2>> ValuesOverTruth(BinaryOp op, const Pending &left, const Pending &right)
{
    const bool leftTruth = right.kind == Kind::EConstant;
    if ((left.kind == Kind::EConstant) == leftTruth || !IsTruth(leftTruth ? left : right))
        return std::nullopt;
    std::array<int32_t, 2> values{};
    for (const int32_t truth : kTruthValues)
        if (!Apply(op, leftTruth ? truth : left.constant, leftTruth ? right.constant : truth,
                values[static_cast<size_t>(truth)]))
            return std::nullopt;
    return values;
}

// The values a node of op over `left` and `right` can take, where at most
// two: the one place the facts the rules rely on are set for a node.
std::optional<std::array<int32_t, 2>> ValuesOf(BinaryOp op, const Pending &left, const Pending &right)
{
    if (IsComparison(op) || MayShortCircuit(op))
        return kTruthValues;
    return ValuesOverTruth(op, left, right);
}

// Builds nodes that name their operand nodes by position (in Node::slots),
// which Finish links, so that the nodes may move while they are built. Join
// brings left op right to its normal form and tries the fold rules in the
// order of kRules; where none folds, the value is a node. No rule drops an
// operand that may fail, unless the stack engine would not need it either
// (the left side of && or || decided) or the result fails anyway.
class CBuilder {
public:
    explicit CBuilder(uint32_t variables)
        : variables_(variables)
    {
    }

    Pending Join(BinaryOp op, Pending left, Pending right)
    {
        Bound(left);
        Bound(right);
        if (MayShortCircuit(op) && right.segmented) {
            Cut(left);
            Cut(right);
        }
        Normalise(op, left, right);
        for (const Rule rule : kRules)
            if (std::optional<Pending> folded = (this->*rule)(op, left, right))
                return *folded;
        if (!MayShortCircuit(op)) {
            left = Materialise(left);
            right = Materialise(right);
        } else if (right.kind == Kind::EConstant && !IsNode(left.kind)) {
            // A segment kept beside a constant for its failure: read as a node.
            left = AsNode(left);
        }
        const Pending node = AddNode(op, left, right);
        if (op == BinaryOp::EAdd && right.kind == Kind::EConstant)
            sums_.emplace_back(node.index, left);
        return node;
    }

    // The tree of `value` made a node: the nodes it needs, in their order
    // and linked, and its segments' steps; the rest are dropped. Leaves the
    // builder without nodes.
    [[nodiscard]] Tree Finish(Pending value)
    {
        value = AsNode(value);
        Tree tree;
        tree.slots = variables_ + static_cast<uint32_t>(segmentRoots_.size());
        tree.canFail = value.canFail;
        std::vector<bool> needed(value.index + 1, false);
        tree.steps = Steps(value.index, needed);
        // In place, each node to its position, which is never after it: a
        // tree of a million nodes is not copied.
        std::vector<size_t> at(value.index + 1, kNoNode);
        size_t kept = 0;
        for (size_t i = 0; i <= value.index; ++i) {
            if (!needed[i])
                continue;
            at[i] = kept++;
            Node &node = nodes_[at[i]] = nodes_[i];
            for (size_t side = 0; side < 2; ++side)
                if (IsNode(node.kinds[side])) {
                    node.nodes[side] = &nodes_[at[node.slots[side]]];
                    node.slots[side] = node.nodes[side]->out;
                }
            if (node.out == kNoSlot)
                node.out = tree.slots + static_cast<uint32_t>(at[i]);
        }
        for (Step &step : tree.steps)
            if (!step.test)
                step.node = static_cast<uint32_t>(at[step.node]);
        nodes_.resize(kept);
        tree.nodes = std::move(nodes_);
        MakeRoot(tree.nodes.back(), tree.canFail);
        return tree;
    }

private:
    // `value` as a node: a test as test && 1, a slot or constant as x | 0.
    Pending AsNode(Pending value)
    {
        Bound(value);
        value = Materialise(value);
        return value.kind == Kind::ENode ? value : AddNode(BinaryOp::EBitOr, value, Constant(0));
    }

    using Rule = std::optional<Pending> (CBuilder::*)(BinaryOp, const Pending &, const Pending &);

    // Cuts `value` if it is a node too high to be an operand of what Join or
    // AsNode makes: up to two nodes above it (the node, and a test made one).
    void Bound(Pending &value)
    {
        if (value.height + 2 > kMaxHeight)
            Cut(value);
    }

    // `value`, if a node, as a segment: its slot, or a test of its slot. Bound
    // cuts a node too high to be an operand, and Join both operands of an &&
    // or || whose right one reads a segment, so that the walk can skip the
    // right one's segments where the left one's slot decides.
    void Cut(Pending &value)
    {
        if (!IsNode(value.kind))
            return;
        value.kind = value.kind == Kind::ENode ? Kind::ESlot : Kind::ESlotTest;
        nodes_[value.index].out = variables_ + static_cast<uint32_t>(segmentRoots_.size());
        segmentRoots_.push_back(value.index);
        value.index = nodes_[value.index].out;
        value.height = 0;
        value.segmented = true;
    }

    // The node that operand `side` of `node` needs: its operand node, the
    // root of the segment whose slot it reads, or none.
    [[nodiscard]] size_t OperandOf(const Node &node, size_t side) const
    {
        const Kind kind = node.kinds[side];
        const uint32_t slot = node.slots[side];
        if (IsNode(kind))
            return slot;
        const bool segment = IsSlot(kind) && slot >= variables_;
        return segment ? segmentRoots_[slot - variables_] : kNoNode;
    }

    // The steps of the segments that node `root` reads, in the order it
    // needs them (each after those it reads, left before right), with a test
    // before the right operand of each && and || that is a segment; a step
    // names its node by position here. Marks each node it needs `needed`.
    // Depth first, on a stack of its own.
    [[nodiscard]] std::vector<Step> Steps(size_t root, std::vector<bool> &needed) const
    {
        struct Frame {
            size_t node;
            size_t side;  // the operand to go down next; 2 once both are done
            size_t test;  // the step of its test, if it has one
        };
        std::vector<Step> steps;
        std::vector<Frame> frames{{root, 0, kNoNode}};
        while (!frames.empty()) {
            Frame &frame = frames.back();
            const Node &node = nodes_[frame.node];
            if (frame.side == 2) {
                needed[frame.node] = true;
                if (frame.test != kNoNode)
                    steps[frame.test].skip = static_cast<uint32_t>(steps.size() - frame.test - 1);
                if (node.out != kNoSlot)
                    steps.push_back({false, node.op, static_cast<uint32_t>(frame.node), node.out, 0, {}});
                frames.pop_back();
                continue;
            }
            const size_t side = frame.side++;
            if (side == 1 && MayShortCircuit(node.op) && !IsNode(node.kinds[1]) &&
                OperandOf(node, 1) != kNoNode) {
                // Join cut the left operand too: a slot, or a test of one.
                frame.test = steps.size();
                const Range truth = node.kinds[0] == Kind::ESlotTest ? node.ranges[0] : kNonZero;
                steps.push_back({true, node.op, 0, node.slots[0], 0, truth});
            }
            if (OperandOf(node, side) != kNoNode)
                frames.push_back({OperandOf(node, side), 0, kNoNode});
        }
        return steps;
    }

    // The normal form: > and >= as < and <=; of a commutative operator, a
    // node left of a slot and a slot left of a constant (both are computed,
    // so any order fails alike); x - c as x + -c; x && c, x || c with c as
    // its truth, all that they read of it.
    static void Normalise(BinaryOp &op, Pending &left, Pending &right)
    {
        if (IsMirrored(op) || (Commutes(op) && Rank(left.kind) > Rank(right.kind))) {
            std::swap(left, right);
            op = RowOf(op).swapped;  // of a commutative operator, op itself
        }
        if (op == BinaryOp::ESub && right.kind == Kind::EConstant) {
            op = BinaryOp::EAdd;
            right = Constant(O::Sub(0, right.constant));
        }
        if (MayShortCircuit(op) && right.kind == Kind::EConstant)
            right = Constant(Truth(right.constant != 0));
    }

    // x / 0, x % 0  =>  1 / 0, which fails wherever it is needed, whatever x;
    // c1 op c2  =>  its value.
    std::optional<Pending> FoldConstants(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (Divides(op) && right.kind == Kind::EConstant && right.constant == 0)
            return AddNode(BinaryOp::EDiv, Constant(1), Constant(0));
        if (left.kind != Kind::EConstant || right.kind != Kind::EConstant)
            return std::nullopt;
        return Constant(Meaning(op, left.constant, right.constant));
    }

    // c && x, c || x, where c is a constant, or never 0 and cannot fail:
    // 0 && x  =>  0;  c || x  =>  1 (c not 0);  c && x, 0 || x  =>  x != 0.
    std::optional<Pending> FoldKnownLeft(BinaryOp op, const Pending &left, const Pending &right)
    {
        const std::optional<int32_t> leftTruth = KnownTruth(left);
        if (!MayShortCircuit(op) || !leftTruth)
            return std::nullopt;
        return NeedsRightOperand(op, *leftTruth) ? OfTruth(right, 0, 1) : Constant(ShortCircuitValue(op));
    }

    // x && y, x || y where y is a constant, or never 0 and cannot fail:
    // x && 0  =>  0 and x || y  =>  1 when x cannot fail;  x && y, x || 0  =>  x != 0.
    std::optional<Pending> FoldKnownRight(BinaryOp op, const Pending &left, const Pending &right)
    {
        const std::optional<int32_t> rightTruth = KnownTruth(right);
        if (!MayShortCircuit(op) || !rightTruth)
            return std::nullopt;
        return OfTruth(left, Meaning(op, 0, *rightTruth), Meaning(op, 1, *rightTruth));
    }

    // x + 0, x | 0, x ^ 0, x * 1, x / 1  =>  x;  x / -1  =>  0 - x;
    // x * 0, x & 0, x % 1, x % -1  =>  0 when x cannot fail, else x & 0.
    std::optional<Pending> FoldIdentity(BinaryOp op, const Pending &left, const Pending &right)
    {
        using B = BinaryOp;
        if (right.kind != Kind::EConstant)
            return std::nullopt;
        const int32_t c = right.constant;
        if (((op == B::EAdd || op == B::EBitOr || op == B::EBitXor) && c == 0) ||
            ((op == B::EMul || op == B::EDiv) && c == 1))
            return left;
        if (op == B::EDiv && c == -1)
            return AddNode(B::ESub, Constant(0), Materialise(left));
        if (((op == B::EMul || op == B::EBitAnd) && c == 0) || (op == B::EMod && (c == 1 || c == -1)))
            return ZeroAfter(left);
        return std::nullopt;
    }

    // (x + c1) + c2  =>  x + (c1 + c2);  (x + c1) * c2  =>  x * c2 + c1 * c2:
    // exact, as sums and products wrap, and x is computed either way.
    std::optional<Pending> FoldSum(BinaryOp op, const Pending &left, const Pending &right)
    {
        const std::optional<std::pair<Pending, int32_t>> sum = SumOf(left);
        if ((op != BinaryOp::EAdd && op != BinaryOp::EMul) || right.kind != Kind::EConstant || !sum)
            return std::nullopt;
        const auto &[x, c1] = *sum;
        if (op == BinaryOp::EAdd)
            return Join(BinaryOp::EAdd, x, Constant(O::Add(c1, right.constant)));
        return Join(BinaryOp::EAdd, Join(BinaryOp::EMul, x, right), Constant(O::Mul(c1, right.constant)));
    }

    // b op c, c op b, where b is always 0 or 1  =>  a constant, b or !b, where
    // op gives that over b's two values (a constant only when b cannot fail).
    std::optional<Pending> FoldTruthOperand(BinaryOp op, const Pending &left, const Pending &right)
    {
        const std::optional<std::array<int32_t, 2>> values = ValuesOverTruth(op, left, right);
        if (!values)
            return std::nullopt;
        return OfTruth(left.kind == Kind::EConstant ? right : left, (*values)[0], (*values)[1]);
    }

    // x compared with a constant  =>  a test of x; where it holds for every
    // value or for none, 1 or 0 when x cannot fail.
    std::optional<Pending> FoldComparison(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (!IsComparison(op) || (left.kind != Kind::EConstant && right.kind != Kind::EConstant))
            return std::nullopt;
        const bool constantLeft = left.kind == Kind::EConstant;
        const Pending &value = constantLeft ? right : left;
        const int32_t c = constantLeft ? left.constant : right.constant;
        const BinaryOp compare = constantLeft ? RowOf(op).swapped : op;  // value compare c
        const std::optional<Range> range = RangeOf(c, [&](int32_t v) { return Meaning(compare, v, c) != 0; });
        if (!range)
            return ZeroAfter(value);
        if (range->span == UINT32_MAX && !value.canFail)
            return Constant(1);
        return Test(value, *range);
    }

    // The value that is `ifZero` where `value` is 0 and `ifOne` where it is
    // not, if it needs no node of its own.
    std::optional<Pending> OfTruth(const Pending &value, int32_t ifZero, int32_t ifOne)
    {
        if (value.kind == Kind::EConstant)
            return Constant(value.constant != 0 ? ifOne : ifZero);
        if (ifZero == ifOne)
            return value.canFail ? std::nullopt : std::optional<Pending>(Constant(ifZero));
        if (ifZero == 0 && ifOne == 1)
            return IsTruth(value) ? value : Test(value, kNonZero);
        if (ifZero != 1 || ifOne != 0)
            return std::nullopt;
        const std::optional<Range> complement = IsTest(value.kind) ? Complement(value.range) : std::nullopt;
        if (!complement)
            return Test(value, kZero);
        Pending negated = value;
        negated.range = *complement;
        return negated;
    }

    // 0, computing `value` first where that may fail: value & 0.
    Pending ZeroAfter(const Pending &value)
    {
        return value.canFail ? AddNode(BinaryOp::EBitAnd, Materialise(value), Constant(0)) : Constant(0);
    }

    // x and c, where `value` is the node x + c.
    [[nodiscard]] std::optional<std::pair<Pending, int32_t>> SumOf(const Pending &value) const
    {
        const auto sum = std::lower_bound(sums_.begin(), sums_.end(), value.index,
            [](const std::pair<size_t, Pending> &entry, size_t index) { return entry.first < index; });
        if (value.kind != Kind::ENode || sum == sums_.end() || sum->first != value.index)
            return std::nullopt;
        return std::pair{sum->second, nodes_[value.index].constants[1]};
    }

    // A test of `value` (made a node if it is a test) for `range`; of x + c,
    // a test of x for the range moved by -c (x + c - low is x - (low - c)).
    Pending Test(const Pending &value, Range range)
    {
        Pending tested = Materialise(value);
        if (const std::optional<std::pair<Pending, int32_t>> sum = SumOf(tested)) {
            range.low = O::Sub(range.low, sum->second);
            tested = sum->first;
        }
        tested.kind = tested.kind == Kind::ESlot ? Kind::ESlotTest : Kind::ENodeTest;
        tested.range = range;
        tested.values = kTruthValues;
        return tested;
    }

    // A test as a node, test && 1, for an operator that cannot fuse it.
    Pending Materialise(const Pending &value)
    {
        return IsTest(value.kind) ? AddNode(BinaryOp::ELogicAnd, value, Constant(1)) : value;
    }

    Pending AddNode(BinaryOp op, const Pending &left, const Pending &right)
    {
        Node node{};
        node.op = op;
        node.kinds = {left.kind, right.kind};
        node.slots = {left.index, right.index};
        node.constants = {left.constant, right.constant};
        node.ranges = {left.range, right.range};
        node.out = kNoSlot;  // a segment's root gets its slot from Cut, any other node from Finish
        if (Divides(op) && right.kind == Kind::EConstant && Magnitude(right.constant) >= 2) {
            node.kinds[1] = Kind::EDivisor;
            node.divisor = MagicFor(Magnitude(right.constant));
        }
        Specialise(node);
        nodes_.push_back(node);
        // Join folds a division by any other constant: only one by a value, or 1 / 0, may fail.
        const bool divisionMayFail = Divides(op) && node.kinds[1] != Kind::EDivisor;
        return {Kind::ENode, 0, static_cast<uint32_t>(nodes_.size() - 1), {},
            1 + std::max(left.height, right.height), left.canFail || right.canFail || divisionMayFail,
            ValuesOf(op, left, right), left.segmented || right.segmented};
    }

    // The fold rules, tried in this order.
    static constexpr std::array<Rule, 7> kRules = {
        &CBuilder::FoldConstants,
        &CBuilder::FoldKnownLeft,
        &CBuilder::FoldKnownRight,
        &CBuilder::FoldIdentity,
        &CBuilder::FoldSum,
        &CBuilder::FoldTruthOperand,
        &CBuilder::FoldComparison,
    };

    static constexpr size_t kNoNode = SIZE_MAX;
    static constexpr uint32_t kNoSlot = UINT32_MAX;
    uint32_t variables_;  // the slots of the list's variables; the segments' follow
    std::vector<Node> nodes_;
    std::vector<std::pair<size_t, Pending>> sums_;  // each node x + c, by ascending position, and x
    std::vector<size_t> segmentRoots_;  // each segment's root, by position; its slot is variables_ + index
};

}  // namespace

bool BuildTree(const TokenList &postfix, const std::vector<uint16_t> &variables, Tree &tree)
{
    tree = Tree{};
    CBuilder builder(static_cast<uint32_t>(variables.size()));
    std::vector<Pending> stack;
    for (const ExprToken &token : postfix) {
        if (token.eTokenCode == EVariable) {
            const auto slot =
                std::lower_bound(variables.begin(), variables.end(), VariableNumber(token.strToken));
            stack.push_back(Slot(static_cast<uint32_t>(slot - variables.begin())));
            continue;
        }
        if (!IsBinaryOperator(token.eTokenCode)) {
            stack.push_back(Constant(ReadInt32(token.strToken.c_str())));
            continue;
        }
        if (stack.size() < 2)
            return false;
        const Pending right = stack.back();
        stack.pop_back();
        stack.back() = builder.Join(OperatorOf(token), stack.back(), right);
    }
    if (stack.size() != 1)
        return false;
    tree = builder.Finish(stack.back());
    return true;
}

}  // namespace fernvault::alarm_manager::compiled
