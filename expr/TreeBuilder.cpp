#include "TreeBuilder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace fernvault::alarm_manager::compiled {

namespace {

using evaluation::PostfixEntry;

// A value while the tree is built.
struct Pending {
    Kind kind;
    int32_t constant;  // an EConstant's
    uint32_t index;    // the slot of an ESlot or ESlotTest, the node of an ENode or ENodeTest
    Range range;       // where an ESlotTest or ENodeTest holds
    uint32_t height;   // nodes on the longest way down from it
    bool canFail;      // whether computing it may divide by zero
    // The values it can take, where they are at most two (the same twice
    // for a constant): what the rules below know of it beyond its kind.
    std::optional<std::array<int32_t, 2>> values;
    bool segmented = false;  // whether computing it reads a segment's slot
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

// Whether `value` is never 0.
bool IsNonZero(const Pending &value)
{
    return value.values && (*value.values)[0] != 0 && (*value.values)[1] != 0;
}

// The values of op over operands one of which is a constant and the other
// always 0 or 1: what it gives where that operand is 0 and where it is 1.
// None for other operands, or where either would divide by zero.
std::optional<std::array<int32_t, 2>> ValuesOverTruth(BinaryOp op, const Pending &left, const Pending &right)
{
    const bool leftTruth = left.kind != Kind::EConstant && IsTruth(left) && right.kind == Kind::EConstant;
    const bool rightTruth = right.kind != Kind::EConstant && IsTruth(right) && left.kind == Kind::EConstant;
    if (!leftTruth && !rightTruth)
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

// Whether an operand of kind `kind` is a node's value.
bool IsNode(Kind kind)
{
    return kind == Kind::ENode || kind == Kind::ENodeTest;
}

// Builds nodes that name their operand nodes by position; Finish links
// them, so that the nodes may move while they are built.
//
// An operand that is a node too high to be an operand (Bound), and the
// operands of an && or || whose right operand reads a segment, become
// segments: slots that the walk fills. The walk can then skip the right
// operand's segments where a test of the left one's slot decides.
//
// Join brings left op right to its normal form, then tries the fold rules
// in the order of kRules, each a member function that returns the folded
// value or none; where none applies, the value is a node. No rule drops
// an operand that may fail, unless the stack engine would not need it
// either (the left side of && or || decided) or the result fails anyway.
class CBuilder {
public:
    // `variables`: the slots of the list's variables; a segment's slot follows them.
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
        }
        const Pending node = AddNode(op, left, right);
        if (op == BinaryOp::EAdd && right.kind == Kind::EConstant)
            sums_.emplace_back(node.index, left);
        return node;
    }

    // `value` as a node; a slot or constant root is x | 0.
    Pending AsNode(Pending value)
    {
        Bound(value);
        const Pending materialised = Materialise(value);
        if (materialised.kind == Kind::ENode)
            return materialised;
        return AddNode(BinaryOp::EBitOr, materialised, Constant(0));
    }

    // The tree whose root is node `root`: the nodes it needs, in their
    // order, each pointing at its operand nodes, and the steps that compute
    // its segments. The rest, which folding left behind, are dropped. Leaves
    // the builder without nodes.
    [[nodiscard]] Tree Finish(size_t root)
    {
        std::vector<bool> needed(root + 1, false);
        needed[root] = true;
        for (size_t i = root + 1; i-- > 0;)
            for (const size_t operand : operands_[i])
                if (needed[i] && operand != kNoNode)
                    needed[operand] = true;
        Tree tree;
        tree.variables = variables_;
        tree.slots = variables_ + static_cast<uint32_t>(segmentRoots_.size());
        std::vector<size_t> at(root + 1, kNoNode);
        size_t kept = 0;
        for (size_t i = 0; i <= root; ++i)
            at[i] = needed[i] ? kept++ : kNoNode;
        std::vector<uint32_t> slotOf(root + 1, kNoSlot);
        for (size_t segment = 0; segment < segmentRoots_.size(); ++segment)
            slotOf[segmentRoots_[segment]] = variables_ + static_cast<uint32_t>(segment);
        tree.steps = Steps(root, at, slotOf);
        // In place, each node to its position, which is never after it: a
        // tree of a million nodes is not copied.
        for (size_t i = 0; i <= root; ++i) {
            if (!needed[i])
                continue;
            Node &node = nodes_[at[i]] = nodes_[i];
            for (size_t side = 0; side < 2; ++side)
                node.nodes[side] = IsNode(node.kinds[side]) ? &nodes_[at[operands_[i][side]]] : nullptr;
            node.out = slotOf[i] != kNoSlot ? slotOf[i] : tree.slots + static_cast<uint32_t>(at[i]);
        }
        nodes_.resize(kept);
        tree.nodes = std::move(nodes_);
        return tree;
    }

private:
    using Rule = std::optional<Pending> (CBuilder::*)(BinaryOp, const Pending &, const Pending &);

    // Cuts `value`, if it is a node too high to be an operand of a node that
    // Join or AsNode makes (up to two above it: the node, and a test made a
    // node).
    void Bound(Pending &value)
    {
        if (value.height + 2 > kMaxHeight)
            Cut(value);
    }

    // `value`, if a node, as a segment: its slot, or a test of its slot.
    void Cut(Pending &value)
    {
        if (!IsNode(value.kind))
            return;
        value.kind = value.kind == Kind::ENode ? Kind::ESlot : Kind::ESlotTest;
        segmentRoots_.push_back(value.index);
        value.index = variables_ + static_cast<uint32_t>(segmentRoots_.size() - 1);
        value.height = 0;
        value.segmented = true;
    }

    // Whether an operand of kind `kind` and slot `slot` reads a segment's
    // slot (or tests it).
    [[nodiscard]] bool ReadsSegment(Kind kind, uint32_t slot) const
    {
        return (kind == Kind::ESlot || kind == Kind::ESlotTest) && slot >= variables_;
    }

    // The steps that compute the segments that node `root` reads, in the
    // order it needs them (each before the segments that read it, left
    // operands before right ones), with a test before the right operand of
    // each && and || that is a segment. Depth first, on a stack of its own.
    [[nodiscard]] std::vector<Step> Steps(
        size_t root, const std::vector<size_t> &at, const std::vector<uint32_t> &slotOf) const
    {
        struct Frame {
            size_t node;
            size_t side;  // the operand to go down next; 2 once both are done
            size_t test;  // the step of its test, if it has one
        };
        std::vector<Step> steps;
        std::vector<Frame> frames{{root, 0, kNoNode}};
        while (!frames.empty()) {
            const Frame frame = frames.back();
            const Node &node = nodes_[frame.node];
            if (frame.side == 2) {
                frames.pop_back();
                if (frame.test != kNoNode)
                    steps[frame.test].skip = static_cast<uint32_t>(steps.size() - frame.test - 1);
                if (slotOf[frame.node] != kNoSlot)
                    steps.push_back(
                        {false, node.op, static_cast<uint32_t>(at[frame.node]), slotOf[frame.node], 0, {}});
                continue;
            }
            ++frames.back().side;
            if (frame.side == 1 && MayShortCircuit(node.op) && ReadsSegment(node.kinds[1], node.slots[1])) {
                // Join cut the left operand too: it is a slot, or a test of one.
                frames.back().test = steps.size();
                const Range truth = node.kinds[0] == Kind::ESlotTest ? node.ranges[0] : kNonZero;
                steps.push_back({true, node.op, 0, node.slots[0], 0, truth});
            }
            const size_t operand = operands_[frame.node][frame.side];
            if (operand != kNoNode)
                frames.push_back({operand, 0, kNoNode});
        }
        return steps;
    }

    // The normal form: > and >= as < and <=; of a commutative operator, a
    // node left of a slot and a slot left of a constant (any operand order
    // computes alike: both operands are computed, and any failure is the
    // same failure); x - c as x + -c.
    static void Normalise(BinaryOp &op, Pending &left, Pending &right)
    {
        if (IsMirrored(op)) {
            std::swap(left, right);
            op = RowOf(op).swapped;
        }
        if (Commutes(op) && Rank(left.kind) > Rank(right.kind))
            std::swap(left, right);
        if (op == BinaryOp::ESub && right.kind == Kind::EConstant) {
            op = BinaryOp::EAdd;
            right = Constant(Wrap(0U - static_cast<uint32_t>(right.constant)));
        }
    }

    // c1 op c2  =>  its value;  x / 0, x % 0  =>  1 / 0, which fails wherever
    // it is needed, whatever x.
    std::optional<Pending> FoldConstants(BinaryOp op, const Pending &left, const Pending &right)
    {
        int32_t value = 0;
        if (Divides(op) && right.kind == Kind::EConstant && right.constant == 0)
            return AddNode(BinaryOp::EDiv, Constant(1), Constant(0));
        if (left.kind == Kind::EConstant && right.kind == Kind::EConstant &&
            Apply(op, left.constant, right.constant, value))
            return Constant(value);
        return std::nullopt;
    }

    // c && x, c || x, where c is a constant, or never 0 and cannot fail:
    // 0 && x  =>  0;  c || x  =>  1 (c not 0);  c && x, 0 || x  =>  x != 0.
    std::optional<Pending> FoldKnownLeft(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (!MayShortCircuit(op) || left.canFail || !(left.kind == Kind::EConstant || IsNonZero(left)))
            return std::nullopt;
        if (!NeedsRightOperand(op, Truth(left.kind != Kind::EConstant || left.constant != 0)))
            return Constant(ShortCircuitValue(op));
        return OfTruth(right, 0, 1);
    }

    // x && y, x || y where y is a constant or never 0, and cannot fail:
    // x && 0  =>  0 and x || y  =>  1 when x cannot fail;  x && y, x || 0  =>  x != 0.
    std::optional<Pending> FoldKnownRight(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (!MayShortCircuit(op) || right.canFail || !(right.kind == Kind::EConstant || IsNonZero(right)))
            return std::nullopt;
        const int32_t rightTruth = Truth(right.kind != Kind::EConstant || right.constant != 0);
        const auto valueFor = [op, rightTruth](int32_t leftTruth) {
            return NeedsRightOperand(op, leftTruth) ? rightTruth : ShortCircuitValue(op);
        };
        return OfTruth(left, valueFor(0), valueFor(1));
    }

    // x + 0, x | 0, x ^ 0, x * 1, x / 1  =>  x;  x / -1  =>  0 - x;
    // x * 0, x & 0, x % 1, x % -1  =>  0 when x cannot fail, else x & 0.
    std::optional<Pending> FoldIdentity(BinaryOp op, const Pending &left, const Pending &right)
    {
        using B = BinaryOp;
        if (right.kind != Kind::EConstant || left.kind == Kind::EConstant)
            return std::nullopt;
        const int32_t c = right.constant;
        if (((op == B::EAdd || op == B::EBitOr || op == B::EBitXor) && c == 0) ||
            ((op == B::EMul || op == B::EDiv) && c == 1))
            return left;
        if (op == B::EDiv && c == -1)
            return AddNode(B::ESub, Constant(0), Materialise(left));
        if (((op == B::EMul || op == B::EBitAnd) && c == 0) || (op == B::EMod && (c == 1 || c == -1)))
            return left.canFail ? AddNode(B::EBitAnd, Materialise(left), Constant(0)) : Constant(0);
        return std::nullopt;
    }

    // (x + c1) + c2  =>  x + (c1 + c2);  (x + c1) * c2  =>  x * c2 + c1 * c2:
    // exact, as sums and products wrap, and x is computed either way.
    std::optional<Pending> FoldSum(BinaryOp op, const Pending &left, const Pending &right)
    {
        using O = ValueOps<int32_t>;
        if ((op != BinaryOp::EAdd && op != BinaryOp::EMul) || right.kind != Kind::EConstant)
            return std::nullopt;
        const Pending *sum = SumOf(left);
        if (sum == nullptr)
            return std::nullopt;
        const Pending x = *sum;
        const int32_t c1 = nodes_[left.index].constants[1];
        if (op == BinaryOp::EAdd)
            return Join(BinaryOp::EAdd, x, Constant(O::Add(c1, right.constant)));
        return Join(BinaryOp::EAdd, Join(BinaryOp::EMul, x, right), Constant(O::Mul(c1, right.constant)));
    }

    // b op c, c op b, where b is always 0 or 1  =>  a constant, b or !b,
    // where op gives that over b's two values (a constant only when b
    // cannot fail).
    std::optional<Pending> FoldTruthOperand(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (MayShortCircuit(op))
            return std::nullopt;
        const std::optional<std::array<int32_t, 2>> values = ValuesOverTruth(op, left, right);
        if (!values)
            return std::nullopt;
        return OfTruth(left.kind == Kind::EConstant ? right : left, (*values)[0], (*values)[1]);
    }

    // x compared with a constant  =>  a test of x; where it holds for every
    // value or for none, 1 or 0 when x cannot fail.
    std::optional<Pending> FoldComparison(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (!IsComparison(op) || (left.kind == Kind::EConstant) == (right.kind == Kind::EConstant))
            return std::nullopt;
        const bool constantLeft = left.kind == Kind::EConstant;
        const Pending &value = constantLeft ? right : left;
        const std::optional<Range> range = RangeOfComparison(op, constantLeft, constantLeft ? left : right);
        if (!value.canFail && (!range || range->span == UINT32_MAX))
            return Constant(Truth(range.has_value()));
        if (!range)
            return AddNode(BinaryOp::EBitAnd, Materialise(value), Constant(0));
        return Test(Materialise(value), *range);
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
            return IsTruth(value) ? value : Test(Materialise(value), kNonZero);
        if (ifZero != 1 || ifOne != 0)
            return std::nullopt;
        if (IsTest(value.kind))
            if (const std::optional<Range> complement = Complement(value.range)) {
                Pending negated = value;
                negated.range = *complement;
                return negated;
            }
        return Test(Materialise(value), kZero);
    }

    // Where x op c (or c op x, if `constantLeft`) holds.
    static std::optional<Range> RangeOfComparison(BinaryOp op, bool constantLeft, const Pending &constant)
    {
        return RangeOf(constant.constant, [&](int32_t value) {
            int32_t holds = 0;
            Apply(op, constantLeft ? constant.constant : value, constantLeft ? value : constant.constant,
                holds);
            return holds != 0;
        });
    }

    // x, where `value` is the node x + c; else null.
    [[nodiscard]] const Pending *SumOf(const Pending &value) const
    {
        const auto sum = std::lower_bound(sums_.begin(), sums_.end(), value.index,
            [](const std::pair<size_t, Pending> &entry, size_t index) { return entry.first < index; });
        return value.kind == Kind::ENode && sum != sums_.end() && sum->first == value.index ? &sum->second
                                                                                            : nullptr;
    }

    // A test of `value`, a slot or node, for `range`; of x + c, a test of x
    // for the range moved by -c (x + c - low is x - (low - c), wrapping).
    Pending Test(Pending value, Range range)
    {
        if (const Pending *sum = SumOf(value)) {
            range.low = Wrap(
                static_cast<uint32_t>(range.low) - static_cast<uint32_t>(nodes_[value.index].constants[1]));
            value = *sum;
        }
        value.kind = value.kind == Kind::ESlot ? Kind::ESlotTest : Kind::ENodeTest;
        value.range = range;
        value.values = kTruthValues;
        return value;
    }

    // A test as a node of its own, for an operator that cannot fuse it: the
    // test && 1.
    Pending Materialise(const Pending &value)
    {
        return IsTest(value.kind) ? AddNode(BinaryOp::ELogicAnd, value, Constant(1)) : value;
    }

    // The node for left op right.
    Pending AddNode(BinaryOp op, const Pending &left, const Pending &right)
    {
        Node node{};
        node.op = op;
        node.kinds = {left.kind, right.kind};
        std::array<size_t, 2> operands{};
        if (Divides(op) && right.kind == Kind::EConstant && Magnitude(right.constant) >= 2) {
            node.kinds[1] = Kind::EDivisor;
            node.divisor = MagicFor(Magnitude(right.constant));
        }
        const std::array<const Pending *, 2> sides = {&left, &right};
        for (size_t side = 0; side < 2; ++side) {
            const Pending &operand = *sides[side];
            node.slots[side] = operand.index;
            // Of && and ||, a constant counts by its truth alone, and is kept as it.
            node.constants[side] = MayShortCircuit(op) && operand.kind == Kind::EConstant
                ? Truth(operand.constant != 0)
                : operand.constant;
            node.ranges[side] = operand.range;
            operands[side] = IsNode(operand.kind)           ? operand.index
                : ReadsSegment(operand.kind, operand.index) ? segmentRoots_[operand.index - variables_]
                                                            : kNoNode;
        }
        Specialise(node);
        nodes_.push_back(node);
        operands_.push_back(operands);
        const bool zeroPossible = !(right.kind == Kind::EConstant && right.constant != 0);
        return {Kind::ENode, 0, static_cast<uint32_t>(nodes_.size() - 1), {},
            1 + std::max(left.height, right.height),
            left.canFail || right.canFail || (Divides(op) && zeroPossible), ValuesOf(op, left, right),
            left.segmented || right.segmented};
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
    uint32_t variables_;
    std::vector<Node> nodes_;
    // Each node's operands' nodes by position: an operand node, or the root
    // of the segment whose slot it reads.
    std::vector<std::array<size_t, 2>> operands_;
    std::vector<std::pair<size_t, Pending>> sums_;  // each node x + c, by ascending position, and x
    std::vector<size_t> segmentRoots_;  // each segment's root, by position; its slot is variables_ + index
};

// The text of an operand of `node` (see Describe): `texts` holds those of
// the nodes of `tree` before it, and `segments` the root of each segment.
std::string DescribeOperand(const Node &node, size_t side, const std::vector<std::string> &texts,
    const Tree &tree, const std::vector<size_t> &segments)
{
    const Range &range = node.ranges[side];
    const std::string test = "[" + std::to_string(range.low) + ".." +
        std::to_string(Wrap(static_cast<uint32_t>(range.low) + range.span)) + "]";
    const auto slotText = [&] {
        const uint32_t slot = node.slots[side];
        return slot < tree.variables ? "$" + std::to_string(slot) : texts[segments[slot - tree.variables]];
    };
    const auto nodeText = [&] { return texts[static_cast<size_t>(node.nodes[side] - tree.nodes.data())]; };
    switch (node.kinds[side]) {
    case Kind::ESlot: return slotText();
    case Kind::EConstant: return std::to_string(node.constants[side]);
    case Kind::EDivisor: return "#" + std::to_string(node.constants[side]);
    case Kind::ENode: return nodeText();
    case Kind::ESlotTest: return slotText() + test;
    case Kind::ENodeTest: return nodeText() + test;
    }
    return "";
}

}  // namespace

bool BuildTree(const std::vector<PostfixEntry> &entries, Tree &tree)
{
    uint32_t variables = 0;
    for (const PostfixEntry &entry : entries)
        if (entry.kind == PostfixEntry::Kind::ESlot)
            variables = std::max(variables, static_cast<uint32_t>(entry.value) + 1);
    CBuilder builder(variables);
    std::vector<Pending> stack;
    for (const PostfixEntry &entry : entries) {
        if (entry.kind != PostfixEntry::Kind::EOperator) {
            stack.push_back(entry.kind == PostfixEntry::Kind::ESlot ? Slot(static_cast<uint32_t>(entry.value))
                                                                    : Constant(entry.value));
            continue;
        }
        if (stack.size() < 2) {
            tree = Tree{};
            return false;
        }
        const Pending right = stack.back();
        stack.pop_back();
        stack.back() = builder.Join(entry.op, stack.back(), right);
    }
    if (stack.size() != 1) {
        tree = Tree{};
        return false;
    }
    const Pending root = builder.AsNode(stack.back());
    tree = builder.Finish(root.index);
    tree.canFail = root.canFail;
    MakeRoot(tree.nodes.back(), tree.canFail);
    return true;
}

std::string Describe(const Tree &tree)
{
    std::vector<size_t> segments(tree.slots - tree.variables, 0);
    for (const Step &step : tree.steps)
        if (!step.test)
            segments[step.slot - tree.variables] = step.node;
    // Each node's text from those of its operand nodes, which come before it.
    std::vector<std::string> texts;
    for (const Node &node : tree.nodes)
        texts.push_back("(" + std::string(RowOf(node.op).text) + " " +
            DescribeOperand(node, 0, texts, tree, segments) + " " +
            DescribeOperand(node, 1, texts, tree, segments) + ")");
    return texts.empty() ? "" : texts.back();
}

}  // namespace fernvault::alarm_manager::compiled
