// Series coefficients of a coated sphere whose outer size parameter is below
// kSmallParticleLimit, evaluated without the cancellation that costs the
// per-order loop of coated_sphere.cpp two digits per decade of y there.
#ifndef COATEDMIE_SMALL_PARTICLE_H
#define COATEDMIE_SMALL_PARTICLE_H

#include <coatedmie/engine.h>

#include "kernels.h"
#include "tables.h"

namespace coatedmie {

// Writes a_n and b_n, n = 1..termCount, into the coefficient tables. Needs
// y < kSmallParticleLimit (so termCount <= 6) and the log-derivative tables
// filled for this sphere; it reads them only where an argument m y or m x
// exceeds 1 in modulus.
// Adds kStartFromTables to `safeguards` where the shell ratio starts from
// the tables.
void smallParticleCoefficients(const Scatterer& sphere, int termCount,
                               const LogDerivativeTables& tables,
                               const CoefficientArrays& coefficients, unsigned& safeguards,
                               const SeriesValues* keep);

}  // namespace coatedmie

#endif  // COATEDMIE_SMALL_PARTICLE_H
