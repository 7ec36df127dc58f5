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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

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

// Room for `count` values of T: the caller's `local` array when they fit,
// else a heap block this object owns (not initialised, so only the pages in
// use are touched).
template <typename T> class ValueBuffer {
public:
    ValueBuffer(T (&local)[kLocalValues], size_t count)
        : heap_(count > kLocalValues ? new T[count] : nullptr)
        , data_(heap_ ? heap_.get() : local)
    {
    }
    T *data() const { return data_; }

private:
    std::unique_ptr<T[]> heap_;
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

// Runs `program` over `stack`, which has room for every value it pushes.
// Program offers size(), IsOperator(i), OperatorAt(i), ValueAt(i) and
// LastLogicIndex(): the index of its last && or ||, or size() if none.
//
// A zero denominator fails at once, unless an && or || after it may still
// drop the value it poisons; a poisoned value that survives to the end fails
// all the same. Writes `result` only on success.
template <typename Program> Failure Run(const Program &program, Operand *stack, int32_t &result)
{
    size_t depth = 0;
    std::optional<size_t> lastLogic;  // found at the first zero denominator
    for (size_t i = 0; i < program.size(); ++i) {
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
                lastLogic = program.LastLogicIndex();
            if (*lastLogic == program.size() || *lastLogic < i)
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

// Run with a stack for as many values as `program` has steps, which no
// program can exceed. `program` must not be empty.
template <typename Program> Failure RunWithStack(const Program &program, int32_t &result)
{
    Operand local[kLocalValues];
    const ValueBuffer<Operand> stack(local, program.size());
    return Run(program, stack.data(), result);
}

// One step of a well-formed program. The accumulator holds the value last
// computed; a push moves it onto the stack of pending left operands.
enum class StepCode : uint8_t {
    ELoadConstant,   // accumulator = operand
    ELoadSlot,       // accumulator = the value of slot `operand`
    EPush,           // push the accumulator
    EApplyConstant,  // accumulator = accumulator op operand
    EApplySlot,      // accumulator = accumulator op the value of slot `operand`
    EApplyPopped,    // accumulator = popped op accumulator
    ESkipIfDecided,  // if the accumulator decides && or ||, take its value and go to step `operand`
    EJoinSkipped,    // EApplyPopped for the && or || of the ESkipIfDecided it closes
};

// The lanes of one run: row r's value of slot s is values(r, s).
// kLanes == 1 returns at the first failure; wider runs mark the lane in
// `failed` and go on with the others, leaving the lane's value undefined.
// `stack` has room for depth * kLanes values and `saved` for skips * kLanes
// flags, the depth and skip nesting that the steps reach.
template <size_t kLanes> struct Lanes {
    int32_t value[kLanes];
    bool failed[kLanes];  // in: lanes not to compute; out: also lanes that failed
};

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

// value[r] = left(r) op right(r) for every lane; a zero denominator in an
// active lane fails it. False when kLanes == 1 and the lane failed.
template <size_t kLanes, typename Left, typename Right>
bool ApplyLanes(BinaryOp op, Lanes<kLanes> &lanes, const bool *active, Left left, Right right)
{
    bool ok = true;
    WithOperator(op, [&](auto constantOp) {
        for (size_t r = 0; r < kLanes; ++r) {
            int32_t value = 0;
            if (!Apply(constantOp.value, left(r), right(r), value) && active[r]) {
                lanes.failed[r] = true;
                ok = false;
            }
            lanes.value[r] = value;
        }
    });
    return kLanes > 1 || ok;
}
}  // namespace detail

// Runs `count` steps, each with `code` (a StepCode), `op` (a BinaryOp) and
// `operand`, over the lanes.
template <size_t kLanes, typename Step, typename Values>
Failure RunSteps(
    const Step *steps, size_t count, const Values &values, Lanes<kLanes> &lanes, int32_t *stack, bool *saved)
{
    int32_t *const acc = lanes.value;
    bool active[kLanes];
    for (size_t r = 0; r < kLanes; ++r)
        active[r] = !lanes.failed[r];
    size_t depth = 0;
    size_t skips = 0;
    for (size_t pc = 0; pc < count; ++pc) {
        const auto code = static_cast<StepCode>(steps[pc].code);
        const auto op = static_cast<BinaryOp>(steps[pc].op);
        const int32_t operand = steps[pc].operand;
        const auto slot = static_cast<size_t>(operand);
        switch (code) {
        case StepCode::ELoadConstant:
            for (size_t r = 0; r < kLanes; ++r)
                acc[r] = operand;
            break;
        case StepCode::ELoadSlot:
            for (size_t r = 0; r < kLanes; ++r)
                acc[r] = values(r, slot);
            break;
        case StepCode::EPush:
            for (size_t r = 0; r < kLanes; ++r)
                stack[depth * kLanes + r] = acc[r];
            ++depth;
            break;
        case StepCode::EApplyConstant:
            if (!detail::ApplyLanes(
                    op, lanes, active, [acc](size_t r) { return acc[r]; },
                    [operand](size_t) { return operand; }))
                return Failure::EDenominator;
            break;
        case StepCode::EApplySlot:
            if (!detail::ApplyLanes(
                    op, lanes, active, [acc](size_t r) { return acc[r]; },
                    [&values, slot](size_t r) { return values(r, slot); }))
                return Failure::EDenominator;
            break;
        case StepCode::EApplyPopped:
        case StepCode::EJoinSkipped: {
            const int32_t *left = stack + --depth * kLanes;
            int32_t right[kLanes];
            for (size_t r = 0; r < kLanes; ++r)
                right[r] = acc[r];
            if (!detail::ApplyLanes(
                    op, lanes, active, [left](size_t r) { return left[r]; },
                    [&right](size_t r) { return right[r]; }))
                return Failure::EDenominator;
            if constexpr (kLanes > 1) {
                if (code == StepCode::EJoinSkipped) {
                    --skips;
                    for (size_t r = 0; r < kLanes; ++r)
                        active[r] = saved[skips * kLanes + r] && !lanes.failed[r];
                }
            }
            break;
        }
        case StepCode::ESkipIfDecided:
            if constexpr (kLanes == 1) {
                if (NeedsRightOperand(op, acc[0]))
                    break;
                acc[0] = ShortCircuitValue(op);
            } else {
                // The right operand runs for every lane if any needs it; the
                // others take their value from the left at EJoinSkipped.
                bool needed = false;
                for (size_t r = 0; r < kLanes; ++r) {
                    saved[skips * kLanes + r] = active[r];
                    active[r] = active[r] && NeedsRightOperand(op, acc[r]);
                    needed = needed || active[r];
                }
                if (needed) {
                    ++skips;
                    break;
                }
                for (size_t r = 0; r < kLanes; ++r) {
                    if (!NeedsRightOperand(op, acc[r]))
                        acc[r] = ShortCircuitValue(op);
                    active[r] = saved[skips * kLanes + r];
                }
            }
            pc = slot - 1;
            break;
        }
    }
    return Failure::ENone;
}

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATION_H
