// The engine's fast paths bit for bit against their plain counterparts: the
// computation against the plain reference engine in every regime, and
// computeIntensities against computeIntensity over term counts and angle
// grids that cross the block and lane boundaries.
#include <cmath>
#include <limits>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "reference_agreement.h"

namespace coatedmie {
namespace {

using namespace test_support;

const double kPi = 3.141592653589793;
const double kInf = std::numeric_limits<double>::infinity();

TEST(ReferenceAgreement, EveryRegimeBitForBit) {
    const struct {
        const char* regime;
        Layers layers;
    } cases[] = {
        {"published reference", {5, 1.5, 0.01, 3, 2.0, 0.5}},
        {"layers given core first", {3, 2.0, 0.5, 5, 1.5, 0.01}},
        {"negative convention", {5, 1.5, -0.01, 3, 2.0, -0.5}},
        {"one negative imaginary part", {5, 1.5, -0.1, 3, 1.33, 0.02}},
        {"non-absorbing", {10, 1.33, 0, 6, 1.5, 0}},
        {"equal indices", {8, 1.5, 0.02, 4, 1.5, 0.02}},
        {"equal sizes", {6, 1.33, 0.01, 6, 1.8, 0.2}},
        {"vacuum shell, negative convention", {5, 1, -0.0, 3, 1.5, -0.1}},
        {"no core: NaN results", {5, 1.5, 0.01, 0, 2.0, 0.5}},
        {"small particle path", {1e-3, 1.33, 0, 5e-4, 1.7, 0.1}},
        {"small particle, metallic core", {1e-2, 1.5, 0.001, 1e-3, 3.0, 4.0}},
        {"small", {0.5, 1.33, 0, 0.2, 1.7, 0.1}},
        {"metallic core", {20, 1.33, 0, 15, 0.2, 3.5}},
        {"strongly absorbing shell", {30, 2.0, 1.5, 10, 1.4, 0}},
        {"high index", {50, 4.0, 0.001, 45, 10.0, 10.0}},
        {"thin shell", {1000, 1.33, 0.0001, 999, 1.59, 0.001}},
        {"size 10000", {10000, 1.33, 0.001, 8000, 1.5, 0.01}},
        {"largest size", {99621, 1.33, 0.001, 79696.8, 1.5, 0.01}},
        {"largest size, lossless", {99621, 1.2, 0, 50000, 1.05, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.regime);
        expectSameAsReference(c.layers);
    }
}

std::vector<double> evenGrid(int count, double first, double last) {
    std::vector<double> theta;
    const double step = (last - first) / (count - 1);
    for (int i = 0; i < count; ++i) theta.push_back(i * step + first);
    return theta;
}

// The NaN that invalid operations deliver (sign bit set, payload zero), as in
// an angle grid with an infinite step.
double defaultNan() {
    volatile double zero = 0.0;
    return zero * kInf;
}

TEST(IntensityTable, SameBitsAsOneAngleAtATime) {
    // The ends of the range, signed zeros, angles beyond 2 pi, huge and
    // non-finite ones, and a sine whose square is a tie.
    const std::vector<double> odd = {0.0,  -0.0,  kPi,    -kPi,  kPi / 2, 1e-300, 5e-324, 1e-8,
                                     3.0,  -2.5,  7.0,    -100.0, 1e10,   -1e22,  1e300,  kInf,
                                     -kInf, defaultNan(), std::nan("0x5eed"), 0x1.5274ab5542f2dp+0, 2 * kPi, 4.0e6 * kPi};
    // Odd angles scattered over a long grid, so that they share vectors with
    // ordinary ones in every lane position.
    std::vector<double> mixed = evenGrid(600, -1.0, 7.0);
    for (std::size_t i = 0; i < odd.size(); ++i) mixed[(i * 37) % mixed.size()] = odd[i];
    const struct {
        const char* name;
        std::vector<double> theta;
    } grids[] = {
        {"one angle", {0.7}},
        {"0 and 180 degrees", {0.0, kPi}},
        {"odd angles", odd},
        {"7 angles", evenGrid(7, 0.0, kPi)},
        {"9 angles", evenGrid(9, 0.1, 3.0)},
        {"255 angles", evenGrid(255, -kPi, kPi)},
        {"256 angles", evenGrid(256, 0.0, kPi)},
        {"257 angles", evenGrid(257, kPi, 0.0)},
        {"1801 angles", evenGrid(1801, 0.0, kPi)},
        {"odd angles among 600", mixed},
    };
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(1000, 1.33, 0.001, 700, 1.59, 0.2, e), 1081);
    for (int termCount : {-5, 0, 1, 2, 3, 4, 5, 8, 9, 16, 17, 28, 1080, 1081}) {
        for (const auto& grid : grids) expectSameAsOneAngleAtATime(termCount, grid.theta, grid.name);
    }
    ASSERT_EQ(computeCoatedSphere(99621, 1.33, 0, 50000, 1.5, 0.01, e), kMaxTermCount);
    for (int termCount : {kMaxTermCount, kMaxTermCount + 1, 2000000000}) {
        expectSameAsOneAngleAtATime(termCount, evenGrid(19, 0.0, kPi), "19 angles");
    }
}

// A core of size 0 gives default NaN coefficients. Where a NaN of another
// kind (an angle given as a NaN with a payload) meets them, IEEE arithmetic
// leaves open which of the two propagates, and so do the compilers, so only
// the default NaN angle takes part here.
TEST(IntensityTable, NanCoefficientsGiveTheSameNans) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 0, 2.0, 0.5, e), 20);
    const double nan = defaultNan();
    const std::vector<double> theta = {0.0, nan, kPi, 1.0, nan, 2.0, 3.0, 0.5, nan};
    expectSameAsOneAngleAtATime(20, theta, "NaN coefficients");
    std::vector<double> I1(theta.size()), I2(theta.size());
    computeIntensities(20, theta.data(), static_cast<int>(theta.size()), I1.data(), I2.data());
    for (std::size_t i = 0; i < theta.size(); ++i) EXPECT_TRUE(std::isnan(I1[i]) && std::isnan(I2[i])) << i;
}

TEST(IntensityTable, NothingWrittenBeyondTheCount) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e), 20);
    const std::vector<double> theta = evenGrid(10, 0.0, kPi);
    for (int count : {-1, 0, 3}) {
        std::vector<double> I1(10, -1.0), I2(10, -2.0);
        computeIntensities(20, theta.data(), count, I1.data(), I2.data());
        for (int i = count < 0 ? 0 : count; i < 10; ++i) {
            EXPECT_TRUE(I1[i] == -1.0 && I2[i] == -2.0) << count << ", " << i;
        }
    }
}

}  // namespace
}  // namespace coatedmie
