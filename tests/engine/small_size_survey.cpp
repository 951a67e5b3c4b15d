// Measures how many significant digits of the intensities the engine gets
// right against the quadruple-precision reference, decade by decade of the
// outer size parameter, and whether the printed efficiencies are right.
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
    std::printf("%-10s %8s %8s %8s  %-40s %s\n", "y", "min I", "min a1", "min Kext", "worst case (I)",
                "printed efficiencies wrong");
    for (int decade = lowest; decade <= highest; ++decade) {
        for (int step = 0; step < perDecade; ++step) {
            const double y = std::pow(10.0, decade + static_cast<double>(step) / perDecade);
            double worst = 99, worstA1 = 99, worstKext = 99;
            std::string worstCase;
            int wrongPrints = 0;
            std::string wrongExample;
            forEachCase(y, [&](const Case& c) {
                const Comparison r = compare(c);
                if (r.intensityDigits < worst) {
                    worst = r.intensityDigits;
                    worstCase = describe(c) + " at " + std::to_string(r.worstAngle);
                }
                worstA1 = std::fmin(worstA1, r.firstCoefficientDigits);
                worstKext = std::fmin(worstKext, r.extinctionDigits);
                if (!r.efficienciesPrintRight) {
                    if (wrongPrints++ == 0) wrongExample = describe(c) + " " + r.printedDifference;
                }
            });
            std::printf("%-10.3g %8.2f %8.2f %8.2f  %-40s %d %s\n", y, worst, worstA1, worstKext,
                        worstCase.c_str(), wrongPrints, wrongExample.c_str());
        }
    }
    return 0;
}
