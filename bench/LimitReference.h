// The limit reference: how fast the expression language can be checked and
// computed at all. One pass over the bytes, no tokens, no allocation; the
// pipeline under test is measured against it.
#ifndef QUILLET_BENCH_LIMITREFERENCE_H
#define QUILLET_BENCH_LIMITREFERENCE_H

#include <cstdint>
#include <vector>

#include "CExprUtil.h"

namespace quillet_bench {

using fernvault::alarm_manager::VariableTable;

// True when `text` is one well-formed expression: the same language that
// TokenAnalysis and SyntaxAnalysis accept, nesting limit included.
bool ReferenceValidate(const char *text);

struct ReferenceInstruction {
    uint8_t opcode;  // kPushValue, kPushVariable, or kFirstOperator + BinaryOp
    int32_t value;   // the number, or the variable number
};

struct ReferenceProgram {
    std::vector<ReferenceInstruction> code;  // capacity kept from call to call
    uint32_t maxDepth = 0;
};

// Validates `text` and compiles it, in the same single pass, to postfix
// instructions in `program` (whose storage is reused). False when invalid.
bool ReferenceCompile(const char *text, ReferenceProgram &program);

// Computes `program` on a fixed stack, every operator eagerly (there is no
// short-circuit), each variable looked up in `table` where it is used.
// False for a missing variable, a division by zero or too deep a program.
bool ReferenceEvaluate(const ReferenceProgram &program, const VariableTable &table,
                       int32_t &result);

}  // namespace quillet_bench

#endif  // QUILLET_BENCH_LIMITREFERENCE_H
