// The quadruple-precision reference is only worth its digits if it is right:
// it is held here against the small-particle limits of the coefficients,
// where the small-particle tests lean on it; a fault elsewhere in it shows as
// a disagreement there.
#include <quadmath.h>

#include <cmath>
#include <complex>

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

}  // namespace
}  // namespace coatedmie
