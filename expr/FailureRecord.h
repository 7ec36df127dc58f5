// The records of evaluation failures. Each message has one call site, in
// CExprUtil.cpp, so that substitution, EvaluatePostfix and every CCompiledExpr
// evaluation write the same record from the same file and line. Private: not
// installed.
#ifndef QUILLET_EXPR_FAILURERECORD_H
#define QUILLET_EXPR_FAILURERECORD_H

#include "Evaluation.h"

namespace fernvault::alarm_manager::evaluation {

// Writes the record of `failure`, with `variableText` as the missing
// variable's text, and returns 20014; returns 0 and writes nothing for ENone.
int RecordFailure(Failure failure, const char *variableText = nullptr);

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_FAILURERECORD_H
