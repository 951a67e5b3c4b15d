// computeIntensities against computeIntensity, one angle at a time: every
// intensity bit for bit, on every vector path this processor runs, over term
// counts and angle grids that cross the block and lane boundaries.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "intensity_paths.h"

namespace coatedmie {
namespace {

const double kPi = 3.141592653589793;
const double kInf = std::numeric_limits<double>::infinity();

bool sameBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

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

// Angles that stress the angular functions: the ends of the range, signed
// zeros, angles beyond 2 pi, huge and non-finite ones.
std::vector<double> oddAngles() {
    return {0.0,    -0.0,   kPi,   -kPi,  kPi / 2, 1e-300, 5e-324, 1e-8,         3.0,
            -2.5,   7.0,    -100.0, 1e10, -1e22,   1e300,  kInf,   -kInf,        defaultNan(),
            std::nan("0x5eed"), 0x1.5274ab5542f2dp+0, 2 * kPi, 4.0e6 * kPi};
}

struct Grid {
    const char* name;
    std::vector<double> theta;
};

std::vector<Grid> grids() {
    std::vector<Grid> g = {
        {"one angle", {0.7}},
        {"0 and 180 degrees", {0.0, kPi}},
        {"odd angles", oddAngles()},
        {"7 angles", evenGrid(7, 0.0, kPi)},
        {"9 angles", evenGrid(9, 0.1, 3.0)},
        {"255 angles", evenGrid(255, -kPi, kPi)},
        {"256 angles", evenGrid(256, 0.0, kPi)},
        {"257 angles", evenGrid(257, kPi, 0.0)},
        {"1801 angles", evenGrid(1801, 0.0, kPi)},
    };
    // Odd angles scattered over a long grid, so that they share vectors with
    // ordinary ones in every lane position.
    std::vector<double> mixed = evenGrid(600, -1.0, 7.0);
    const std::vector<double> odd = oddAngles();
    for (std::size_t i = 0; i < odd.size(); ++i) mixed[(i * 37) % mixed.size()] = odd[i];
    g.push_back({"odd angles among 600", mixed});
    return g;
}

// Every supported path and the dispatched entry point, over every grid.
void expectSameAsOneAngleAtATime(int termCount) {
    for (const Grid& grid : grids()) {
        const int count = static_cast<int>(grid.theta.size());
        std::vector<double> oneI1(count), oneI2(count);
        for (int i = 0; i < count; ++i) {
            IntensityRecord r{0.0, -1.0, -1.0};
            computeIntensity(termCount, grid.theta[i], r);
            oneI1[i] = r.I1;
            oneI2[i] = r.I2;
        }
        for (int p = -1; p < static_cast<int>(std::size(kIntensityPaths)); ++p) {
            if (p >= 0 && !intensityPathSupported(kIntensityPaths[p])) continue;
            std::vector<double> I1(count, -1.0), I2(count, -1.0);
            if (p < 0) {
                computeIntensities(termCount, grid.theta.data(), count, I1.data(), I2.data());
            } else {
                computeIntensitiesOn(kIntensityPaths[p], termCount, grid.theta.data(), count, I1.data(),
                                     I2.data());
            }
            const char* path = p < 0 ? "dispatched" : intensityPathName(kIntensityPaths[p]);
            for (int i = 0; i < count; ++i) {
                ASSERT_TRUE(sameBits(I1[i], oneI1[i]) && sameBits(I2[i], oneI2[i]))
                    << path << " path, N = " << termCount << ", " << grid.name << ", angle " << i
                    << " (theta = " << grid.theta[i] << "): I1 " << I1[i] << " vs " << oneI1[i]
                    << ", I2 " << I2[i] << " vs " << oneI2[i];
            }
        }
    }
}

TEST(IntensityTable, SameBitsAsOneAngleAtATime) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(1000, 1.33, 0.001, 700, 1.59, 0.2, e), 1081);
    for (int termCount : {-5, 0, 1, 2, 3, 4, 5, 8, 9, 16, 17, 28, 1080, 1081}) {
        expectSameAsOneAngleAtATime(termCount);
    }
}

TEST(IntensityTable, SameBitsAtTheLargestTermCount) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(99621, 1.33, 0, 50000, 1.5, 0.01, e), kMaxTermCount);
    const std::vector<double> theta = evenGrid(19, 0.0, kPi);
    for (int termCount : {kMaxTermCount, kMaxTermCount + 1, 2000000000}) {
        std::vector<double> I1(theta.size()), I2(theta.size());
        computeIntensities(termCount, theta.data(), static_cast<int>(theta.size()), I1.data(), I2.data());
        for (std::size_t i = 0; i < theta.size(); ++i) {
            IntensityRecord r{};
            computeIntensity(termCount, theta[i], r);
            EXPECT_TRUE(sameBits(I1[i], r.I1) && sameBits(I2[i], r.I2)) << termCount << ", " << theta[i];
        }
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
    const int count = static_cast<int>(theta.size());
    for (IntensityPath path : kIntensityPaths) {
        if (!intensityPathSupported(path)) continue;
        std::vector<double> I1(count), I2(count);
        computeIntensitiesOn(path, 20, theta.data(), count, I1.data(), I2.data());
        for (int i = 0; i < count; ++i) {
            IntensityRecord r{};
            computeIntensity(20, theta[i], r);
            EXPECT_TRUE(sameBits(I1[i], r.I1) && sameBits(I2[i], r.I2)) << intensityPathName(path) << ", " << i;
            EXPECT_TRUE(std::isnan(I1[i]) && std::isnan(I2[i]));
        }
    }
}

TEST(IntensityTable, NothingWrittenBeyondTheCount) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e), 20);
    const std::vector<double> theta = evenGrid(10, 0.0, kPi);
    for (int count : {-1, 0, 3}) {
        std::vector<double> I1(10, -1.0), I2(10, -2.0);
        computeIntensities(20, theta.data(), count, I1.data(), I2.data());
        for (int i = count < 0 ? 0 : count; i < 10; ++i) {
            EXPECT_EQ(I1[i], -1.0) << count;
            EXPECT_EQ(I2[i], -2.0) << count;
        }
    }
}

}  // namespace
}  // namespace coatedmie
