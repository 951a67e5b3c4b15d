#include <cmath>

#include <gtest/gtest.h>

#include "complex_kernel.h"

namespace coatedmie {
namespace {

TEST(ComplexKernel, QuotientAndProductOfOnePair) {
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
        const double got[] = {r.quotRe, r.quotIm, r.prodRe, r.prodIm};
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(got[i] == c[4 + i] || (std::isnan(got[i]) && std::isnan(c[4 + i])))
                << "u = " << c[0] << " + " << c[1] << "i, w = " << c[2] << " + " << c[3]
                << "i, field " << i << " = " << got[i];
        }
    }
}

TEST(ComplexKernel, UpwardStepCarriesCotangentToFirstOrder) {
    for (double z : {0.3, 1.5, 3.3, 42.7}) {
        ComplexResult d1;
        upwardLogDerivativeStep(1, z, 0.0, std::cos(z) / std::sin(z), 0.0, d1);
        // psi_1 = sin z/z - cos z
        const double expected = (std::cos(z) / z - std::sin(z) / (z * z) + std::sin(z)) /
                                (std::sin(z) / z - std::cos(z));
        EXPECT_NEAR(d1.re, expected, 1e-13 * std::fabs(expected)) << "z = " << z;
        EXPECT_EQ(d1.im, 0.0);
    }
    ComplexResult r;
    upwardLogDerivativeStep(1, 0.0, 0.0, 0.5, 0.0, r);  // z = 0
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));
    upwardLogDerivativeStep(2, 4.0, 0.0, 0.5, 0.0, r);  // n/z == D: 1/0 is NaN, not infinity
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));
}

TEST(ComplexKernel, CompositeOperations) {
    QuotientProduct q;
    complexQuotientProduct(7, 0.0, 2.75, -0.3, q);
    ComplexResult r;
    addOrderOverArgument(7, 2.75, -0.3, 0.0, 0.0, r);
    EXPECT_TRUE(r.re == q.quotRe && r.im == q.quotIm);
    addOrderOverArgument(3, 1.0, 1.0, 0.25, -2.0, r);  // 3/(1+i) = 1.5 - 1.5i
    EXPECT_TRUE(r.re == 1.75 && r.im == -3.5);

    crossProductDifference(2, 3, 4, -1, 1, 0, 0.5, 0.25, r);  // (11 + 10i) - (0.5 + 0.25i)
    EXPECT_TRUE(r.re == 10.5 && r.im == 9.75);
    crossProductDifference(1e150, -3e-200, 7, 1e-300, 1e150, -3e-200, 7, 1e-300, r);
    EXPECT_TRUE(r.re == 0.0 && r.im == 0.0);
    crossProductDifference(2, 3, 0, 0, 0, 0, 0, 0, r);  // unused quotients divide by zero
    EXPECT_TRUE(r.re == 0.0 && r.im == 0.0);
}

}  // namespace
}  // namespace coatedmie
