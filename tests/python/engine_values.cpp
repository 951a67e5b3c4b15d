// Prints, as exact hexadecimal doubles for the Python tests' bit-for-bit
// comparisons, what the program reads from the Parameter_in.txt given and
// computes for it with its own reader, grid and engine calls: the nine values,
// N and the seven results on one line, then (degrees, I1, I2) for each angle.
#include <cstdint>
#include <cstdio>
#include <string>

#include <coatedmie/engine.h>

#include "angle_grid.h"
#include "parameter_file.h"

int main(int argc, char** argv) {
    using namespace coatedmie;
    RunParameters p;
    std::string problem = "usage: engine_values PARAMETER_FILE";
    if (argc != 2 || !readParameterFile(argv[1], p, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    Engine engine;
    const int n = engine.compute({p.Alpha1, {p.index1Re, p.index1Im}}, {p.Alpha2, {p.index2Re, p.index2Im}});
    const EfficiencyRecord e = engine.efficiencies();
    const DerivedQuantityRecord d = engine.derivedQuantities();
    std::printf("%a %a %a %a %a %a %a %a %a %a %a %a %a %a %a %a %a\n", p.Alpha1, p.index1Re, p.index1Im, p.Alpha2,
                p.index2Re, p.index2Im, double(p.angleCount), p.startAngle, p.endAngle, double(n), e.Kext, e.Ksca,
                e.Kabs, d.Kback, d.Kpr, d.g, d.albedo);
    const AngleGrid grid = makeAngleGrid(p.angleCount, p.startAngle, p.endAngle);
    for (std::int64_t i = 1; i <= p.angleCount; ++i) {
        double degrees, radians;
        fillAngles(grid, i, 1, &degrees, &radians);
        double I1, I2;
        engine.intensities(&radians, 1, &I1, &I2);
        std::printf("%a %a %a\n", degrees, I1, I2);
    }
}
