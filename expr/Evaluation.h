// The evaluation engine of postfix programs, shared by
// CExprUtil::EvaluatePostfix (over a token list) and CCompiledExpr (over its
// compiled forms), so that all compute, short-circuit and fail alike. It
// reports which failure it met and writes no record: the caller does, through
// FailureRecord.h.
//
// Two routes, one set of rules (Arithmetic.h):
// - Run takes any list, well formed or not, one value a step on a stack; a
//   zero denominator whose value an && or || may still drop is carried as a
//   poisoned value and fails only if it is needed.
// - RunSteps takes the steps of a well-formed list (one expression tree), an
//   accumulator with a stack for pending left operands, where && and || skip
//   the right operand they do not need; a division that runs is needed, so
//   it fails at once. It runs kLanes rows side by side.
#ifndef QUILLET_EXPR_EVALUATION_H
#define QUILLET_EXPR_EVALUATION_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

#include "Arithmetic.h"

namespace fernvault::alarm_manager::evaluation {

// What stopped an evaluation.
enum class Failure : uint8_t {
    ENone,
    EEmptyList,
    EMissingVariable,
    EUnmatchedOperands,
    EDenominator,
};

// Buffers of up to this many values live on the call stack; larger ones on the heap.
constexpr size_t kLocalValues = 64;

template <typename T> using LocalValues = std::array<T, kLocalValues>;

// Room for `count` values of T: the caller's `local` array when they fit,
// else a heap block this object owns (not initialised, so only the pages in
// use are touched).
template <typename T> class CValueBuffer {
public:
    CValueBuffer(LocalValues<T> &local, size_t count)
        : heap_(count > kLocalValues ? new T[count] : nullptr)
        , data_(heap_ ? heap_.get() : local.data())
    {
    }
    [[nodiscard]] T *Data() const { return data_; }

private:
    std::unique_ptr<T[]> heap_;  // NOLINT(modernize-avoid-c-arrays): a vector would initialise every value
    T *data_;
};

// Pops right, then left; false, with the stack as it was, below two values.
inline bool PopOperands(const Operand *stack, size_t &depth, Operand &right, Operand &left)
{
    if (depth < 2)
        return false;
    right = stack[--depth];
    left = stack[--depth];
    return true;
}

// One entry of a postfix list: an operator, or a value.
struct PostfixEntry {
    int32_t value;  // a value's
    BinaryOp op;    // an operator's
    bool isOperator;
};

// The postfix lists Run reads: each offers Size(), IsOperator(i),
// OperatorAt(i) and ValueAt(i).

// A substituted token list: every token that is not a binary operator is a
// value, read from its text.
class CTokenProgram {
public:
    explicit CTokenProgram(const TokenList &list)
        : list_(list)
    {
    }
    [[nodiscard]] size_t Size() const { return list_.size(); }
    [[nodiscard]] bool IsOperator(size_t i) const { return IsBinaryOperator(list_[i].eTokenCode); }
    [[nodiscard]] BinaryOp OperatorAt(size_t i) const { return OperatorOf(list_[i]); }
    [[nodiscard]] int32_t ValueAt(size_t i) const { return ReadInt32(list_[i].strToken.c_str()); }

private:
    const TokenList &list_;
};

// `count` entries.
class CEntryProgram {
public:
    CEntryProgram(const PostfixEntry *entries, size_t count)
        : entries_(entries)
        , count_(count)
    {
    }
    [[nodiscard]] size_t Size() const { return count_; }
    [[nodiscard]] bool IsOperator(size_t i) const { return entries_[i].isOperator; }
    [[nodiscard]] BinaryOp OperatorAt(size_t i) const { return entries_[i].op; }
    [[nodiscard]] int32_t ValueAt(size_t i) const { return entries_[i].value; }

private:
    const PostfixEntry *entries_;
    size_t count_;
};

// The index of the last && or || of `program`, or its Size() if none.
template <typename Program> size_t LastLogicIndex(const Program &program)
{
    for (size_t i = program.Size(); i-- > 0;)
        if (program.IsOperator(i) && MayShortCircuit(program.OperatorAt(i)))
            return i;
    return program.Size();
}

// Runs `program`, any postfix list, over `stack`, which has room for every
// value it pushes.
//
// A zero denominator fails at once, unless an && or || after it may still
// drop the value it poisons; a poisoned value that survives to the end fails
// all the same. Writes `result` only on success.
template <typename Program> Failure Run(const Program &program, Operand *stack, int32_t &result)
{
    size_t depth = 0;
    std::optional<size_t> lastLogic;  // found at the first zero denominator
    for (size_t i = 0; i < program.Size(); ++i) {
        if (!program.IsOperator(i)) {
            stack[depth++] = Operand{program.ValueAt(i), false};
            continue;
        }
        Operand right{};
        Operand left{};
        if (!PopOperands(stack, depth, right, left))
            return Failure::EUnmatchedOperands;
        Operand &value = stack[depth++];
        if (!Combine(program.OperatorAt(i), left, right, value)) {
            if (!lastLogic)
                lastLogic = LastLogicIndex(program);
            if (*lastLogic == program.Size() || *lastLogic < i)
                return Failure::EDenominator;
            value.poisoned = true;
        }
    }
    // Values below the top are dropped, but they were computed: a division
    // by zero inside one was needed, whatever && or || came after it.
    for (size_t below = 0; below < depth; ++below)
        if (stack[below].poisoned)
            return Failure::EDenominator;
    result = stack[depth - 1].value;
    return Failure::ENone;
}

// Run with a stack for as many values as `program` has entries, which no
// program can exceed. `program` must not be empty.
template <typename Program> Failure RunWithStack(const Program &program, int32_t &result)
{
    LocalValues<Operand> local;
    const CValueBuffer<Operand> stack(local, program.Size());
    return Run(program, stack.Data(), result);
}

// RunWithStack over the `count` entries that entry(i) gives. count > 0.
template <typename Entry> Failure RunEntries(size_t count, Entry entry, int32_t &result)
{
    LocalValues<PostfixEntry> local{};  // all written below, which gcc cannot always see
    const CValueBuffer<PostfixEntry> entries(local, count);
    for (size_t i = 0; i < count; ++i)
        entries.Data()[i] = entry(i);
    return RunWithStack(CEntryProgram(entries.Data(), count), result);
}

// What a step does to the registers: dst = a op b, for codes 0 to 15, the
// BinaryOp of that number; the codes after them follow. Registers hold the
// caller's values by slot, then the program's constants, then one
// temporary for each depth of the postfix stack.
enum StepCode : uint8_t {
    EDivideConstant = static_cast<uint8_t>(BinaryOp::ELogicOr) + 1,  // dst = a / b, b a constant of
                                                                     // magnitude 2 or more
    ERemainderConstant,  // dst = a % b, the same; both with multiplier `aux`
    ESkipIfDecided,      // if a decides && or || (op), dst = its value and skip `aux` steps, to the
                         // step after the matching EJoin
    EJoin,               // dst = a op b for the && or || (op) of the ESkipIfDecided it closes
    EEnd,                // the result is a
};

// Runs the steps of a well-formed program over `registers` for one row; the
// values and constants are in place. Each step has code, op, dst, a, b and
// aux. A division by zero that runs is needed: it fails at once.
template <typename Step>
Failure RunSteps(const Step *step, const uint64_t *multipliers,
    int32_t *registers,  // NOLINT(readability-non-const-parameter): dst refers into it
    int32_t &result)
{
    for (;; ++step) {
        const int32_t a = registers[step->a];
        const int32_t b = registers[step->b];
        int32_t &dst = registers[step->dst];
        using B = BinaryOp;
        switch (step->code) {
        case static_cast<uint8_t>(B::EMul): Apply(B::EMul, a, b, dst); break;
        case static_cast<uint8_t>(B::EDiv):
            if (!Apply(B::EDiv, a, b, dst))
                return Failure::EDenominator;
            break;
        case static_cast<uint8_t>(B::EMod):
            if (!Apply(B::EMod, a, b, dst))
                return Failure::EDenominator;
            break;
        case static_cast<uint8_t>(B::EAdd): Apply(B::EAdd, a, b, dst); break;
        case static_cast<uint8_t>(B::ESub): Apply(B::ESub, a, b, dst); break;
        case static_cast<uint8_t>(B::EGreater): Apply(B::EGreater, a, b, dst); break;
        case static_cast<uint8_t>(B::ELess): Apply(B::ELess, a, b, dst); break;
        case static_cast<uint8_t>(B::EGreaterEqual): Apply(B::EGreaterEqual, a, b, dst); break;
        case static_cast<uint8_t>(B::ELessEqual): Apply(B::ELessEqual, a, b, dst); break;
        case static_cast<uint8_t>(B::EEqual): Apply(B::EEqual, a, b, dst); break;
        case static_cast<uint8_t>(B::ENotEqual): Apply(B::ENotEqual, a, b, dst); break;
        case static_cast<uint8_t>(B::EBitAnd): Apply(B::EBitAnd, a, b, dst); break;
        case static_cast<uint8_t>(B::EBitXor): Apply(B::EBitXor, a, b, dst); break;
        case static_cast<uint8_t>(B::EBitOr): Apply(B::EBitOr, a, b, dst); break;
        case static_cast<uint8_t>(B::ELogicAnd): Apply(B::ELogicAnd, a, b, dst); break;
        case static_cast<uint8_t>(B::ELogicOr): Apply(B::ELogicOr, a, b, dst); break;
        case EDivideConstant: dst = DivideByConstant(a, b, multipliers[step->aux]); break;
        case ERemainderConstant: dst = RemainderByConstant(a, b, multipliers[step->aux]); break;
        case ESkipIfDecided:
            if (!NeedsRightOperand(static_cast<BinaryOp>(step->op), a)) {
                dst = ShortCircuitValue(static_cast<BinaryOp>(step->op));
                step += step->aux;
            }
            break;
        case EJoin: Apply(static_cast<BinaryOp>(step->op), a, b, dst); break;
        default: result = a; return Failure::ENone;  // EEnd
        }
    }
}

namespace detail {
// Calls f(std::integral_constant<BinaryOp, op>) for the runtime `op`, so that
// a loop over lanes is compiled once per operator with Apply's switch gone.
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

// kLanes rows side by side: register k of lane r is registers[k * kLanes + r].
// A lane is active while its value is needed; a lane whose division by zero
// runs while active has failed, and computes on.
template <size_t kLanes> struct Lanes {
    using Flags = std::array<uint8_t, kLanes>;
    int32_t *registers;
    uint8_t *masks;  // kLanes flags a nesting level of skips: the lanes active outside it
    Flags active;
    Flags failed;
    size_t level = 0;

    [[nodiscard]] int32_t *Register(uint32_t index) const { return registers + size_t{index} * kLanes; }
};

namespace detail {
// dst = a op b in every lane. dst may be a or b, lane for lane, which the
// vectorised loop allows for.
template <size_t kLanes>
void ApplyLanes(BinaryOp op, const int32_t *a, const int32_t *b, Lanes<kLanes> &lanes, int32_t *dst)
{
    WithOperator(op, [&](auto constantOp) {
        for (size_t r = 0; r < kLanes; ++r) {
            int32_t value = 0;
            const bool failed = !Apply(constantOp.value, a[r], b[r], value);
            lanes.failed[r] |= static_cast<uint8_t>(failed) & lanes.active[r];
            dst[r] = value;
        }
    });
}

// Narrows the active lanes to those that need the right operand of `op` and
// returns true if any does; else leaves them as they were, writes the value
// the left operand gives into dst and returns false, to skip the operand.
template <size_t kLanes> bool EnterSkip(BinaryOp op, const int32_t *a, int32_t *dst, Lanes<kLanes> &lanes)
{
    uint8_t *saved = lanes.masks + lanes.level * kLanes;
    uint8_t needed = 0;
    for (size_t r = 0; r < kLanes; ++r) {
        saved[r] = lanes.active[r];
        lanes.active[r] &= static_cast<uint8_t>(NeedsRightOperand(op, a[r]));
        needed |= lanes.active[r];
    }
    if (needed != 0) {
        ++lanes.level;
        return true;
    }
    std::copy(saved, saved + kLanes, lanes.active.begin());
    std::fill(dst, dst + kLanes, ShortCircuitValue(op));
    return false;
}
}  // namespace detail

// RunSteps for kLanes rows at once. A skip skips when no active lane needs
// its right operand; else every lane computes it, and the lanes that did not
// need it take their value at the join, from their left operand as Apply
// does. Returns the result register; lanes.failed marks the failed rows.
template <size_t kLanes, typename Step>
uint32_t RunBlock(const Step *step, const uint64_t *multipliers, Lanes<kLanes> &lanes)
{
    for (;; ++step) {
        const int32_t *a = lanes.Register(step->a);
        const int32_t *b = lanes.Register(step->b);
        int32_t *dst = lanes.Register(step->dst);
        switch (step->code) {
        case EDivideConstant:
            for (size_t r = 0; r < kLanes; ++r)
                dst[r] = DivideByConstant(a[r], b[r], multipliers[step->aux]);
            break;
        case ERemainderConstant:
            for (size_t r = 0; r < kLanes; ++r)
                dst[r] = RemainderByConstant(a[r], b[r], multipliers[step->aux]);
            break;
        case ESkipIfDecided:
            if (!detail::EnterSkip(static_cast<BinaryOp>(step->op), a, dst, lanes))
                step += step->aux;
            break;
        case EJoin:
            detail::ApplyLanes(static_cast<BinaryOp>(step->op), a, b, lanes, dst);
            --lanes.level;
            std::copy_n(lanes.masks + lanes.level * kLanes, kLanes, lanes.active.begin());
            break;
        case EEnd: return step->a;
        default: detail::ApplyLanes(static_cast<BinaryOp>(step->code), a, b, lanes, dst); break;
        }
    }
}

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATION_H
