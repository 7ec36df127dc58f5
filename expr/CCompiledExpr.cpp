#include "CCompiledExpr.h"

#include <algorithm>

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

}  // namespace

CCompiledExpr::CCompiledExpr(const TokenList &postfix)
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
    std::vector<bool> named(variables_.size(), false);

    program_.reserve(postfix.size());
    for (const ExprToken &token : postfix) {
        if (IsBinaryOperator(token.eTokenCode)) {
            const BinaryOp op = OperatorOf(token);
            program_.push_back(
                Instruction{static_cast<uint8_t>(EFirstOperator + static_cast<uint8_t>(op)), 0});
        } else if (token.eTokenCode != EVariable) {
            program_.push_back(Instruction{EPushValue, ReadInt32(token.strToken.c_str())});
        } else {
            const auto slot = static_cast<uint32_t>(
                std::lower_bound(variables_.begin(), variables_.end(), numberOf(token)) - variables_.begin());
            if (!named[slot]) {
                named[slot] = true;
                slotsInListOrder_.push_back(slot);
                slotTexts_[slot] = token.strToken;
            }
            program_.push_back(Instruction{EPushVariable, static_cast<int32_t>(slot)});
        }
    }
    CompileSteps();
}

// Whether the program is one expression tree: every operator finds two
// values and one value is left. Marks where the right operand of an && or ||
// that is more than an operand starts (skipBefore: 1 + the operator) and the
// operator that closes it (joins), and the stack depth reached.
bool CCompiledExpr::MarkSkips(std::vector<uint8_t> &skipBefore, std::vector<bool> &joins, size_t &depth) const
{
    std::vector<size_t> starts;  // where each pending value's instructions start
    for (size_t i = 0; i < program_.size(); ++i) {
        if (program_[i].opcode < EFirstOperator) {
            starts.push_back(i);
            depth = std::max(depth, starts.size());
            continue;
        }
        if (starts.size() < 2)
            return false;
        const size_t rightStart = starts.back();
        starts.pop_back();
        const auto op = static_cast<BinaryOp>(program_[i].opcode - EFirstOperator);
        if (rightStart != i - 1 && MayShortCircuit(op)) {
            skipBefore[rightStart] = static_cast<uint8_t>(1 + static_cast<uint8_t>(op));
            joins[i] = true;
        }
    }
    return starts.size() == 1;
}

// Fills steps_ when the program is one expression tree. Each depth of the
// postfix stack gets a temporary register; an operand takes no step, its
// register (slot or constant) standing in for it until an operator reads it.
void CCompiledExpr::CompileSteps()
{
    const size_t count = program_.size();
    std::vector<uint8_t> skipBefore(count, 0);
    std::vector<bool> joins(count, false);
    size_t depth = 0;
    const auto constants = static_cast<size_t>(std::count_if(program_.begin(), program_.end(),
        [](const Instruction &instruction) { return instruction.opcode == EPushValue; }));
    if (!MarkSkips(skipBefore, joins, depth) || variables_.size() + constants + depth > UINT32_MAX)
        return;
    const auto firstTemporary = static_cast<uint32_t>(variables_.size() + constants);
    registerCount_ = firstTemporary + depth;
    std::vector<uint32_t> registers;  // the register of each pending value
    std::vector<size_t> openSkips;    // skips whose join is not reached yet
    for (size_t i = 0; i < count; ++i) {
        const Instruction instruction = program_[i];
        const auto top = static_cast<uint32_t>(firstTemporary + registers.size() - 1);
        if (skipBefore[i] != 0) {
            openSkips.push_back(steps_.size());
            steps_.push_back(Step{ESkipIfDecided, static_cast<uint8_t>(skipBefore[i] - 1), top,
                registers.back(), registers.back(), 0});
            skipLevels_ = std::max(skipLevels_, openSkips.size());
        }
        if (instruction.opcode == EPushVariable) {
            registers.push_back(static_cast<uint32_t>(instruction.operand));
        } else if (instruction.opcode == EPushValue) {
            registers.push_back(static_cast<uint32_t>(variables_.size() + constants_.size()));
            constants_.push_back(instruction.operand);
        } else {
            const uint32_t right = registers.back();
            registers.pop_back();
            EmitOperator(
                static_cast<uint8_t>(instruction.opcode - EFirstOperator), top - 1, registers.back(), right);
            registers.back() = top - 1;
            if (joins[i]) {
                steps_.back().code = EJoin;
                steps_[openSkips.back()].aux = static_cast<uint32_t>(steps_.size() - 1 - openSkips.back());
                openSkips.pop_back();
            }
        }
    }
    steps_.push_back(Step{EEnd, 0, registers.back(), registers.back(), registers.back(), 0});
}

// dst = left op right; a division by a constant of magnitude 2 or more
// multiplies instead.
void CCompiledExpr::EmitOperator(uint8_t code, uint32_t dst, uint32_t left, uint32_t right)
{
    const auto op = static_cast<BinaryOp>(code);
    const bool isConstant = right >= variables_.size() && right < variables_.size() + constants_.size();
    const int32_t divisor = isConstant ? constants_[right - variables_.size()] : 0;
    if ((op != BinaryOp::EDiv && op != BinaryOp::EMod) || Magnitude(divisor) < 2) {
        steps_.push_back(Step{code, code, dst, left, right, 0});
        return;
    }
    const uint8_t divide = op == BinaryOp::EDiv ? EDivideConstant : ERemainderConstant;
    steps_.push_back(Step{divide, 0, dst, left, right, static_cast<uint32_t>(multipliers_.size())});
    multipliers_.push_back(DivisionMultiplier(Magnitude(divisor)));
}

// Evaluates the program with the slots' values that fill(slots) writes into
// the first registers; fill returns 0, or the status of the variable it
// could not find, which ends the evaluation.
template <typename Fill> int CCompiledExpr::EvaluateFilled(Fill fill, int32_t &result) const
{
    result = 0;
    if (program_.empty())
        return RecordFailure(Failure::EEmptyList);
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> registers(local, std::max(registerCount_, variables_.size()));
    int32_t *slots = registers.Data();
    const int filled = fill(slots);
    if (filled != 0)
        return filled;
    if (steps_.empty())
        return RecordFailure(evaluation::RunEntries(
            program_.size(),
            [this, slots](size_t i) {
                const Instruction instruction = program_[i];
                if (instruction.opcode >= EFirstOperator)
                    return evaluation::PostfixEntry{
                        0, static_cast<BinaryOp>(instruction.opcode - EFirstOperator), true};
                return evaluation::PostfixEntry{
                    instruction.opcode == EPushValue ? instruction.operand : slots[instruction.operand],
                    BinaryOp::EMul, false};
            },
            result));
    std::copy(constants_.begin(), constants_.end(), slots + variables_.size());
    return RecordFailure(evaluation::RunSteps(steps_.data(), multipliers_.data(), slots, result));
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    return EvaluateFilled(
        [this, &table](int32_t *slots) {
            // Both are ascending: the entry after one slot's is often the next slot's.
            auto entry = table.begin();
            for (size_t slot = 0; slot < variables_.size(); ++slot) {
                if (entry == table.end() || entry->first != variables_[slot])
                    entry = table.find(variables_[slot]);
                if (entry == table.end())
                    return MissingVariable(0, &table);
                slots[slot] = entry->second;
                ++entry;
            }
            return 0;
        },
        result);
}

int CCompiledExpr::Evaluate(const int32_t *values, size_t count, int32_t &result) const
{
    return EvaluateFilled(
        [this, values, count](int32_t *slots) {
            if (count < variables_.size())
                return MissingVariable(count, nullptr);
            std::copy(values, values + variables_.size(), slots);
            return 0;
        },
        result);
}

// The record of the first variable in list order that the slots (the first
// `count`) or `table` lack.
int CCompiledExpr::MissingVariable(size_t count, const VariableTable *table) const
{
    for (const uint32_t slot : slotsInListOrder_)
        if (table != nullptr ? table->find(variables_[slot]) == table->end() : slot >= count)
            return RecordFailure(Failure::EMissingVariable, slotTexts_[slot].c_str());
    return RecordFailure(Failure::EMissingVariable, "");
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
    std::vector<int32_t> registers(registerCount_ * kBlockRows);
    std::vector<uint8_t> masks(skipLevels_ * kBlockRows);
    for (size_t constant = 0; constant < constants_.size(); ++constant)
        std::fill_n(registers.begin() + static_cast<std::ptrdiff_t>((slots + constant) * kBlockRows),
            kBlockRows, constants_[constant]);
    size_t done = 0;
    for (; count - done >= kBlockRows; done += kBlockRows) {
        for (size_t slot = 0; slot < slots; ++slot)
            for (size_t r = 0; r < kBlockRows; ++r)
                registers[slot * kBlockRows + r] = rows[(done + r) * stride + slot];
        evaluation::Lanes<kBlockRows> lanes{registers.data(), masks.data(), {}, {}};
        lanes.active.fill(1);
        const int32_t *values =
            lanes.Register(evaluation::RunBlock(steps_.data(), multipliers_.data(), lanes));
        if (std::none_of(
                lanes.failed.begin(), lanes.failed.end(), [](uint8_t failed) { return failed != 0; })) {
            std::copy_n(values, kBlockRows, results + done);
            std::fill_n(statuses + done, kBlockRows, 0);
            continue;
        }
        for (size_t r = 0; r < kBlockRows; ++r) {
            results[done + r] = lanes.failed[r] != 0 ? 0 : values[r];
            statuses[done + r] = lanes.failed[r] != 0 ? RecordFailure(Failure::EDenominator) : 0;
        }
    }
    return done;
}

}  // namespace fernvault::alarm_manager
