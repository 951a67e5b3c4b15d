// The angle grid: evenly spaced, computed the same way up to the last angle,
// and prepared in chunks without changing a bit.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "angle_grid.h"

namespace coatedmie {
namespace {

std::vector<double> allDegrees(const AngleGrid& grid, int chunk) {
    std::vector<double> degrees(static_cast<std::size_t>(grid.angleCount));
    std::vector<double> radians(degrees.size());
    for (int first = 1; first <= grid.angleCount; first += chunk) {
        const int count = std::min(chunk, grid.angleCount - first + 1);
        fillAngles(grid, first, count, &degrees[static_cast<std::size_t>(first - 1)],
                   &radians[static_cast<std::size_t>(first - 1)]);
    }
    return degrees;
}

TEST(AngleGrid, LastAngleIsComputedNotReplacedByEndAngle) {
    // (0.9 - 0.3) / 2 * 2 + 0.3 rounds to 0.9000000000000001.
    const std::vector<double> degrees = allDegrees(makeAngleGrid(3, 0.3, 0.9), 3);
    EXPECT_EQ(degrees[2], 0.9000000000000001);
    EXPECT_NE(degrees[2], 0.9);
}

TEST(AngleGrid, ProductAndSumAreRoundedSeparately) {
    // 6 * 33.36666666666667 + 0.1: rounding the product first gives
    // 100.29999999999998; a fused multiply-add would give 100.3.
    const std::vector<double> degrees = allDegrees(makeAngleGrid(7, 0.1, 100.3), 7);
    EXPECT_EQ(degrees[6], 100.29999999999998);
}

TEST(AngleGrid, ChunksGiveTheSameAnglesAsOnePass) {
    const AngleGrid grid = makeAngleGrid(1000, -12.345, 543.21);
    const std::vector<double> whole = allDegrees(grid, 1000);
    for (int chunk : {1, 7, 256, 999}) EXPECT_EQ(allDegrees(grid, chunk), whole) << "chunk " << chunk;
}

TEST(AngleGrid, IndexBeyondTheIntRangeStaysExact) {
    const AngleGrid grid = makeAngleGrid(2147483647, 0.0, 2147483646.0);
    double degrees[2];
    double radians[2];
    fillAngles(grid, 2147483646, 2, degrees, radians);
    EXPECT_EQ(degrees[0], 2147483645.0);
    EXPECT_EQ(degrees[1], 2147483646.0);
}

}  // namespace
}  // namespace coatedmie
