// The functions of each node that Builds names: Row computes one row,
// calling the operand nodes (as deep as the builder lets a node stand above
// the slots it reads); Evaluate, a whole evaluation from the root; ColumnOf,
// a block's column from the operands' columns. ColumnOf computes both
// operands of && and ||: it serves trees in which no node can fail.
#include "CompiledNodes.h"

#include "Evaluation.h"

#include <algorithm>
#include <cstdlib>
#include <type_traits>
#include <utility>

namespace fernvault::alarm_manager::compiled {

namespace {

template <Kind kind> int32_t RowOperand(const Node &node, size_t side, const int32_t *slots, bool *failed)
{
    if constexpr (kind == Kind::EConstant || kind == Kind::EDivisor)
        return node.constants[side];
    const int32_t value =
        IsSlot(kind) ? slots[node.slots[side]] : node.nodes[side]->row(*node.nodes[side], slots, failed);
    return IsTest(kind) ? Holds(node.ranges[side], value) : value;
}

// left op right, the right operand of kind `kind`; a zero divisor sets
// *failed.
template <BinaryOp op, Kind kind> int32_t Compute(const Node &node, int32_t left, int32_t right, bool *failed)
{
    if constexpr (kind == Kind::EDivisor) {
        using O = ValueOps<int32_t>;
        const int32_t quotient = DivideByConstant(left, right, node.divisor);
        return op == BinaryOp::EDiv ? quotient : O::Sub(left, O::Mul(quotient, right));
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
    if constexpr (MayShortCircuit(op)) {
        if (!NeedsRightOperand(op, leftValue))
            return ShortCircuitValue(op);
        if constexpr (right == Kind::EConstant)
            return node.constants[1];  // the builder keeps it as its truth, 0 or 1
    }
    return Compute<op, right>(node, leftValue, RowOperand<right>(node, 1, slots, failed), failed);
}

// Operand `side` of `node` in lane `lane` of `block`: its constant, or
// the value in its column (a test's truth of it).
template <Kind kind> int32_t LaneOperand(const Node &node, size_t side, const Block &block, size_t lane)
{
    if constexpr (kind == Kind::EConstant || kind == Kind::EDivisor)
        return node.constants[side];
    const int32_t value = block.columns[node.slots[side]][lane];
    return IsTest(kind) ? Holds(node.ranges[side], value) : value;
}

template <BinaryOp op, Kind left, Kind right> void ColumnOf(const Node &node, Block &block)
{
    Column &out = block.columns[node.out];
    // No node that the root needs can fail; one that constants left behind
    // unneeded may, and is computed all the same.
    bool unneeded = false;
    const Node local = node;  // read in the loop, where `out` could be it for all the compiler knows
    for (size_t lane = 0; lane < kLanes; ++lane) {
        // Both operands read first: && and || then vectorise.
        const int32_t leftValue = LaneOperand<left>(local, 0, block, lane);
        const int32_t rightValue = LaneOperand<right>(local, 1, block, lane);
        out[lane] = Compute<op, right>(local, leftValue, rightValue, &unneeded);
    }
}

constexpr size_t kKinds = static_cast<size_t>(Kind::ENodeTest) + 1;
constexpr size_t kCombinations = kOperators.size() * kKinds * kKinds;

constexpr size_t IndexOf(BinaryOp op, Kind left, Kind right)
{
    return (static_cast<size_t>(op) * kKinds + static_cast<size_t>(left)) * kKinds +
        static_cast<size_t>(right);
}

// The IndexOf of each combination that Builds names, ascending, then how many.
constexpr std::pair<std::array<size_t, kCombinations>, size_t> FindBuilt()
{
    std::pair<std::array<size_t, kCombinations>, size_t> built{};
    for (size_t index = 0; index < kCombinations; ++index)
        if (Builds(static_cast<BinaryOp>(index / (kKinds * kKinds)),
                static_cast<Kind>(index / kKinds % kKinds), static_cast<Kind>(index % kKinds)))
            built.first[built.second++] = index;
    return built;
}
constexpr auto kBuilt = FindBuilt();

// One node that Builds names, by IndexOf, and its functions; evaluate and
// column are null for a node that only a tree that may fail has, and
// evaluateTest (MakeRoot) for any node but a division by a value.
struct Specialisation {
    size_t index;
    int32_t (*row)(const Node &node, const int32_t *slots, bool *failed);
    int (*evaluate)(const Node &node, const int32_t *slots, int32_t &result);
    int (*evaluateTest)(const Node &node, const int32_t *slots, int32_t &result);
    void (*column)(const Node &node, Block &block);
};

// The evaluation from `node`, the root of a tree in which no node can fail.
template <BinaryOp op, Kind left, Kind right>
int Evaluate(const Node &node, const int32_t *slots, int32_t &result)
{
    result = Row<op, left, right>(node, slots, nullptr);
    return 0;
}

// The status and result of an evaluation whose root gave `value`.
int Conclude(bool failed, int32_t value, int32_t &result)
{
    result = failed ? 0 : value;
    return failed ? evaluation::RecordFailure(evaluation::Failure::EDenominator) : 0;
}

// The evaluation from `node`, the root of a tree in which a node may divide by zero.
int EvaluateFallible(const Node &node, const int32_t *slots, int32_t &result)
{
    bool failed = false;
    const int32_t value = node.row(node, slots, &failed);
    return Conclude(failed, value, result);
}

// The evaluation from a root `test && c` whose test reads this node, a
// division by a value (`x / y > 2`, the rule that may fail): the node is
// computed in place, without a call.
template <BinaryOp op, Kind left, Kind right>
int EvaluateTestOf(const Node &root, const int32_t *slots, int32_t &result)
{
    bool failed = false;
    const int32_t value = Row<op, left, right>(*root.nodes[0], slots, &failed);
    return Conclude(failed, Holds(root.ranges[0], value) & root.constants[1], result);
}

template <size_t index> constexpr Specialisation SpecialisationAt()
{
    constexpr auto op = static_cast<BinaryOp>(index / (kKinds * kKinds));
    constexpr auto left = static_cast<Kind>(index / kKinds % kKinds);
    constexpr auto right = static_cast<Kind>(index % kKinds);
    constexpr bool infallible = MayBeInfallible(op, left, right);
    Specialisation s{index, &Row<op, left, right>, nullptr, nullptr, nullptr};
    if constexpr (infallible) {
        s.evaluate = &Evaluate<op, left, right>;
        s.column = &ColumnOf<op, left, right>;
    }
    if constexpr (Divides(op) && right != Kind::EDivisor)
        s.evaluateTest = &EvaluateTestOf<op, left, right>;
    return s;
}

template <size_t... built>
constexpr std::array<Specialisation, sizeof...(built)> Specialisations(
    std::index_sequence<built...> /*unused*/)
{
    return {SpecialisationAt<kBuilt.first[built]>()...};
}

constexpr auto kSpecialisations = Specialisations(std::make_index_sequence<kBuilt.second>());

// The specialisation of `node`, whose op and kinds are set, found in
// kSpecialisations (ascending by index, as kBuilt); aborts for a node that
// Builds does not name.
const Specialisation &SpecialisationOf(const Node &node)
{
    const size_t index = IndexOf(node.op, node.kinds[0], node.kinds[1]);
    const auto *found = std::lower_bound(kSpecialisations.begin(), kSpecialisations.end(), index,
        [](const Specialisation &specialisation, size_t wanted) { return specialisation.index < wanted; });
    if (found == kSpecialisations.end() || found->index != index)
        std::abort();
    return *found;
}

}  // namespace

void Specialise(Node &node)
{
    const Specialisation &specialisation = SpecialisationOf(node);
    node.row = specialisation.row;
    node.column = specialisation.column;
}

void MakeRoot(Node &root, bool canFail)
{
    if (root.op == BinaryOp::ELogicAnd && root.kinds[0] == Kind::ENodeTest &&
        root.kinds[1] == Kind::EConstant)
        if (const auto evaluateTest = SpecialisationOf(*root.nodes[0]).evaluateTest) {
            root.evaluate = evaluateTest;
            return;
        }
    root.evaluate = canFail ? &EvaluateFallible : SpecialisationOf(root).evaluate;
}

int EvaluateCut(
    const std::vector<Node> &nodes, const std::vector<Step> &steps, int32_t *slots, int32_t &result)
{
    bool failed = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        if (!step.test) {
            const Node &root = nodes[step.node];
            slots[step.slot] = root.row(root, slots, &failed);
        } else if (!NeedsRightOperand(step.op, Holds(step.truth, slots[step.slot]))) {
            i += step.skip;
        }
    }
    const Node &root = nodes.back();
    const int32_t value = root.row(root, slots, &failed);
    return Conclude(failed, value, result);
}

}  // namespace fernvault::alarm_manager::compiled
