// Amplitude functions S1 = sum w_n (a_n pi_n + b_n tau_n) and
// S2 = sum w_n (a_n tau_n + b_n pi_n), w_n = (2n + 1)/(n (n + 1)), with the
// angular functions pi_n, tau_n of cos(theta) by upward recurrence.
#include <cmath>

#include <coatedmie/engine.h>

#include "library_square.h"

namespace coatedmie {

void computeIntensity(int termCount, double theta, IntensityRecord& intensity) {
    const CoefficientTables& c = coefficientTables();
    // The tables never hold more orders than kMaxTermCount; a larger count from
    // a careless caller must not read past them.
    const int lastOrder = termCount < kMaxTermCount ? termCount : kMaxTermCount;

    const double mu = std::cos(theta);
    const double sinSquare = librarySquare(std::sin(theta));
    double piPrev = 1.0;
    double piPrev2 = 0.0;
    // pi_n' (derivative with respect to cos(theta)), which gives
    // tau_n = mu pi_n - sin^2(theta) pi_n'.
    double piPrimePrev = 0.0;
    double piPrimePrev2 = 0.0;

    // Order 1 counts whatever the term count, so even N <= 1 reads entry 1.
    const double w1 = ((2.0 * 1 + 1.0) / 1.0) / (1.0 + 1.0);
    const double tau1 = mu;
    double s1Re = (piPrev * c.aRe[1] + tau1 * c.bRe[1]) * w1;
    double s1Im = (piPrev * c.aIm[1] + tau1 * c.bIm[1]) * w1;
    double s2Re = (tau1 * c.aRe[1] + piPrev * c.bRe[1]) * w1;
    double s2Im = (tau1 * c.aIm[1] + piPrev * c.bIm[1]) * w1;

    for (int n = 2; n <= lastOrder; ++n) {
        const double order = static_cast<double>(n);
        const double piN = ((mu * (2.0 * order - 1.0)) * piPrev - order * piPrev2) / (order - 1.0);
        // The derivative two orders back, not the previous one.
        const double piPrimeN = (2.0 * order - 1.0) * piPrev + piPrimePrev2;
        const double tauN = mu * piN - sinSquare * piPrimeN;
        piPrev2 = piPrev;
        piPrev = piN;
        piPrimePrev2 = piPrimePrev;
        piPrimePrev = piPrimeN;

        const double w = ((2.0 * order + 1.0) / order) / (order + 1.0);
        s1Re = (piN * c.aRe[n] + tauN * c.bRe[n]) * w + s1Re;
        s2Re = (tauN * c.aRe[n] + piN * c.bRe[n]) * w + s2Re;
        s1Im = (piN * c.aIm[n] + tauN * c.bIm[n]) * w + s1Im;
        s2Im = (tauN * c.aIm[n] + piN * c.bIm[n]) * w + s2Im;
    }

    intensity.I1 = s1Re * s1Re + s1Im * s1Im;
    intensity.I2 = s2Re * s2Re + s2Im * s2Im;
}

}  // namespace coatedmie
