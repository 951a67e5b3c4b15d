// Logarithmic derivatives D_n(z) = psi_n'(z)/psi_n(z) of the Riccati-Bessel
// functions psi_n(z) = z j_n(z), tabulated for orders 0..N at the four
// arguments of the coated sphere. Each table starts at order N from a
// continued fraction and is completed by the downward recurrence
// D_{k-1} = k/z - 1/(k/z + D_k), which is stable for every argument; the
// fill is the kernel fillTables (kernels.h).
#ifndef COATEDMIE_LOG_DERIVATIVE_H
#define COATEDMIE_LOG_DERIVATIVE_H

namespace coatedmie {

// The continued fraction ends once the computed modulus of a convergent ratio
// is exactly 1; this tolerance only says "below any rounding step".
inline constexpr double kLentzTolerance = 1e-20;

// The stop test |1 - sqrt(r)| < kLentzTolerance (or NaN) on r = |ratio|^2,
// for a double or lane by lane. It holds exactly when sqrt(r) rounds to 1 (any
// other double lies at least 2^-53 from 1) or r is NaN, and sqrt rounds to 1
// for r = 1 and r = 1 + 2^-52 only: the root of the next double above,
// 1 + 2^-53 - 2^-107 + ..., lies below the midpoint 1 + 2^-53, that of the
// next one below, 1 - 2^-54 - 2^-109 - ..., below the midpoint 1 - 2^-54.
template <typename V>
inline auto lentzStops(V r) {
    return (r == 1.0) | (r == 1.0 + 0x1p-52) | (r != r);
}

// For real z with |z| > n the fraction takes about |z| - n + 7 |z|^(1/3)
// passes (absorption shortens this a lot; |z| <= n needs a few hundred at
// most), some 25 ns each. Without a cap an argument of modulus 1e12 would run
// for hours, and one of 1e150 forever. This cap is 25 times what |z| = 1e7
// needs; hitting it costs several seconds per table (6 to 10 s measured).
inline constexpr int kLentzPassLimit = 250000000;

}  // namespace coatedmie

#endif  // COATEDMIE_LOG_DERIVATIVE_H
