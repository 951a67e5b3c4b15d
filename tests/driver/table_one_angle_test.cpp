// The program's angular table, evaluated many angles per engine call, against
// the same table built here one angle at a time with computeIntensity: the
// same bytes, over grids that cross the program's chunks of angles and its
// output buffer.
#include <string>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "angle_grid.h"
#include "number_text.h"
#include "parameter_file.h"
#include "program_runner.h"

namespace coatedmie {
namespace {

// Mie_Coated_TA.txt as it would read with one computeIntensity call per angle.
std::string tableOneAngleAtATime(const RunParameters& p) {
    EfficiencyRecord efficiencies;
    const int termCount =
        computeCoatedSphere(p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im, efficiencies);
    const AngleGrid grid = makeAngleGrid(p.angleCount, p.startAngle, p.endAngle);
    std::string table = "Angle(Deg)\tI1\tI2\tItotal\r\n";
    char text[kMaxNumberText];
    for (int i = 1; i <= p.angleCount; ++i) {
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
    for (const std::string parameters : {"300\t1.33\t0.001\n240\t1.5\t0.01\n1801\t0\t180\n",
                                         "5\t1.5\t0.01\n3\t2.0\t0.5\n513\t180\t-180\n",
                                         "0.5\t1.33\t0\n0.2\t1.7\t0.1\n257\t0\t1e5\n"}) {
        SCOPED_TRACE(parameters);
        testing::ScratchFolder folder;
        folder.write(testing::kParameters, parameters);
        ASSERT_EQ(testing::runProgram(folder).exitStatus, 0);
        RunParameters p{};
        std::string problem;
        ASSERT_TRUE(parseParameterText(parameters.data(), parameters.size(), "", p, problem)) << problem;
        EXPECT_TRUE(folder.read(testing::kTable) == tableOneAngleAtATime(p)) << "the tables differ";
    }
}

}  // namespace
}  // namespace coatedmie
