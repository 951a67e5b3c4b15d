// The program's angular table, evaluated many angles per engine call, against
// the same table built here one angle at a time with computeIntensity: the
// same bytes, over grids that cross the program's chunks of angles.
#include <string>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "angle_grid.h"
#include "number_text.h"
#include "program_runner.h"
#include "scratch_folder.h"

namespace coatedmie {
namespace {

// Mie_Coated_TA.txt as it would read with one computeIntensity call per angle.
std::string tableOneAngleAtATime(int termCount, int angleCount, double startAngle, double endAngle) {
    std::string table = "Angle(Deg)\tI1\tI2\tItotal\r\n";
    const AngleGrid grid = makeAngleGrid(angleCount, startAngle, endAngle);
    char text[kMaxNumberText];
    for (int i = 1; i <= angleCount; ++i) {
        double degrees;
        double radians;
        fillAngles(grid, i, 1, &degrees, &radians);
        IntensityRecord r{};
        computeIntensity(termCount, radians, r);
        table.append(text, formatFixed(degrees, text)).append("\t");
        table.append(text, formatExponent(r.I1, text)).append("\t");
        table.append(text, formatExponent(r.I2, text)).append("\t");
        table.append(text, formatExponent(r.I1 + r.I2, text)).append("\r\n");
    }
    return table;
}

TEST(ProgramTable, SameBytesAsOneAngleAtATime) {
    const struct {
        const char* parameters;
        double layers[6];
        int angleCount;
        double startAngle, endAngle;
    } cases[] = {
        {"300\t1.33\t0.001\n240\t1.5\t0.01\n1801\t0\t180\n", {300, 1.33, 0.001, 240, 1.5, 0.01}, 1801, 0, 180},
        {"5\t1.5\t0.01\n3\t2.0\t0.5\n513\t180\t-180\n", {5, 1.5, 0.01, 3, 2.0, 0.5}, 513, 180, -180},
        {"0.5\t1.33\t0\n0.2\t1.7\t0.1\n257\t0\t1e5\n", {0.5, 1.33, 0, 0.2, 1.7, 0.1}, 257, 0, 1e5},
    };
    for (const auto& c : cases) {
        testing::ScratchFolder folder;
        folder.write("Parameter_in.txt", c.parameters);
        ASSERT_EQ(testing::runProgram(folder).exitStatus, 0) << c.parameters;
        EfficiencyRecord e;
        const double* l = c.layers;
        const int termCount = computeCoatedSphere(l[0], l[1], l[2], l[3], l[4], l[5], e);
        EXPECT_TRUE(folder.read("Mie_Coated_TA.txt") ==
                    tableOneAngleAtATime(termCount, c.angleCount, c.startAngle, c.endAngle))
            << c.parameters;
    }
}

}  // namespace
}  // namespace coatedmie
