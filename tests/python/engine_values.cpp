// Prints, as exact hexadecimal doubles, what the program computes for the
// Parameter_in.txt given as the argument: the nine values as read, N, the
// three efficiencies, the derived quantities, and (angle in degrees, I1, I2)
// for every grid angle, through the program's own reader, grid and engine
// calls. The Python tests compare the module's doubles with these, bit for bit.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <coatedmie/engine.h>

#include "angle_grid.h"
#include "parameter_file.h"

int main(int argc, char** argv) {
    using namespace coatedmie;
    if (argc != 2) {
        std::fprintf(stderr, "usage: engine_values PARAMETER_FILE\n");
        return 2;
    }
    RunParameters p;
    std::string problem;
    if (!readParameterFile(argv[1], p, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    std::printf("Alpha1 %a\nindex1Re %a\nindex1Im %a\nAlpha2 %a\nindex2Re %a\nindex2Im %a\n", p.Alpha1,
                p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im);
    std::printf("angleCount %d\nstartAngle %a\nendAngle %a\n", p.angleCount, p.startAngle, p.endAngle);
    EfficiencyRecord e{0.0, 0.0, 0.0};
    const int termCount =
        computeCoatedSphere(p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im, e);
    DerivedQuantityRecord d{0.0, 0.0, 0.0, 0.0};
    computeDerivedQuantities(termCount, e, d);
    std::printf("N %d\nKext %a\nKsca %a\nKabs %a\nKback %a\nKpr %a\ng %a\nalbedo %a\n", termCount, e.Kext,
                e.Ksca, e.Kabs, d.Kback, d.Kpr, d.g, d.albedo);
    const AngleGrid grid = makeAngleGrid(p.angleCount, p.startAngle, p.endAngle);
    for (std::int64_t i = 1; i <= p.angleCount; ++i) {
        double degrees, radians;
        fillAngles(grid, i, 1, &degrees, &radians);
        IntensityRecord r{0.0, 0.0, 0.0};
        computeIntensity(termCount, radians, r);
        std::printf("angle %a %a %a\n", degrees, r.I1, r.I2);
    }
    return 0;
}
