#include "CCompiledExpr.h"

#include <map>

#include "Evaluation.h"

namespace fernvault::alarm_manager {

namespace {
enum Opcode : uint8_t { EPushValue, EPushVariable, EFirstOperator };
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
    [[nodiscard]] bool IsOperator(size_t i) const { return program_[i].opcode >= EFirstOperator; }
    [[nodiscard]] BinaryOp OperatorAt(size_t i) const
    {
        return static_cast<BinaryOp>(program_[i].opcode - EFirstOperator);
    }
    [[nodiscard]] int32_t ValueAt(size_t i) const
    {
        const Instruction instruction = program_[i];
        return instruction.opcode == EPushValue ? instruction.operand : variables_[instruction.operand];
    }
    [[nodiscard]] size_t LastLogicIndex() const { return lastLogic_; }

private:
    const std::vector<Instruction> &program_;
    const int32_t *variables_;
    size_t lastLogic_;
};

CCompiledExpr::CCompiledExpr(const TokenList &postfix)
    : lastLogic_(postfix.size())
{
    std::map<uint16_t, int32_t> slots;
    for (size_t i = 0; i < postfix.size(); ++i) {
        const ExprToken &token = postfix[i];
        if (IsBinaryOperator(token.eTokenCode)) {
            if (token.eTokenCode == ELogicAnd || token.eTokenCode == ELogicOr)
                lastLogic_ = i;
            program_.push_back(Instruction{
                static_cast<uint8_t>(EFirstOperator + static_cast<uint8_t>(OperatorOf(token))), 0});
            continue;
        }
        if (token.eTokenCode != EVariable) {
            program_.push_back(Instruction{EPushValue, ReadInt32(token.strToken.c_str())});
            continue;
        }
        const auto number = static_cast<uint16_t>(ReadInt32(token.strToken.c_str()));
        const auto [entry, added] = slots.emplace(number, static_cast<int32_t>(variableNumbers_.size()));
        if (added) {
            variableNumbers_.push_back(number);
            variableTexts_.push_back(token.strToken);
        }
        program_.push_back(Instruction{EPushVariable, entry->second});
    }
}

int CCompiledExpr::Evaluate(const VariableTable &table, int32_t &result) const
{
    result = 0;
    if (program_.empty())
        return evaluation::EmptyListFailure();
    evaluation::LocalValues<int32_t> local;
    const evaluation::CValueBuffer<int32_t> buffer(local, variableNumbers_.size());
    int32_t *variables = buffer.Data();
    for (size_t slot = 0; slot < variableNumbers_.size(); ++slot) {
        const auto entry = table.find(variableNumbers_[slot]);
        if (entry == table.end())
            return evaluation::MissingVariableFailure(variableTexts_[slot].c_str());
        variables[slot] = entry->second;
    }
    return evaluation::RunWithStack(Program(program_, variables, lastLogic_), result);
}

}  // namespace fernvault::alarm_manager
