#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

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

// The engine's loops call the halves on their own; each must give the bits
// of its half of the full call, zeros, infinities and NaN included. The NaN
// is the one invalid operations deliver: where NaNs of different signs meet,
// IEEE arithmetic does not fix which one comes out, and neither does the
// compiler, which may put the operands of a sum or product either way round.
TEST(ComplexKernel, HalvesAreTheQuotientProductBitForBit) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 3.0, 1e-200, -1e200, 1e160, 5e-324,
                                  inf, -inf, -std::nan("")};
    std::mt19937_64 generator(5);
    std::uniform_real_distribution<double> mantissa(-2.0, 2.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    for (int i = 0; i < 50; ++i) values.push_back(std::ldexp(mantissa(generator), exponent(generator)));
    const auto sameBits = [](double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; };
    for (int i = 0; i < 200000; ++i) {
        const double a = values[generator() % values.size()], b = values[generator() % values.size()];
        const double c = values[generator() % values.size()], d = values[generator() % values.size()];
        QuotientProduct full;
        complexQuotientProduct(a, b, c, d, full);
        const ComplexResult q = complexQuotient(a, b, c, d);
        const ComplexResult p = complexProduct(a, b, c, d);
        ASSERT_TRUE(sameBits(q.re, full.quotRe) && sameBits(q.im, full.quotIm) &&
                    sameBits(p.re, full.prodRe) && sameBits(p.im, full.prodIm))
            << "u = " << a << " + " << b << "i, w = " << c << " + " << d << "i";
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
