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

}  // namespace number_text_detail
}  // namespace coatedmie

#endif  // COATEDMIE_NUMBER_TEXT_DETAIL_H
