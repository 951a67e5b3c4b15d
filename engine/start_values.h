// Start values of the coated sphere's per-order recurrences, reachable from
// outside coated_sphere.cpp so that the tests' plain reference engine starts
// from exactly the same values as the engine.
#ifndef COATEDMIE_START_VALUES_H
#define COATEDMIE_START_VALUES_H

#include "complex_kernel.h"

namespace coatedmie {

// psi_1(y)/xi_1(y); ySquare is pow(y, 2.0).
ComplexResult psiOverXiStartValue(double y, double ySquare, int signConvention);

// psi_0(m2 x) xi_0(m2 y) / (psi_0(m2 y) xi_0(m2 x)).
ComplexResult shellRatioStartValue(double m2xRe, double m2xIm, double m2yRe, double m2yIm,
                                   int signConvention);

}  // namespace coatedmie

#endif  // COATEDMIE_START_VALUES_H
