// Series coefficients of a coated sphere whose outer size parameter is below
// kSmallParticleLimit, evaluated without the cancellation that costs the
// per-order loop of coated_sphere.cpp two digits per decade of y there.
#ifndef COATEDMIE_SMALL_PARTICLE_H
#define COATEDMIE_SMALL_PARTICLE_H

#include <coatedmie/engine.h>

#include "log_derivative.h"

namespace coatedmie {

// The normalised scatterer: y the outer size parameter with the shell index
// m2, x <= y the core with m1, both imaginary parts zero or of the sign s.
struct LayeredSphere {
    double y, x;
    double m2Re, m2Im;
    double m1Re, m1Im;
    int signConvention;
};

// Writes a_n and b_n, n = 1..termCount, into the coefficient tables. Needs
// y < kSmallParticleLimit (so termCount <= 4) and the log-derivative tables
// filled for this sphere; it reads them only where an argument m y or m x
// exceeds 1 in modulus.
void smallParticleCoefficients(const LayeredSphere& sphere, int termCount,
                               const LogDerivativeTables& tables, CoefficientTables& coefficients);

}  // namespace coatedmie

#endif  // COATEDMIE_SMALL_PARTICLE_H
