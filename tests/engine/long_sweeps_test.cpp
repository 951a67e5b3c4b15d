// Long sweeps: the engine's fast paths against their plain counterparts over
// random scatterers, term counts and angle grids, and the pass count of the
// continued fraction that starts the log-derivative tables.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "reference_agreement.h"

namespace coatedmie {
namespace {

using namespace test_support;

double logUniform(std::mt19937_64& g, double low, double high) {
    return std::exp(std::uniform_real_distribution<double>(std::log(low), std::log(high))(g));
}

double chance(std::mt19937_64& g) { return std::uniform_real_distribution<double>(0.0, 1.0)(g); }

// One refractive index: mostly dielectric, sometimes metallic or exactly 1.
void randomIndex(std::mt19937_64& g, double& re, double& im) {
    const double kind = chance(g);
    re = kind < 0.1 ? 1.0 : kind < 0.25 ? logUniform(g, 0.05, 1.0) : logUniform(g, 1.0, 4.0);
    im = chance(g) < 0.3 ? 0.0 : logUniform(g, 1e-7, kind < 0.25 ? 8.0 : 2.0);
    if (chance(g) < 0.3) im = -im;
}

Layers randomLayers(std::mt19937_64& g, double maxSize) {
    Layers l;
    l.alpha1 = logUniform(g, 1e-3, maxSize);
    l.alpha2 = chance(g) < 0.1 ? l.alpha1 : l.alpha1 * chance(g);
    randomIndex(g, l.index1Re, l.index1Im);
    randomIndex(g, l.index2Re, l.index2Im);
    if (chance(g) < 0.1) {
        l.index2Re = l.index1Re;
        l.index2Im = l.index1Im;
    }
    if (chance(g) < 0.5) l = {l.alpha2, l.index2Re, l.index2Im, l.alpha1, l.index1Re, l.index1Im};
    return l;
}

TEST(FastEngineSweep, RandomScatterersMatchTheReference) {
    std::mt19937_64 g(20240611);
    for (int i = 0; i < 100000 && !HasFailure(); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        expectSameAsReference(randomLayers(g, i % 100 == 0 ? 99621.0 : 3000.0));
    }
}

TEST(FastIntensitySweep, RandomGridsMatchOneAngleAtATime) {
    std::mt19937_64 g(7);
    const double specials[] = {0.0, -0.0, 3.141592653589793, -3.141592653589793, 1e300,
                               std::numeric_limits<double>::infinity(), -std::nan("")};
    for (int run = 0; run < 200 && !HasFailure(); ++run) {
        const Layers l = randomLayers(g, run % 10 == 0 ? 99621.0 : 5000.0);
        SCOPED_TRACE(testing::Message() << l);
        EfficiencyRecord e;
        const int runTerms = compute(l, e);
        ASSERT_GT(runTerms, 0);
        for (int grid = 0; grid < 10; ++grid) {
            const int termCount = grid == 0 ? runTerms : static_cast<int>(g() % (runTerms + 3)) - 2;
            const int count = 1 + static_cast<int>(g() % (runTerms > 20000 ? 300 : 1500));
            const double first = std::uniform_real_distribution<double>(-7.0, 7.0)(g);
            const double step = std::uniform_real_distribution<double>(-0.05, 0.05)(g);
            std::vector<double> theta(count);
            for (int i = 0; i < count; ++i) {
                theta[i] = chance(g) < 0.01 ? specials[g() % std::size(specials)] : i * step + first;
            }
            expectSameAsOneAngleAtATime(termCount, theta, "random grid");
        }
    }
}

TEST(LentzPassCount, GrowsLikeTheArgumentBeyondTheOrder) {
    for (double modulus : {1e3, 1e5, 1e7}) {
        for (int n : {11, 1081, 99998}) {
            for (double phase : {0.0, 1e-6, 0.01, 0.785, 1.5707963267948966}) {
                ComplexResult d;
                const int passes = lentzLogDerivative(modulus * std::cos(phase), modulus * std::sin(phase), n, d) - 2;
                SCOPED_TRACE(testing::Message() << "|z| = " << modulus << ", n = " << n << ", phase = " << phase);
                EXPECT_LE(passes, std::fmax(modulus - n, 0.0) + 10.0 * std::cbrt(modulus) + 300.0);
                EXPECT_GE(passes, phase == 0.0 ? modulus - n : 1.0);
            }
        }
    }
}

TEST(LentzPassLimit, AbsurdIndexIsRefusedInsteadOfHanging) {
    for (double coreIndex : {1e4 * 99621 / 20, 1e150 / 20}) {  // |m1| x = 1e9, 1e150
        EfficiencyRecord e{-1.0, -2.0, -3.0};
        EXPECT_EQ(computeCoatedSphere(40, 1.5, 0.01, 20, coreIndex, 0, e), 0) << coreIndex;
        EXPECT_TRUE(sameBits(e, {-1.0, -2.0, -3.0}));
    }
}

}  // namespace
}  // namespace coatedmie
