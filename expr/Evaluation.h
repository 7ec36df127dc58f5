// The failures of evaluations and their records, and the buffers of values
// that evaluations keep on the call stack when they fit.
#ifndef QUILLET_EXPR_EVALUATION_H
#define QUILLET_EXPR_EVALUATION_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace fernvault::alarm_manager::evaluation {

// What stopped an evaluation.
enum class Failure : uint8_t { ENone, EEmptyList, EMissingVariable, EUnmatchedOperands, EDenominator };

// Writes the record of `failure`, with `variableText` as the missing
// variable's text, and returns 20014; returns 0 and writes nothing for ENone.
// Each record has one call site, in CExprUtil.cpp, so that every evaluation
// writes the same record from the same file and line.
int RecordFailure(Failure failure, const char *variableText = nullptr);

// Buffers of up to this many values live on the call stack; larger ones on the heap.
constexpr size_t kLocalValues = 64;

template <typename T> using LocalValues = std::array<T, kLocalValues>;

// Room for `count` values of T: the caller's `local` array when they fit,
// else a heap block this object owns (not initialised, so only the pages in
// use are touched).
template <typename T> class CValueBuffer {
public:
    CValueBuffer(LocalValues<T> &local, size_t count)
        : heap_(count > kLocalValues ? new T[count] : nullptr)
        , data_(heap_ ? heap_.get() : local.data())
    {
    }
    [[nodiscard]] T *Data() const { return data_; }

private:
    std::unique_ptr<T[]> heap_;  // NOLINT(modernize-avoid-c-arrays): a vector would initialise every value
    T *data_;
};

}  // namespace fernvault::alarm_manager::evaluation

#endif  // QUILLET_EXPR_EVALUATION_H
