// The failures of evaluations and their records, and the stack engine of
// substituted postfix lists that EvaluatePostfix runs. A zero denominator
// whose value an && or || may still drop is carried as a poisoned value and
// fails only if it is needed. The engine writes no record: its caller does.
#ifndef QUILLET_EXPR_EVALUATION_H
#define QUILLET_EXPR_EVALUATION_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "Operators.h"
#include "TokenOperators.h"

namespace fernvault::alarm_manager::evaluation {

// What stopped an evaluation.
enum class Failure : uint8_t { ENone, EEmptyList, EMissingVariable, EUnmatchedOperands, EDenominator };

// Writes the record of `failure`, with `variableText` as the missing
// variable's text, and returns 20014; returns 0 and writes nothing for ENone.
// Each record has one call site, in CExprUtil.cpp, so that every evaluation
// writes the same record from the same file and line.
int RecordFailure(Failure failure, const char *variableText = nullptr);

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

// A value on an evaluation stack. It is poisoned when it stems from a
// division by zero whose failure waits on an && or || that may not need it.
struct Operand {
    int32_t value;
    bool poisoned;
};

// left op right into `value`, where a poisoned operand that the result needs
// poisons the result. False for a zero denominator between clean operands:
// the caller fails at once, or poisons the result if an && or || follows.
inline bool Combine(BinaryOp op, Operand left, Operand right, Operand &value)
{
    const bool needsRight = NeedsRightOperand(op, left.value);
    value.poisoned = left.poisoned || (needsRight && right.poisoned);
    if (value.poisoned)
        return true;  // its value is never read
    if (needsRight)
        return Apply(op, left.value, right.value, value.value);
    value.value = ShortCircuitValue(op);
    return true;
}

// The index of the last && or || of `list`, or its size if none.
inline size_t LastLogicIndex(const TokenList &list)
{
    for (size_t i = list.size(); i-- > 0;)
        if (IsBinaryOperator(list[i].eTokenCode) && MayShortCircuit(OperatorOf(list[i])))
            return i;
    return list.size();
}

// Runs `list`, any substituted postfix list, over `stack`, which has room
// for every value it pushes: a token that is no binary operator is a value,
// read from its text. A zero denominator fails at once, unless an && or || after
// it may still drop the value it poisons; a poisoned value that survives to
// the end fails all the same. Writes `result` only on success.
inline Failure Run(const TokenList &list, Operand *stack, int32_t &result)
{
    size_t depth = 0;
    std::optional<size_t> lastLogic;  // found at the first zero denominator
    for (size_t i = 0; i < list.size(); ++i) {
        if (!IsBinaryOperator(list[i].eTokenCode)) {
            stack[depth++] = Operand{ReadInt32(list[i].strToken.c_str()), false};
            continue;
        }
        if (depth < 2)
            return Failure::EUnmatchedOperands;
        Operand &value = stack[--depth - 1];  // the left operand's place; Combine takes copies
        if (!Combine(OperatorOf(list[i]), value, stack[depth], value)) {
            if (!lastLogic)
                lastLogic = LastLogicIndex(list);
            if (*lastLogic == list.size() || *lastLogic < i)
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

// Run with a stack for as many values as `list` has tokens, which no list
// can exceed. `list` must not be empty.
inline Failure RunWithStack(const TokenList &list, int32_t &result)
{
    LocalValues<Operand> local;
    const CValueBuffer<Operand> stack(local, list.size());
    return Run(list, stack.Data(), result);
}

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATION_H
