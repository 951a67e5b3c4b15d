// Series coefficients a_n, b_n of the coated sphere and its efficiencies.
//
// The coefficients are formed from ratios only: the logarithmic derivatives of
// the tables, the ratio psi_n(y)/xi_n(y), and the ratio
// psi_n(m2 x) xi_n(m2 y) / (psi_n(m2 y) xi_n(m2 x)) across the shell. No
// Riccati function is formed itself, so nothing overflows at large orders,
// large sizes or strong absorption. xi_n is the Riccati function with
// xi_0(z) = sin z - i s cos z, s the sign convention of the imaginary parts.
#include <cmath>
#include <utility>

#include <coatedmie/engine.h>

#include "complex_kernel.h"
#include "log_derivative.h"
#include "small_particle.h"
#include "start_values.h"
#include "tables.h"

namespace coatedmie {

namespace {

using namespace pair_arithmetic;

// Relative absorption below this is rounding residue of Kext - Ksca.
constexpr double kAbsorptionCutoff = 1e-10;

// 1/(n/z - D) - n/z from n/z (upwardLogDerivativeStep).
ComplexResult upwardStep(const ComplexResult& orderOverZ, const ComplexResult& d) {
    const ComplexResult reciprocal =
        complexQuotient(1.0, 0.0, orderOverZ.re - d.re, orderOverZ.im - d.im);
    return {reciprocal.re - orderOverZ.re, reciprocal.im - orderOverZ.im};
}

// n/z + X from n/z (addOrderOverArgument).
ComplexResult plus(const ComplexResult& orderOverZ, const ComplexResult& x) {
    return {orderOverZ.re + x.re, orderOverZ.im + x.im};
}

// psiOverXi * (u1 v1 - g v2) / (u1 v3 - g v4): the shape shared by a_n and b_n.
ComplexResult seriesCoefficient(const ComplexResult& psiOverXi, const ComplexResult& u1,
                                const ComplexResult& g, const ComplexResult& v1,
                                const ComplexResult& v2, const ComplexResult& v3,
                                const ComplexResult& v4) {
    const ComplexResult numerator = crossDifference(u1, v1, g, v2);
    const ComplexResult denominator = crossDifference(u1, v3, g, v4);
    return product(psiOverXi, quotient(numerator, denominator));
}

}  // namespace

Scatterer normalise(double alpha1, double index1Re, double index1Im, double alpha2,
                    double index2Re, double index2Im) {
    if (alpha1 < alpha2) {
        std::swap(alpha1, alpha2);
        std::swap(index1Re, index2Re);
        std::swap(index1Im, index2Im);
    }
    Scatterer s{alpha1, alpha2, index1Re, index1Im, index2Re, index2Im, +1};
    if (s.m2Im < 0.0 || s.m1Im < 0.0) {
        s.m2Im = -std::fabs(s.m2Im);
        s.m1Im = -std::fabs(s.m1Im);
        s.signConvention = -1;
    } else {
        s.m2Im = std::fabs(s.m2Im);
        s.m1Im = std::fabs(s.m1Im);
    }
    return s;
}

bool computeSeries(const Scatterer& s, int termCount, const LogDerivativeTables& D,
                   const CoefficientArrays& coefficients) {
    const double y = s.y;
    const double x = s.x;
    const double ySquare = std::pow(y, 2.0);
    const ComplexResult m2y{s.m2Re * y, s.m2Im * y};
    const ComplexResult m2x{s.m2Re * x, s.m2Im * x};
    const ComplexResult m1x{s.m1Re * x, s.m1Im * x};
    if (!fillLogDerivativeTables(termCount, m2y.re, m2y.im, m2x.re, m2x.im, m1x.re, m1x.im, y, D)) {
        return false;
    }
    if (y < kSmallParticleLimit) {
        smallParticleCoefficients(s, termCount, D, coefficients);
        return true;
    }

    const ComplexResult one{1.0, 0.0};
    const ComplexResult m2{s.m2Re, s.m2Im};
    const ComplexResult m1{s.m1Re, s.m1Im};
    const double orderZeroXi = static_cast<double>(s.signConvention);  // xi_0'/xi_0 = i s
    ComplexResult psiOverXi = psiOverXiStartValue(y, ySquare, s.signConvention);
    ComplexResult dXiY{0.0, orderZeroXi};
    ComplexResult dXiM2y{0.0, orderZeroXi};
    ComplexResult dXiM2x{0.0, orderZeroXi};
    ComplexResult shellRatio =
        shellRatioStartValue(m2x.re, m2x.im, m2y.re, m2y.im, s.signConvention);

    for (int n = 1; n <= termCount; ++n) {
        const double order = static_cast<double>(n);
        const double t = order / y;
        if (n >= 2) {
            // psi_n/xi_n = (D_{n-1}(y) - n/y) / (dxi_{n-1}(y) - n/y) * psi_{n-1}/xi_{n-1}
            const ComplexResult ratio = quotient(psiOverXi, {dXiY.re - t, dXiY.im});
            const double factor = D.Dy[n] - t;
            psiOverXi = {factor * ratio.re, factor * ratio.im};
        }
        const ComplexResult reciprocal = complexQuotient(1.0, 0.0, t - dXiY.re, -dXiY.im);
        dXiY = {reciprocal.re - t, reciprocal.im};
        // n/m2y and n/m2x enter three operations each; formed once.
        const ComplexResult orderOverM2y = complexQuotient(order, 0.0, m2y.re, m2y.im);
        const ComplexResult orderOverM2x = complexQuotient(order, 0.0, m2x.re, m2x.im);
        dXiM2y = upwardStep(orderOverM2y, dXiM2y);
        dXiM2x = upwardStep(orderOverM2x, dXiM2x);

        const ComplexResult dM2y{D.Dm2yRe[n + 1], D.Dm2yIm[n + 1]};
        const ComplexResult dM2x{D.Dm2xRe[n + 1], D.Dm2xIm[n + 1]};
        const ComplexResult dM1x{D.Dm1xRe[n + 1], D.Dm1xIm[n + 1]};
        const ComplexResult dY{D.Dy[n + 1], 0.0};

        // f_{n-1}/f_n = f_n'/f_n + n/z carries the shell ratio up one order.
        const ComplexResult p1 = product(plus(orderOverM2y, dM2y), plus(orderOverM2x, dXiM2x));
        const ComplexResult p2 = product(plus(orderOverM2x, dM2x), plus(orderOverM2y, dXiM2y));
        shellRatio = product(shellRatio, quotient(p1, p2));

        const ComplexResult u1 = crossDifference(m1, dXiM2x, m2, dM1x);
        const ComplexResult u2 = crossDifference(m1, dM2x, m2, dM1x);
        const ComplexResult v1 = crossDifference(one, dM2y, m2, dY);
        const ComplexResult v2 = crossDifference(one, dXiM2y, m2, dY);
        const ComplexResult v3 = crossDifference(one, dM2y, m2, dXiY);
        const ComplexResult v4 = crossDifference(one, dXiM2y, m2, dXiY);
        const ComplexResult w1 = crossDifference(m2, dXiM2x, m1, dM1x);
        const ComplexResult w2 = crossDifference(m2, dM2x, m1, dM1x);
        const ComplexResult z1 = crossDifference(m2, dM2y, one, dY);
        const ComplexResult z2 = crossDifference(m2, dXiM2y, one, dY);
        const ComplexResult z3 = crossDifference(m2, dM2y, one, dXiY);
        const ComplexResult z4 = crossDifference(m2, dXiM2y, one, dXiY);

        const ComplexResult a =
            seriesCoefficient(psiOverXi, u1, product(shellRatio, u2), v1, v2, v3, v4);
        const ComplexResult b =
            seriesCoefficient(psiOverXi, w1, product(shellRatio, w2), z1, z2, z3, z4);
        coefficients.aRe[n] = a.re;
        coefficients.aIm[n] = a.im;
        coefficients.bRe[n] = b.re;
        coefficients.bIm[n] = b.im;
    }

    return true;
}

double computeEfficiencies(const Scatterer& s, const CoefficientView& c,
                           EfficiencyRecord& efficiencies) {
    // The sums in a loop of their own, from the stored coefficients in the
    // order of the orders.
    double sumExt = 0.0;
    double sumSca = 0.0;
    for (int n = 1; n <= c.termCount; ++n) {
        const double f = 2.0 * n + 1.0;
        sumExt = (c.aRe[n] + c.bRe[n]) * f + sumExt;
        const double squares = ((std::pow(c.aRe[n], 2.0) + std::pow(c.aIm[n], 2.0)) +
                                std::pow(c.bRe[n], 2.0)) +
                               std::pow(c.bIm[n], 2.0);
        sumSca = squares * f + sumSca;
    }

    // A shell of index exactly 1 + 0i is no shell: refer the efficiencies to
    // the core's cross-section.
    const bool vacuumShell = s.m2Re == 1.0 && s.m2Im == 0.0;
    const double normSquare = vacuumShell ? std::pow(s.x, 2.0) : std::pow(s.y, 2.0);
    efficiencies.Kext = (sumExt + sumExt) / normSquare;
    efficiencies.Ksca = (sumSca + sumSca) / normSquare;
    efficiencies.Kabs = efficiencies.Kext - efficiencies.Ksca;
    // The negated test also clears a ratio that is not a number (0/0).
    if (!(std::fabs(efficiencies.Kabs / efficiencies.Kext) >= kAbsorptionCutoff)) {
        efficiencies.Kabs = 0.0;
    }
    return normSquare;
}

}  // namespace coatedmie
