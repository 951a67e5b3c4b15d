// The records a computation works on: the normalised scatterer, views of the
// arrays of an Engine's storage, and the steps of a computation, each given
// the kernels of the vector path it runs on.
#ifndef COATEDMIE_TABLES_H
#define COATEDMIE_TABLES_H

#include <cstddef>

#include <coatedmie/engine.h>

namespace coatedmie {

struct Kernels;

// The scatterer with the outer layer first and both imaginary parts in one
// sign convention: y the outer size parameter with the shell index m2, x <= y
// the core with m1, both imaginary parts zero or of the sign s.
struct Scatterer {
    double y;
    double x;
    double m2Re, m2Im;
    double m1Re, m1Im;
    int signConvention;  // s = +1 or -1
};

// Orders the layers (the larger size parameter outside; on a tie the first)
// and brings both imaginary parts to one sign.
Scatterer normalise(const Layer& first, const Layer& second);

// No layer absorbs: both indices real, or an absorbing shell of zero
// thickness around a real core.
inline bool isLossless(const Scatterer& s) { return s.m1Im == 0.0 && (s.m2Im == 0.0 || s.x == s.y); }

// For lossless layers each partial wave leaves the particle with the power it
// brought: a_n lies on the circle |a - 1/2| = 1/2, so Re a_n = |a_n|^2. For a
// weak scatterer (small, or of an index close to the medium's) that is of
// order (Im a_n)^2, below the absolute accuracy of about 1e-16 |a_n| that the
// complex arithmetic leaves Re a_n, and Kext - Ksca is noise of either sign.
// Low on the circle the real part follows from the imaginary one without
// cancellation; higher up the computed value is accurate already.
double losslessRealPart(double re, double im);

// Logarithmic derivatives D_n(z) = psi_n'(z)/psi_n(z) at the four arguments
// of the coated sphere. Entry k holds order k - 1, for 1 <= k <= N + 1; entry
// 0 is never used.
struct LogDerivativeTables {
    double* Dm2yRe;  // argument m2*y: shell index, outer size
    double* Dm2yIm;
    double* Dm2xRe;  // m2*x: shell index, core size
    double* Dm2xIm;
    double* Dm1xRe;  // m1*x: core index, core size
    double* Dm1xIm;
    double* Dy;      // real argument y
};

// a_n and b_n: entry n holds order n, entry 0 is unused.
struct CoefficientArrays {
    double* aRe;
    double* aIm;
    double* bRe;
    double* bIm;
};

// Arrays of one computation: seven log-derivative and four coefficient
// arrays, each of `entries` doubles (N + 2 for N orders).
inline constexpr int kArraysPerComputation = 11;

inline double* arrayIn(double* storage, int entries, int index) {
    return storage + static_cast<std::ptrdiff_t>(entries) * index;
}

inline LogDerivativeTables logDerivativeTablesIn(double* storage, int entries) {
    return {arrayIn(storage, entries, 0), arrayIn(storage, entries, 1), arrayIn(storage, entries, 2),
            arrayIn(storage, entries, 3), arrayIn(storage, entries, 4), arrayIn(storage, entries, 5),
            arrayIn(storage, entries, 6)};
}

inline CoefficientArrays coefficientArraysIn(double* storage, int entries) {
    return {arrayIn(storage, entries, 7), arrayIn(storage, entries, 8), arrayIn(storage, entries, 9),
            arrayIn(storage, entries, 10)};
}

// Fills the tables and the coefficients of orders 1..termCount of the
// scatterer, adding to `safeguards` those it took (Safeguard), and where
// `keep` is not null the per-order values of the series there. Returns false,
// writing no coefficient, when a continued fraction that starts the tables
// does not end within its pass limit.
struct SeriesValues;
bool computeSeries(const Kernels& kernels, const Scatterer& s, int termCount, const LogDerivativeTables& tables,
                   const CoefficientArrays& coefficients, unsigned& safeguards, const SeriesValues* keep = nullptr);

// Kext, Ksca and Kabs from the coefficients of orders 1..termCount; returns
// the square of the size parameter they are referred to. For a lossless
// particle whose absorption would not vanish it first puts the coefficients
// onto the circle |a - 1/2| = 1/2 and adds kLosslessRealParts to
// `safeguards`; a negative Kabs within the rounding of Re a_n and Re b_n
// becomes +0 with kAbsorptionUnresolved.
double computeEfficiencies(const Kernels& kernels, const Scatterer& s, int termCount,
                           const CoefficientArrays& coefficients, EfficiencyRecord& efficiencies,
                           unsigned& safeguards);

// The derived quantities from coefficients and the efficiencies they gave.
void computeDerivedQuantities(const CoefficientView& c, double normSquare,
                              const EfficiencyRecord& efficiencies, DerivedQuantityRecord& derived);

// The derivatives of the efficiencies and derived quantities of a normalised
// scatterer with respect to Re m1, Im m1, x, Re m2, Im m2 and y (the imaginary
// parts in its own sign convention), from its coefficients, the per-order
// values of its series, and its efficiencies referred to normSquare, which is
// y^2 where normBySize (else x^2).
struct ScattererDerivatives {
    DerivativeRecord m1Re, m1Im, x, m2Re, m2Im, y;
};
void computeDerivatives(const Scatterer& s, const CoefficientView& c, const SeriesValues& v, double normSquare,
                        bool normBySize, const EfficiencyRecord& e, ScattererDerivatives& out);

// The angles of an angular evaluation: theta (radians), or, where theta is
// null, mu = cos(theta) directly, with sin^2(theta) = (1 - mu)(1 + mu).
struct AngleSource {
    const double* theta;
    const double* mu;
};

// The Gauss-Legendre rule and the working rows of the Legendre moments, in
// storage of quadratureDoubles(nodes) doubles; `nodes` says which rule the
// storage holds (0: none yet), so that a call with the same rule reuses it.
struct QuadratureStorage {
    double* storage;
    int nodes;
};

int quadratureNodesFor(int termCount, int moments);
std::size_t quadratureDoubles(int nodes);

// chi_0 .. chi_{moments-1} of the phase function (I1 + I2) * phaseScale.
void computeLegendreMoments(const Kernels& kernels, const CoefficientView& c, double phaseScale, int moments,
                            QuadratureStorage& q, double* chi);

}  // namespace coatedmie

#endif  // COATEDMIE_TABLES_H
