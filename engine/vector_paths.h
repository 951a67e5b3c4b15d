// The instruction sets the engine's side-by-side evaluations are built for.
// Each evaluation exists once per path and gives the same bits on every
// path; the engine takes the widest path the processor runs, and the tests
// and benchmarks can run each path this processor supports.
#ifndef COATEDMIE_VECTOR_PATHS_H
#define COATEDMIE_VECTOR_PATHS_H

#include <coatedmie/engine.h>

#include "tables.h"

namespace coatedmie {

enum class VectorPath {
    portable,  // two lanes: SSE2 on x86-64, the compiler's choice elsewhere
    avx2,      // four lanes
    avx512,    // eight lanes
};

inline constexpr VectorPath kVectorPaths[] = {VectorPath::portable, VectorPath::avx2, VectorPath::avx512};

const char* vectorPathName(VectorPath path);

// Whether this processor (and its operating system) runs the path.
bool vectorPathSupported(VectorPath path);

// The widest path this processor runs: the one the engine uses.
VectorPath selectedVectorPath();

// computeIntensities on the given path, which must be supported.
void computeIntensitiesOn(VectorPath path, const CoefficientView& c, const double* theta, int count,
                          double* I1, double* I2);

// computeAmplitudes on the given path, which must be supported.
void computeAmplitudesOn(VectorPath path, const CoefficientView& c, const double* theta, int count,
                         const AmplitudeArrays& S);

// computeSeries on the given path, which must be supported.
bool computeSeriesOn(VectorPath path, const Scatterer& s, int termCount, const LogDerivativeTables& tables,
                     const CoefficientArrays& coefficients, unsigned& safeguards);

}  // namespace coatedmie

#endif  // COATEDMIE_VECTOR_PATHS_H
