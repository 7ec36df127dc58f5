// A postfix token list compiled once and evaluated many times.
//
//   TokenList list;
//   if (CExprUtil::VerifyExpression(list, "{$1} * 3 + {$2}") == 0) {
//       const CCompiledExpr compiled(list);
//       int32_t value = 0;
//       compiled.Evaluate({{1, 4}, {2, 5}}, value);  // value 17
//   }
#ifndef QUILLET_EXPR_CCOMPILEDEXPR_H
#define QUILLET_EXPR_CCOMPILEDEXPR_H

#include <cstdint>
#include <string>
#include <vector>

#include "CExprUtil.h"

namespace fernvault::alarm_manager {

class CCompiledExpr {
public:
    // Compiles `postfix`, a list in the form ConvertToPostfix leaves; any
    // list is accepted, and one that is not well-formed postfix fails at
    // evaluation exactly as it would in EvaluatePostfix. Keeps no reference
    // to the list.
    explicit CCompiledExpr(const TokenList &postfix);

    // Computes the expression with the variables of `table`. Status, result
    // and log records are those of CExprUtil::EvaluatePostfix on a fresh copy
    // of the compiled list with the same table: 0 and `result` written, or
    // 20014 with `result` 0. Touches no token list; may run concurrently.
    int Evaluate(const VariableTable &table, int32_t &result) const;

private:
    // One step of the program: push a value or a variable's value, or apply
    // an operator.
    struct Instruction {
        uint8_t opcode;   // push value, push variable, or the first operator + BinaryOp
        int32_t operand;  // the value, or the variable's slot
    };
    class Program;  // the instructions as the evaluation loop reads them

    std::vector<Instruction> program_;  // one instruction a token
    // Distinct variable numbers in the order the list first names them, and
    // the text of that first token, which a missing variable's record shows.
    std::vector<uint16_t> variableNumbers_;
    std::vector<std::string> variableTexts_;
    size_t lastLogic_;  // index of the last && or ||, or the list's size
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_CCOMPILEDEXPR_H
