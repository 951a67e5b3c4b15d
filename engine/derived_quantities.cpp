// Backscattering, radiation pressure, asymmetry parameter and albedo from the
// series coefficients, after the expansions of Bohren & Huffman (1983,
// "Absorption and Scattering of Light by Small Particles", chapter 4), with
// y^2 the norm square of the efficiencies (x^2 for a vacuum shell):
//
//   g Ksca = 4/y^2 [ sum_{n=1}^{N-1} n(n+2)/(n+1) Re(a_n a*_{n+1} + b_n b*_{n+1})
//                  + sum_{n=1}^{N}   (2n+1)/(n(n+1)) Re(a_n b*_n) ]
//   Kback  = 1/y^2 | sum_{n=1}^{N} (2n+1) (-1)^n (a_n - b_n) |^2
//   Kpr    = Kext - g Ksca
//
// The first is the integral of (I1 + I2) cos(theta) over the sphere of
// directions, reduced by the orthogonality of pi_n and tau_n to products of
// neighbouring orders; the second is 4 |S1(pi)|^2 / y^2, since at theta = pi
// pi_n = -tau_n = (-1)^(n+1) n(n+1)/2. Both are sums of products of a
// coefficient with the conjugate of another (or squared magnitudes), so the
// conjugated coefficients of the negative sign convention give the same bits.
#include <cmath>

#include <coatedmie/engine.h>

#include "tables.h"

namespace coatedmie {

void computeDerivedQuantities(const CoefficientView& c, double normSquare,
                              const EfficiencyRecord& efficiencies, DerivedQuantityRecord& derived) {
    // Like the intensities: order 1 always.
    const int lastOrder = c.termCount < 1 ? 1 : c.termCount;

    double backRe = 0.0;  // sum (2n+1)(-1)^n (a_n - b_n)
    double backIm = 0.0;
    double neighbourSum = 0.0;  // sum n(n+2)/(n+1) Re(a_n a*_{n+1} + b_n b*_{n+1})
    double crossSum = 0.0;      // sum (2n+1)/(n(n+1)) Re(a_n b*_n)
    for (int n = 1; n <= lastOrder; ++n) {
        const double order = static_cast<double>(n);
        const double f = 2.0 * order + 1.0;
        const double alternating = n % 2 == 0 ? f : -f;
        backRe = alternating * (c.aRe[n] - c.bRe[n]) + backRe;
        backIm = alternating * (c.aIm[n] - c.bIm[n]) + backIm;
        const double crossRe = c.aRe[n] * c.bRe[n] + c.aIm[n] * c.bIm[n];
        crossSum = f / (order * (order + 1.0)) * crossRe + crossSum;
        // Entry N + 1 may hold an order of an earlier, larger computation.
        if (n < lastOrder) {
            const double neighbourRe = ((c.aRe[n] * c.aRe[n + 1] + c.aIm[n] * c.aIm[n + 1]) +
                                        c.bRe[n] * c.bRe[n + 1]) +
                                       c.bIm[n] * c.bIm[n + 1];
            neighbourSum = order * (order + 2.0) / (order + 1.0) * neighbourRe + neighbourSum;
        }
    }

    const double gKsca = 4.0 * (neighbourSum + crossSum) / normSquare;
    derived.Kback = (backRe * backRe + backIm * backIm) / normSquare;
    derived.Kpr = efficiencies.Kext - gKsca;
    derived.g = gKsca / efficiencies.Ksca;
    derived.albedo = efficiencies.Ksca / efficiencies.Kext;
    // Kabs is +0 when the particle absorbs less than 1e-10 of what it removes
    // (lossless layers leave only rounding residue): it then scatters all of
    // it, and an albedo a few ulps above 1 would be a gain medium to a
    // radiative-transfer code.
    if (efficiencies.Kabs == 0.0 && !std::isnan(derived.albedo)) derived.albedo = 1.0;
}

}  // namespace coatedmie
