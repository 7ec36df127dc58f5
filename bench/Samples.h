// The samples every evaluation benchmark runs over, and the rules it
// evaluates on them: quillet_bench (timed) and quillet_call_count (counted
// in instructions) share them, so both measure the same work.
#ifndef QUILLET_BENCH_SAMPLES_H
#define QUILLET_BENCH_SAMPLES_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "CCompiledExpr.h"

namespace quillet_bench {

using fernvault::alarm_manager::CCompiledExpr;
using fernvault::alarm_manager::VariableTable;

// The values of {$1}, {$2}, {$3} and {$12}, in that order.
constexpr uint16_t kSampleVariables[] = {1, 2, 3, 12};
using Sample = std::array<int32_t, 4>;
constexpr size_t kSampleCount = 1024;

// Fixed-seed samples (xorshift32), the same in every run. Each comparison of
// the 99-byte rule falls on both sides: {$1} >= 109 is `>= 400`, half the {$2}
// are multiples of 7, {$3} >= 52 is `/ 4 > 12`, a quarter of the samples make
// `{$12} * 16 - {$3}` 70; one value in 16 is 0, -1 or a 32-bit limit, where
// sums and products wrap.
inline const std::vector<Sample> kSamples = [] {
    uint32_t state = 2463534242u;
    const auto next = [&state](int32_t low, int32_t high) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return low + static_cast<int32_t>(state % static_cast<uint32_t>(high - low + 1));
    };
    constexpr int32_t kSpecial[] = {
        0, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    std::vector<Sample> samples(kSampleCount);
    for (Sample &s : samples) {
        s = {next(-300, 500), next(-100, 100), next(-100, 200), next(-60, 60)};
        s[1] -= next(0, 1) * (s[1] % 7);
        s[2] = next(0, 3) == 0 ? s[3] * 16 - 70 : s[2];
        for (int32_t &value : s)
            value = next(0, 15) == 0 ? kSpecial[next(0, 3)] : value;
    }
    return samples;
}();

constexpr uint32_t Bits(int32_t value)
{
    return static_cast<uint32_t>(value);
}

constexpr int32_t Signed(uint32_t bits)
{
    return static_cast<int32_t>(bits);
}

// The rules written by hand with the language's arithmetic: sums and
// products wrap (computed on 32 unsigned bits), division truncates, && and
// || stop early as in C. Each gives false where the rule fails (a zero
// denominator), else true with `value` written.

// The bits `(...) & 255 ^ 1 | 4` are never 0, as in the rule.
inline bool HandWritten99Byte(const Sample &s, int32_t &value)
{
    const int bits = (((s[1] % 7 == 0 || s[2] / 4 > 12) & 255) ^ 1) | 4;
    value =
        (Signed((Bits(s[0]) + 25u) * 3u) >= 400 && bits != 0) || Signed(Bits(s[3]) * 16u - Bits(s[2])) != 70;
    return true;
}

inline bool HandWrittenShort(const Sample &s, int32_t &value)
{
    value = s[0] > 80 && s[1] < 500;
    return true;
}

inline bool HandWrittenRange(const Sample &s, int32_t &value)
{
    value = (s[0] >= 0 && s[0] <= 400) || s[3] == 5;
    return true;
}

// INT32_MIN / -1 wraps to INT32_MIN.
inline bool HandWrittenDivide(const Sample &s, int32_t &value)
{
    if (s[1] == 0)
        return false;
    value = (s[1] == -1 ? Signed(0u - Bits(s[2])) : s[2] / s[1]) > 2;
    return true;
}

inline bool HandWrittenModulo(const Sample &s, int32_t &value)
{
    value = Signed(Bits(s[0]) + Bits(s[1])) % 16 != 0 && s[2] < 100;
    return true;
}

// A rule over the samples: the expression and the same computation by hand.
struct Rule {
    const char *name;
    const char *text;
    bool (*handWritten)(const Sample &, int32_t &);
};

// The 99-byte expression first, then short rules such as hosts write.
constexpr Rule kRules[] = {
    {"99-byte",
        "({$1} + 25) * 3 >= 400 && ({$2} % 7 == 0 || {$3} / 4 > 12) & 255 ^ 1 | 4 || {$12} * 16 - {$3} != 70",
        HandWritten99Byte},
    {"short", "{$1} > 80 && {$2} < 500", HandWrittenShort},
    {"range", "{$1} >= 0 && {$1} <= 400 || {$12} == 5", HandWrittenRange},
    {"divide", "{$3} / {$2} > 2", HandWrittenDivide},
    {"modulo", "({$1} + {$2}) % 16 != 0 && {$3} < 100", HandWrittenModulo},
};
constexpr const char *kExpression = kRules[0].text;

// Long rules such as a host generates: `terms` terms
// ({$1} * 3 + 0) + ({$2} * 4 + 1) ^ ({$3} * 5 + 2) - ({$12} * 6 + 3) + ...,
// term i ({v} * (i + 3) + i), v cycling through the samples' variables, the
// operators between terms through + ^ -. Since ^ binds less tightly than + and
// -, the tree is as high as a third of the terms.
inline std::string ChainText(size_t terms)
{
    constexpr const char *kJoins[] = {" + ", " ^ ", " - "};
    std::string text;
    for (size_t i = 0; i < terms; ++i)
        text += std::string(i == 0 ? "" : kJoins[(i - 1) % 3]) + "({$" +
            std::to_string(kSampleVariables[i % std::size(kSampleVariables)]) + "} * " +
            std::to_string(i + 3) + " + " + std::to_string(i) + ")";
    return text;
}

// The chains measured, by name; the first is the one the others are held to,
// a token at a time.
struct Chain {
    const char *name;
    size_t terms;
};
constexpr Chain kChains[] = {
    {"chain-30", 30}, {"chain-1e3", 1000}, {"chain-1e4", 10000}, {"chain-1e5", 100000}};

inline VariableTable TableOf(const Sample &s)
{
    VariableTable table;
    for (size_t i = 0; i < s.size(); ++i)
        table[kSampleVariables[i]] = s[i];
    return table;
}

// One table reused for every sample, as a host keeps it: each sample's four
// values are written into it by number before the call.
struct SampleTable {
    const VariableTable &Write(const Sample &s)
    {
        for (size_t i = 0; i < s.size(); ++i)
            table[kSampleVariables[i]] = s[i];
        return table;
    }
    VariableTable table = TableOf({});
};

// `text` verified and compiled; the texts here are all well-formed.
inline CCompiledExpr Compiled(const char *text)
{
    fernvault::alarm_manager::TokenList list;
    fernvault::alarm_manager::CExprUtil::VerifyExpression(list, text);
    return CCompiledExpr(list);
}

// The samples as rows of `compiled`'s slots, GetVariables().size() values a
// row; throws std::out_of_range if it names a variable the samples lack.
inline std::vector<int32_t> SlotRows(const CCompiledExpr &compiled)
{
    std::vector<size_t> columns;
    for (const uint16_t variable : compiled.GetVariables())
        columns.push_back(static_cast<size_t>(
            std::find(std::begin(kSampleVariables), std::end(kSampleVariables), variable) -
            kSampleVariables));
    std::vector<int32_t> rows;
    for (const Sample &s : kSamples)
        for (const size_t column : columns)
            rows.push_back(s.at(column));
    return rows;
}

}  // namespace quillet_bench

#endif  // QUILLET_BENCH_SAMPLES_H
