// The grid of small coated spheres on which the engine is held against the
// quadruple-precision reference, and the comparison of one case: shared by
// the accuracy tests and the survey program.
#ifndef COATEDMIE_TESTS_SMALL_SIZE_GRID_H
#define COATEDMIE_TESTS_SMALL_SIZE_GRID_H

#include <functional>
#include <string>

namespace coatedmie::small_size_grid {

struct LayerPair {
    const char* name;
    double shellRe, shellIm;  // index of the outer layer
    double coreRe, coreIm;    // index of the core
};

// Non-absorbing, weakly and strongly absorbing layers, and a core in a shell
// of index exactly 1 (the core alone, referred to its own cross-section).
inline constexpr LayerPair kLayerPairs[] = {
    {"lossless", 1.33, 0.0, 1.5, 0.0},
    {"lossless, dense core", 1.5, 0.0, 3.0, 0.0},
    {"weak absorption", 1.5, 0.01, 1.33, 0.001},
    {"strong absorption", 2.0, 1.0, 1.6, 0.3},
    {"metal core", 1.5, 0.0, 0.2, 3.0},
    {"lossless core, absorbing shell", 1.7, 2.5, 1.33, 0.0},
    {"vacuum shell", 1.0, 0.0, 1.5, 0.02},
};

inline constexpr double kCoreFractions[] = {0.001, 0.01, 0.1, 0.5, 0.9, 0.99, 1.0};

struct Case {
    double y;  // outer size parameter
    double coreFraction;
    const LayerPair* layers;
    int signConvention;
};

std::string describe(const Case& c);

// Every layer pair, core fraction and sign convention at outer size y.
void forEachCase(double y, const std::function<void(const Case&)>& visit);

struct Comparison {
    double intensityDigits;  // least over the angles 0, 15, ..., 180 degrees, of I1 and I2
    double worstAngle;       // in degrees
    double firstCoefficientDigits;  // of a_1
    double extinctionDigits;
    bool efficienciesPrintRight;  // Kext, Ksca, Kabs in the fixed form
    std::string printedDifference;  // engine text vs reference text where not
};

// Runs the engine and the reference on one case: the quadruple-precision
// coated sphere from y = 1e-8 up (for a vacuum shell the core alone, which
// it is, and which the reference's cancellation handles better), its
// Rayleigh limit below. Digits are -log10(relative error), 99 when both
// values are equal.
Comparison compare(const Case& c);

}  // namespace coatedmie::small_size_grid

#endif  // COATEDMIE_TESTS_SMALL_SIZE_GRID_H
