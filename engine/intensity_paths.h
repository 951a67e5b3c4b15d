// The evaluations behind computeIntensities, one per instruction set, so that
// the tests can hold each of them against computeIntensity and the benchmarks
// can time them side by side. computeIntensities takes the widest path that
// the processor supports.
#ifndef COATEDMIE_INTENSITY_PATHS_H
#define COATEDMIE_INTENSITY_PATHS_H

#include <coatedmie/engine.h>

namespace coatedmie {

enum class IntensityPath {
    portable,  // two lanes: SSE2 on x86-64, the compiler's choice elsewhere
    avx2,      // four lanes
    avx512,    // eight lanes
};

inline constexpr IntensityPath kIntensityPaths[] = {IntensityPath::portable, IntensityPath::avx2,
                                                    IntensityPath::avx512};

const char* intensityPathName(IntensityPath path);

// Whether this processor (and its operating system) runs the path.
bool intensityPathSupported(IntensityPath path);

// The path computeIntensities uses here.
IntensityPath selectedIntensityPath();

// computeIntensities on the given path, which must be supported.
void computeIntensitiesOn(IntensityPath path, const CoefficientView& c, const double* theta,
                          int count, double* I1, double* I2);

}  // namespace coatedmie

#endif  // COATEDMIE_INTENSITY_PATHS_H
