// Bit patterns that change if products are fused into multiply-adds, if the
// complex division is scaled, or if a square taken with pow() is folded into
// a product. The engine values were checked against an independent
// transcription of the algorithm in Python (IEEE doubles, one rounding per
// operation, the same libm).
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "complex_kernel.h"
#include "engine_test_support.h"
#include "library_square.h"
#include "log_derivative.h"

namespace coatedmie {
namespace {

using namespace test_support;

bool sameOrBothNaN(double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); }

// Worked examples, and operands that tell the plain formula from its usual
// alternatives: fused products, Smith's scaled division.
TEST(ExactArithmetic, ComplexQuotientAndProductUseThePlainFormula) {
    const double nan = std::nan("");
    const double cases[][8] = {
        // a, b, c, d, then u/w and u*w for u = a + ib, w = c + id
        {3, 4, 1, 2, 2.2, -0.4, -5, 10},
        {1, 0, 0, 1, 0, -1, 0, 1},
        {1, 0, 0, 0, nan, nan, 0, 0},  // w = 0: NaN quotient, exact product
        {0x1.561230e6cc7a8p+1, -0x1.9f8d6eb5a9178p+0, 0x1.fca94bedb5c5ap+1, 0x1.14de3da87832ap+1,
         0x1.639ac241d985dp-2, -0x1.31eb4a399e7a9p-1, 0x1.c43277469fe00p+3, -0x1.5719462601320p-1},
    };
    for (const auto& c : cases) {
        const ComplexResult q = complexQuotient(c[0], c[1], c[2], c[3]);
        const ComplexResult p = complexProduct(c[0], c[1], c[2], c[3]);
        EXPECT_TRUE(sameOrBothNaN(q.re, c[4]) && sameOrBothNaN(q.im, c[5]) && sameOrBothNaN(p.re, c[6]) &&
                    sameOrBothNaN(p.im, c[7]))
            << "u = " << c[0] << " + " << c[1] << "i, w = " << c[2] << " + " << c[3] << "i";
    }
}

// pow(x, 2.0) and x*x differ where the exact square lies halfway between two
// doubles: this platform's pow rounds such ties away from zero, the product
// to even. Each pin below would change with x*x in place of pow.
double (*volatile powFunction)(double, double) = std::pow;

TEST(ExactArithmetic, PowerFunctionSquaresAreLibraryCalls) {
    const double y = 915.5273818969727;
    if (powFunction(y, 2.0) != 838190.3870031253 || y * y != 838190.3870031252) {
        GTEST_SKIP() << "this C library squares the halfway case like the product";
    }
    EfficiencyRecord e{};  // y^2 divides the sums and enters psi_1/xi_1
    ASSERT_EQ(compute({y, 1.33, 0.001, 500, 1.5, 0.1}, e), 994);
    EXPECT_EQ(bitsOf(e.Kext), bitsOf(0x1.031a55003f20bp+1));  // x*x: ...20c
    EXPECT_EQ(coefficientHash(coefficients()), 0x033d9695637e9192ULL);
    ASSERT_EQ(compute({1000, 1.0, 0.0, y, 1.5, 0.0}, e), 1081);  // vacuum shell: x^2
    EXPECT_EQ(bitsOf(e.Kext), bitsOf(0x1.03a3ac446aa5bp+1));  // x*x: ...a5c
    ASSERT_EQ(compute({5, 1.5, 0.01, 3, 2.0, 0.5}, e), 20);
    const Intensity r = intensityAt(0x1.5274ab5542f2dp+0);  // sin(theta) has 27 bits: a tie
    EXPECT_EQ(bitsOf(r.I1), bitsOf(0x1.a89c6574211c3p+1));  // x*x: ...1c9
    EXPECT_EQ(bitsOf(r.I2), bitsOf(0x1.b84d35ac6095ap+1));
}

double fromBits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The exact error of x*x in units of its last place, in long double (64-bit
// significand: the 106-bit square's error is exact to 11 bits there).
double squareErrorInUlps(double x) {
    const long double exact = static_cast<long double>(x) * x;
    const double p = x * x;
    return static_cast<double>((exact - p) / (std::nextafter(p, std::numeric_limits<double>::infinity()) - p));
}

// librarySquare and its lanes against the library's pow on many millions of values: random
// bit patterns over the shortcut's range and beyond it, the exact squares
// that are ties (27-bit significands) and their neighbours, and the values
// that the shortcut accepts closest to its margin.
TEST(ExactArithmetic, LibrarySquaresAreThePowerFunctionsBits) {
#ifdef COATEDMIE_LONG_SWEEP
    constexpr int kRandom = 1 << 28;
#else
    constexpr int kRandom = 1 << 23;
#endif
    std::mt19937_64 random(0x5eed);
    int nearMargin = 0;
    auto check = [&](double x) {
        const double square = librarySquare(x);
        const Lanes2 squares = librarySquares(Lanes2{x, -x});
        const double expected = powFunction(x, 2.0);
        if (bitsOf(square) != bitsOf(expected) || bitsOf(squares[0]) != bitsOf(expected) ||
            bitsOf(squares[1]) != bitsOf(powFunction(-x, 2.0))) {
            ADD_FAILURE() << std::hexfloat << x << ": " << square << " and lanes " << squares[0] << ", "
                          << squares[1] << " against pow's " << expected;
            return false;
        }
        return true;
    };
    for (int i = 0; i < kRandom; ++i) {
        // Exponents 2^-240 .. 2^240 around the shortcut's 2^-200 .. 2^200.
        const std::uint64_t fraction = random() & kFractionMask;
        const std::uint64_t exponent = 1023 - 240 + random() % 481;
        const double x = fromBits((random() & (1ULL << 63)) | (exponent << 52) | fraction);
        if (!check(x)) return;
        const double error = std::fabs(squareErrorInUlps(x));
        if (error > 0.46 && error <= 0.47) ++nearMargin;
    }
    for (int i = 0; i < (1 << 20); ++i) {
        // An odd 27-bit significand squares to 54 bits: exactly halfway.
        const double tie = std::ldexp(static_cast<double>((random() & ((1ULL << 26) - 1)) | (1ULL << 26) | 1),
                                      static_cast<int>(random() % 200) - 100);
        double x = tie;
        for (int step = 0; step < 4; ++step, x = std::nextafter(x, 1e300)) {
            if (!check(x) || !check(std::nextafter(tie, 0.0))) return;
        }
    }
    for (double x : {0.0, -0.0, 5e-324, 1e-300, 0x1p-200, 0x1p200, 1.0, -1.0, 1e300, 3.0,
                     std::numeric_limits<double>::infinity(), std::nan("")}) {
        if (!check(x)) return;
    }
    // About 1% of the random values fall within 0.01 ulp under the margin.
    EXPECT_GT(nearMargin, kRandom / 200);
}

// The continued fractions' lanes stop by comparing |ratio|^2 with 1 and
// 1 + 2^-52; the scalar fraction by |1 - sqrt(r)| < 1e-20. The same decision
// for every double within 4096 places of 1 and at the ends of the range.
TEST(ExactArithmetic, LentzStopTestWithoutTheSquareRoot) {
    auto bySquareRoot = [](double r) {
        const double t = std::fabs(1.0 - std::sqrt(r));
        return t < kLentzTolerance || std::isnan(t);
    };
    std::vector<double> values = {0.0, 5e-324, 0.5, 2.0, 1e300, std::numeric_limits<double>::infinity(),
                                  std::nan("")};
    double below = 1.0, above = 1.0;
    for (int i = 0; i < 4096; ++i) {
        values.push_back(below = std::nextafter(below, 0.0));
        values.push_back(above = std::nextafter(above, 2.0));
    }
    values.push_back(1.0);
    for (double r : values) EXPECT_EQ(lentzStops(r) != 0, bySquareRoot(r)) << std::hexfloat << r;
}

}  // namespace
}  // namespace coatedmie
