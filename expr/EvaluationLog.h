// The failure records of postfix evaluation. They are written from
// CExprUtil.cpp, so that CExprUtil::EvaluatePostfix and CCompiledExpr log the
// very same records (file and line included). Each returns 20014.
#ifndef QUILLET_EXPR_EVALUATIONLOG_H
#define QUILLET_EXPR_EVALUATIONLOG_H

namespace fernvault::alarm_manager::evaluation {

int EmptyListFailure();
int MissingVariableFailure(const char *variableText);
int UnmatchedOperandsFailure();
int DenominatorFailure();

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATIONLOG_H
