#include "CCompiledExpr.h"

#include <algorithm>
#include <map>

#include "Arithmetic.h"
#include "EvaluationLog.h"

namespace fernvault::alarm_manager {

namespace {

enum Opcode : uint8_t { kPushValue, kPushVariable, kFirstOperator };

// Buffers up to this many values live on the call stack; larger ones on the heap.
constexpr size_t kLocalValues = 64;

// `count` values: the caller's local array when it is large enough, else a
// heap block that lives as long as this object.
class ValueBuffer {
public:
    ValueBuffer(int32_t *local, size_t count) : data_(local)
    {
        if (count > kLocalValues) {
            heap_.resize(count);
            data_ = heap_.data();
        }
    }
    int32_t *data() { return data_; }

private:
    std::vector<int32_t> heap_;
    int32_t *data_;
};

}  // namespace

CCompiledExpr::CCompiledExpr(const TokenList &postfix) : empty_(postfix.empty())
{
    program_.reserve(postfix.size());
    std::map<uint16_t, int32_t> slots;
    uint32_t depth = 0;
    for (size_t i = 0; i < postfix.size(); ++i) {
        const ExprToken &token = postfix[i];
        int32_t variableSlot = -1;
        if (token.eTokenCode == EVariable) {
            const auto number = static_cast<uint16_t>(ReadInt32(token.strToken.c_str()));
            const auto [entry, added] =
                slots.emplace(number, static_cast<int32_t>(variableNumbers_.size()));
            if (added) {
                variableNumbers_.push_back(number);
                variableTexts_.push_back(token.strToken);
            }
            variableSlot = entry->second;
        } else if (token.eTokenCode == ELogicAnd || token.eTokenCode == ELogicOr) {
            deferBefore_ = i;
        }
        if (unmatched_)
            continue;  // the variables and the last && or || still count
        if (IsBinaryOperator(token.eTokenCode)) {
            if (depth < 2) {
                unmatched_ = true;
                continue;
            }
            --depth;
            program_.push_back(Instruction{
                static_cast<uint8_t>(kFirstOperator + static_cast<uint8_t>(OperatorOf(token))), 0});
        } else {
            program_.push_back(variableSlot >= 0
                                   ? Instruction{kPushVariable, variableSlot}
                                   : Instruction{kPushValue, ReadInt32(token.strToken.c_str())});
            maxDepth_ = std::max(maxDepth_, ++depth);
        }
    }
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    result = 0;
    if (empty_)
        return evaluation::EmptyListFailure();
    int32_t localVariables[kLocalValues];
    ValueBuffer variables(localVariables, variableNumbers_.size());
    for (size_t slot = 0; slot < variableNumbers_.size(); ++slot) {
        const auto entry = table.find(variableNumbers_[slot]);
        if (entry == table.end())
            return evaluation::MissingVariableFailure(variableTexts_[slot].c_str());
        variables.data()[slot] = entry->second;
    }
    int32_t localStack[kLocalValues];
    ValueBuffer stack(localStack, maxDepth_);
    return Run(variables.data(), stack.data(), result);
}

// The program with plain values. A zero denominator fails at once unless an
// && or || after it may still drop it; then the run starts over with
// poisoned values, which only happens on that rare path.
int CCompiledExpr::Run(const int32_t *variables, int32_t *stack, int32_t &result) const
{
    size_t depth = 0;
    for (size_t i = 0; i < program_.size(); ++i) {
        const Instruction instruction = program_[i];
        switch (instruction.opcode) {
        case kPushValue: stack[depth++] = instruction.operand; break;
        case kPushVariable: stack[depth++] = variables[instruction.operand]; break;
        default: {
            --depth;
            const auto op = static_cast<BinaryOp>(instruction.opcode - kFirstOperator);
            if (!Apply(op, stack[depth - 1], stack[depth], stack[depth - 1]))
                return i < deferBefore_ ? RunDeferringDenominators(variables, result)
                                        : evaluation::DenominatorFailure();
        }
        }
    }
    if (unmatched_)
        return evaluation::UnmatchedOperandsFailure();
    result = stack[depth - 1];
    return 0;
}

// The program as EvaluatePostfix computes it once a zero denominator has
// been seen: && and || decide from their left operand as in C.
int CCompiledExpr::RunDeferringDenominators(const int32_t *variables, int32_t &result) const
{
    std::vector<Operand> stack(maxDepth_);
    size_t depth = 0;
    for (size_t i = 0; i < program_.size(); ++i) {
        const Instruction instruction = program_[i];
        if (instruction.opcode == kPushValue || instruction.opcode == kPushVariable) {
            const bool isValue = instruction.opcode == kPushValue;
            stack[depth++] = Operand{isValue ? instruction.operand : variables[instruction.operand], false};
            continue;
        }
        const Operand right = stack[--depth];
        const Operand left = stack[depth - 1];
        const auto op = static_cast<BinaryOp>(instruction.opcode - kFirstOperator);
        Operand value;
        if (!Combine(op, left, right, value)) {
            if (i >= deferBefore_)
                return evaluation::DenominatorFailure();
            value.poisoned = true;
        }
        stack[depth - 1] = value;
    }
    if (unmatched_)
        return evaluation::UnmatchedOperandsFailure();
    // A poisoned value below the top was computed all the same: it fails too.
    for (size_t below = 0; below < depth; ++below)
        if (stack[below].poisoned)
            return evaluation::DenominatorFailure();
    result = stack[depth - 1].value;
    return 0;
}

}  // namespace fernvault::alarm_manager
