#include "angle_grid.h"

#include <cmath>

namespace coatedmie {

AngleGrid makeAngleGrid(int angleCount, double startAngle, double endAngle) {
    const double pi = 4.0 * std::atan(1.0);
    AngleGrid grid{angleCount, startAngle, 0.0, pi / 180.0};
    if (angleCount >= 2) {
        // The count minus one is an integer first, then converted exactly.
        const int intervals = angleCount - 1;
        grid.angleStep = (endAngle - startAngle) / static_cast<double>(intervals);
    }
    return grid;
}

void fillAngles(const AngleGrid& grid, std::int64_t firstIndex, int count, double* degrees,
                double* radians) {
    for (int k = 0; k < count; ++k) {
        const std::int64_t stepsFromStart = firstIndex + k - 1;
        const double angle = static_cast<double>(stepsFromStart) * grid.angleStep + grid.startAngle;
        degrees[k] = angle;
        radians[k] = angle * grid.degToRad;
    }
}

}  // namespace coatedmie
