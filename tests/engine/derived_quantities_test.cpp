#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

// Backscattering, radiation pressure, asymmetry parameter and albedo against
// independent values; g and Ksca against the angular integral of the phase
// function are in the Legendre moments' test (chi_1 = g, chi_0 = 1).
namespace coatedmie {
namespace {

using namespace test_support;

struct Outcome {
    int termCount;
    EfficiencyRecord e{};
    DerivedQuantityRecord d;
};

Outcome run(const Layers& l) {
    Outcome r{0, {-1.0, -1.0, -1.0}, {-1.0, -1.0, -1.0, -1.0}};
    r.termCount = compute(l, r.e);
    r.d = sharedEngine().derivedQuantities();
    return r;
}

// Values at 17 digits from tools/mpmath_reference.py (textbook formulas in
// 40-digit arithmetic, independent of the engine), in derived_reference.txt.
TEST(DerivedQuantities, IndependentReferenceValues) {
    std::ifstream file(COATEDMIE_TEST_DATA_DIR "/derived_reference.txt");
    ASSERT_TRUE(file) << "derived_reference.txt";
    int cases = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream values(line);
        Layers l;
        double Kext, Ksca, Kback, Kpr, g;
        values >> l.first.size >> l.first.index.re >> l.first.index.im >> l.second.size >> l.second.index.re >>
            l.second.index.im >> Kext >> Ksca >> Kback >> Kpr >> g;
        SCOPED_TRACE(line);
        const Outcome r = run(l);
        EXPECT_NEAR(r.e.Kext, Kext, 1e-12 * Kext);
        EXPECT_NEAR(r.e.Ksca, Ksca, 1e-12 * Kext);
        EXPECT_NEAR(r.d.Kback, Kback, 1e-11 * Kback);
        EXPECT_NEAR(r.d.Kpr, Kpr, 1e-12 * Kext);
        EXPECT_NEAR(r.d.g, g, 1e-12);
        EXPECT_NEAR(r.d.albedo, Ksca / Kext, 1e-12);
        ++cases;
    }
    EXPECT_EQ(cases, 10);
}

TEST(DerivedQuantities, VacuumShellIsTheCoreAlone) {
    const Outcome core = run({3, 1.5, 0.2, 3, 1.5, 0.2});
    const Outcome shelled = run({5, 1, 0, 3, 1.5, 0.2});
    EXPECT_NEAR(shelled.d.Kback, core.d.Kback, 1e-12 * core.d.Kback);
    EXPECT_NEAR(shelled.d.Kpr, core.d.Kpr, 1e-12 * core.d.Kpr);
    EXPECT_NEAR(shelled.d.g, core.d.g, 1e-12);
    EXPECT_NEAR(shelled.d.albedo, core.d.albedo, 1e-12);
}

TEST(DerivedQuantities, LosslessParticlesScatterAllTheyRemove) {
    const Layers lossless[] = {{10, 1.33, 0, 6, 1.5, 0}, {100, 1.33, 0, 60, 1.59, 0}, {0.3, 1.5, -0.0, 0.1, 3.0, 0}};
    for (const Layers& l : lossless) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome r = run(l);
        ASSERT_EQ(r.e.Kabs, 0.0);
        EXPECT_EQ(r.d.albedo, 1.0);
    }
    const Outcome absorbing = run({5, 1.5, 0.01, 3, 2.0, 0.5});
    EXPECT_EQ(absorbing.d.albedo, absorbing.e.Ksca / absorbing.e.Kext);
    // An unusable core size leaves NaN, not a made-up albedo.
    const Outcome nan = run({5, 1.5, 0, 0, 1.2, 0});
    EXPECT_TRUE(std::isnan(nan.d.albedo) && std::isnan(nan.d.g));
}

TEST(DerivedQuantities, ReadNoOrderBeyondTheTermCount) {
    const Layers small{1, 1.5, 0.1, 0.5, 2.0, 0.3};
    const Outcome first = run(small);
    run({50, 1.4, 0.02, 30, 1.7, 0.5});  // leaves higher orders in the tables
    const Outcome again = run(small);
    EXPECT_EQ(std::memcmp(&first.d, &again.d, sizeof first.d), 0) << "not the same bits";
}

}  // namespace
}  // namespace coatedmie
