// The evenly spaced grid of scattering angles of the angular table.
//
// angle i = (i - 1) * angleStep + startAngle for i = 1 .. angleCount, in
// degrees, with angleStep = (endAngle - startAngle) / (angleCount - 1): the
// product and the sum each rounded once. The last angle is computed like the
// others, so it can differ from endAngle in its last bits. A grid of one
// angle holds startAngle alone; a count of 0 or less holds no angle.
// theta i = angle i * degToRad, degToRad = pi / 180, pi = 4 * atan(1).
#ifndef COATEDMIE_ANGLE_GRID_H
#define COATEDMIE_ANGLE_GRID_H

#include <cstdint>

namespace coatedmie {

struct AngleGrid {
    int angleCount;
    double startAngle;
    double angleStep;
    double degToRad;
};

AngleGrid makeAngleGrid(int angleCount, double startAngle, double endAngle);

// Angles in degrees and radians for the grid indices firstIndex ..
// firstIndex + count - 1 (1-based), so that a caller can work in chunks.
void fillAngles(const AngleGrid& grid, std::int64_t firstIndex, int count, double* degrees,
                double* radians);

}  // namespace coatedmie

#endif  // COATEDMIE_ANGLE_GRID_H
