// The number text of the two result files: the fixed form ("%lf") and the
// exponent form ("%le") with six decimals, three exponent digits, rounding
// half up from a 17-significant-digit string, no sign on zero, and the
// markers 1#INF, 1#IND, 1#QNAN and 1#SNAN for values that are not finite.
#ifndef COATEDMIE_NUMBER_TEXT_H
#define COATEDMIE_NUMBER_TEXT_H

#include <cstddef>

namespace coatedmie {

// Longest text either form can produce: "-", 309 integer digits of
// DBL_MAX, ".", six decimals. Buffers passed in must hold this many chars.
inline constexpr std::size_t kMaxNumberText = 317;

// Write the text (not NUL-terminated) to out and return its length.
std::size_t formatFixed(double value, char* out);
std::size_t formatExponent(double value, char* out);

}  // namespace coatedmie

#endif  // COATEDMIE_NUMBER_TEXT_H
