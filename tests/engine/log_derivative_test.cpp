#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "kernels.h"

namespace coatedmie {
namespace {

using Complex = std::complex<double>;
using test_support::Workspace;

// Fills the four tables of the arguments m2y, m2x, m1x and y up to order n.
LogDerivativeTables fill(Workspace& w, int n, Complex m2y, Complex m2x, Complex m1x, double y) {
    bool moved = false;
    const LogDerivativeTables t = w.tables();
    EXPECT_TRUE(kernels().fillTables(n, {{m2y.real(), m2y.imag()}, {m2x.real(), m2x.imag()},
                                         {m1x.real(), m1x.imag()}, y}, t, moved));
    return t;
}

// D_n(z) by the downward recurrence from far above n, where its start value
// no longer matters: shares nothing with the continued fraction.
Complex downwardReference(Complex z, int n) {
    Complex d = 0.0;
    for (int k = n + 200 + static_cast<int>(std::abs(z)); k > n; --k) {
        d = static_cast<double>(k) / z - 1.0 / (d + static_cast<double>(k) / z);
    }
    return d;
}

TEST(TermCount, FromTheOuterSizeUpToTheTableCapacity) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double y;
        int termCount;
    } cases[] = {
        {0, 2}, {-0.0, 2}, {0.1, 6}, {1, 11}, {10, 28}, {100, 138}, {1000, 1081}, {99621, 99998},
        {0x1.8525182cc7584p+16, 99998}, {0x1.8525182cc7585p+16, 0},  // v just below, at 99999
        {99622, 0}, {3e9, 0}, {inf, 0}, {-1e-300, 0}, {-inf, 0}, {std::nan(""), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(termCountFor(c.y), c.termCount) << "y = " << c.y;
}

// Entry N + 1 is D_N from Lentz's continued fraction.
TEST(LogDerivativeTables, ContinuedFractionPublishedValues) {
    Workspace w(20);
    const LogDerivativeTables t12 = fill(w, 12, {1.5, 0.01}, {1.5, 0.01}, {1.5, 0.01}, 1.5);
    EXPECT_NEAR(t12.Dm2yRe[13], 8.6105654585, 1e-10);
    EXPECT_NEAR(t12.Dm2yIm[13], -0.0581488020, 1e-10);
    const LogDerivativeTables t17 = fill(w, 17, 3.3, 3.3, 3.3, 3.3);
    EXPECT_NEAR(t17.Dy[18], 5.3646733404, 1e-10);
    EXPECT_EQ(t17.Dm2yIm[18], 0.0);
}

TEST(LogDerivativeTables, EachTableRunsFromOrderNDownToCotangent) {
    const int n = 12;
    const Complex m2y(1.5, 0.01), m2x(0.9, 0.3), m1x(2.2, 0.0);
    Workspace w(n);
    const LogDerivativeTables t = fill(w, n, m2y, m2x, m1x, 1.5);
    const struct {
        Complex z;
        const double* re;
        const double* im;  // null for the real table
    } tables[] = {{m2y, t.Dm2yRe, t.Dm2yIm}, {m2x, t.Dm2xRe, t.Dm2xIm}, {m1x, t.Dm1xRe, t.Dm1xIm},
                  {1.5, t.Dy, nullptr}};
    for (const auto& table : tables) {
        auto entry = [&](int k) { return Complex(table.re[k], table.im ? table.im[k] : 0.0); };
        for (int k = 1; k <= n + 1; ++k) {
            const Complex expected = downwardReference(table.z, k - 1);
            EXPECT_LE(std::abs(entry(k) - expected), 1e-14 * std::abs(expected)) << table.z << k;
        }
        const Complex cot = std::cos(table.z) / std::sin(table.z);
        EXPECT_LE(std::abs(entry(1) - cot), 1e-14 * std::abs(cot)) << table.z;
    }
    for (int k = 1; k <= n + 1; ++k) EXPECT_EQ(t.Dm1xIm[k], 0.0) << "real argument, entry " << k;
    EXPECT_NEAR(t.Dm2yRe[1], 0.0709077176, 1e-10);
    EXPECT_NEAR(t.Dm2yIm[1], -0.0100499491, 1e-10);
}

TEST(LogDerivativeTables, ZeroArgumentGivesNaNAndHigherEntriesStay) {
    Workspace w(20);
    const LogDerivativeTables t = fill(w, 20, {9.0, 0.5}, {4.0, 0.2}, {5.0, 1.0}, 6.0);
    const std::vector<double> above(t.Dm2yRe + 8, t.Dm2yRe + 22), dyAbove(t.Dy + 8, t.Dy + 22);
    fill(w, 6, {1.5, 0.1}, 0.0, 0.0, 1.0);  // no core
    for (int k = 1; k <= 7; ++k) {
        EXPECT_TRUE(std::isnan(t.Dm2xRe[k]) && std::isnan(t.Dm1xIm[k])) << k;
        EXPECT_FALSE(std::isnan(t.Dm2yRe[k]) || std::isnan(t.Dy[k])) << k;
    }
    EXPECT_EQ(std::vector<double>(t.Dm2yRe + 8, t.Dm2yRe + 22), above);
    EXPECT_EQ(std::vector<double>(t.Dy + 8, t.Dy + 22), dyAbove);
    fill(w, 2, 0.0, 0.0, 0.0, 0.0);  // y = 0
    for (int k = 1; k <= 3; ++k) EXPECT_TRUE(std::isnan(t.Dm2yIm[k]) && std::isnan(t.Dy[k])) << k;
}

#ifdef COATEDMIE_LONG_SWEEP
// Arguments of modulus 1e9 and 1e150 take the continued fraction to its pass
// limit (several seconds each): refused, with nothing written.
TEST(LogDerivativeTables, AbsurdIndexIsRefusedInsteadOfHanging) {
    for (double coreIndex : {1e4 * 99621 / 20, 1e150 / 20}) {
        Engine engine;
        EXPECT_EQ(engine.compute({40, {1.5, 0.01}}, {20, {coreIndex, 0}}), 0) << coreIndex;
        EXPECT_EQ(engine.termCount(), 0);
    }
}
#endif

}  // namespace
}  // namespace coatedmie
