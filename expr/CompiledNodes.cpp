// The functions of the nodes that the tree builder makes: for each
// combination that Builds names, Row (and Evaluate and ColumnOf where the
// node may be part of a tree that cannot fail), generated from Apply
// (Operators.h), so that every route computes alike.
#include "CompiledNodes.h"

#include <cstdlib>
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
    if constexpr (MayShortCircuit(op))
        if (!NeedsRightOperand(op, leftValue))
            return ShortCircuitValue(op);
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

// One node that Builds names and its functions.
struct Specialisation {
    BinaryOp op;
    Kind left;
    Kind right;
    int32_t (*row)(const Node &node, const int32_t *slots, bool *failed);
    int (*evaluate)(const Node &node, const int32_t *slots, int32_t &result);
    void (*column)(const Node &node, Block &block);
};

constexpr size_t kKinds = static_cast<size_t>(Kind::ENodeTest) + 1;
constexpr size_t kCombinations = kOperators.size() * kKinds * kKinds;

struct Combination {
    BinaryOp op;
    Kind left;
    Kind right;
};

constexpr Combination CombinationAt(size_t index)
{
    return {static_cast<BinaryOp>(index / (kKinds * kKinds)), static_cast<Kind>(index / kKinds % kKinds),
        static_cast<Kind>(index % kKinds)};
}

// How many combinations Builds names, and their indices, ascending.
struct Built {
    size_t count;
    std::array<size_t, kCombinations> indices;
};

constexpr Built FindBuilt()
{
    Built built{};
    for (size_t index = 0; index < kCombinations; ++index) {
        const Combination c = CombinationAt(index);
        if (Builds(c.op, c.left, c.right))
            built.indices[built.count++] = index;
    }
    return built;
}

constexpr Built kBuilt = FindBuilt();

// The whole evaluation, result and status, of a tree that `node` is the
// root of and in which no node can fail.
template <BinaryOp op, Kind left, Kind right>
int Evaluate(const Node &node, const int32_t *slots, int32_t &result)
{
    result = Row<op, left, right>(node, slots, nullptr);
    return 0;
}

// The evaluation and the column of a node that only a tree that may fail
// has: never computed.
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
    constexpr Combination c = CombinationAt(index);
    if constexpr (MayBeInfallible(c.op, c.left, c.right))
        return {c.op, c.left, c.right, &Row<c.op, c.left, c.right>, &Evaluate<c.op, c.left, c.right>,
            &ColumnOf<c.op, c.left, c.right>};
    else
        return {c.op, c.left, c.right, &Row<c.op, c.left, c.right>, &NoEvaluation, &NoColumn};
}

template <size_t... built>
constexpr std::array<Specialisation, sizeof...(built)> Specialisations(
    std::index_sequence<built...> /*unused*/)
{
    return {SpecialisationAt<kBuilt.indices[built]>()...};
}

constexpr auto kSpecialisations = Specialisations(std::make_index_sequence<kBuilt.count>());

}  // namespace

void Specialise(Node &node)
{
    for (const Specialisation &s : kSpecialisations)
        if (s.op == node.op && s.left == node.kinds[0] && s.right == node.kinds[1]) {
            node.row = s.row;
            node.evaluate = s.evaluate;
            node.column = s.column;
            return;
        }
    std::abort();
}

}  // namespace fernvault::alarm_manager::compiled
