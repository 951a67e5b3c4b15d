#include <cmath>
#include <cstring>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

// Backscattering, radiation pressure, asymmetry parameter and albedo against
// independent values; g and Ksca against the angular integral of the phase
// function are in the Legendre moments' test (chi_1 = g, chi_0 = 1).
namespace coatedmie {
namespace {

using namespace test_support;
const double kPi = 3.141592653589793;

struct Outcome {
    int termCount;
    EfficiencyRecord e;
    DerivedQuantityRecord d;
};

Outcome run(const Layers& l) {
    Outcome r{0, {-1.0, -1.0, -1.0}, {-1.0, -1.0, -1.0, -1.0}};
    r.termCount = computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re,
                                      l.index2Im, r.e);
    computeDerivedQuantities(r.termCount, r.e, r.d);
    return r;
}

// Reference values at 17 digits from mpmath_reference.py (textbook formulas in
// 40-digit arithmetic, independent of the engine). Homogeneous spheres are
// given as two equal layers.
TEST(DerivedQuantities, IndependentReferenceValues) {
    const double bhmieX = 2 * kPi * 0.525 / 0.6328;
    const struct {
        const char* what;
        Layers layers;
        double Kext, Ksca, Kback, Kpr, g;
    } cases[] = {
        // Bohren & Huffman (1983), appendix A, BHMIE sample run: Qsca = Qext =
        // 3.10543, Qback = 2.92534.
        {"BHMIE sample run", {bhmieX, 1.55, 0, bhmieX, 1.55, 0},
         3.1054255314658785, 3.1054255314658785, 2.9253406497060148, 1.1392664781361492, 0.63313675804089487},
        {"x = 10, m = 1.5", {10, 1.5, 0, 10, 1.5, 0},
         2.8819989520758974, 2.8819989520758974, 1.6950635834095237, 0.74092475691729978, 0.74291289856867805},
        {"water, x = 100, m = 1.33 + 1e-8i", {100, 1.33, 1e-8, 100, 1.33, 1e-8},
         2.1010898345612515, 2.1010850272476065, 2.2408050098658035, 0.27668511929016942, 0.86831550918290445},
        {"x = 1, m = 1.5 + 1i", {1, 1.5, 1, 1, 1.5, 1},
         2.3363209846726147, 0.66345376151624625, 0.57300255523892247, 2.208847370093968, 0.19213639589188631},
        {"x = 1, m = 10 + 10i", {1, 10, 10, 1, 10, 10},
         2.5329930778963664, 2.049405006925481, 3.3089965250755423, 2.75978917351128, -0.11066436104552768},
        {"Rayleigh, x = 0.1, m = 1.5 + 0.1i", {0.1, 1.5, 0.1, 0.1, 1.5, 0.1},
         0.020060014625508701, 2.4038190395542943e-5, 3.5887611239090697e-5, 0.020059967072042157,
         0.0019782465219241129},
        {"x = 1000, m = 1.5 + 0.1i", {1000, 1.5, 0.1, 1000, 1.5, 0.1},
         2.019702521068302, 1.1069323889254004, 0.041533559829142263, 0.96714274767756161, 0.95087991274024931},
        {"coated, reference particle", {5, 1.5, 0.01, 3, 2.0, 0.5},
         3.135893679351231, 2.0119331599216181, 0.26318688512308296, 1.7130271600617998, 0.70721361307294321},
        {"coated, lossless", {10, 1.33, 0, 6, 1.5, 0},
         2.5663442822920975, 2.5663442822920975, 3.0687641577030704, 0.78654912362851128, 0.69351379350941371},
        {"coated, thin absorbing shell", {20, 1.8, 0.6, 19, 1.2, 0},
         2.2047660975148711, 1.3192718779300809, 0.14698880819175186, 1.1008926358086876, 0.83672932029609052},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.layers);
        EXPECT_NEAR(r.e.Kext, c.Kext, 1e-12 * c.Kext);
        EXPECT_NEAR(r.e.Ksca, c.Ksca, 1e-12 * c.Kext);
        EXPECT_NEAR(r.d.Kback, c.Kback, 1e-11 * c.Kback);
        EXPECT_NEAR(r.d.Kpr, c.Kpr, 1e-12 * c.Kext);
        EXPECT_NEAR(r.d.g, c.g, 1e-12);
        EXPECT_NEAR(r.d.albedo, c.Ksca / c.Kext, 1e-12);
    }
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
