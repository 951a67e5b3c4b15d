// The number text of the two result files: the fixed form ("%lf") and the
// exponent form ("%le"), both with six decimals.
//
// Digits. A finite nonzero value is first cut to a 17-significant-digit string:
// its exact decimal expansion truncated after the 17th significant digit, that
// digit raised by one (with carry) when the 18th is 5 or more. The printed
// digits are the leading digits of this string (zeros past its end), raised by
// one in the last printed place when the string's next digit is 5 or more.
// Nothing beyond that next digit is looked at, so a value can round up twice:
// 0.1234565 is stored as 0.12345649999999999...; its 17-digit string is
// 0.12345650000000000 and it prints 0.123457.
//
// Fixed form:    [-]integer digits "." six digits      30.0 -> "30.000000"
// Exponent form: [-]d "." six digits "e" sign three digits
//                                                      0.00001 -> "1.000000e-005"
// Zero of either sign prints without a sign; any other negative value with
// a "-", even when every printed digit is 0 (-1e-7 -> "-0.000000").
// Values that are not finite print a marker in place of the digits, padded
// with "0" to six places (exponent form adds "e+000"):
//   infinity                                   1.#INF00      -1.#INF00
//   quiet NaN with only the quiet bit set,
//     sign set (the default NaN, 0xFFF8...0)                 -1.#IND00
//   any other quiet NaN                        1.#QNAN0      -1.#QNAN0
//   signalling NaN                             1.#SNAN0      -1.#SNAN0
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
