// 32-bit helpers, free of undefined behaviour: reading decimal text,
// wrapping, and division by a value or a constant. Knows nothing of tokens.
#ifndef QUILLET_EXPR_ARITHMETIC_H
#define QUILLET_EXPR_ARITHMETIC_H

#include <cstdint>

namespace fernvault::alarm_manager {

// Reads `text` as strtol does in base 10 (leading white space, one sign,
// digits up to the first non-digit; no digits gives 0), saturating at the
// 32-bit limits whatever the width of long.
inline int32_t ReadInt32(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    // Accumulate the magnitude, stopping it one past the largest we can need.
    const uint32_t limit = negative ? 0x80000000U : 0x7FFFFFFFU;
    uint32_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<uint32_t>(*text - '0');
        if (magnitude > (limit - digit) / 10U) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10U + digit;
    }
    return negative ? static_cast<int32_t>(0U - magnitude) : static_cast<int32_t>(magnitude);
}

// A comparison's or a logic operator's result: 1 or 0.
inline int32_t Truth(bool holds)
{
    return holds ? 1 : 0;
}

inline int32_t Wrap(uint32_t bits)
{
    return static_cast<int32_t>(bits);
}

// |value| as an unsigned number, defined for INT32_MIN too.
constexpr uint32_t Magnitude(int32_t value)
{
    return value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

// left / divisor truncated, for a divisor that is neither 0 nor -1. Exact:
// a / b rounded errs by at most |a / b| 2^-53 < 2^-22 / |b|, less than the
// 1 / |b| between a quotient that is no integer and every integer.
inline int32_t QuotientThroughDouble(int32_t left, int32_t divisor)
{
    return static_cast<int32_t>(static_cast<double>(left) / static_cast<double>(divisor));
}

// Without a divide instruction (the 32-bit ARM baseline), the library's
// integer division costs more than the rest of a short rule.
#if defined(__arm__) && !defined(__ARM_ARCH_EXT_IDIV__)
constexpr bool kDivideThroughDouble = true;
#else
constexpr bool kDivideThroughDouble = false;
#endif

// n / magnitude, for a magnitude of 2 or more: the high half of the 32-bit
// product n * multiplier, shifted right by `shift`.
struct DivisionMagic {
    uint32_t multiplier;
    uint32_t shift;
};

// For 2^k, 2^(32-k) and no shift. Else, with l = floor(log2 magnitude),
// m = ceil(2^(32+l) / magnitude), which is below 2^32, and the shift l:
// floor(n * m / 2^(32+l)) is floor(n / magnitude) for every n up to 2^31,
// since m * magnitude - 2^(32+l) is below magnitude <= 2^(l+1), so n times
// it stays below 2^(32+l).
constexpr DivisionMagic MagicFor(uint32_t magnitude)
{
    constexpr unsigned kBits = 32;
    uint32_t log = 0;
    for (uint32_t rest = magnitude; rest > 1; rest >>= 1)
        ++log;
    if ((magnitude & (magnitude - 1)) == 0)
        return {static_cast<uint32_t>(uint64_t{1} << (kBits - log)), 0};
    return {static_cast<uint32_t>((uint64_t{1} << (kBits + log)) / magnitude + 1), log};
}

// Apply's left / divisor, where |divisor| is 2 or more and `magic` is
// MagicFor(|divisor|): no division and no branch, so that a loop vectorises.
inline int32_t DivideByConstant(int32_t left, int32_t divisor, DivisionMagic magic)
{
    constexpr unsigned kBits = 32;
    const uint32_t magnitude = Magnitude(left);
    const auto quotient =
        static_cast<uint32_t>((uint64_t{magnitude} * magic.multiplier) >> kBits) >> magic.shift;
    const uint32_t negate = (left < 0) != (divisor < 0) ? ~0U : 0U;
    return Wrap((quotient ^ negate) - negate);
}

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_EXPR_ARITHMETIC_H
