// The angle grid's last bits, which six printed decimals cannot show: every
// angle, the last one included, is (i - 1) * angleStep + startAngle with the
// product and the sum rounded separately.
#include <gtest/gtest.h>

#include "angle_grid.h"

namespace coatedmie {
namespace {

TEST(AngleGrid, LastAngleIsComputedWithTwoRoundings) {
    const struct {
        const char* name;
        int angleCount;
        double startAngle, endAngle, lastAngle;
    } cases[] = {
        // (0.9 - 0.3) / 2 * 2 + 0.3 rounds to 0.9000000000000001, not endAngle.
        {"computed, not replaced by endAngle", 3, 0.3, 0.9, 0.9000000000000001},
        // 6 * 33.36666666666667 + 0.1: a fused multiply-add would give 100.3.
        {"product rounded before the sum", 7, 0.1, 100.3, 100.29999999999998},
    };
    for (const auto& c : cases) {
        double degrees;
        double radians;
        fillAngles(makeAngleGrid(c.angleCount, c.startAngle, c.endAngle), c.angleCount, 1, &degrees, &radians);
        EXPECT_EQ(degrees, c.lastAngle) << c.name;
    }
}

}  // namespace
}  // namespace coatedmie
