#include "CCompiledExpr.h"

#include <algorithm>
#include <memory>

#include "Evaluation.h"
#include "FailureRecord.h"

namespace fernvault::alarm_manager {

namespace {
enum Opcode : uint8_t { kPushValue, kPushVariable, kFirstOperator };

using evaluation::Failure;
using evaluation::RecordFailure;
using evaluation::StepCode;

// EvaluateRows runs this many rows side by side, each step decoded once for
// all of them. Programs that stack more pending values than kMaxBlockDepth
// run row by row instead, so that a block's stack stays small.
constexpr size_t kBlockRows = 64;
constexpr size_t kMaxBlockDepth = 64;

// Whether `op` may leave its right operand unneeded (&& and ||).
constexpr bool MayShortCircuit(BinaryOp op)
{
    return !NeedsRightOperand(op, 0) || !NeedsRightOperand(op, 1);
}
}  // namespace

// The compiled instructions as the program of evaluation::Run, with the
// values of this evaluation's variables by slot.
class CCompiledExpr::Program {
public:
    Program(const std::vector<Instruction> &program, const int32_t *variables, size_t lastLogic)
        : program_(program)
        , variables_(variables)
        , lastLogic_(lastLogic)
    {
    }

    size_t size() const { return program_.size(); }
    bool IsOperator(size_t i) const { return program_[i].opcode >= kFirstOperator; }
    BinaryOp OperatorAt(size_t i) const { return static_cast<BinaryOp>(program_[i].opcode - kFirstOperator); }
    int32_t ValueAt(size_t i) const
    {
        const Instruction instruction = program_[i];
        return instruction.opcode == kPushValue ? instruction.operand : variables_[instruction.operand];
    }
    size_t LastLogicIndex() const { return lastLogic_; }

private:
    const std::vector<Instruction> &program_;
    const int32_t *variables_;
    size_t lastLogic_;
};

CCompiledExpr::CCompiledExpr(const TokenList &postfix)
    : lastLogic_(postfix.size())
{
    // The low 16 bits of the saturated value name a variable, as in substitution.
    const auto numberOf = [](const ExprToken &token) {
        return static_cast<uint16_t>(ReadInt32(token.strToken.c_str()));
    };
    for (const ExprToken &token : postfix)
        if (token.eTokenCode == EVariable)
            variables_.push_back(numberOf(token));
    std::sort(variables_.begin(), variables_.end());
    variables_.erase(std::unique(variables_.begin(), variables_.end()), variables_.end());
    slotTexts_.resize(variables_.size());

    program_.reserve(postfix.size());
    for (size_t i = 0; i < postfix.size(); ++i) {
        const ExprToken &token = postfix[i];
        if (IsBinaryOperator(token.eTokenCode)) {
            const BinaryOp op = OperatorOf(token);
            if (MayShortCircuit(op))
                lastLogic_ = i;
            program_.push_back(
                Instruction{static_cast<uint8_t>(kFirstOperator + static_cast<uint8_t>(op)), 0});
        } else if (token.eTokenCode != EVariable) {
            program_.push_back(Instruction{kPushValue, ReadInt32(token.strToken.c_str())});
        } else {
            const auto slot = static_cast<uint32_t>(
                std::lower_bound(variables_.begin(), variables_.end(), numberOf(token)) - variables_.begin());
            if (std::find(slotsInListOrder_.begin(), slotsInListOrder_.end(), slot) ==
                slotsInListOrder_.end()) {
                slotsInListOrder_.push_back(slot);
                slotTexts_[slot] = token.strToken;
            }
            program_.push_back(Instruction{kPushVariable, static_cast<int32_t>(slot)});
        }
    }
    CompileSteps();
}

// Fills steps_ when the program is one expression tree: every operator finds
// two values and one value is left. An operand right before an operator is
// that operator's right operand and folds into it; an && or || whose right
// operand is more than an operand gets a skip before that operand.
void CCompiledExpr::CompileSteps()
{
    const size_t count = program_.size();
    const auto isOperator = [this](size_t i) { return program_[i].opcode >= kFirstOperator; };
    const auto operatorAt = [this](size_t i) { return program_[i].opcode - kFirstOperator; };
    // skipBefore[i]: 1 + the operator whose skipped right operand starts at i.
    std::vector<uint8_t> skipBefore(count, 0);
    std::vector<size_t> starts;  // where each pending value's instructions start
    for (size_t i = 0; i < count; ++i) {
        if (!isOperator(i)) {
            starts.push_back(i);
            continue;
        }
        if (starts.size() < 2)
            return;
        const size_t rightStart = starts.back();
        starts.pop_back();
        if (rightStart != i - 1 && MayShortCircuit(static_cast<BinaryOp>(operatorAt(i))))
            skipBefore[rightStart] = static_cast<uint8_t>(1 + operatorAt(i));
    }
    if (starts.size() != 1)
        return;

    const auto emit = [this](StepCode code, int op, int32_t operand) {
        steps_.push_back(Step{static_cast<uint8_t>(code), static_cast<uint8_t>(op), operand});
    };
    std::vector<size_t> openSkips;  // indexes of skips whose target is not known yet
    size_t depth = 0;
    for (size_t i = 0; i < count; ++i) {
        const Instruction instruction = program_[i];
        if (isOperator(i)) {
            --depth;
            if (!MayShortCircuit(static_cast<BinaryOp>(operatorAt(i)))) {
                emit(StepCode::EApplyPopped, operatorAt(i), 0);
                continue;
            }
            emit(StepCode::EJoinSkipped, operatorAt(i), 0);
            steps_[openSkips.back()].operand = static_cast<int32_t>(steps_.size());
            openSkips.pop_back();
            continue;
        }
        if (skipBefore[i] != 0) {
            openSkips.push_back(steps_.size());
            emit(StepCode::ESkipIfDecided, skipBefore[i] - 1, 0);
            stepSkips_ = std::max(stepSkips_, openSkips.size());
        }
        const bool isSlot = instruction.opcode == kPushVariable;
        if (i + 1 < count && isOperator(i + 1)) {
            emit(isSlot ? StepCode::EApplySlot : StepCode::EApplyConstant, operatorAt(i + 1),
                instruction.operand);
            ++i;
            continue;
        }
        if (i > 0) {
            emit(StepCode::EPush, 0, 0);
            stepDepth_ = std::max(stepDepth_, ++depth);
        }
        emit(isSlot ? StepCode::ELoadSlot : StepCode::ELoadConstant, 0, instruction.operand);
    }
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    result = 0;
    if (program_.empty())
        return RecordFailure(Failure::EEmptyList);
    int32_t local[evaluation::kLocalValues];
    const evaluation::ValueBuffer<int32_t> values(local, variables_.size());
    // Both are ascending: the entry after one slot's is often the next slot's.
    auto entry = table.begin();
    for (size_t slot = 0; slot < variables_.size(); ++slot) {
        if (entry == table.end() || entry->first != variables_[slot])
            entry = table.find(variables_[slot]);
        if (entry == table.end())
            return MissingVariable(0, &table);
        values.data()[slot] = entry->second;
        ++entry;
    }
    return EvaluateSlots(values.data(), result);
}

int CCompiledExpr::Evaluate(const int32_t *values, size_t count, int32_t &result) const
{
    result = 0;
    if (program_.empty())
        return RecordFailure(Failure::EEmptyList);
    if (count < variables_.size())
        return MissingVariable(count, nullptr);
    return EvaluateSlots(values, result);
}

// The record of the first variable in list order that the slots (the first
// `count`) or `table` lack.
int CCompiledExpr::MissingVariable(size_t count, const VariableTable *table) const
{
    for (const uint32_t slot : slotsInListOrder_)
        if (table ? table->find(variables_[slot]) == table->end() : slot >= count)
            return RecordFailure(Failure::EMissingVariable, slotTexts_[slot].c_str());
    return RecordFailure(Failure::EMissingVariable, "");
}

// Evaluates a non-empty program with every slot's value in `values`.
int CCompiledExpr::EvaluateSlots(const int32_t *values, int32_t &result) const
{
    if (steps_.empty())
        return RecordFailure(evaluation::RunWithStack(Program(program_, values, lastLogic_), result));
    int32_t local[evaluation::kLocalValues];
    const evaluation::ValueBuffer<int32_t> stack(local, stepDepth_);
    evaluation::Lanes<1> lane{{0}, {false}};
    const auto value = [values](size_t, size_t slot) { return values[slot]; };
    const Failure failure =
        evaluation::RunSteps(steps_.data(), steps_.size(), value, lane, stack.data(), nullptr);
    if (failure == Failure::ENone)
        result = lane.value[0];
    return RecordFailure(failure);
}

int CCompiledExpr::EvaluateRows(
    const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const
{
    size_t row = 0;
    if (!steps_.empty() && stride >= variables_.size() && stepDepth_ <= kMaxBlockDepth)
        row = EvaluateBlocks(rows, stride, count, results, statuses);
    for (; row < count; ++row)
        statuses[row] = Evaluate(stride != 0 ? rows + row * stride : rows, stride, results[row]);
    const int *failed = std::find_if(statuses, statuses + count, [](int status) { return status != 0; });
    return failed == statuses + count ? 0 : *failed;
}

// Evaluates the whole blocks of kBlockRows rows at the start of `rows` and
// returns how many rows that was.
size_t CCompiledExpr::EvaluateBlocks(
    const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const
{
    std::unique_ptr<int32_t[]> stack(new int32_t[stepDepth_ * kBlockRows]);
    std::unique_ptr<bool[]> saved(new bool[stepSkips_ * kBlockRows]);
    size_t done = 0;
    for (; count - done >= kBlockRows; done += kBlockRows) {
        const int32_t *block = rows + done * stride;
        const auto value = [block, stride](size_t r, size_t slot) { return block[r * stride + slot]; };
        evaluation::Lanes<kBlockRows> lanes{};
        evaluation::RunSteps(steps_.data(), steps_.size(), value, lanes, stack.get(), saved.get());
        for (size_t r = 0; r < kBlockRows; ++r) {
            const bool failed = lanes.failed[r];
            results[done + r] = failed ? 0 : lanes.value[r];
            statuses[done + r] = RecordFailure(failed ? Failure::EDenominator : Failure::ENone);
        }
    }
    return done;
}

}  // namespace fernvault::alarm_manager
