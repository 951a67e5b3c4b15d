// The amplitude sums S1 = sum w_n (a_n pi_n + b_n tau_n) and
// S2 = sum w_n (a_n tau_n + b_n pi_n), w_n = (2n + 1)/(n (n + 1)), of many
// angles at once, with the angular functions pi_n, tau_n of cos(theta) by
// upward recurrence. One angle at a time, each order waits on the previous
// one (the division in the pi_n recurrence ends a chain of dependent
// operations), so the processor idles most of the time. Here the orders are
// the outer loop and a block of angles the inner one: the angles are
// independent, fill the pipelines and the vector lanes, and share the order's
// coefficients and weight. Every angle goes through exactly the operations of
// the one-angle evaluation on the same operands, each rounded by itself (IEEE
// vector arithmetic rounds lane by lane like the scalar one; nothing is
// fused), so every value keeps its bits whatever the lane and the width.
//
// What the sums become (intensities, amplitudes, Mueller elements, the phase
// function) is a projection applied to each vector of angles at the end.
#include <cmath>

#include <coatedmie/engine.h>

#include "lanes.h"
#include "library_square.h"
#include "tables.h"
#include "kernels.h"

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

// One block of count <= kAngleBlock angles, the first of them angle `first`
// of the call.
template <typename V, typename Projection>
[[gnu::always_inline]] inline void evaluateBlock(const CoefficientView& c, int lastOrder,
                                                 const AngleSource& angles, int first, int count,
                                                 const Projection& project) {
    using B = Block<V>;
    B s;
    const int vectors = (count + B::kWidth - 1) / B::kWidth;
    for (int j = 0; j < vectors * B::kWidth; ++j) {
        // Lanes past the last angle carry theta = 0: finite, and dropped.
        double mu = 1.0;
        double sinSquare = 0.0;
        if (j < count && angles.theta != nullptr) {
            mu = std::cos(angles.theta[first + j]);
            sinSquare = librarySquare(std::sin(angles.theta[first + j]));
        } else if (j < count) {
            mu = angles.mu[first + j];
            sinSquare = (1.0 - mu) * (1.0 + mu);
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
        const int lanes = count - i * B::kWidth < B::kWidth ? count - i * B::kWidth : B::kWidth;
        project(first + i * B::kWidth, lanes, s.s1Re[i], s.s1Im[i], s.s2Re[i], s.s2Im[i]);
    }
}

template <typename V, typename Projection>
[[gnu::always_inline]] inline void evaluateAngles(const CoefficientView& c, const AngleSource& angles, int count,
                                                  const Projection& project) {
    for (int first = 0; first < count; first += kAngleBlock) {
        const int blockCount = count - first < kAngleBlock ? count - first : kAngleBlock;
        evaluateBlock<V>(c, c.termCount, angles, first, blockCount, project);
    }
}

// The projections, each applied to one vector of `lanes` angles from angle
// `first` on. Lanes past the last angle are dropped.
template <typename V>
[[gnu::always_inline]] inline void storeLanes(double* out, int first, int lanes, V values) {
    for (int lane = 0; lane < lanes; ++lane) out[first + lane] = values[lane];
}

struct IntensityProjection {
    double* I1;
    double* I2;
    template <typename V>
    [[gnu::always_inline]] void operator()(int first, int lanes, V s1Re, V s1Im, V s2Re, V s2Im) const {
        storeLanes(I1, first, lanes, s1Re * s1Re + s1Im * s1Im);
        storeLanes(I2, first, lanes, s2Re * s2Re + s2Im * s2Im);
    }
};

struct AmplitudeProjection {
    double* S1Re;
    double* S1Im;
    double* S2Re;
    double* S2Im;
    template <typename V>
    [[gnu::always_inline]] void operator()(int first, int lanes, V s1Re, V s1Im, V s2Re, V s2Im) const {
        storeLanes(S1Re, first, lanes, s1Re);
        storeLanes(S1Im, first, lanes, s1Im);
        storeLanes(S2Re, first, lanes, s2Re);
        storeLanes(S2Im, first, lanes, s2Im);
    }
};

// S11 = (|S2|^2 + |S1|^2)/2, S12 = (|S2|^2 - |S1|^2)/2, S33 = Re(S2 S1*),
// S34 = Im(S2 S1*) in the convention exp(-i omega t), m = n + ik, whose
// amplitudes the positive sign convention gives. The negative convention's
// amplitudes are the conjugates, and Im(S2 S1*) is taken with the operands
// of its difference exchanged: the same sum of the same two products, so the
// same bits, a zero's sign included.
struct MuellerProjection {
    double* S11;
    double* S12;
    double* S33;
    double* S34;
    bool conjugated;
    template <typename V>
    [[gnu::always_inline]] void operator()(int first, int lanes, V s1Re, V s1Im, V s2Re, V s2Im) const {
        const V i1 = s1Re * s1Re + s1Im * s1Im;
        const V i2 = s2Re * s2Re + s2Im * s2Im;
        storeLanes(S11, first, lanes, (i2 + i1) * 0.5);
        storeLanes(S12, first, lanes, (i2 - i1) * 0.5);
        storeLanes(S33, first, lanes, s2Re * s1Re + s2Im * s1Im);
        storeLanes(S34, first, lanes, conjugated ? s2Re * s1Im - s2Im * s1Re : s2Im * s1Re - s2Re * s1Im);
    }
};

// (I1 + I2) * scale.
struct ScaledSumProjection {
    double* out;
    double scale;
    template <typename V>
    [[gnu::always_inline]] void operator()(int first, int lanes, V s1Re, V s1Im, V s2Re, V s2Im) const {
        storeLanes(out, first, lanes, ((s1Re * s1Re + s1Im * s1Im) + (s2Re * s2Re + s2Im * s2Im)) * scale);
    }
};

template <typename V>
[[gnu::always_inline]] inline void angularOn(const CoefficientView& c, const AngleSource& angles, int count,
                                             const AngularOutput& o) {
    if (count <= 0) return;
    switch (o.kind) {
        case AngularOutput::intensities:
            return evaluateAngles<V>(c, angles, count, IntensityProjection{o.out[0], o.out[1]});
        case AngularOutput::amplitudes:
            return evaluateAngles<V>(c, angles, count, AmplitudeProjection{o.out[0], o.out[1], o.out[2], o.out[3]});
        case AngularOutput::mueller:
            return evaluateAngles<V>(c, angles, count,
                                     MuellerProjection{o.out[0], o.out[1], o.out[2], o.out[3], o.conjugated});
        case AngularOutput::scaledSum:
            return evaluateAngles<V>(c, angles, count, ScaledSumProjection{o.out[0], o.scale});
    }
}

void angularPortable(const CoefficientView& c, const AngleSource& angles, int count, const AngularOutput& o) {
    angularOn<Lanes2>(c, angles, count, o);
}

COATEDMIE_TARGET_AVX2 void angularAvx2(const CoefficientView& c, const AngleSource& angles, int count,
                                       const AngularOutput& o) {
    angularOn<Lanes4>(c, angles, count, o);
}

COATEDMIE_TARGET_AVX512 void angularAvx512(const CoefficientView& c, const AngleSource& angles, int count,
                                           const AngularOutput& o) {
    angularOn<Lanes8>(c, angles, count, o);
}

}  // namespace

const AngularKernel kAngularKernels[kPathCount] = {angularPortable, angularAvx2, angularAvx512};

}  // namespace coatedmie
