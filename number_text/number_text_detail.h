// Internals of the number text, exposed for the tests only.
#ifndef COATEDMIE_NUMBER_TEXT_DETAIL_H
#define COATEDMIE_NUMBER_TEXT_DETAIL_H

#include <cstdint>

namespace coatedmie {
namespace number_text_detail {

// digits × 10^exponent with 10^17 <= digits < 10^18: a positive finite value
// truncated (never rounded) to 18 significant digits. Everything the printed
// text depends on is in these 18 digits.
struct TruncatedDecimal {
    std::uint64_t digits;
    int exponent;
};

// The value significand × 2^binaryExponent, 0 < significand < 2^53 and
// -1074 <= binaryExponent <= 971 (every positive finite double).
// Big-integer arithmetic on decimal limbs; always exact, never declines.
TruncatedDecimal truncateExact(std::uint64_t significand, int binaryExponent);

// The same truncation in 64- and 128-bit integer arithmetic. Exact integer
// paths where the operands fit; elsewhere a 128-bit approximation of a power
// of ten with a proven error bound. Returns false, leaving *result alone,
// when the bound cannot settle the 18th digit; the caller then falls back to
// truncateExact.
bool truncateFast(std::uint64_t significand, int binaryExponent, TruncatedDecimal* result);

// 10^power ≈ (high × 2^64 + low) × 2^binaryExponent, truncated: the 128-bit
// significand c satisfies 2^127 <= c <= 10^power / 2^binaryExponent < c + 1.
struct Pow10Significand {
    std::uint64_t high;
    std::uint64_t low;
    int binaryExponent;
};
inline constexpr int kMinTablePower = -290;  // 17 - floor(log10(DBL_MAX))
inline constexpr int kMaxTablePower = 341;   // 17 - floor(log10(2^-1074))
Pow10Significand pow10Significand(int power);

}  // namespace number_text_detail
}  // namespace coatedmie

#endif  // COATEDMIE_NUMBER_TEXT_DETAIL_H
