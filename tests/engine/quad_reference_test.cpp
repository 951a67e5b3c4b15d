// The quadruple-precision reference is only worth its digits if it is right:
// it is held here against the small-particle limits of the coefficients, and
// against the engine where the engine is known to be good (the published
// values and the homogeneous sphere).
#include <quadmath.h>

#include <cmath>
#include <complex>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "quad_reference.h"

namespace coatedmie {
namespace {

namespace qr = quad_reference;

double relativeError(qr::Complex got, qr::Complex want) {
    return qr::toDouble(qr::absolute({got.re - want.re, got.im - want.im}) / qr::absolute(want));
}

qr::Complex toComplex(std::complex<double> z) { return {qr::toReal(z.real()), qr::toReal(z.imag())}; }

qr::Complex times(qr::Complex u, qr::Complex w) {
    return {u.re * w.re - u.im * w.im, u.re * w.im + u.im * w.re};
}

// Leading terms in y (Bohren & Huffman, section 5.2; the magnetic dipole
// of a layered sphere sums (eps_i - eps_(i+1)) r_i^5): the next terms are
// smaller by about y^2. The reference's own cancellation (y^2 in the
// numerators, x^2 in B_1) leaves b_1 about fourteen digits at y = 1e-8.
TEST(QuadReference, ReachesTheRayleighLimit) {
    const struct {
        std::complex<double> shell, core;
    } layers[] = {{{1.33, 0}, {1.5, 0}}, {{2.0, 1.0}, {1.6, 0.3}}, {{1.5, 0}, {0.2, 3.0}}, {{1.7, 2.5}, {1.33, 0}}};
    for (const auto& l : layers) {
        for (double y : {1e-4, 1e-6, 1e-8}) {
            for (double fraction : {0.001, 0.5, 0.99}) {
                SCOPED_TRACE(testing::Message() << "shell " << l.shell << ", core " << l.core << ", y = " << y
                                                << ", x/y = " << fraction);
                const double x = fraction * y;
                const qr::Solution s = qr::coatedSphere(y, l.shell.real(), l.shell.imag(), x, l.core.real(), l.core.imag());
                const qr::Complex m2 = toComplex(l.shell), m1 = toComplex(l.core);
                const double bound = 10 * y * y + 1e-14;
                EXPECT_LT(relativeError(s.a[0], qr::rayleighFirstCoefficient(y, x, m2, m1)), bound);
                const qr::Complex e2 = times(m2, m2), e1 = times(m1, m1);
                const qr::Real y5 = qr::toReal(y) * y * y * y * y, q = powq(qr::toReal(fraction), 5);
                const qr::Complex volume{e2.re - 1 + q * (e1.re - e2.re), e2.im + q * (e1.im - e2.im)};
                const qr::Complex b1{volume.im * y5 / 45, -volume.re * y5 / 45};  // -i y^5 volume / 45
                EXPECT_LT(relativeError(s.b[0], b1), bound);
            }
        }
    }
}

TEST(QuadReference, AgreesWithTheEngineAwayFromSmallSizes) {
    const double cases[][6] = {{5, 1.5, 0.01, 3, 2.0, 0.5},  {0.5, 1.33, 0, 0.2, 1.7, 0.1}, {10, 1.33, 0, 6, 1.5, 0},
                               {2, 2.0, 1.0, 1.9, 1.6, 0.3}, {8, 1.5, -0.02, 1, 0.2, -3.0},  {4, 2.0, 0.5, 4, 1.33, 0.01},
                               {5, 1, 0, 3, 1.5, 0}};
    for (const auto& c : cases) {
        EfficiencyRecord e;
        const int termCount = computeCoatedSphere(c[0], c[1], c[2], c[3], c[4], c[5], e);
        const qr::Solution s = qr::coatedSphere(c[0], c[1], c[2], c[3], c[4], c[5], termCount);
        const CoefficientTables& t = coefficientTables();
        for (int n = 1; n <= termCount; ++n) {
            const qr::Complex a{qr::toReal(t.aRe[n]), qr::toReal(t.aIm[n])};
            const qr::Complex b{qr::toReal(t.bRe[n]), qr::toReal(t.bIm[n])};
            EXPECT_LT(qr::toDouble(qr::absolute({a.re - s.a[n - 1].re, a.im - s.a[n - 1].im})), 1e-13) << c[0] << " a" << n;
            EXPECT_LT(qr::toDouble(qr::absolute({b.re - s.b[n - 1].re, b.im - s.b[n - 1].im})), 1e-13) << c[0] << " b" << n;
        }
        EXPECT_NEAR(e.Kext, qr::toDouble(s.Kext), 1e-12 * e.Kext) << c[0];
        EXPECT_NEAR(e.Ksca, qr::toDouble(s.Ksca), 1e-12 * e.Kext) << c[0];
        for (double theta : {0.0, 1.0, 3.141592653589793}) {
            IntensityRecord r{};
            computeIntensity(termCount, theta, r);
            const qr::Intensities want = qr::intensities(s, theta);
            EXPECT_NEAR(r.I1, qr::toDouble(want.I1), 1e-11 * r.I1) << c[0] << " at " << theta;
            EXPECT_NEAR(r.I2, qr::toDouble(want.I2), 1e-11 * r.I2) << c[0] << " at " << theta;
        }
    }
}

}  // namespace
}  // namespace coatedmie
