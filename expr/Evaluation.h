// The one evaluation loop of postfix programs, shared by
// CExprUtil::EvaluatePostfix (over a token list) and CCompiledExpr (over its
// instructions), so that both compute, short-circuit and fail alike.
#ifndef QUILLET_EXPR_EVALUATION_H
#define QUILLET_EXPR_EVALUATION_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "Arithmetic.h"

namespace fernvault::alarm_manager::evaluation {

// The failure records of evaluation, written from CExprUtil.cpp whoever
// finds the failure. Each returns 20014.
int EmptyListFailure();
int MissingVariableFailure(const char *variableText);
int UnmatchedOperandsFailure();
int DenominatorFailure();

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

// Runs `program` over `stack`, which has room for every value it pushes.
// Program offers Size(), IsOperator(i), OperatorAt(i), ValueAt(i) and
// LastLogicIndex(): the index of its last && or ||, or Size() if none.
//
// A zero denominator fails at once, unless an && or || after it may still
// drop the value it poisons; a poisoned value that survives to the end fails
// all the same. Returns 0 with `result` written, or 20014 (logged).
template <typename Program> int Run(const Program &program, Operand *stack, int32_t &result)
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
            return UnmatchedOperandsFailure();
        Operand &value = stack[depth++];
        if (!Combine(program.OperatorAt(i), left, right, value)) {
            if (!lastLogic)
                lastLogic = program.LastLogicIndex();
            if (*lastLogic == program.Size() || *lastLogic < i)
                return DenominatorFailure();
            value.poisoned = true;
        }
    }
    // Values below the top are dropped, but they were computed: a division
    // by zero inside one was needed, whatever && or || came after it.
    for (size_t below = 0; below < depth; ++below)
        if (stack[below].poisoned)
            return DenominatorFailure();
    result = stack[depth - 1].value;
    return 0;
}

// Run with a stack for as many values as `program` has steps, which no
// program can exceed. `program` must not be empty.
template <typename Program> int RunWithStack(const Program &program, int32_t &result)
{
    LocalValues<Operand> local;
    const CValueBuffer<Operand> stack(local, program.Size());
    return Run(program, stack.Data(), result);
}

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATION_H
