// A postfix token list compiled once and evaluated many times.
//
//   TokenList list;
//   if (CExprUtil::VerifyExpression(list, "{$1} * 3 + {$2}") == 0) {
//       const CCompiledExpr compiled(list);        // GetVariables(): {1, 2}
//       const int32_t values[] = {4, 5};           // by slot: {$1}, then {$2}
//       int32_t value = 0;
//       compiled.Evaluate(values, 2, value);       // value 17
//   }
//
// Every evaluation gives the status, result and log records that
// CExprUtil::EvaluatePostfix gives on a fresh copy of the compiled list with
// the same variables. All operations are const and keep no state: one object
// may be used by several threads at once.
#ifndef QUILLET_EXPR_CCOMPILEDEXPR_H
#define QUILLET_EXPR_CCOMPILEDEXPR_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CExprUtil.h"

namespace fernvault::alarm_manager {

namespace compiled {
struct Node;
struct Step;
}  // namespace compiled

class CCompiledExpr {
public:
    // Compiles `postfix`, a list in the form ConvertToPostfix leaves; any
    // list is accepted, and one that is not well-formed postfix fails at
    // evaluation exactly as it would in EvaluatePostfix. Keeps no reference
    // to the list.
    explicit CCompiledExpr(const TokenList &postfix);

    // The distinct variable numbers the list names, ascending, each read as
    // substitution reads it ({$0099} and {$99} are 99, {$65536} is 0). Slot i
    // of the evaluations by slot holds the value of GetVariables()[i]. Lists
    // the variables of operands that && or || may skip too: every one is
    // required before anything runs.
    [[nodiscard]] const std::vector<uint16_t> &GetVariables() const { return variables_; }

    // Computes the expression with the variables of `table`. Returns 0 with
    // `result` written, or 20014 with `result` 0 and the record logged.
    int Evaluate(const VariableTable &table, int32_t &result) const;

    // As Evaluate(table) for a table mapping GetVariables()[i] to values[i]
    // for every i < count; values past GetVariables().size() are ignored.
    // A short count fails on the first variable in list order that it
    // lacks, with that token's text. `values` may be null when count is 0.
    int Evaluate(const int32_t *values, size_t count, int32_t &result) const;

    // Row r (of `count`) is Evaluate(rows + r * stride, stride, results[r]),
    // its status in statuses[r]; the records come in row order. Returns 0
    // when every row succeeds, else 20014. `rows` may be null when count or
    // stride is 0; `results` and `statuses` hold `count` elements each and
    // may be null when count is 0. Blocks of 64 rows are computed a column
    // at a time; rows run one by one for a list that divides by a variable or
    // by a constant 0 or that is not well formed, and for a stride shorter
    // than GetVariables().size().
    int EvaluateRows(const int32_t *rows, size_t stride, size_t count, int32_t *results, int *statuses) const;

    // A copy is a form of its own, which outlives the original.
    CCompiledExpr(const CCompiledExpr &other);
    CCompiledExpr &operator=(const CCompiledExpr &other);
    CCompiledExpr(CCompiledExpr &&other) noexcept;
    CCompiledExpr &operator=(CCompiledExpr &&other) noexcept;
    ~CCompiledExpr();

private:
    int EvaluateSlots(const int32_t *slots, int32_t &result) const;
    int RunSegments(const int32_t *slots, int32_t &result) const;
    int RunPostfix(const VariableTable &table, int32_t &result) const;
    [[gnu::noinline]] int RunPostfix(const int32_t *slots, size_t count, int32_t &result) const;
    bool ReadTable(const VariableTable &table, int32_t *slots) const;
    void EvaluateColumns(const int32_t *rows, size_t stride, size_t count, int32_t *results) const;

    std::vector<uint16_t> variables_;  // ascending; the slot is the index
    TokenList postfix_;                // for the records of missing variables, and a list that is no tree
    // A well-formed list's tree: nodes, each after its operand nodes, the
    // root last, and the steps that compute its segments, if it is high.
    std::vector<compiled::Node> nodes_;
    std::vector<compiled::Step> steps_;
    size_t slots_ = 0;                      // the variables' slots and the segments'
    bool columns_ = false;                  // whether EvaluateRows may compute columns: no node can fail
    const compiled::Node *root_ = nullptr;  // the root of a tree with no segments
    // The values from which a call by slots goes straight to root_: every
    // variable's; SIZE_MAX where there is no root_.
    size_t rootValues_ = SIZE_MAX;
};

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_CCOMPILEDEXPR_H
