// Long randomised sweeps of the engine's fast paths against the plain
// reference: the coefficient loop and tables over random scatterers, and the
// many-angle intensities over random term counts and angle grids.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "intensity_paths.h"
#include "reference_agreement.h"

namespace coatedmie {
namespace {

using testing_reference::Layers;

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
    const double shape = chance(g);
    l.alpha2 = shape < 0.1 ? l.alpha1 : l.alpha1 * std::uniform_real_distribution<double>(0.0, 1.0)(g);
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
    for (int i = 0; i < 100000; ++i) {
        const Layers l = randomLayers(g, i % 100 == 0 ? 99621.0 : 3000.0);
        SCOPED_TRACE(testing::Message() << "case " << i);
        testing_reference::expectSameAsReference(l);
        if (HasFailure()) return;
    }
}

TEST(FastIntensitySweep, RandomGridsMatchOneAngleAtATime) {
    std::mt19937_64 g(7);
    const double specials[] = {0.0, -0.0, 3.141592653589793, -3.141592653589793, 1e300,
                               std::numeric_limits<double>::infinity(), -std::nan("")};
    for (int run = 0; run < 200; ++run) {
        const Layers l = randomLayers(g, run % 10 == 0 ? 99621.0 : 5000.0);
        EfficiencyRecord e;
        const int runTerms =
            computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im, e);
        ASSERT_GT(runTerms, 0) << l;
        for (int grid = 0; grid < 10; ++grid) {
            const int termCount = grid == 0 ? runTerms : static_cast<int>(g() % (runTerms + 3)) - 2;
            const int count = 1 + static_cast<int>(g() % (runTerms > 20000 ? 300 : 1500));
            std::vector<double> theta(count);
            const double first = std::uniform_real_distribution<double>(-7.0, 7.0)(g);
            const double step = std::uniform_real_distribution<double>(-0.05, 0.05)(g);
            for (int i = 0; i < count; ++i) {
                theta[i] = chance(g) < 0.01 ? specials[g() % std::size(specials)] : i * step + first;
            }
            std::vector<double> oneI1(count), oneI2(count);
            for (int i = 0; i < count; ++i) {
                IntensityRecord r{};
                computeIntensity(termCount, theta[i], r);
                oneI1[i] = r.I1;
                oneI2[i] = r.I2;
            }
            for (IntensityPath path : kIntensityPaths) {
                if (!intensityPathSupported(path)) continue;
                std::vector<double> I1(count), I2(count);
                computeIntensitiesOn(path, termCount, theta.data(), count, I1.data(), I2.data());
                for (int i = 0; i < count; ++i) {
                    ASSERT_TRUE(testing_reference::sameBits(I1[i], oneI1[i]) &&
                                testing_reference::sameBits(I2[i], oneI2[i]))
                        << intensityPathName(path) << ", " << l << ", N = " << termCount
                        << ", theta = " << theta[i];
                }
            }
        }
    }
}

}  // namespace
}  // namespace coatedmie
