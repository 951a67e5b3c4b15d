// Measures how many significant digits of the intensities the engine gets
// right against the quadruple-precision reference, decade by decade of the
// outer size parameter, and how many runs print an efficiency wrongly; the
// core in a vacuum shell is shown apart.
// Not a test: it prints a table (built with COATEDMIE_LONG_TESTS).
//
//   engine_small_size_survey [points per decade [lowest decade [highest decade]]]
// e.g. "engine_small_size_survey 4 -30 1" for y from 1e-30 to 10 (the
// reference is the Rayleigh limit below 1e-8).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <coatedmie/engine.h>
#include <number_text.h>

#include "quad_reference.h"
#include "small_size_grid.h"

namespace qr = coatedmie::quad_reference;
using namespace coatedmie;
using namespace coatedmie::small_size_grid;

int main(int argc, char** argv) {
    const int perDecade = argc > 1 ? std::atoi(argv[1]) : 4;
    const int lowest = argc > 2 ? std::atoi(argv[2]) : -8;
    const int highest = argc > 3 ? std::atoi(argv[3]) : 0;
    std::printf("Least significant digits right over the grid (all angles 0, 15, ..., 180 degrees):\n");
    std::printf("%-10s %9s %9s %9s %8s %13s  %s\n", "y", "I1, I2", "a_1", "Kext", "misprint", "vacuum shell",
                "worst intensity case");
    for (int decade = lowest; decade <= highest; ++decade) {
        for (int step = 0; step < perDecade; ++step) {
            const double y = std::pow(10.0, decade + static_cast<double>(step) / perDecade);
            double worst = 99, worstA1 = 99, worstKext = 99, worstVacuum = 99;
            std::string worstCase, misprint;
            int misprints = 0;
            forEachCase(y, [&](const Case& c) {
                const Comparison r = compare(c);
                if (std::string(c.layers->name) == "vacuum shell") {
                    worstVacuum = std::fmin(worstVacuum, r.intensityDigits);
                    return;
                }
                if (r.intensityDigits < worst) {
                    worst = r.intensityDigits;
                    worstCase = describe(c) + " at " + std::to_string(static_cast<int>(r.worstAngle));
                }
                worstA1 = std::fmin(worstA1, r.firstCoefficientDigits);
                worstKext = std::fmin(worstKext, r.extinctionDigits);
                if (!r.efficienciesPrintRight && misprints++ == 0) misprint = r.printedDifference;
            });
            std::printf("%-10.3g %9.2f %9.2f %9.2f %8d %13.2f  %s%s\n", y, worst, worstA1, worstKext, misprints,
                        worstVacuum, worstCase.c_str(), misprint.empty() ? "" : ("; misprint: " + misprint).c_str());
        }
    }
    return 0;
}
