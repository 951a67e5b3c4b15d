// Start values of the per-order loop of the coated sphere: psi_1(y)/xi_1(y)
// and the order-0 ratio across the shell, for the general and the
// small-particle paths.
#ifndef COATEDMIE_START_VALUES_H
#define COATEDMIE_START_VALUES_H

#include "complex_kernel.h"

namespace coatedmie {

// Below this outer size parameter the run takes the small-particle path
// (small_particle.h). The closed forms here, and the differences of the
// per-order loop, cancel like 1/y^2 for small y; measured against a
// quadruple-precision solution, the per-order loop with these closed forms
// keeps at least 9.7 significant digits of every intensity at y = 0.01, 8.1
// at 0.003 and 5.3 at 1e-4 (with Taylor start values alone hardly more:
// the loop cancels as much). From 0.01 up every result stays as it was.
inline constexpr double kSmallParticleLimit = 0.01;

// psi_1(y)/xi_1(y), xi_1 = psi_1 - i s chi_1, s the sign convention; ySquare
// is pow(y, 2.0):
//   ((sin y - y cos y)^2 - i s (y cos 2y + sin 2y (y^2 - 1)/2)) / (y^2 + 1).
// Both numerators are about y^3/3 formed from terms of size y, so below
// kSmallParticleLimit their Taylor series take over; from it up the closed
// form above is evaluated operation by operation, bit for bit.
ComplexResult psiOverXiStartValue(double y, double ySquare, int signConvention);

// psi_0(m2x) xi_0(m2y) / (psi_0(m2y) xi_0(m2x)) = sin(m2x)/sin(m2y) e^(i s m2 (y - x))
// in the closed form with e^(-2b) - cos 2a (a + ib = m2x), written so that
// every exponent is <= 0 (Im m2 has the sign s and x <= y).
ComplexResult shellRatioStartValue(double m2xRe, double m2xIm, double m2yRe, double m2yIm,
                                   int signConvention);

// The same ratio with e^(-2b) - cos 2a taken as expm1(-2b) + 2 sin^2 a: no
// cancellation for small arguments, where the closed form keeps only an
// absolute accuracy of about 1e-16 on a value of size |m2x|.
ComplexResult smallArgumentShellRatioStartValue(double m2xRe, double m2xIm, double m2yRe,
                                                double m2yIm, int signConvention);

}  // namespace coatedmie

#endif  // COATEDMIE_START_VALUES_H
