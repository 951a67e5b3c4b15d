#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "homogeneous_sphere.h"
#include "log_derivative.h"

namespace coatedmie {
namespace {

using testing_reference::homogeneousSphere;

struct Layers {
    double alpha1, index1Re, index1Im;
    double alpha2, index2Re, index2Im;
};

std::ostream& operator<<(std::ostream& os, const Layers& l) {
    return os << "(" << l.alpha1 << ", " << l.index1Re << " + " << l.index1Im << "i; " << l.alpha2
              << ", " << l.index2Re << " + " << l.index2Im << "i)";
}

struct Outcome {
    int termCount;
    EfficiencyRecord efficiencies;
    std::unique_ptr<CoefficientTables> coefficients;
};

Outcome run(const Layers& l) {
    Outcome r{0, {-1.0, -1.0, -1.0}, std::make_unique<CoefficientTables>()};
    r.termCount = computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re,
                                      l.index2Im, r.efficiencies);
    *r.coefficients = coefficientTables();
    return r;
}

bool sameBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

bool sameEfficiencyBits(const EfficiencyRecord& e, const EfficiencyRecord& f) {
    return sameBits(e.Kext, f.Kext) && sameBits(e.Ksca, f.Ksca) && sameBits(e.Kabs, f.Kabs);
}

// First order at which the two runs differ in a bit (conjugated: the second
// holds the complex conjugates), or 0 when orders 1..N agree.
int firstDifferingOrder(const Outcome& r, const Outcome& s, bool conjugated) {
    const double sign = conjugated ? -1.0 : 1.0;
    const CoefficientTables& p = *r.coefficients;
    const CoefficientTables& q = *s.coefficients;
    for (int n = 1; n <= r.termCount; ++n) {
        if (!sameBits(p.aRe[n], q.aRe[n]) || !sameBits(p.aIm[n], sign * q.aIm[n]) ||
            !sameBits(p.bRe[n], q.bRe[n]) || !sameBits(p.bIm[n], sign * q.bIm[n])) {
            return n;
        }
    }
    return 0;
}

TEST(CoatedSphere, PublishedReferenceValues) {
    struct Case {
        Layers layers;
        int termCount;
        double Kext, Ksca, Kabs;
    };
    const Case cases[] = {
        {{5, 1.5, 0.01, 3, 2.0, 0.5}, 20, 3.135894, 2.011933, 1.123961},
        {{3, 2.0, 0.5, 5, 1.5, 0.01}, 20, 3.135894, 2.011933, 1.123961},
        {{5, 1.5, -0.01, 3, 2.0, -0.5}, 20, 3.135894, 2.011933, 1.123961},
        {{10, 1.33, 0, 6, 1.5, 0}, 28, 2.566344, 2.566344, 0},
        {{5, 1, 0, 3, 1.5, 0}, 20, 3.418056, 3.418056, 0},
        {{0.5, 1.33, 0, 0.2, 1.7, 0.1}, 8, 0.014792, 0.007740, 0.007052},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.layers);
        const Outcome r = run(c.layers);
        EXPECT_EQ(r.termCount, c.termCount);
        EXPECT_NEAR(r.efficiencies.Kext, c.Kext, 5e-7);
        EXPECT_NEAR(r.efficiencies.Ksca, c.Ksca, 5e-7);
        EXPECT_NEAR(r.efficiencies.Kabs, c.Kabs, 5e-7);
    }
}

TEST(CoatedSphere, PublishedFirstOrderCoefficients) {
    const Outcome positive = run({5, 1.5, 0.01, 3, 2.0, 0.5});
    EXPECT_NEAR(positive.coefficients->aRe[1], 0.604845, 5e-7);
    EXPECT_NEAR(positive.coefficients->aIm[1], -0.161501, 5e-7);
    EXPECT_NEAR(positive.coefficients->bRe[1], 0.370385, 5e-7);
    EXPECT_NEAR(positive.coefficients->bIm[1], 0.130887, 5e-7);
    const Outcome negative = run({5, 1.5, -0.01, 3, 2.0, -0.5});
    EXPECT_NEAR(negative.coefficients->aIm[1], 0.161501, 5e-7);
    EXPECT_NEAR(negative.coefficients->bIm[1], -0.130887, 5e-7);
}

TEST(CoatedSphere, LayerOrderDoesNotMatter) {
    const Layers cases[] = {
        {5, 1.5, 0.01, 3, 2.0, 0.5},
        {10, 1.33, 0, 6, 1.5, 0},
        {0.5, 1.33, 0, 0.2, 1.7, 0.1},
        {80, 1.05, 0.002, 79.9, 2.5, 1.8},
        {2, 1.0, 0.0, 1.9, 1.6, 0.0},
    };
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome given = run(l);
        const Outcome swapped = run({l.alpha2, l.index2Re, l.index2Im, l.alpha1, l.index1Re, l.index1Im});
        ASSERT_EQ(given.termCount, swapped.termCount);
        EXPECT_TRUE(sameEfficiencyBits(given.efficiencies, swapped.efficiencies));
        EXPECT_EQ(firstDifferingOrder(given, swapped, false), 0);
    }
}

TEST(CoatedSphere, NegativeConventionConjugatesCoefficientsOnly) {
    const Layers cases[] = {
        {5, 1.5, 0.01, 3, 2.0, 0.5},
        {0.5, 1.33, 0, 0.2, 1.7, 0.1},
        {40, 1.2, 0.3, 20, 1.8, 0},
        {7, 1.6, 4.0, 6.9, 1.1, 2.5},
    };
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome positive = run(l);
        const Outcome negative = run({l.alpha1, l.index1Re, -l.index1Im, l.alpha2, l.index2Re, -l.index2Im});
        ASSERT_EQ(positive.termCount, negative.termCount);
        EXPECT_TRUE(sameEfficiencyBits(positive.efficiencies, negative.efficiencies));
        EXPECT_EQ(firstDifferingOrder(positive, negative, true), 0);
    }
}

TEST(CoatedSphere, OneNegativeImaginaryPartSelectsTheNegativeConvention) {
    const Outcome reference = run({5, 1.5, 0.1, 3, 1.33, 0.02});
    const Layers oneNegative[] = {{5, 1.5, -0.1, 3, 1.33, 0.02}, {5, 1.5, 0.1, 3, 1.33, -0.02}};
    for (const Layers& l : oneNegative) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        EXPECT_TRUE(sameEfficiencyBits(r.efficiencies, reference.efficiencies));
        EXPECT_EQ(firstDifferingOrder(reference, r, true), 0);
    }
}

TEST(CoatedSphere, NegativeZeroImaginaryPartsKeepThePositiveConvention) {
    // Non-absorbing coefficients have non-zero imaginary parts, so the
    // negative convention would show up in their signs.
    const Outcome reference = run({6, 1.33, 0.0, 4, 1.5, 0.0});
    const Layers zeros[] = {{6, 1.33, -0.0, 4, 1.5, -0.0}, {6, 1.33, -0.0, 4, 1.5, 0.0}};
    for (const Layers& l : zeros) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        EXPECT_TRUE(sameEfficiencyBits(r.efficiencies, reference.efficiencies));
        EXPECT_EQ(firstDifferingOrder(reference, r, false), 0);
    }
}

// The coated sphere reduces to a homogeneous one in three ways; each is
// compared with the independent homogeneous-sphere reference.
TEST(CoatedSphere, ReducesToTheHomogeneousSphere) {
    struct Case {
        const char* what;
        Layers layers;
        double size;
        std::complex<double> index;
        double normSize;  // the size whose cross-section the efficiencies refer to
    };
    const Case cases[] = {
        {"equal indices", {8, 1.5, 0.02, 3, 1.5, 0.02}, 8, {1.5, 0.02}, 8},
        {"equal indices, strongly absorbing", {30, 1.8, 2.0, 12, 1.8, 2.0}, 30, {1.8, 2.0}, 30},
        {"equal sizes: shell of zero thickness", {4, 2.0, 0.5, 4, 1.33, 0.01}, 4, {1.33, 0.01}, 4},
        {"equal sizes, large", {150, 1.1, 0, 150, 1.6, 0.05}, 150, {1.6, 0.05}, 150},
        {"vacuum shell", {5, 1, 0, 3, 1.5, 0}, 3, {1.5, 0}, 3},
        {"vacuum shell, absorbing core", {12, 1, -0.0, 2.5, 1.7, 0.3}, 2.5, {1.7, 0.3}, 2.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.layers);
        ASSERT_GT(r.termCount, 0);
        const auto sphere = homogeneousSphere(c.size, c.index, r.termCount);
        const double scale = std::pow(c.size / c.normSize, 2.0);
        EXPECT_NEAR(r.efficiencies.Kext, sphere.Qext * scale, 1e-10 * sphere.Qext);
        EXPECT_NEAR(r.efficiencies.Ksca, sphere.Qsca * scale, 1e-10 * sphere.Qext);
        for (int n = 1; n <= 5; ++n) {
            EXPECT_NEAR(r.coefficients->aRe[n], sphere.a[n - 1].real(), 1e-11) << "n = " << n;
            EXPECT_NEAR(r.coefficients->aIm[n], sphere.a[n - 1].imag(), 1e-11) << "n = " << n;
            EXPECT_NEAR(r.coefficients->bRe[n], sphere.b[n - 1].real(), 1e-11) << "n = " << n;
            EXPECT_NEAR(r.coefficients->bIm[n], sphere.b[n - 1].imag(), 1e-11) << "n = " << n;
        }
    }
}

TEST(CoatedSphere, OnlyAnExactVacuumShellIsReferredToTheCore) {
    const Outcome exact = run({5, 1.0, 0.0, 3, 1.5, 0.0});
    const Layers almost[] = {
        {5, std::nextafter(1.0, 2.0), 0.0, 3, 1.5, 0.0},
        {5, std::nextafter(1.0, 0.0), 0.0, 3, 1.5, 0.0},
        {5, 1.0, 1e-300, 3, 1.5, 0.0},
    };
    const double coreToShell = 9.0 / 25.0;
    for (const Layers& l : almost) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        EXPECT_NEAR(r.efficiencies.Kext, exact.efficiencies.Kext * coreToShell, 1e-12);
        EXPECT_NEAR(r.efficiencies.Ksca, exact.efficiencies.Ksca * coreToShell, 1e-12);
    }
}

TEST(CoatedSphere, LosslessLayersAbsorbExactlyNothing) {
    const Layers cases[] = {
        {10, 1.33, 0, 6, 1.5, 0},    {0.3, 1.5, 0, 0.1, 3.0, 0}, {100, 1.33, 0, 60, 1.59, 0},
        {1000, 1.5, 0, 900, 1.2, 0}, {3, 1.0, 0, 2, 4.0, 0},     {55, 2.4, -0.0, 55, 1.4, 0},
    };
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        EXPECT_TRUE(sameBits(r.efficiencies.Kabs, 0.0)) << r.efficiencies.Kabs;
    }
}

TEST(CoatedSphere, LosslessResidueAboveTheCutoffIsKept) {
    // Large spheres accumulate rounding over many orders; tiny ones lose the
    // relative accuracy of Re a_n, which is of order |a_n|^2 there.
    const Layers cases[] = {{20000, 1.33, 0, 12000, 1.5, 0}, {0.01, 1.5, 0, 0.005, 3.0, 0}};
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        const EfficiencyRecord& e = r.efficiencies;
        EXPECT_GE(std::fabs(e.Kabs / e.Kext), 1e-10);
        EXPECT_LT(std::fabs(e.Kabs / e.Kext), 1e-6);
        EXPECT_EQ(e.Kabs, e.Kext - e.Ksca);
    }
}

TEST(CoatedSphere, NoCoreGivesNaNEfficienciesAndZeroAbsorption) {
    const Outcome r = run({5, 1.5, 0.01, 0, 2.0, 0.5});
    EXPECT_EQ(r.termCount, 20);
    EXPECT_TRUE(std::isnan(r.efficiencies.Kext));
    EXPECT_TRUE(std::isnan(r.efficiencies.Ksca));
    EXPECT_TRUE(sameBits(r.efficiencies.Kabs, 0.0));
}

// A stopped computation must leave every table and the caller's record as
// they were.
class UntouchedState : public testing::Test {
protected:
    void SetUp() override {
        EfficiencyRecord e;
        ASSERT_EQ(computeCoatedSphere(4, 1.5, 0.01, 2, 1.33, 0, e), 18);
        coefficientsBefore = std::make_unique<CoefficientTables>(coefficientTables());
        logDerivativesBefore = std::make_unique<LogDerivativeTables>(logDerivativeTables());
    }
    bool tablesUnchanged() const {
        return std::memcmp(coefficientsBefore.get(), &coefficientTables(),
                           sizeof(CoefficientTables)) == 0 &&
               std::memcmp(logDerivativesBefore.get(), &logDerivativeTables(),
                           sizeof(LogDerivativeTables)) == 0;
    }
    static constexpr EfficiencyRecord kSentinel{-7.0, -8.0, -9.0};
    std::unique_ptr<CoefficientTables> coefficientsBefore;
    std::unique_ptr<LogDerivativeTables> logDerivativesBefore;
};

TEST_F(UntouchedState, LargestAcceptedAndFirstRefusedOuterSize) {
    EfficiencyRecord e = kSentinel;
    EXPECT_EQ(computeCoatedSphere(99622, 1.33, 0, 50000, 1.5, 0.01, e), 0);
    EXPECT_TRUE(sameEfficiencyBits(e, kSentinel));
    EXPECT_TRUE(tablesUnchanged());

    EXPECT_EQ(computeCoatedSphere(50000, 1.5, 0.01, 99621, 1.33, 0, e), kMaxTermCount);
    EXPECT_TRUE(std::isfinite(e.Kext) && std::isfinite(e.Ksca));
    EXPECT_NEAR(e.Kext, 2.0, 0.01);  // extinction paradox: Kext -> 2 for large spheres
}

TEST_F(UntouchedState, UnusableOuterSizeIsRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Layers cases[] = {
        {-1, 1.5, 0, -2, 1.33, 0},     {-1e-300, 1.5, 0, -1, 1.33, 0}, {nan, 1.5, 0, 3, 1.33, 0},
        {nan, 1.5, 0, nan, 1.33, 0},   {inf, 1.5, 0, 3, 1.33, 0},      {3, 1.5, 0, inf, 1.33, 0},
        {-inf, 1.5, 0, -inf, 1.33, 0}, {1e300, 1.5, 0, 1, 1.33, 0},
    };
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        EfficiencyRecord e = kSentinel;
        EXPECT_EQ(computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re,
                                      l.index2Im, e),
                  0);
        EXPECT_TRUE(sameEfficiencyBits(e, kSentinel));
        EXPECT_TRUE(tablesUnchanged());
    }
}

TEST(CoatedSphere, UnusableCoreSizeGivesNaNWithinTheTables) {
    // NaN is not smaller than 3, so the first layer stays outside and fixes N.
    const Outcome r = run({3, 1.5, 0, std::numeric_limits<double>::quiet_NaN(), 1.33, 0});
    EXPECT_EQ(r.termCount, termCountFor(3));
    EXPECT_TRUE(std::isnan(r.efficiencies.Kext));
    EXPECT_TRUE(sameBits(r.efficiencies.Kabs, 0.0));
}

}  // namespace
}  // namespace coatedmie
