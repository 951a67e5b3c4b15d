// Small particles. Below an outer size parameter of 0.01 the coefficients
// come from ratios that do not cancel; here they are held against the
// quadruple-precision reference (its Rayleigh limit below y = 1e-8). From 0.01
// up the plain implementation holds every bit (vector_paths_test.cpp).
#include <quadmath.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>
#include <number_text.h>

#include "engine_test_support.h"
#include "quad_reference.h"
#include "start_values.h"

namespace coatedmie {
namespace {

using namespace test_support;
namespace qr = quad_reference;

// psi_1(y)/xi_1(y) from the general terms of both series, summed in
// quadruple precision until they no longer count.
qr::Complex exactFirstOrderPsiOverXi(double yDouble, int s) {
    const qr::Real y = yDouble, y2 = y * y;
    qr::Real sine = 0, doubleAngle = 0, power = y, factorial = 1;  // power = y^(2k+1), factorial = (2k+1)!
    for (int k = 1; k < 30; ++k) {
        const qr::Real previousFactorial = factorial;  // (2k-1)!
        power *= y2;
        factorial *= qr::Real(2 * k) * qr::Real(2 * k + 1);
        const qr::Real sign = k % 2 ? 1 : -1;
        sine += sign * qr::Real(2 * k) / factorial * power;
        // (-4)^k (1/(2k)! - 1/(4 (2k-1)!) - 1/(2k+1)!)
        const qr::Real evenFactorial = factorial / qr::Real(2 * k + 1);
        doubleAngle += -sign * powq(4, k) * (1 / evenFactorial - 1 / (4 * previousFactorial) - 1 / factorial) * power;
    }
    return {sine * sine / (y2 + 1), -s * doubleAngle / (y2 + 1)};
}

// Measured from y = 1e-35 to the limit: relative errors up to 8.1e-16 in the
// real part (the square of a product of several roundings) and 4.9e-16 in
// the imaginary part. An error in the last terms of the series, some 1e-14
// at the limit, would stay below what the grid below can tell.
TEST(StartValues, BelowTheLimitTheSeriesIsRightToTheLastBits) {
    for (double y = 0.0099999; y > 1e-35; y *= 0.9) {
        for (int s : {+1, -1}) {
            const ComplexResult got = psiOverXiStartValue(y, std::pow(y, 2.0), s);
            const qr::Complex want = exactFirstOrderPsiOverXi(y, s);
            EXPECT_NEAR(got.re, qr::toDouble(want.re), 1e-15 * qr::toDouble(want.re)) << y;
            EXPECT_NEAR(got.im, qr::toDouble(want.im), 6e-16 * std::fabs(qr::toDouble(want.im))) << y;
        }
    }
}

// The grid of the accuracy claim: non-absorbing, weakly and strongly
// absorbing layers, a core in a shell of index exactly 1 (the core alone,
// referred to its own cross-section), core fractions 0.001 to 1, both sign
// conventions, intensities at every 15 degrees.
struct LayerPair {
    const char* name;
    double shellRe, shellIm, coreRe, coreIm;
    double slack;  // digits below the general bars that the row may give up
};

constexpr LayerPair kLayerPairs[] = {
    {"lossless", 1.33, 0.0, 1.5, 0.0, 0.0},
    {"lossless, dense core", 1.5, 0.0, 3.0, 0.0, 0.0},
    {"weak absorption", 1.5, 0.01, 1.33, 0.001, 0.0},
    {"strong absorption", 2.0, 1.0, 1.6, 0.3, 0.0},
    {"metal core", 1.5, 0.0, 0.2, 3.0, 0.0},
    {"lossless core, absorbing shell", 1.7, 2.5, 1.33, 0.0, 0.0},
    {"vacuum shell", 1.0, 0.0, 1.5, 0.02, 0.0},
    // |m y| and |m x| above 1 near the limit reach the path's log-derivative
    // branch; indices of some hundreds cost about two digits throughout.
    {"high-index shell", 300.0, 200.0, 1.5, 0.0, 2.5},
    {"high-index core", 1.33, 0.0, 400.0, 300.0, 2.5},
};

// -log10 of the relative error; 99 when the values are equal.
double digits(double engine, qr::Real reference) {
    const qr::Real error = fabsq(qr::toReal(engine) - reference);
    return error == 0 ? 99 : -std::log10(qr::toDouble(error / fabsq(reference)));
}

double digits(double engineRe, double engineIm, qr::Complex reference) {
    const qr::Real error = qr::absolute({qr::toReal(engineRe) - reference.re, qr::toReal(engineIm) - reference.im});
    return error == 0 ? 99 : -std::log10(qr::toDouble(error / qr::absolute(reference)));
}

std::string fixedText(double v) {
    char text[kMaxNumberText];
    return std::string(text, formatFixed(v, text));
}

// The fixed form of the exact value, unless that value lies within 1e-12 of a
// rounding boundary (k + 1/2) 1e-6; then either neighbour counts as right.
// The sign is never in doubt: a positive value must not print "-0.000000".
void expectPrintsRight(const char* name, double engine, qr::Real reference) {
    const std::string got = fixedText(engine), want = fixedText(qr::toDouble(reference));
    const qr::Real scaled = fabsq(reference) * qr::Real(1e6);
    const qr::Real fromBoundary = fabsq(scaled - floorq(scaled) - qr::Real(0.5)) * qr::Real(1e-6);
    EXPECT_TRUE(got == want || ((engine < 0) == (reference < 0) && fromBoundary < qr::toReal(1e-12)))
        << name << " prints " << got << ", the reference " << want;
}

// One case of the grid against the reference: the quadruple-precision coated
// sphere from y = 1e-8 up (for a vacuum shell the core alone, which it is,
// and which the reference's cancellation handles better), its Rayleigh limit
// below.
void expectAgreement(double y, const LayerPair& l, double fraction, int s) {
    SCOPED_TRACE(testing::Message() << "y = " << y << ", " << l.name << ", core " << fraction << ", s = " << s);
    const double x = fraction * y;
    EfficiencyRecord e{};
    const int n = test_support::compute({y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm}, e);
    const bool vacuumShell = l.shellRe == 1.0 && l.shellIm == 0.0;
    const qr::Solution ref = y < 1e-8      ? qr::rayleighLimit(y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm)
                             : vacuumShell ? qr::coatedSphere(x, l.coreRe, s * l.coreIm, x, l.coreRe, s * l.coreIm, n)
                                           : qr::coatedSphere(y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm, n);
    const double pi = 4.0 * std::atan(1.0);
    for (int degrees = 0; degrees <= 180; degrees += 15) {
        const double theta = degrees * (pi / 180);  // as the program forms a grid angle
        const test_support::Intensity got = test_support::intensityAt(theta);
        const qr::Intensities want = qr::intensities(ref, theta);
        EXPECT_GE(std::fmin(digits(got.I1, want.I1), digits(got.I2, want.I2)), 10.0 - l.slack)
            << "at " << degrees << " degrees";
    }
    const CoefficientView t = test_support::coefficients();
    EXPECT_GE(digits(t.aRe[1], t.aIm[1], ref.a[0]), 13.0 - l.slack);
    // Lossless (a shell of zero thickness absorbs nothing), Re a_n = |a_n|^2
    // lies far below the quadruple sums' resolution of Re a_n; Kext equals
    // Ksca, which the squares give well.
    const bool lossless = l.coreIm == 0 && (l.shellIm == 0 || fraction == 1);
    const qr::Real Kext = lossless ? ref.Ksca : ref.Kext;
    EXPECT_GE(digits(e.Kext, Kext), 12.0 - l.slack);
    expectPrintsRight("Kext", e.Kext, Kext);
    expectPrintsRight("Ksca", e.Ksca, ref.Ksca);
    expectPrintsRight("Kabs", e.Kabs, lossless ? 0 : ref.Kabs);
}

#ifdef COATEDMIE_LONG_SWEEP
constexpr int kPointsPerDecade = 20;
#else
constexpr int kPointsPerDecade = 1;
#endif

// Measured: at least 13 digits of the coefficients and of the intensities
// down to y = 1e-30; the intensities keep at least 10.4 near y = 0.01, where
// in the dips of I2 the series truncated after the term count of the run
// leaves that much; indices of some hundreds give up about two digits more.
TEST(SmallParticlePath, AgreesWithTheQuadReferenceOnTheGrid) {
    std::vector<double> sizes = {std::nextafter(kSmallParticleLimit, 0.0), 0.05, 0.02, 0.0099, 0.008, 0.003};
    for (int decade = -3; decade >= -8; --decade) {
        for (int step = 0; step < kPointsPerDecade; ++step) {
            sizes.push_back(std::pow(10.0, decade - static_cast<double>(step) / kPointsPerDecade));
        }
    }
    for (double y : {1e-10, 1e-12, 1e-16, 1e-20, 1e-25, 1e-30}) sizes.push_back(y);
    for (double y : sizes) {
        for (const LayerPair& l : kLayerPairs) {
            for (double fraction : {0.001, 0.01, 0.1, 0.5, 0.9, 0.99, 1.0}) {
                for (int s : {+1, -1}) {
                    if (s == +1 || l.shellIm != 0 || l.coreIm != 0) expectAgreement(y, l, fraction, s);
                }
            }
        }
    }
}

}  // namespace
}  // namespace coatedmie
