// Start values of the per-order loop of the coated sphere: psi_1(y)/xi_1(y)
// and the order-0 ratio across the shell, for the general and the
// small-particle paths.
//
// Both are closed forms, while the loop carries them upward with ratios from
// the log-derivative tables. Near a zero of psi_1(y) or of sin(m2 y), sin(m2 x)
// the closed form and the table's ratio are both small numbers, each with an
// absolute error of about 1e-16 of its own, and the loop multiplies one by
// the inverse of the other: every later order inherits an error of 1e-16
// divided by the distance to the zero. (Further up, where psi_n vanishes for
// n >= 2, the huge value at one order and the small one at the next are
// formed from the same rounded number, k/z + D_k, and their rounding cancels.)
// Where a closed form loses more than about 12 digits, its value is taken
// from the table instead, so that the loop divides out exactly the rounding
// the start value carries.
#ifndef COATEDMIE_START_VALUES_H
#define COATEDMIE_START_VALUES_H

#include "complex_kernel.h"

namespace coatedmie {

// Below this outer size parameter the run takes the small-particle path
// (small_particle.h). The closed forms here, and the differences of the
// per-order loop, cancel like 1/y^2 for small y: measured against arbitrary
// precision, the per-order loop keeps about 9.7 significant digits of the
// intensities at y = 0.01, and in layers of strong contrast 7 at y = 0.013
// and 8.5 at 0.036, 10 and more only from y = 0.1 up.
inline constexpr double kSmallParticleLimit = 0.1;
// Below this the small-particle path has always been taken; from it up to
// kSmallParticleLimit it takes over from the literal series as a safeguard.
inline constexpr double kLiteralSmallParticleLimit = 0.01;

// A closed form smaller than this times the size of its terms has lost more
// than 12 of its digits.
inline constexpr double kStartCancellationBound = 0x1p-12;

// psi_1(y)/xi_1(y), xi_1 = psi_1 - i s chi_1, s the sign convention; ySquare
// is pow(y, 2.0):
//   ((sin y - y cos y)^2 - i s (y cos 2y + sin 2y (y^2 - 1)/2)) / (y^2 + 1).
// Both numerators are about y^3/3 formed from terms of size y, so below
// kSmallParticleLimit their Taylor series take over (the first four terms
// below kLiteralSmallParticleLimit, as always, six from there); from it up
// the closed form above is evaluated operation by operation, bit for bit.
ComplexResult psiOverXiStartValue(double y, double ySquare, int signConvention);

// The same where y >= 1 and sin y - y cos y has lost its digits (y near a
// root of tan y = y), from y psi_1 = y sin y / (1/y + D_1(y)) with D_1(y) the
// table's entry 2, and y chi_1 = cos y + y sin y:
//   ((y psi_1)^2 + i s (y psi_1)(y chi_1)) / (y^2 + 1).
// Returns false, writing nothing, where the closed form keeps its digits.
bool psiOverXiStartFromTable(double y, double ySquare, int signConvention, double tableD1,
                             ComplexResult& result);

// The order-0 ratio psi_0(m2x) xi_0(m2y) / (psi_0(m2y) xi_0(m2x)) is
//   e^(2 s (b - d)) f(m2x) / f(m2y),  a + ib = m2x, c + id = m2y,
// with f(z) = s (e^(-2 s b) - cos 2a) + i sin 2a = 2 s e^(-2 s b) psi_0/xi_0,
// every exponent <= 0 (Im m2 has the sign s and x <= y). f vanishes where
// sin z does. Its closed form, and the form expm1(-2 s b) + 2 sin^2 a of the
// real part that does not cancel for small arguments:
ComplexResult shellStartFactor(double a, double b, int signConvention);
ComplexResult smallArgumentShellStartFactor(double a, double b, int signConvention);
// f from the table's order-0 entry D_0(z) = 1/z - 1/(1/z + D_1):
//   f = 2 s e^(-2 s b) / (1 - i s D_0).
ComplexResult tableShellStartFactor(double b, int signConvention, double tableD0Re, double tableD0Im);
// Whether a factor is small enough for the table's value to take over. Only
// for |z| > 1: near z = 0 the closed form loses digits too, but the table's
// 1/z + D_1 = 3/z (1 + ...) does not, and the error, 1e-16/|z| in the ratio
// across the shell, reaches the coefficients only through the core's share of
// them, of order |z|^3.
bool shellStartCancels(const ComplexResult& factor);
// The factor computed at z = a + ib, or, where |z| > 1 and it cancels, the
// table's (adding kStartFromTables to safeguards).
ComplexResult shellStartFactorOrTable(const ComplexResult& factor, double a, double b, int signConvention,
                                      double tableD0Re, double tableD0Im, unsigned& safeguards);
// The ratio from the two factors, b = Im m2x and d = Im m2y.
ComplexResult shellRatioFromFactors(const ComplexResult& atM2x, const ComplexResult& atM2y, double b,
                                    double d, int signConvention);

}  // namespace coatedmie

#endif  // COATEDMIE_START_VALUES_H
