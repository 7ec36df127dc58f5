#include "TreeBuilder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

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
    bool truth;        // whether it is always 0 or 1
    bool nonZero;      // whether it is never 0
};

Pending Constant(int32_t value)
{
    return {Kind::EConstant, value, 0, {}, 0, false, value == 0 || value == 1, value != 0};
}

Pending Slot(uint32_t slot)
{
    return {Kind::ESlot, 0, slot, {}, 0, false, false, false};
}

// Builds nodes that name their operand nodes by position; Finish links
// them, so that the nodes may move while they are built.
class CBuilder {
public:
    // left op right.
    Pending Join(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (left.kind == Kind::EConstant) {
            if (!NeedsRightOperand(op, left.constant))
                return Constant(ShortCircuitValue(op));
            int32_t value = 0;
            if (right.kind == Kind::EConstant && Apply(op, left.constant, right.constant, value))
                return Constant(value);
        }
        if (MayShortCircuit(op)) {
            if (const std::optional<Pending> folded = FoldLogic(op, left, right))
                return *folded;
            return AddNode(op, left, right);
        }
        std::array<int32_t, 2> known{};  // the value where the truth operand is 0, and where it is 1
        const bool truthOperand = KnownValues(op, left, right, known);
        if (truthOperand)
            if (const std::optional<Pending> folded =
                    OfTruth(left.kind == Kind::EConstant ? right : left, known[0], known[1]))
                return *folded;
        const Pending l = Materialise(left);
        const Pending r = Materialise(right);
        const std::optional<Pending> test = Test(op, l, r);
        Pending value = test ? *test : AddNode(op, l, r);
        if (truthOperand) {
            value.truth = (known[0] == 0 || known[0] == 1) && (known[1] == 0 || known[1] == 1);
            value.nonZero = known[0] != 0 && known[1] != 0;
        }
        return value;
    }

    // `value` as a node.
    Pending AsNode(const Pending &value)
    {
        const Pending materialised = Materialise(value);
        if (materialised.kind == Kind::ENode)
            return materialised;
        return AddNode(BinaryOp::EBitOr, materialised, Constant(0));  // x | 0 is x
    }

    // The nodes that `root` needs, in their order, each pointing at its
    // operand nodes; the rest, which folding left behind, are dropped.
    [[nodiscard]] std::vector<Node> Finish(size_t root) const
    {
        std::vector<bool> needed(root + 1, false);
        needed[root] = true;
        for (size_t i = root + 1; i-- > 0;)
            for (const size_t operand : operands_[i])
                if (needed[i] && operand != kNoNode)
                    needed[operand] = true;
        std::vector<Node> kept;
        kept.reserve(static_cast<size_t>(std::count(needed.begin(), needed.end(), true)));
        std::vector<size_t> at(root + 1, 0);
        for (size_t i = 0; i <= root; ++i) {
            if (!needed[i])
                continue;
            at[i] = kept.size();
            kept.push_back(nodes_[i]);
            for (size_t side = 0; side < 2; ++side)
                kept.back().nodes[side] =
                    operands_[i][side] == kNoNode ? nullptr : &kept[at[operands_[i][side]]];
        }
        return kept;
    }

private:
    // The node for left op right.
    Pending AddNode(BinaryOp op, const Pending &left, const Pending &right)
    {
        Node node{};
        std::array<size_t, 2> operands{};
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
            node.ranges[side] = operand.range;
            const bool isNode = operand.kind == Kind::ENode || operand.kind == Kind::ENodeTest;
            operands[side] = isNode ? operand.index : kNoNode;
        }
        Specialise(node, op, left.kind, rightKind);
        nodes_.push_back(node);
        operands_.push_back(operands);
        const bool zeroPossible = !(right.kind == Kind::EConstant && right.constant != 0);
        return {Kind::ENode, 0, static_cast<uint32_t>(nodes_.size() - 1), {},
            1 + std::max(left.height, right.height),
            left.canFail || right.canFail || (Divides(op) && zeroPossible),
            IsComparison(op) || MayShortCircuit(op), false};
    }

    // A test as a node of its own, for an operator that cannot fuse it: the
    // test && 1.
    Pending Materialise(const Pending &value)
    {
        return IsTest(value.kind) ? AddNode(BinaryOp::ELogicAnd, value, Constant(1)) : value;
    }

    // A comparison of a slot or node with a constant, as a test.
    static std::optional<Pending> Test(BinaryOp op, const Pending &left, const Pending &right)
    {
        if (!IsComparison(op) || (left.kind == Kind::EConstant) == (right.kind == Kind::EConstant))
            return std::nullopt;
        const bool constantLeft = left.kind == Kind::EConstant;
        const int32_t constant = constantLeft ? left.constant : right.constant;
        const std::optional<Range> range = RangeOf(constant, [&](int32_t value) {
            int32_t holds = 0;
            Apply(op, constantLeft ? constant : value, constantLeft ? value : constant, holds);
            return holds != 0;
        });
        if (!range)
            return std::nullopt;
        Pending test = constantLeft ? right : left;
        test.kind = test.kind == Kind::ESlot ? Kind::ESlotTest : Kind::ENodeTest;
        test.range = *range;
        test.truth = true;
        test.nonZero = false;
        return test;
    }

    // The value that is `ifZero` where `value` is 0 and `ifOne` where it is
    // not, if it needs no node of its own.
    std::optional<Pending> OfTruth(const Pending &value, int32_t ifZero, int32_t ifOne)
    {
        if (ifZero == ifOne)
            return value.canFail ? std::nullopt : std::optional<Pending>(Constant(ifZero));
        if (ifZero == 0 && ifOne == 1)
            return value.truth ? value : Test(BinaryOp::ENotEqual, Materialise(value), Constant(0));
        if (ifZero != 1 || ifOne != 0)
            return std::nullopt;
        if (IsTest(value.kind))
            if (const std::optional<Range> complement = Complement(value.range)) {
                Pending negated = value;
                negated.range = *complement;
                return negated;
            }
        return Test(BinaryOp::EEqual, Materialise(value), Constant(0));
    }

    // && or || where one operand's truth is known and the operand it makes
    // redundant cannot fail.
    std::optional<Pending> FoldLogic(BinaryOp op, const Pending &left, const Pending &right)
    {
        const auto valueFor = [op](int32_t leftTruth, int32_t rightTruth) {
            return NeedsRightOperand(op, leftTruth) ? rightTruth : ShortCircuitValue(op);
        };
        if ((right.kind == Kind::EConstant || right.nonZero) && !right.canFail) {
            const int32_t rightTruth = Truth(right.kind != Kind::EConstant || right.constant != 0);
            return OfTruth(left, valueFor(0, rightTruth), valueFor(1, rightTruth));
        }
        if (left.nonZero && !left.canFail)
            return NeedsRightOperand(op, 1) ? OfTruth(right, 0, 1) : Constant(ShortCircuitValue(op));
        return std::nullopt;
    }

    // For op with a constant on one side and a value that is 0 or 1 on the
    // other, the two values it can give; false for any other operands, or
    // where either would divide by zero.
    static bool KnownValues(
        BinaryOp op, const Pending &left, const Pending &right, std::array<int32_t, 2> &known)
    {
        const bool leftTruth = left.truth && left.kind != Kind::EConstant && right.kind == Kind::EConstant;
        const bool rightTruth = right.truth && right.kind != Kind::EConstant && left.kind == Kind::EConstant;
        if (!leftTruth && !rightTruth)
            return false;
        for (int32_t truth = 0; truth < 2; ++truth)
            if (!Apply(op, leftTruth ? truth : left.constant, leftTruth ? right.constant : truth,
                    known[static_cast<size_t>(truth)]))
                return false;
        return true;
    }

    static constexpr size_t kNoNode = SIZE_MAX;
    std::vector<Node> nodes_;
    std::vector<std::array<size_t, 2>> operands_;  // each node's operand nodes, by position
};

}  // namespace

bool BuildTree(const std::vector<PostfixEntry> &entries, Tree &tree)
{
    CBuilder builder;
    std::vector<Pending> stack;
    bool isTree = true;
    for (auto entry = entries.begin(); isTree && entry != entries.end(); ++entry) {
        if (!entry->isOperator) {
            stack.push_back(
                entry->isVariable ? Slot(static_cast<uint32_t>(entry->value)) : Constant(entry->value));
            continue;
        }
        isTree = stack.size() >= 2;
        if (!isTree)
            break;
        const Pending right = stack.back();
        stack.pop_back();
        stack.back() = builder.Join(entry->op, stack.back(), right);
        isTree = stack.back().height <= kMaxHeight;
    }
    if (!isTree || stack.size() != 1) {
        tree = Tree{};
        return false;
    }
    const Pending root = builder.AsNode(stack.back());
    tree.nodes = builder.Finish(root.index);
    tree.canFail = root.canFail;
    return true;
}

}  // namespace fernvault::alarm_manager::compiled
