#include "CCompiledExpr.h"

#include <algorithm>
#include <memory>

#include "Evaluation.h"
#include "FailureRecord.h"

namespace fernvault::alarm_manager {

namespace {
enum Opcode : uint8_t { EPushValue, EPushVariable, EFirstOperator };

using evaluation::EDivideConstant;
using evaluation::EEnd;
using evaluation::EJoin;
using evaluation::ERemainderConstant;
using evaluation::ESkipIfDecided;
using evaluation::Failure;
using evaluation::RecordFailure;

// EvaluateRows runs this many rows side by side, each step decoded once for
// all of them. Programs with more registers than kMaxBlockRegisters run row
// by row instead, so that a block's registers stay small.
constexpr size_t kBlockRows = 64;
constexpr size_t kMaxBlockRegisters = 256;

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

    [[nodiscard]] size_t Size() const { return program_.size(); }
    bool IsOperator(size_t i) const { return program_[i].opcode >= EFirstOperator; }
    BinaryOp OperatorAt(size_t i) const { return static_cast<BinaryOp>(program_[i].opcode - EFirstOperator); }
    int32_t ValueAt(size_t i) const
    {
        const Instruction instruction = program_[i];
        return instruction.opcode == EPushValue ? instruction.operand : variables_[instruction.operand];
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
                Instruction{static_cast<uint8_t>(EFirstOperator + static_cast<uint8_t>(op)), 0});
        } else if (token.eTokenCode != EVariable) {
            program_.push_back(Instruction{EPushValue, ReadInt32(token.strToken.c_str())});
        } else {
            const auto slot = static_cast<uint32_t>(
                std::lower_bound(variables_.begin(), variables_.end(), numberOf(token)) - variables_.begin());
            if (std::find(slotsInListOrder_.begin(), slotsInListOrder_.end(), slot) ==
                slotsInListOrder_.end()) {
                slotsInListOrder_.push_back(slot);
                slotTexts_[slot] = token.strToken;
            }
            program_.push_back(Instruction{EPushVariable, static_cast<int32_t>(slot)});
        }
    }
    CompileSteps();
}

// Fills steps_ when the program is one expression tree: every operator finds
// two values and one value is left. Each depth of the postfix stack gets a
// temporary register; an operand takes none, its register (slot or constant)
// standing in for it until an operator reads it. An && or || whose right
// operand is more than an operand gets a skip before that operand.
void CCompiledExpr::CompileSteps()
{
    const size_t count = program_.size();
    const auto isOperator = [this](size_t i) { return program_[i].opcode >= EFirstOperator; };
    const auto operatorAt = [this](size_t i) {
        return static_cast<BinaryOp>(program_[i].opcode - EFirstOperator);
    };
    // skipBefore[i]: 1 + the operator whose skipped right operand starts at i;
    // joins[i]: the operator at i closes such a skip.
    std::vector<uint8_t> skipBefore(count, 0);
    std::vector<bool> joins(count, false);
    std::vector<size_t> starts;  // where each pending value's instructions start
    size_t constants = 0;
    size_t depth = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!isOperator(i)) {
            constants += program_[i].opcode == EPushValue;
            starts.push_back(i);
            depth = std::max(depth, starts.size());
            continue;
        }
        if (starts.size() < 2)
            return;
        const size_t rightStart = starts.back();
        starts.pop_back();
        if (rightStart != i - 1 && MayShortCircuit(operatorAt(i))) {
            skipBefore[rightStart] = static_cast<uint8_t>(1 + static_cast<uint8_t>(operatorAt(i)));
            joins[i] = true;
        }
    }
    if (starts.size() != 1 || variables_.size() + constants + depth > UINT32_MAX)
        return;

    const auto firstTemporary = static_cast<uint32_t>(variables_.size() + constants);
    registerCount_ = firstTemporary + depth;
    const auto emit = [this](uint8_t code, uint32_t dst, uint32_t a, uint32_t b) {
        steps_.push_back(Step{code, 0, dst, a, b, 0});
        return steps_.size() - 1;
    };
    std::vector<uint32_t> registers;  // the register of each pending value
    std::vector<size_t> openSkips;    // skips whose join is not reached yet
    for (size_t i = 0; i < count; ++i) {
        const Instruction instruction = program_[i];
        const auto top = static_cast<uint32_t>(firstTemporary + registers.size() - 1);
        if (skipBefore[i] != 0) {
            const size_t skip = emit(ESkipIfDecided, top, registers.back(), registers.back());
            steps_[skip].op = static_cast<uint8_t>(skipBefore[i] - 1);
            openSkips.push_back(skip);
            skipLevels_ = std::max(skipLevels_, openSkips.size());
        }
        if (instruction.opcode == EPushVariable) {
            registers.push_back(static_cast<uint32_t>(instruction.operand));
            continue;
        }
        if (instruction.opcode == EPushValue) {
            registers.push_back(static_cast<uint32_t>(variables_.size() + constants_.size()));
            constants_.push_back(instruction.operand);
            continue;
        }
        const BinaryOp op = operatorAt(i);
        const uint32_t right = registers.back();
        registers.pop_back();
        const uint32_t left = registers.back();
        const uint32_t dst = top - 1;
        registers.back() = dst;
        if (joins[i]) {
            const size_t skip = openSkips.back();
            openSkips.pop_back();
            steps_[emit(EJoin, dst, left, right)].op = static_cast<uint8_t>(op);
            steps_[skip].aux = static_cast<uint32_t>(steps_.size() - 1 - skip);
            continue;
        }
        const bool divides = op == BinaryOp::EDiv || op == BinaryOp::EMod;
        const size_t constant = right - variables_.size();  // if it is one
        const int32_t divisor =
            right >= variables_.size() && right < firstTemporary ? constants_[constant] : 0;
        if (!divides || divisor == 0 || divisor == 1 || divisor == -1) {
            emit(static_cast<uint8_t>(op), dst, left, right);
            continue;
        }
        const uint32_t magnitude =
            divisor < 0 ? 0u - static_cast<uint32_t>(divisor) : static_cast<uint32_t>(divisor);
        steps_[emit(op == BinaryOp::EDiv ? EDivideConstant : ERemainderConstant, dst, left, right)].aux =
            static_cast<uint32_t>(multipliers_.size());
        multipliers_.push_back(DivisionMultiplier(magnitude));
    }
    emit(EEnd, registers.back(), registers.back(), registers.back());
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    result = 0;
    if (program_.empty())
        return RecordFailure(Failure::EEmptyList);
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> values(local, variables_.size());
    // Both are ascending: the entry after one slot's is often the next slot's.
    auto entry = table.begin();
    for (size_t slot = 0; slot < variables_.size(); ++slot) {
        if (entry == table.end() || entry->first != variables_[slot])
            entry = table.find(variables_[slot]);
        if (entry == table.end())
            return MissingVariable(0, &table);
        values.Data()[slot] = entry->second;
        ++entry;
    }
    return EvaluateSlots(values.Data(), result);
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
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> registers(local, registerCount_);
    std::copy(values, values + variables_.size(), registers.Data());
    std::copy(constants_.begin(), constants_.end(), registers.Data() + variables_.size());
    return RecordFailure(evaluation::RunSteps(steps_.data(), multipliers_.data(), registers.Data(), result));
}

int CCompiledExpr::EvaluateRows(
    const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const
{
    size_t row = 0;
    if (!steps_.empty() && stride >= variables_.size() && registerCount_ <= kMaxBlockRegisters)
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
    const size_t slots = variables_.size();
    std::unique_ptr<int32_t[]> registers(new int32_t[registerCount_ * kBlockRows]);
    std::unique_ptr<uint8_t[]> masks(new uint8_t[skipLevels_ * kBlockRows + 1]);
    for (size_t constant = 0; constant < constants_.size(); ++constant)
        std::fill_n(registers.get() + (slots + constant) * kBlockRows, kBlockRows, constants_[constant]);
    size_t done = 0;
    for (; count - done >= kBlockRows; done += kBlockRows) {
        for (size_t slot = 0; slot < slots; ++slot)
            for (size_t r = 0; r < kBlockRows; ++r)
                registers[slot * kBlockRows + r] = rows[(done + r) * stride + slot];
        bool failed[kBlockRows] = {};
        const int32_t *values = registers.get() +
            size_t{evaluation::RunBlock(
                steps_.data(), multipliers_.data(), registers.get(), masks.get(), failed)} *
                kBlockRows;
        for (size_t r = 0; r < kBlockRows; ++r) {
            results[done + r] = failed[r] ? 0 : values[r];
            statuses[done + r] = failed[r] ? RecordFailure(Failure::EDenominator) : 0;
        }
    }
    return done;
}

}  // namespace fernvault::alarm_manager
