// The limit reference: how fast the expression language can be checked and
// computed at all. One pass over the bytes checks and compiles to postfix
// instructions, a loop on a fixed stack computes them. It shares no code with
// the library: agreeing with it means something, and a rewrite of the library
// leaves the yardstick alone.
#ifndef QUILLET_BENCH_LIMITREFERENCE_H
#define QUILLET_BENCH_LIMITREFERENCE_H

#include <cstdint>
#include <utility>
#include <vector>

#include "CExprUtil.h"

namespace quillet_bench {

// Postfix instructions {opcode, number or variable number}, in storage kept
// from one compilation to the next.
struct ReferenceProgram {
    std::vector<std::pair<uint8_t, int32_t>> code;
    uint32_t maxDepth = 0;
};

// Checks that `text` is one expression that VerifyExpression accepts (nesting
// limit included) and compiles it into `program`; false, the program unusable, if not.
bool ReferenceCompile(const char *text, ReferenceProgram &program);

// Computes `program` eagerly (no short-circuit), each variable looked up in
// `table` where it is used; false for a missing variable, a zero denominator or too deep a program.
bool ReferenceEvaluate(
    const ReferenceProgram &program, const fernvault::alarm_manager::VariableTable &table, int32_t &result);

}  // namespace quillet_bench

#endif  // QUILLET_BENCH_LIMITREFERENCE_H
