#include <cmath>

#include <gtest/gtest.h>

#include "complex_kernel.h"

namespace coatedmie {
namespace {

TEST(ComplexQuotientProduct, QuotientAndProductOfOnePair) {
    struct Case {
        double a, b, c, d;
        double quotRe, quotIm, prodRe, prodIm;
    };
    const Case cases[] = {
        {3, 4, 1, 2, 2.2, -0.4, -5, 10},  // (3+4i)/(1+2i), (3+4i)(1+2i)
        {1, 0, 0, 1, 0, -1, 0, 1},        // 1/i and 1*i
        {-2, 0, 4, 0, -0.5, 0, -8, 0},    // real operands
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "u = " << c.a << " + " << c.b << "i, w = " << c.c
                                        << " + " << c.d << "i");
        QuotientProduct r;
        complexQuotientProduct(c.a, c.b, c.c, c.d, r);
        EXPECT_EQ(r.quotRe, c.quotRe);
        EXPECT_EQ(r.quotIm, c.quotIm);
        EXPECT_EQ(r.prodRe, c.prodRe);
        EXPECT_EQ(r.prodIm, c.prodIm);
    }
}

TEST(ComplexQuotientProduct, DivisionByZeroGivesNaNQuotientAndExactProduct) {
    QuotientProduct r;
    complexQuotientProduct(1, 0, 0, 0, r);
    EXPECT_TRUE(std::isnan(r.quotRe));
    EXPECT_TRUE(std::isnan(r.quotIm));
    EXPECT_EQ(r.prodRe, 0.0);
    EXPECT_EQ(r.prodIm, 0.0);
}

TEST(UpwardLogDerivativeStep, CarriesCotangentToFirstOrder) {
    // D_0(z) = cot z and D_1(z) = -1/z + 1/(1/z - cot z) for psi_1 = sin z/z - cos z.
    for (double z : {0.3, 1.5, 3.3, 10.0, 42.7}) {
        SCOPED_TRACE(testing::Message() << "z = " << z);
        const double cot = std::cos(z) / std::sin(z);
        ComplexResult d1;
        upwardLogDerivativeStep(1, z, 0.0, cot, 0.0, d1);
        const double psi1 = std::sin(z) / z - std::cos(z);
        const double dPsi1 = std::cos(z) / z - std::sin(z) / (z * z) + std::sin(z);
        EXPECT_NEAR(d1.re, dPsi1 / psi1, 1e-13 * std::fabs(dPsi1 / psi1));
        EXPECT_EQ(d1.im, 0.0);
    }
}

TEST(UpwardLogDerivativeStep, NaNWhenArgumentIsZeroOrStepHitsThePole) {
    ComplexResult r;
    upwardLogDerivativeStep(1, 0.0, 0.0, 0.5, 0.0, r);
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));
    // n/z equal to D: the reciprocal of an exact complex zero is NaN, not infinity.
    upwardLogDerivativeStep(2, 4.0, 0.0, 0.5, 0.0, r);
    EXPECT_TRUE(std::isnan(r.re) && std::isnan(r.im));
}

TEST(AddOrderOverArgument, WithZeroAddendIsTheQuotient) {
    for (int n : {1, 7, 99998}) {
        QuotientProduct q;
        complexQuotientProduct(n, 0.0, 2.75, -0.3, q);
        ComplexResult r;
        addOrderOverArgument(n, 2.75, -0.3, 0.0, 0.0, r);
        EXPECT_EQ(r.re, q.quotRe) << "n = " << n;
        EXPECT_EQ(r.im, q.quotIm) << "n = " << n;
    }
    ComplexResult r;
    addOrderOverArgument(3, 1.0, 1.0, 0.25, -2.0, r);  // 3/(1+i) = 1.5 - 1.5i
    EXPECT_EQ(r.re, 1.75);
    EXPECT_EQ(r.im, -3.5);
}

TEST(CrossProductDifference, EqualPairsCancelExactly) {
    const double values[][4] = {{0.1, 0.7, 1.3, -2.9}, {1e150, -3e-200, 7.0, 1e-300}, {0, 0, 5, 6}};
    for (const auto& v : values) {
        ComplexResult r;
        crossProductDifference(v[0], v[1], v[2], v[3], v[0], v[1], v[2], v[3], r);
        EXPECT_EQ(r.re, 0.0);
        EXPECT_EQ(r.im, 0.0);
    }
}

TEST(CrossProductDifference, ZeroFactorsGiveZeroNotNaN) {
    ComplexResult r;
    // The unused quotient halves divide by zero here; the products must not care.
    crossProductDifference(2.0, 3.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, r);
    EXPECT_EQ(r.re, 0.0);
    EXPECT_EQ(r.im, 0.0);
    crossProductDifference(2.0, 3.0, 4.0, -1.0, 1.0, 0.0, 0.5, 0.25, r);  // (11 + 10i) - (0.5 + 0.25i)
    EXPECT_EQ(r.re, 10.5);
    EXPECT_EQ(r.im, 9.75);
}

}  // namespace
}  // namespace coatedmie
