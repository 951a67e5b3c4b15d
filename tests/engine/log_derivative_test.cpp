#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "log_derivative.h"

namespace coatedmie {
namespace {

using Complex = std::complex<double>;

// D_n(z) by the downward recurrence from far above n, where the start value
// no longer matters: an evaluation that shares nothing with the continued
// fraction.
Complex downwardReference(Complex z, int n) {
    Complex d = 0.0;
    for (int k = n + 200 + static_cast<int>(std::abs(z)); k > n; --k) {
        d = static_cast<double>(k) / z - 1.0 / (d + static_cast<double>(k) / z);
    }
    return d;
}

TEST(TermCount, GrowsWithTheOuterSize) {
    struct Case {
        double y;
        int termCount;
    };
    const Case cases[] = {
        {0, 2}, {-0.0, 2}, {0.1, 6}, {1, 11},  // y = 1: v is exactly 11.0
        {10, 28}, {100, 138}, {1000, 1081}, {99621, 99998},
        {0x1.8525182cc7584p+16, 99998},  // largest y with v below 99999
    };
    for (const Case& c : cases) {
        EXPECT_EQ(termCountFor(c.y), c.termCount) << "y = " << c.y;
    }
}

TEST(TermCount, ZeroBeyondTheTablesOrWithoutARealPower) {
    const double inf = std::numeric_limits<double>::infinity();
    const double refused[] = {
        0x1.8525182cc7585p+16,  // v = 99999 exactly
        99622, 1e10, 3e9, inf, -1, -1e-300, -inf,
        std::numeric_limits<double>::quiet_NaN()};
    for (double y : refused) {
        EXPECT_EQ(termCountFor(y), 0) << "y = " << y;
    }
}

TEST(LentzLogDerivative, PublishedValuesAndPassCount) {
    ComplexResult d;
    EXPECT_EQ(lentzLogDerivative(1.5, 0.01, 12, d), 8);  // sixth pass
    EXPECT_NEAR(d.re, 8.6105654585, 1e-10);
    EXPECT_NEAR(d.im, -0.0581488020, 1e-10);

    ASSERT_GT(lentzLogDerivative(3.3, 0.0, 17, d), 0);
    EXPECT_NEAR(d.re, 5.3646733404, 1e-10);
    EXPECT_EQ(d.im, 0.0);
}

TEST(LentzLogDerivative, PassLimitStopsWithoutWriting) {
    ComplexResult d{-1.0, -2.0};
    EXPECT_EQ(lentzLogDerivative(1.5, 0.01, 12, d, 5), 0);
    EXPECT_EQ(d.re, -1.0);
    EXPECT_EQ(d.im, -2.0);
    EXPECT_EQ(lentzLogDerivative(1.5, 0.01, 12, d, 6), 8);
}

TEST(LentzLogDerivative, AgreesWithSphericalBesselRatio) {
    // psi_n = z j_n(z) gives D_n(z) = j_{n-1}(z)/j_n(z) - n/z.
    struct Case {
        double z;
        int n;
    };
    const Case cases[] = {{0.5, 2}, {0.1, 6}, {3.3, 17}, {10, 28}, {7.5, 3}, {100, 138}, {60, 40}};
    for (const Case& c : cases) {
        ComplexResult d;
        ASSERT_GT(lentzLogDerivative(c.z, 0.0, c.n, d), 0);
        const double expected =
            std::sph_bessel(c.n - 1, c.z) / std::sph_bessel(c.n, c.z) - c.n / c.z;
        EXPECT_NEAR(d.re, expected, 1e-12 * std::fabs(expected)) << "z = " << c.z << ", n = " << c.n;
        EXPECT_EQ(d.im, 0.0);
    }
}

TEST(LentzLogDerivative, AgreesWithDownwardRecurrence) {
    // Where |z| exceeds n the fraction first runs through about |z| - n terms
    // that do not contract, and rounding accumulates there.
    struct Case {
        Complex z;
        int n;
        double relativeError;
    };
    const Case cases[] = {
        {{1.5, 0.01}, 12, 1e-14},    {{4.0, 1.0}, 14, 1e-14},     {{0.3, 0.02}, 6, 1e-14},
        {{138, 2000}, 138, 1e-14},   {{20, -15}, 28, 1e-14},      {{150, 3}, 138, 1e-13},
        {{1330, 0.5}, 1081, 1e-11},  {{5000, 0}, 1081, 1e-8},
    };
    for (const Case& c : cases) {
        ComplexResult d;
        ASSERT_GT(lentzLogDerivative(c.z.real(), c.z.imag(), c.n, d), 0);
        const Complex expected = downwardReference(c.z, c.n);
        EXPECT_NEAR(std::abs(Complex(d.re, d.im) - expected), 0.0,
                    c.relativeError * std::abs(expected))
            << "z = " << c.z << ", n = " << c.n;
    }
}

TEST(LentzLogDerivative, NaNArgumentEndsAtTheFirstPass) {
    ComplexResult d;
    EXPECT_EQ(lentzLogDerivative(0.0, 0.0, 10, d), 3);
    EXPECT_TRUE(std::isnan(d.re));
    EXPECT_EQ(lentzLogDerivative(std::numeric_limits<double>::quiet_NaN(), 0.0, 10, d), 3);
}

class LogDerivativeTablesTest : public testing::Test {
protected:
    const LogDerivativeTables& t = logDerivativeTables();
};

TEST_F(LogDerivativeTablesTest, EachTableFollowsItsArgumentFromOrderNDownToZero) {
    const int n = 12;
    const Complex m2y(1.5, 0.01), m2x(0.9, 0.3), m1x(2.2, 0.0);
    const double y = 1.5;
    ASSERT_TRUE(fillLogDerivativeTables(n, m2y.real(), m2y.imag(), m2x.real(), m2x.imag(),
                                        m1x.real(), m1x.imag(), y));
    struct Table {
        const char* name;
        Complex z;
        const double* re;
        const double* im;  // null for the real table
    };
    const Table tables[] = {{"Dm2y", m2y, t.Dm2yRe, t.Dm2yIm},
                            {"Dm2x", m2x, t.Dm2xRe, t.Dm2xIm},
                            {"Dm1x", m1x, t.Dm1xRe, t.Dm1xIm},
                            {"Dy", y, t.Dy, nullptr}};
    for (const Table& table : tables) {
        SCOPED_TRACE(table.name);
        auto entry = [&](int k) { return Complex(table.re[k], table.im ? table.im[k] : 0.0); };
        ComplexResult start;
        lentzLogDerivative(table.z.real(), table.z.imag(), n, start);
        EXPECT_EQ(entry(n + 1).real(), start.re);
        if (table.im) {
            EXPECT_EQ(entry(n + 1).imag(), start.im);
        }
        const Complex cot = std::cos(table.z) / std::sin(table.z);
        EXPECT_NEAR(std::abs(entry(1) - cot), 0.0, 1e-14 * std::abs(cot));
        const Complex d1 = -1.0 / table.z + 1.0 / (1.0 / table.z - cot);
        EXPECT_NEAR(std::abs(entry(2) - d1), 0.0, 1e-14 * std::abs(d1));
        for (int k = 1; k <= n + 1; ++k) {
            const Complex expected = downwardReference(table.z, k - 1);
            EXPECT_NEAR(std::abs(entry(k) - expected), 0.0, 1e-13 * std::abs(expected)) << k;
        }
    }
    EXPECT_NEAR(t.Dm2yRe[1], 0.0709077176, 1e-10);
    EXPECT_NEAR(t.Dm2yIm[1], -0.0100499491, 1e-10);
}

TEST_F(LogDerivativeTablesTest, RealArgumentsGiveRealTables) {
    ASSERT_TRUE(fillLogDerivativeTables(30, 12.0, 0.0, 7.0, 0.0, 9.5, 0.0, 8.0));
    for (int k = 1; k <= 31; ++k) {
        EXPECT_EQ(t.Dm2yIm[k], 0.0);
        EXPECT_EQ(t.Dm2xIm[k], 0.0);
        EXPECT_EQ(t.Dm1xIm[k], 0.0);
    }
}

TEST_F(LogDerivativeTablesTest, ZeroArgumentFillsItsTablesWithNaN) {
    ASSERT_TRUE(fillLogDerivativeTables(6, 1.5, 0.1, 0.0, 0.0, 0.0, 0.0, 1.0));  // no core
    for (int k = 1; k <= 7; ++k) {
        EXPECT_TRUE(std::isnan(t.Dm2xRe[k]) && std::isnan(t.Dm2xIm[k])) << k;
        EXPECT_TRUE(std::isnan(t.Dm1xRe[k]) && std::isnan(t.Dm1xIm[k])) << k;
        EXPECT_FALSE(std::isnan(t.Dm2yRe[k]) || std::isnan(t.Dy[k])) << k;
    }
    ASSERT_TRUE(fillLogDerivativeTables(2, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0));  // y = 0
    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(std::isnan(t.Dm2yRe[k]) && std::isnan(t.Dm2yIm[k])) << k;
        EXPECT_TRUE(std::isnan(t.Dy[k])) << k;
    }
}

TEST_F(LogDerivativeTablesTest, EntriesAboveNPlusOneKeepTheirValues) {
    ASSERT_TRUE(fillLogDerivativeTables(20, 9.0, 0.5, 4.0, 0.2, 5.0, 1.0, 6.0));
    const std::vector<double> before(t.Dm1xIm + 7, t.Dm1xIm + 22);
    const std::vector<double> dyBefore(t.Dy + 7, t.Dy + 22);
    ASSERT_TRUE(fillLogDerivativeTables(5, 1.0, 0.5, 2.0, 0.2, 3.0, 1.0, 2.5));
    EXPECT_EQ(std::vector<double>(t.Dm1xIm + 7, t.Dm1xIm + 22), before);
    EXPECT_EQ(std::vector<double>(t.Dy + 7, t.Dy + 22), dyBefore);
}

}  // namespace
}  // namespace coatedmie
