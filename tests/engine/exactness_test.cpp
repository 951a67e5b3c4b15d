// Bit patterns that would change if the compiler fused products into
// multiply-adds, if complex division were scaled, or if a square taken with
// pow() were folded into a product. The expected values of the engine runs
// were checked against an independent transcription of the algorithm in
// Python (IEEE doubles, one rounding per operation, the same libm).
#include <cmath>
#include <cstdint>
#include <cstring>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "complex_kernel.h"

namespace coatedmie {
namespace {

std::uint64_t bitsOf(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

// FNV-1a over the bit patterns of a_n and b_n, n = 1..N.
std::uint64_t coefficientHash(int termCount) {
    const CoefficientTables& t = coefficientTables();
    std::uint64_t h = 1469598103934665603ULL;
    for (int n = 1; n <= termCount; ++n) {
        for (double v : {t.aRe[n], t.aIm[n], t.bRe[n], t.bIm[n]}) {
            h = (h ^ bitsOf(v)) * 1099511628211ULL;
        }
    }
    return h;
}

TEST(ExactArithmetic, ComplexQuotientProductUsesThePlainFormula) {
    const double a = 0x1.561230e6cc7a8p+1, b = -0x1.9f8d6eb5a9178p+0;
    const double c = 0x1.fca94bedb5c5ap+1, d = 0x1.14de3da87832ap+1;
    QuotientProduct r;
    complexQuotientProduct(a, b, c, d, r);
    EXPECT_EQ(r.quotRe, 0x1.639ac241d985dp-2);
    EXPECT_EQ(r.quotIm, -0x1.31eb4a399e7a9p-1);
    EXPECT_EQ(r.prodRe, 0x1.c43277469fe00p+3);
    EXPECT_EQ(r.prodIm, -0x1.5719462601320p-1);

    // The pins rule out the usual alternatives on these operands.
    const double fusedDen = std::fma(c, c, d * d);
    EXPECT_NE(r.quotRe, std::fma(a, c, b * d) / fusedDen);
    EXPECT_NE(r.quotIm, std::fma(b, c, -(a * d)) / fusedDen);
    EXPECT_NE(r.prodRe, std::fma(a, c, -(b * d)));
    EXPECT_NE(r.prodIm, std::fma(a, d, b * c));
    const double ratio = d / c;  // Smith's scaled division, |c| >= |d|
    const double smithDen = c + d * ratio;
    EXPECT_NE(r.quotRe, (a + b * ratio) / smithDen);
    EXPECT_NE(r.quotIm, (b - a * ratio) / smithDen);
}

TEST(ExactArithmetic, EngineRunsKeepTheirBits) {
    struct Case {
        double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
        int termCount;
        double Kext, Ksca, Kabs;
        std::uint64_t hash;
    };
    const Case cases[] = {
        {5, 1.5, 0.01, 3, 2.0, 0.5, 20, 0x1.9164f6ce45f8cp+1, 0x1.01870699ccf73p+1,
         0x1.1fbbe068f2032p+0, 0x8acb93e8a18ce5f6},
        {10, 1.33, 0, 6, 1.5, 0, 28, 0x1.487df82d5c4e9p+1, 0x1.487df82d5c4e4p+1, 0.0,
         0x5297ae29650afdb6},
        {0.5, 1.33, 0, 0.2, 1.7, 0.1, 8, 0x1.e4b468c178cf1p-7, 0x1.fb39ae639e61ap-8,
         0x1.ce2f231f533c8p-8, 0x9c5cf9d13d5dea0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "alpha1 = " << c.alpha1);
        EfficiencyRecord e;
        ASSERT_EQ(computeCoatedSphere(c.alpha1, c.index1Re, c.index1Im, c.alpha2, c.index2Re,
                                      c.index2Im, e),
                  c.termCount);
        EXPECT_EQ(bitsOf(e.Kext), bitsOf(c.Kext));
        EXPECT_EQ(bitsOf(e.Ksca), bitsOf(c.Ksca));
        EXPECT_EQ(bitsOf(e.Kabs), bitsOf(c.Kabs));
        EXPECT_EQ(coefficientHash(c.termCount), c.hash);
    }
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e), 20);
    const CoefficientTables& t = coefficientTables();
    EXPECT_EQ(t.aRe[1], 0x1.35ae41788dc9fp-1);
    EXPECT_EQ(t.aIm[1], -0x1.4ac0e565a7574p-3);
    EXPECT_EQ(t.bRe[1], 0x1.7b462cc4d38ffp-2);
    EXPECT_EQ(t.bIm[1], 0x1.0c0e50e8853eap-3);
    struct Angle {
        double theta, I1, I2;
    };
    const Angle angles[] = {
        {0.0, 0x1.8ab9ec26c8874p+8, 0x1.8ab9ec26c8874p+8},
        {1.5707963267948966, 0x1.613d42ce1cd37p+2, 0x1.84a7bf6ef70b1p-1},
        {3.141592653589793, 0x1.a51959201f97cp+0, 0x1.a51959201f97cp+0},
    };
    for (const Angle& a : angles) {
        IntensityRecord r{};
        computeIntensity(20, a.theta, r);
        EXPECT_EQ(bitsOf(r.I1), bitsOf(a.I1)) << "theta = " << a.theta;
        EXPECT_EQ(bitsOf(r.I2), bitsOf(a.I2)) << "theta = " << a.theta;
    }
}

// pow(x, 2.0) and x*x differ where the exact square lies halfway between two
// doubles: this platform's pow rounds such ties away from zero, the product
// to even.
double (*volatile powFunction)(double, double) = std::pow;

TEST(ExactArithmetic, PowerFunctionSquaresAreLibraryCalls) {
    const double y = 915.5273818969727;
    if (powFunction(y, 2.0) != 838190.3870031253 || y * y != 838190.3870031252) {
        GTEST_SKIP() << "this C library squares the halfway case like the product";
    }
    // y^2 is the divisor of the efficiencies and enters psi_1/xi_1; with
    // y * y in its place Kext would end in ...20c and the coefficients would
    // hash to d40f1b85d2bb8232.
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(915.5273818969727, 1.33, 0.001, 500, 1.5, 0.1, e), 994);
    EXPECT_EQ(bitsOf(e.Kext), bitsOf(0x1.031a55003f20bp+1));
    EXPECT_EQ(bitsOf(e.Ksca), bitsOf(0x1.1b8f1f6fe47d9p+0));
    EXPECT_EQ(coefficientHash(994), 0x033d9695637e9192ULL);

    // sin(theta) here is a 27-bit number whose square is such a tie; with
    // sin * sin the intensities would end in ...1c9 and ...956.
    ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e), 20);
    IntensityRecord r{};
    computeIntensity(20, 0x1.5274ab5542f2dp+0, r);
    EXPECT_EQ(bitsOf(r.I1), bitsOf(0x1.a89c6574211c3p+1));
    EXPECT_EQ(bitsOf(r.I2), bitsOf(0x1.b84d35ac6095ap+1));
}

}  // namespace
}  // namespace coatedmie
