// The reentrant Engine: its storage grown and kept, its refusals, and threads
// that each compute with an object of their own.
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace coatedmie {
namespace {

using namespace test_support;

const double kInf = std::numeric_limits<double>::infinity();

const double kTheta[] = {0.0, 0.5, 1.5707963267948966, 2.9, 3.141592653589793};

// Everything a computation yields, as bit patterns.
std::vector<std::uint64_t> bitsOfResults(int n, const EfficiencyRecord& e, double normSquare,
                                         const DerivedQuantityRecord& d, const CoefficientView& c,
                                         const double (&I1)[5], const double (&I2)[5]) {
    std::vector<std::uint64_t> bits{static_cast<std::uint64_t>(n)};
    for (double v : {e.Kext, e.Ksca, e.Kabs, normSquare, d.Kback, d.Kpr, d.g, d.albedo}) bits.push_back(bitsOf(v));
    for (int k = 1; k <= c.termCount; ++k) {
        for (double v : {c.aRe[k], c.aIm[k], c.bRe[k], c.bIm[k]}) bits.push_back(bitsOf(v));
    }
    for (int i = 0; i < 5; ++i) bits.insert(bits.end(), {bitsOf(I1[i]), bitsOf(I2[i])});
    return bits;
}

std::vector<std::uint64_t> resultsOf(const Engine& engine) {
    double I1[5], I2[5];
    engine.intensities(kTheta, 5, I1, I2);
    return bitsOfResults(engine.termCount(), engine.efficiencies(), engine.normSquare(), engine.derivedQuantities(),
                         engine.coefficients(), I1, I2);
}

int computeWith(Engine& engine, const Layers& l) { return engine.compute(l.first, l.second); }

std::vector<std::uint64_t> freshEngineResults(const Layers& l) {
    Engine engine;
    computeWith(engine, l);
    return resultsOf(engine);
}

TEST(EngineObject, StorageGrownAndKeptChangesNoBit) {
    const Layers regimes[] = {
        {5, 1.5, 0.01, 3, 2.0, 0.5},        {3000, 1.33, 1e-8, 2000, 1.5, 0.01}, {1e-3, 1.33, 0, 5e-4, 1.7, 0.1},
        {0.5, 1.2, 0, 1, 10, 10},           {5, 1, -0.0, 3, 1.5, -0.1},          {12, 1.6, -0.2, 12, 1.33, -0.001},
        {99621, 1.33, 0.001, 79696.8, 1.5, 0.01},
    };
    Engine engine;
    for (const Layers& l : regimes) {
        ASSERT_GT(computeWith(engine, l), 0) << l;
        EXPECT_EQ(resultsOf(engine), freshEngineResults(l)) << l;
    }
}

TEST(EngineObject, RefusalsKeepThePreviousResults) {
    Engine fresh;
    EXPECT_EQ(fresh.termCount(), 0);
    EXPECT_EQ(fresh.workspaceBytes(), 0u);
    double I1 = -1.0, I2 = -1.0;
    const double zero = 0.0;
    fresh.intensities(&zero, 1, &I1, &I2);
    EXPECT_TRUE(I1 == 0.0 && I2 == 0.0);
    EXPECT_TRUE(std::isnan(fresh.derivedQuantities().g));
    double chi = -1.0;
    EXPECT_FALSE(fresh.legendreMoments(1, &chi));
    EXPECT_EQ(chi, -1.0);

    Engine engine;
    ASSERT_EQ(computeWith(engine, {10, 1.33, 0, 6, 1.5, 0}), 28);
    // A few KiB for a small particle: 11 arrays of whole groups of entries.
    EXPECT_LE(engine.workspaceBytes(), 4096u);
    const std::vector<std::uint64_t> before = resultsOf(engine);
    const Layers refused[] = {{99622, 1.33, 0, 1, 1.5, 0}, {std::nan(""), 1.5, 0, 3, 1.33, 0},
                              {-1, 1.5, 0, -2, 1.33, 0}, {kInf, 1.5, 0, 3, 1.33, 0}};
    for (const Layers& l : refused) {
        EXPECT_EQ(computeWith(engine, l), 0) << l;
        EXPECT_EQ(resultsOf(engine), before) << l;
    }
    Engine moved = std::move(engine);
    EXPECT_EQ(resultsOf(moved), before);
    EXPECT_EQ(engine.termCount(), 0);
}

// Particles from Rayleigh size to N in the thousands, both conventions, lossless
// and metallic layers.
std::vector<Layers> particleSweep(int count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> logSize(std::log(0.003), std::log(3000.0)), unit(0.0, 1.0);
    std::vector<Layers> particles;
    for (int i = 0; i < count; ++i) {
        const double y = std::exp(logSize(random));
        const double sign = unit(random) < 0.2 ? -1.0 : 1.0;
        particles.push_back({y, 1.0 + unit(random), sign * 0.1 * unit(random), y * unit(random),
                             0.2 + 3.0 * unit(random), sign * 4.0 * unit(random) * unit(random)});
    }
    return particles;
}

// The moments' rule and rows live in the Engine: odd and even rule sizes,
// fewer moments than exact ones, more (exact zeros), and a rule reused or
// grown from one particle to the next.
TEST(EngineObject, LegendreMomentsAreNormalisedWhateverTheRule) {
    Engine engine;
    const struct {
        Layers layers;
        int count;  // 0: all 2N + 1, and two more
    } cases[] = {{{5, 1.5, 0.01, 3, 2.0, 0.5}, 0}, {{5, 1.5, 0.01, 3, 2.0, 0.5}, 7}, {{0.004, 1.5, 0, 0.002, 2, 1}, 0},
                 {{120, 1.33, 0, 100, 1.5, 0.1}, 1}, {{120, 1.33, 0, 100, 1.5, 0.1}, 0}, {{30, 1.2, -0.3, 3, 2, 0}, 0}};
    for (const auto& c : cases) {
        const int n = computeWith(engine, c.layers);
        const int count = c.count > 0 ? c.count : 2 * n + 3;
        std::vector<double> chi(count, -1.0);
        ASSERT_TRUE(engine.legendreMoments(count, chi.data())) << c.layers;
        EXPECT_NEAR(chi[0], 1.0, 1e-14) << c.layers;
        if (count > 1) {
            EXPECT_NEAR(chi[1], engine.derivedQuantities().g, 1e-14) << c.layers;
        }
        for (int l = 2 * n + 1; l < count; ++l) EXPECT_EQ(chi[l], 0.0) << c.layers << " l = " << l;
    }
}

TEST(EngineObject, ThreadsWithTheirOwnObjectsGetTheBitsOfOneThread) {
    const std::vector<Layers> particles = particleSweep(400, 2026);
    std::vector<std::vector<std::uint64_t>> expected;
    Engine single;
    for (const Layers& l : particles) {
        computeWith(single, l);
        expected.push_back(resultsOf(single));
    }
    // Each thread takes every fourth particle from its own starting point, so
    // the objects grow and shrink in different orders.
    constexpr int kThreads = 4;
    std::vector<std::vector<std::vector<std::uint64_t>>> found(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Engine engine;
            for (std::size_t i = t; i < particles.size(); i += kThreads) {
                computeWith(engine, particles[i]);
                found[t].push_back(resultsOf(engine));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (std::size_t k = 0; k < found[t].size(); ++k) {
            ASSERT_EQ(found[t][k], expected[t + kThreads * k]) << particles[t + kThreads * k];
        }
    }
}

TEST(InputRules, FirstBrokenRuleWithTheValueItNames) {
    const double nan = std::nan("");
    const struct {
        Layers layers;
        InputProblem problem;
        int value;
        double measured;
    } cases[] = {
        {{5, 1.5, 0.01, 3, 2.0, 0.5}, InputProblem::none, -1, 0.0},
        {{5, 1.5, nan, 3, kInf, 0.5}, InputProblem::notFinite, 2, nan},
        {{5, 1.5, 0, -0.0, 2.0, 0.5}, InputProblem::notPositive, 3, 0.0},
        {{1e-31, 1.5, 0, 1e-32, 2.0, 0.5}, InputProblem::outerSizeTooSmall, 0, 1e-31},
        {{1e-32, 1.5, 0, 1e-29, 2.0, 0.5}, InputProblem::coreSizeTooSmall, 0, 1e-32},
        {{5, 6e-5, 8e-5, 3, 6e-5, 0}, InputProblem::indexTooSmall, 4, 6e-5},  // |index1| = 1e-4 is accepted
        {{5, 1.5, 0, 3, -2.0, 0.5}, InputProblem::negativeRealPart, 4, -2.0},
        {{1e5, 1.33, 0, 3, 1.5, 0}, InputProblem::beyondCapacity, 0, 100378},
        {{3, 1.5, 0, kMaxOuterSizeParameter, 1.33, 0}, InputProblem::none, -1, 0.0},
        {{1e4, 1.5, 0.01, 2.1e3, 3e3, 4e3}, InputProblem::indexTimesSizeTooLarge, 4, 1.05e7},
    };
    for (const auto& c : cases) {
        const InputCheck check = checkLayers(c.layers.first, c.layers.second);
        EXPECT_EQ(check.problem, c.problem) << c.layers;
        EXPECT_EQ(check.value, c.value) << c.layers;
        if (c.problem != InputProblem::none && !std::isnan(c.measured)) {
            EXPECT_DOUBLE_EQ(check.measured, c.measured) << c.layers;
        }
    }
    EXPECT_EQ(termCountFor(kMaxOuterSizeParameter), kMaxTermCount);
    EXPECT_EQ(termCountFor(std::nextafter(kMaxOuterSizeParameter, kInf)), 0);
}

}  // namespace
}  // namespace coatedmie
