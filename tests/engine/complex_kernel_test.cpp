#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "complex_kernel.h"
#include "engine_test_support.h"

namespace coatedmie {
namespace {

using test_support::sameBits;

bool sameOrBothNaN(double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); }

TEST(ComplexKernel, WorkedExamplesOfEachOperation) {
    const double nan = std::nan("");
    const double cases[][8] = {
        // a, b, c, d, then u/w and u*w for u = a + ib, w = c + id
        {3, 4, 1, 2, 2.2, -0.4, -5, 10},
        {1, 0, 0, 1, 0, -1, 0, 1},
        {1, 0, 0, 0, nan, nan, 0, 0},  // w = 0: NaN quotient, exact product
    };
    for (const auto& c : cases) {
        QuotientProduct r;
        complexQuotientProduct(c[0], c[1], c[2], c[3], r);
        EXPECT_TRUE(sameOrBothNaN(r.quotRe, c[4]) && sameOrBothNaN(r.quotIm, c[5]) &&
                    sameOrBothNaN(r.prodRe, c[6]) && sameOrBothNaN(r.prodIm, c[7]))
            << "u = " << c[0] << " + " << c[1] << "i, w = " << c[2] << " + " << c[3] << "i: " << r.quotRe
            << ", " << r.quotIm << ", " << r.prodRe << ", " << r.prodIm;
    }

    ComplexResult r;
    for (double z : {0.3, 3.3, 42.7}) {  // D_0 = cot z gives D_1, psi_1 = sin z/z - cos z
        upwardLogDerivativeStep(1, z, 0.0, std::cos(z) / std::sin(z), 0.0, r);
        const double expected = (std::cos(z) / z - std::sin(z) / (z * z) + std::sin(z)) / (std::sin(z) / z - std::cos(z));
        EXPECT_NEAR(r.re, expected, 1e-13 * std::fabs(expected)) << "z = " << z;
        EXPECT_EQ(r.im, 0.0);
    }
    upwardLogDerivativeStep(1, 0.0, 0.0, 0.5, 0.0, r);  // z = 0
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));
    upwardLogDerivativeStep(2, 4.0, 0.0, 0.5, 0.0, r);  // n/z == D: 1/0 is NaN, not infinity
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));

    QuotientProduct q;
    complexQuotientProduct(7, 0.0, 2.75, -0.3, q);
    addOrderOverArgument(7, 2.75, -0.3, 0.0, 0.0, r);
    EXPECT_TRUE(r.re == q.quotRe && r.im == q.quotIm);
    crossProductDifference(1e150, -3e-200, 7, 1e-300, 1e150, -3e-200, 7, 1e-300, r);
    EXPECT_TRUE(sameBits(r.re, 0.0) && sameBits(r.im, 0.0));
    crossProductDifference(2, 3, 0, 0, 0, 0, 0, 0, r);  // unused quotients divide by zero
    EXPECT_TRUE(sameBits(r.re, 0.0) && sameBits(r.im, 0.0));
}

// The engine's loops call the halves on their own; each must give the bits
// of its half of the full call, zeros, infinities and NaN included. The NaN
// is the one invalid operations deliver: where NaNs of different signs meet,
// IEEE arithmetic does not fix which one comes out, and neither does the
// compiler, which may put the operands of a sum or product either way round.
TEST(ComplexKernel, HalvesAreTheQuotientProductBitForBit) {
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0,  -0.0,   1.0,  -1.0, 0.5,  3.0,          1e-200,   -1e200,
                             1e160, 5e-324, inf, -inf, -std::nan(""), 0x1.561230e6cc7a8p+1, -0x1.9f8d6eb5a9178p+0};
    for (double a : values) for (double b : values) for (double c : values) for (double d : values) {
        QuotientProduct full;
        complexQuotientProduct(a, b, c, d, full);
        const ComplexResult q = complexQuotient(a, b, c, d);
        const ComplexResult p = complexProduct(a, b, c, d);
        ASSERT_TRUE(sameBits(q.re, full.quotRe) && sameBits(q.im, full.quotIm) &&
                    sameBits(p.re, full.prodRe) && sameBits(p.im, full.prodIm))
            << "u = " << a << " + " << b << "i, w = " << c << " + " << d << "i";
    }
}

}  // namespace
}  // namespace coatedmie
