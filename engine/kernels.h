// The engine's vector kernels: every loop that evaluates many independent
// values side by side, once per instruction-set path, gathered into one table
// per path. The path is chosen once (the widest the processor runs, or the one
// COATEDMIE_VECTOR_PATH or setVectorPath names) and every computation reads
// its kernels from that table; the tests run each table of every path the
// processor runs. Each kernel gives the same bits on every path: lanes round
// one by one like scalar arithmetic, nothing is fused, and where values are
// summed the order of the sum does not depend on the width.
#ifndef COATEDMIE_KERNELS_H
#define COATEDMIE_KERNELS_H

#include <coatedmie/engine.h>

#include "complex_kernel.h"
#include "tables.h"

namespace coatedmie {

// The instruction sets a path's kernels are built for: SSE2 (the x86-64
// baseline, or whatever the compiler targets elsewhere), AVX2 and AVX-512F,
// never FMA, whose fused rounding would change the results.
#if defined(__x86_64__) || defined(__i386__)
#define COATEDMIE_X86_PATHS 1
#define COATEDMIE_TARGET_AVX2 __attribute__((target("avx2")))
#define COATEDMIE_TARGET_AVX512 __attribute__((target("avx512f")))
#else
#define COATEDMIE_TARGET_AVX2
#define COATEDMIE_TARGET_AVX512
#endif

// The log-derivative tables' arguments m2 y, m2 x, m1 x and y, or their
// values D_N at order N.
struct TableQuadruple {
    ComplexResult m2y, m2x, m1x;
    double y;
};

// The per-order values of the series that its derivatives start from, entry n
// for order n: the logarithmic derivatives D_n at y, m2 y, m2 x and m1 x, those
// of xi_n at y, m2 y and m2 x, psi_n(y)/xi_n(y) and the ratio across the shell.
struct SeriesValues {
    double* dY;
    double *dM2yRe, *dM2yIm, *dM2xRe, *dM2xIm, *dM1xRe, *dM1xIm;
    double *dXiYRe, *dXiYIm, *dXiM2yRe, *dXiM2yIm, *dXiM2xRe, *dXiM2xIm;
    double *psiOverXiRe, *psiOverXiIm, *shellRatioRe, *shellRatioIm;
};
inline constexpr int kSeriesValueArrays = 17;

// What the per-order loop of the coated sphere reads, and the values it
// carries from order to order. Where `keep` is not null the loop also writes
// its per-order values there.
struct SeriesArguments {
    double y;
    ComplexResult m2y, m2x;
    ComplexResult m1, m2;
    const SeriesValues* keep;
};

struct Recurrences {
    ComplexResult psiOverXi;
    ComplexResult dXiY;
    ComplexResult dXiM2y;
    ComplexResult dXiM2x;
    ComplexResult shellRatio;
    bool ratioFromTable;  // set where psi_n(y)/psi_{n-1}(y) came from the table's reciprocal
};

struct EfficiencySums {
    double ext;  // sum (2n + 1) Re(a_n + b_n)
    double sca;  // sum (2n + 1) (|a_n|^2 + |b_n|^2), squares from pow
};

// Where the Legendre moments' working rows live, in QuadratureStorage.
struct QuadratureLayout {
    int nodes;     // K
    int paired;    // nodes with mu >= 0: K/2, and the node mu = 0 for odd K
    double* up;    // (2j - 1)/j for j = 1..K + 1
    double* back;  // (j - 1)/j
    double* s;     // sin^2(theta/2) of the paired nodes
    double* weight;
    double* even;  // weight (p(mu) + p(-mu)), the node mu = 0 at half weight
    double* odd;   // weight (p(mu) - p(-mu))
    double* previous;
    double* current;
};

// What the amplitude sums of an angular evaluation become, angle by angle.
struct AngularOutput {
    enum Kind { intensities, amplitudes, mueller, scaledSum } kind;
    double* out[4];    // I1, I2; S1Re, S1Im, S2Re, S2Im; S11, S12, S33, S34; (I1 + I2) * scale
    bool conjugated;   // Mueller: amplitudes of the negative sign convention
    double scale;
};

using FillTablesKernel = bool (*)(int termCount, const TableQuadruple& arguments, const LogDerivativeTables& tables,
                                  bool& movedOffZero);
using SeriesOrdersKernel = void (*)(const SeriesArguments& arguments, int termCount,
                                    const LogDerivativeTables& tables, const CoefficientArrays& coefficients,
                                    Recurrences& recurrences);
using SumOrdersKernel = EfficiencySums (*)(const CoefficientView& coefficients);
using AngularKernel = void (*)(const CoefficientView& coefficients, const AngleSource& angles, int count,
                               const AngularOutput& output);
using LegendreMomentsKernel = void (*)(const CoefficientView& coefficients, double phaseScale, int count,
                                       bool haveRule, const QuadratureLayout& quadrature, double* chi);

struct Kernels {
    VectorPath path;
    int lanes;  // doubles per vector
    // Fills entries 1..N + 1 of the four tables: their order-N values from
    // the continued fractions (four lanes, one per table, on every path),
    // then the downward recurrence. Returns false, writing nothing, when a
    // fraction does not end within its pass limit; sets movedOffZero where an
    // entry was moved off an exact zero of k/z + D_k.
    FillTablesKernel fillTables;
    // a_n and b_n of orders 1..termCount, carrying the recurrences.
    SeriesOrdersKernel seriesOrders;
    SumOrdersKernel sumOrders;
    AngularKernel angular;
    // The Gauss-Legendre rule (unless haveRule), the phase function at its
    // nodes and the first `count` moments.
    LegendreMomentsKernel legendreMoments;
};

// Each kernel for the paths portable, avx2 and avx512, defined in the file of
// its computation.
inline constexpr int kPathCount = 3;
extern const FillTablesKernel kFillTablesKernels[kPathCount];
extern const SeriesOrdersKernel kSeriesOrdersKernels[kPathCount];
extern const SumOrdersKernel kSumOrdersKernels[kPathCount];
extern const AngularKernel kAngularKernels[kPathCount];
extern const LegendreMomentsKernel kLegendreMomentsKernels[kPathCount];

// The kernels of a path the processor runs.
const Kernels& kernelsFor(VectorPath path);

// The kernels of the path in use.
const Kernels& kernels();

}  // namespace coatedmie

#endif  // COATEDMIE_KERNELS_H
