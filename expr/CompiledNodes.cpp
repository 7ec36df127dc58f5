// The functions of the nodes that the tree builder makes, for each
// combination that Builds names:
// - Row computes one row, calling the node's operand nodes; it recurses as
//   deep as the node is above the slots it reads, which the builder bounds
//   (a segment's slot is read, not called).
// - Evaluate is a whole evaluation of the root of a tree that cannot fail.
// - ColumnOf computes a block of kLanes rows into the node's column, reading
//   its operands' columns, which the nodes before it wrote.
//   It computes both operands of && and ||, so it serves only trees in which
//   no node can fail.
#include "CompiledNodes.h"

#include "FailureRecord.h"

#include <cstdlib>
#include <type_traits>
#include <utility>

namespace fernvault::alarm_manager::compiled {

namespace {

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
    if constexpr (MayShortCircuit(op)) {
        if (!NeedsRightOperand(op, leftValue))
            return ShortCircuitValue(op);
        if constexpr (right == Kind::EConstant)
            return node.constants[1];  // the builder keeps it as its truth, 0 or 1
    }
    return Compute<op, right>(node, leftValue, RowOperand<right>(node, 1, slots, failed), failed);
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
            column_ = &block.columns[node.nodes[side]->out];
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
    Column &out = block.columns[node.out];
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

// One node that Builds names, by IndexOf, and its functions.
struct Specialisation {
    size_t index;
    int32_t (*row)(const Node &node, const int32_t *slots, bool *failed);
    int (*evaluate)(const Node &node, const int32_t *slots, int32_t &result);
    // Of a tree whose root tests this node, which divides by a value (MakeRoot); else null.
    int (*evaluateTest)(const Node &node, const int32_t *slots, int32_t &result);
    void (*column)(const Node &node, Block &block);
};

// The whole evaluation, result and status, of a tree that `node` is the
// root of and in which no node can fail.
template <BinaryOp op, Kind left, Kind right>
int Evaluate(const Node &node, const int32_t *slots, int32_t &result)
{
    result = Row<op, left, right>(node, slots, nullptr);
    return 0;
}

// The whole evaluation, result and status, of a tree that `node` is the
// root of and in which a node may divide by zero: 20014 and the record then.
int EvaluateFallible(const Node &node, const int32_t *slots, int32_t &result)
{
    bool failed = false;
    const int32_t value = node.row(node, slots, &failed);
    if (failed) {
        result = 0;
        return evaluation::RecordFailure(evaluation::Failure::EDenominator);
    }
    result = value;
    return 0;
}

// The whole evaluation of a tree that may fail and whose root is
// `test && c`, the test of this node (op over left and right) fused into &&
// with a constant truth c: the root computes this node in place, without a
// call. Made for the nodes that divide by a value alone: a quotient or
// remainder compared, `x / y > 2`, is the rule that may fail.
template <BinaryOp op, Kind left, Kind right>
int EvaluateTestOf(const Node &root, const int32_t *slots, int32_t &result)
{
    bool failed = false;
    const int32_t value = Row<op, left, right>(*root.nodes[0], slots, &failed);
    if (failed) {
        result = 0;
        return evaluation::RecordFailure(evaluation::Failure::EDenominator);
    }
    result = Holds(root.ranges[0], value) & root.constants[1];
    return 0;
}

// The evaluation and the column of a node that only a tree that may fail
// has: never called.
[[noreturn]] int NoEvaluation(const Node & /*node*/, const int32_t * /*slots*/, int32_t & /*result*/)
{
    std::abort();
}
[[noreturn]] void NoColumn(const Node & /*node*/, Block & /*block*/)
{
    std::abort();
}

template <size_t index> constexpr Specialisation SpecialisationAt()
{
    constexpr auto op = static_cast<BinaryOp>(index / (kKinds * kKinds));
    constexpr auto left = static_cast<Kind>(index / kKinds % kKinds);
    constexpr auto right = static_cast<Kind>(index % kKinds);
    constexpr bool infallible = MayBeInfallible(op, left, right);
    Specialisation s{index, &Row<op, left, right>, &NoEvaluation, nullptr, &NoColumn};
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

// Each combination's place in kSpecialisations, by IndexOf; kNone for one
// that Builds does not name. A byte each: the places are fewer than 255.
constexpr uint8_t kNone = UINT8_MAX;
static_assert(kSpecialisations.size() < kNone);
constexpr auto kPlaces = [] {
    std::array<uint8_t, kCombinations> places{};
    for (uint8_t &place : places)
        place = kNone;
    for (size_t place = 0; place < kSpecialisations.size(); ++place)
        places[kSpecialisations[place].index] = static_cast<uint8_t>(place);
    return places;
}();

// The specialisation of `node`, whose op and kinds are set; aborts for a
// node that Builds does not name.
const Specialisation &SpecialisationOf(const Node &node)
{
    const uint8_t place = kPlaces[IndexOf(node.op, node.kinds[0], node.kinds[1])];
    if (place == kNone)
        std::abort();
    return kSpecialisations[place];
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

void Walk(const std::vector<Node> &nodes, const std::vector<Step> &steps, int32_t *slots, bool *failed)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        if (!step.test) {
            const Node &root = nodes[step.node];
            slots[step.slot] = root.row(root, slots, failed);
        } else if (!NeedsRightOperand(step.op, Holds(step.truth, slots[step.slot]))) {
            i += step.skip;
        }
    }
}

}  // namespace fernvault::alarm_manager::compiled
