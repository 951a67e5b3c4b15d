// computeIntensities: the angular functions and amplitude sums of many angles
// at once. One angle at a time, each order waits on the previous one (the
// division in the pi_n recurrence ends a chain of dependent operations), so
// the processor idles most of the time. Here the orders are the outer loop
// and a block of angles the inner one: the angles are independent, fill the
// pipelines and the vector lanes, and share the order's coefficients and
// weight. Every angle goes through exactly the operations of computeIntensity
// on the same operands, each rounded by itself (IEEE vector arithmetic rounds
// lane by lane like the scalar one; nothing is fused), so every intensity
// keeps its bits.
#include <cmath>

#include <coatedmie/engine.h>

#include "library_square.h"
#include "lanes.h"
#include "vector_paths.h"
#include "tables.h"

namespace coatedmie {

namespace {

// Angles per block: the ten values carried per angle (cos theta, sin^2 theta,
// pi and pi' of the two previous orders, the four sums) take 20 KiB, which
// stays in the level-1 data cache while the block runs through all orders.
constexpr int kAngleBlock = 256;


template <typename V>
struct Block {
    static constexpr int kWidth = sizeof(V) / sizeof(double);
    static constexpr int kVectors = kAngleBlock / kWidth;
    static_assert(kAngleBlock % kWidth == 0, "whole vectors per block");

    V mu[kVectors];
    V sinSquare[kVectors];
    // pi_n and pi_n' of the last two orders: A and B swap roles every order,
    // so the new values overwrite the ones that are no longer needed.
    V piA[kVectors];
    V piB[kVectors];
    V piPrimeA[kVectors];
    V piPrimeB[kVectors];
    V s1Re[kVectors];
    V s1Im[kVectors];
    V s2Re[kVectors];
    V s2Im[kVectors];
};

// Adds order n >= 2 to the sums of the first `vectors` vectors of angles,
// with pi_{n-1} in piPrev and pi_{n-2}, pi'_{n-2} in piPrev2, piPrimePrev2,
// which receive pi_n and pi'_n.
template <typename V>
[[gnu::always_inline]] inline void addOrder(const CoefficientView& c, int n, int vectors,
                                            const V* mu, const V* sinSquare, const V* piPrev,
                                            V* piPrev2, V* piPrimePrev2, V* s1Re, V* s1Im,
                                            V* s2Re, V* s2Im) {
    const double order = static_cast<double>(n);
    const double twoOrderMinusOne = 2.0 * order - 1.0;
    const double orderMinusOne = order - 1.0;
    const double w = ((2.0 * order + 1.0) / order) / (order + 1.0);
    const double aRe = c.aRe[n];
    const double aIm = c.aIm[n];
    const double bRe = c.bRe[n];
    const double bIm = c.bIm[n];
    for (int i = 0; i < vectors; ++i) {
        const V piN = ((mu[i] * twoOrderMinusOne) * piPrev[i] - order * piPrev2[i]) / orderMinusOne;
        const V piPrimeN = twoOrderMinusOne * piPrev[i] + piPrimePrev2[i];
        const V tauN = mu[i] * piN - sinSquare[i] * piPrimeN;
        piPrev2[i] = piN;
        piPrimePrev2[i] = piPrimeN;
        s1Re[i] = (piN * aRe + tauN * bRe) * w + s1Re[i];
        s2Re[i] = (tauN * aRe + piN * bRe) * w + s2Re[i];
        s1Im[i] = (piN * aIm + tauN * bIm) * w + s1Im[i];
        s2Im[i] = (tauN * aIm + piN * bIm) * w + s2Im[i];
    }
}

// One block of count <= kAngleBlock angles.
template <typename V>
[[gnu::always_inline]] inline void evaluateBlock(const CoefficientView& c, int lastOrder,
                                                 const double* theta, int count, double* I1,
                                                 double* I2) {
    using B = Block<V>;
    B s;
    const int vectors = (count + B::kWidth - 1) / B::kWidth;
    for (int j = 0; j < vectors * B::kWidth; ++j) {
        // Lanes past the last angle carry theta = 0: finite, and dropped.
        double mu = 1.0;
        double sinSquare = 0.0;
        if (j < count) {
            mu = std::cos(theta[j]);
            sinSquare = librarySquare(std::sin(theta[j]));
        }
        s.mu[j / B::kWidth][j % B::kWidth] = mu;
        s.sinSquare[j / B::kWidth][j % B::kWidth] = sinSquare;
    }

    // Order 1, whatever the term count: pi_1 = 1, tau_1 = mu, w_1 = 3/2.
    const double w1 = ((2.0 * 1 + 1.0) / 1.0) / (1.0 + 1.0);
    const V zero = V{};
    const V pi1 = zero + 1.0;
    for (int i = 0; i < vectors; ++i) {
        const V tau1 = s.mu[i];
        s.piA[i] = pi1;
        s.piB[i] = zero;
        s.piPrimeA[i] = zero;
        s.piPrimeB[i] = zero;
        s.s1Re[i] = (pi1 * c.aRe[1] + tau1 * c.bRe[1]) * w1;
        s.s1Im[i] = (pi1 * c.aIm[1] + tau1 * c.bIm[1]) * w1;
        s.s2Re[i] = (tau1 * c.aRe[1] + pi1 * c.bRe[1]) * w1;
        s.s2Im[i] = (tau1 * c.aIm[1] + pi1 * c.bIm[1]) * w1;
    }

    int n = 2;
    for (; n + 1 <= lastOrder; n += 2) {
        addOrder<V>(c, n, vectors, s.mu, s.sinSquare, s.piA, s.piB, s.piPrimeB, s.s1Re, s.s1Im,
                    s.s2Re, s.s2Im);
        addOrder<V>(c, n + 1, vectors, s.mu, s.sinSquare, s.piB, s.piA, s.piPrimeA, s.s1Re,
                    s.s1Im, s.s2Re, s.s2Im);
    }
    if (n <= lastOrder) {
        addOrder<V>(c, n, vectors, s.mu, s.sinSquare, s.piA, s.piB, s.piPrimeB, s.s1Re, s.s1Im,
                    s.s2Re, s.s2Im);
    }

    for (int i = 0; i < vectors; ++i) {
        const V i1 = s.s1Re[i] * s.s1Re[i] + s.s1Im[i] * s.s1Im[i];
        const V i2 = s.s2Re[i] * s.s2Re[i] + s.s2Im[i] * s.s2Im[i];
        for (int lane = 0; lane < B::kWidth && i * B::kWidth + lane < count; ++lane) {
            I1[i * B::kWidth + lane] = i1[lane];
            I2[i * B::kWidth + lane] = i2[lane];
        }
    }
}

template <typename V>
[[gnu::always_inline]] inline void evaluateAngles(const CoefficientView& c, const double* theta,
                                                  int count, double* I1, double* I2) {
    const int lastOrder = c.termCount;
    for (int first = 0; first < count; first += kAngleBlock) {
        const int blockCount = count - first < kAngleBlock ? count - first : kAngleBlock;
        evaluateBlock<V>(c, lastOrder, theta + first, blockCount, I1 + first, I2 + first);
    }
}

void evaluatePortable(const CoefficientView& c, const double* theta, int count, double* I1,
                      double* I2) {
    evaluateAngles<Lanes2>(c, theta, count, I1, I2);
}

#if defined(__x86_64__) || defined(__i386__)
#define COATEDMIE_X86_PATHS 1

// Only the instruction sets named here: no FMA, whose fused rounding would
// change the results.
__attribute__((target("avx2"))) void evaluateAvx2(const CoefficientView& c, const double* theta,
                                                  int count, double* I1, double* I2) {
    evaluateAngles<Lanes4>(c, theta, count, I1, I2);
}

__attribute__((target("avx512f"))) void evaluateAvx512(const CoefficientView& c,
                                                       const double* theta, int count, double* I1,
                                                       double* I2) {
    evaluateAngles<Lanes8>(c, theta, count, I1, I2);
}
#endif

using Evaluation = void (*)(const CoefficientView&, const double*, int, double*, double*);

Evaluation evaluationFor(VectorPath path) {
    switch (path) {
#ifdef COATEDMIE_X86_PATHS
        case VectorPath::avx2:
            return evaluateAvx2;
        case VectorPath::avx512:
            return evaluateAvx512;
#endif
        default:
            return evaluatePortable;
    }
}

}  // namespace

void computeIntensitiesOn(VectorPath path, const CoefficientView& c, const double* theta,
                          int count, double* I1, double* I2) {
    evaluationFor(path)(c, theta, count, I1, I2);
}

void computeIntensities(const CoefficientView& c, const double* theta, int count, double* I1,
                        double* I2) {
    static const Evaluation evaluate = evaluationFor(selectedVectorPath());
    evaluate(c, theta, count, I1, I2);
}

}  // namespace coatedmie
