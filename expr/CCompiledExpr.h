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
    struct Instruction {
        uint8_t opcode;   // kPushValue, kPushVariable, or kFirstOperator + BinaryOp
        int32_t operand;  // the value, or the variable's slot
    };

    int Run(const int32_t *variables, int32_t *stack, int32_t &result) const;
    int RunDeferringDenominators(const int32_t *variables, int32_t &result) const;

    // The list's instructions up to the first operator that finds fewer than
    // two values (then `unmatched_`), one for each token.
    std::vector<Instruction> program_;
    // Distinct variable numbers in the order the list first names them, and
    // the text of that first token, which a missing variable's record shows.
    std::vector<uint16_t> variableNumbers_;
    std::vector<std::string> variableTexts_;
    uint32_t maxDepth_ = 0;  // deepest value stack the program reaches
    // A zero denominator before this index may still be dropped by an && or
    // || (the list's last); one at or after it fails at once.
    size_t deferBefore_ = 0;
    bool empty_ = false;
    bool unmatched_ = false;
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_CCOMPILEDEXPR_H
