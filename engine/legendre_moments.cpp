// Legendre moments chi_l of the phase function,
//   p(mu) = sum_l (2l + 1) chi_l P_l(mu),   chi_l = 1/2 int_{-1}^{1} p(mu) P_l(mu) dmu,
// so chi_0 = 1 and chi_1 = g. With N series terms S1 and S2 are polynomials
// of degree N in mu = cos(theta), p one of degree 2N, and p P_l one of degree
// 2N + l: a Gauss-Legendre rule of K nodes integrates it exactly when
// 2K - 1 >= 2N + l. So the first L moments take K = N + ceil(L/2) + 1 nodes;
// the amplitude sums at each (N K / 2 orders, the nodes paired as +mu and
// -mu); and P_l at each node for l < L (K L / 2 steps). Every moment beyond 2N
// is exactly 0.
//
// Conditioning. A large sphere's forward peak is about 1/y wide in theta but
// 1/y^2 in mu, and a double holds mu near 1 only to an absolute 1e-16: p
// evaluated through mu would carry relative errors of y^2 * 1e-16 there (1e-8
// at y = 10^4). So everything here runs on s = sin^2(theta/2) = (1 - mu)/2,
// which a double holds to its relative precision, over the half of the nodes
// with mu >= 0, the other half by symmetry: the nodes by Newton's method in
// theta, and the recurrences of pi_n, tau_n and P_l rewritten in s so that mu
// itself is never formed. Near mu = 1 the plain recurrences also gather
// rounding from step to step (1e-11 relative by n = 10^4), where their values
// approach P_l(1) = 1 and pi_n(1) = n(n+1)/2: so they carry the normalised
// value and its increment from the previous order, which vanishes at mu = 1
// and holds all the rounding. The moments then come out to about 1e-14
// absolute.
#include <cmath>

#include <coatedmie/engine.h>

#include "lanes.h"
#include "tables.h"
#include "kernels.h"

namespace coatedmie {

namespace {

constexpr double kPi = 3.141592653589793;

// Nodes evaluated side by side in one block of the amplitude sums.
constexpr int kNodeBlock = 64;

QuadratureLayout layoutOf(double* storage, int nodes) {
    QuadratureLayout q;
    q.nodes = nodes;
    q.paired = nodes / 2 + nodes % 2;
    const int rows = nodes + 2;
    q.up = storage;
    q.back = q.up + rows;
    q.s = q.back + rows;
    q.weight = q.s + q.paired;
    q.even = q.weight + q.paired;
    q.odd = q.even + q.paired;
    q.previous = q.odd + q.paired;
    q.current = q.previous + q.paired;
    return q;
}

// P_j at mu = 1 - 2s with its increment e_j = P_j - P_{j-1}: from
// P_j = (2j - 1)/j mu P_{j-1} - (j - 1)/j P_{j-2},
//   e_j = back_j e_{j-1} - 2s up_j P_{j-1},   up_j = (2j - 1)/j, back_j = (j - 1)/j,
// exact at s = 0, where every e_j is 0 and every P_j is 1. Returns P_order,
// with its increment.
template <typename V>
[[gnu::always_inline]] inline V legendreAt(int order, const QuadratureLayout& q, V s, V& increment) {
    V p = 1.0 - 2.0 * s;
    V e = -2.0 * s;
    const V twoS = 2.0 * s;
    for (int j = 2; j <= order; ++j) {
        e = q.back[j] * e - twoS * (q.up[j] * p);
        p = p + e;
    }
    increment = e;
    return p;
}

// The K-point rule on the paired nodes: s and the weights. Newton's method
// on P_K(cos theta) in theta from Tricomi's approximation of the roots. With
// P_{K-1} - mu P_K = 2s P_K - e_K and P_K' = K (P_{K-1} - mu P_K) / sin^2(theta),
// the step is -P_K sin(theta) / (K (P_{K-1} - mu P_K)) and the weight
// 2 sin^2(theta) / (K^2 (P_{K-1} - mu P_K)^2).
template <typename V>
[[gnu::always_inline]] inline void gaussLegendre(const QuadratureLayout& q) {
    const int half = q.nodes / 2;
    const double n = q.nodes;
    inLanes<V>(half, [&](auto tag, int i) __attribute__((always_inline)) {
        using W = typename decltype(tag)::Lanes;
        W theta;
        for (int lane = 0; lane < kLaneCount<W>; ++lane) {
            const double k = i + lane + 1.0;
            const double x =
                (1.0 - 1.0 / (8.0 * n * n) + 1.0 / (8.0 * n * n * n)) * std::cos((4.0 * k - 1.0) * kPi / (4.0 * n + 2.0));
            if constexpr (kLaneCount<W> == 1) {
                theta = std::acos(x);
            } else {
                theta[lane] = std::acos(x);
            }
        }
        W s, sinTheta, last, gap;
        auto evaluate = [&]() __attribute__((always_inline)) {
            W halfSine, sine;
            if constexpr (kLaneCount<W> == 1) {
                halfSine = std::sin(0.5 * theta);
                sine = std::sin(theta);
            } else {
                for (int lane = 0; lane < kLaneCount<W>; ++lane) {
                    halfSine[lane] = std::sin(0.5 * theta[lane]);
                    sine[lane] = std::sin(theta[lane]);
                }
            }
            s = halfSine * halfSine;
            sinTheta = sine;
            W increment;
            last = legendreAt<W>(q.nodes, q, s, increment);
            gap = (2.0 * s) * last - increment;
        };
        // Each node stops on its own step, so that it takes the same steps
        // whatever nodes share its vector.
        bool done[kLaneCount<W>] = {};
        for (int iteration = 0; iteration < 10; ++iteration) {
            evaluate();
            const W step = -(last * sinTheta) / (n * gap);
            bool all = true;
            for (int lane = 0; lane < kLaneCount<W>; ++lane) {
                if (done[lane]) continue;
                if constexpr (kLaneCount<W> == 1) {
                    theta = theta - step;
                    done[lane] = std::fabs(step / theta) < 1e-15;
                } else {
                    theta[lane] = theta[lane] - step[lane];
                    done[lane] = std::fabs(step[lane] / theta[lane]) < 1e-15;
                }
                all = all && done[lane];
            }
            if (all) break;
        }
        evaluate();
        store<W>(q.s + i, s);
        store<W>(q.weight + i, 2.0 * (sinTheta * sinTheta) / ((n * n) * (gap * gap)));
    });
    if (q.nodes % 2 == 1) {
        // mu = 0, counted once: half its weight on each of +0 and -0. For odd
        // K, P_K(0) = 0 and P_K'(0) = K P_{K-1}(0) = -K e_K(0).
        double increment = 0.0;
        legendreAt<double>(q.nodes, q, 0.5, increment);
        q.s[half] = 0.5;
        q.weight[half] = 0.5 * (2.0 / ((n * increment) * (n * increment)));
    }
}

// The amplitude sums at the paired nodes, +mu and -mu at once, and from them
// even and odd. With pi_n = c_n r_n and tau_n = c_n t_n, c_n = n(n+1)/2 (so
// r_n = t_n = 1 at mu = 1), the recurrence of pi_n becomes, for the increment
// d_n = r_n - r_{n-1},
//   d_n = ((n - 2) d_{n-1} - 2s (2n - 1) r_{n-1}) / (n + 1),
// and tau_n = n mu pi_n - (n + 1) pi_{n-1} becomes
//   t_n = r_n + (n - 1) d_n - 2s n r_n,
// with r_1 = 1, d_1 = 0. The sums take w_n c_n = (2n + 1)/2. At -mu, pi_n
// changes sign with (-1)^(n-1) and tau_n with (-1)^n.
template <typename V>
[[gnu::always_inline]] inline void pairedPhaseFunction(const CoefficientView& c, double scale,
                                                       const QuadratureLayout& q) {
    constexpr int kWidth = kLaneCount<V>;
    constexpr int kVectors = kNodeBlock / kWidth;
    for (int first = 0; first < q.paired; first += kNodeBlock) {
        const int count = q.paired - first < kNodeBlock ? q.paired - first : kNodeBlock;
        const int vectors = (count + kWidth - 1) / kWidth;
        V twoS[kVectors], r[kVectors], d[kVectors];
        // Sums over the odd and the even orders: S(+mu) = odd + even, and
        // S(-mu) from the same terms with tau's sign flipped and (-1)^(n-1)
        // in front.
        V plus1Re[2][kVectors], plus1Im[2][kVectors], plus2Re[2][kVectors], plus2Im[2][kVectors];
        V minus1Re[2][kVectors], minus1Im[2][kVectors], minus2Re[2][kVectors], minus2Im[2][kVectors];
        for (int v = 0; v < vectors; ++v) {
            for (int lane = 0; lane < kWidth; ++lane) {
                const int k = first + v * kWidth + lane;
                twoS[v][lane] = k < q.paired ? 2.0 * q.s[k] : 0.0;
            }
            r[v] = splat<V>(1.0);
            d[v] = splat<V>(0.0);
            for (int parity = 0; parity < 2; ++parity) {
                plus1Re[parity][v] = plus1Im[parity][v] = plus2Re[parity][v] = plus2Im[parity][v] = splat<V>(0.0);
                minus1Re[parity][v] = minus1Im[parity][v] = minus2Re[parity][v] = minus2Im[parity][v] =
                    splat<V>(0.0);
            }
        }
        for (int n = 1; n <= c.termCount; ++n) {
            const double order = n;
            const double h = 0.5 * (2.0 * order + 1.0);
            const double aRe = h * c.aRe[n], aIm = h * c.aIm[n], bRe = h * c.bRe[n], bIm = h * c.bIm[n];
            const double keep = (order - 2.0) / (order + 1.0);
            const double push = (2.0 * order - 1.0) / (order + 1.0);
            const int parity = n % 2;
            for (int v = 0; v < vectors; ++v) {
                if (n >= 2) {
                    d[v] = keep * d[v] - twoS[v] * (push * r[v]);
                    r[v] = r[v] + d[v];
                }
                const V rn = r[v];
                const V tn = (rn + (order - 1.0) * d[v]) - twoS[v] * (order * rn);
                plus1Re[parity][v] += aRe * rn + bRe * tn;
                plus1Im[parity][v] += aIm * rn + bIm * tn;
                plus2Re[parity][v] += aRe * tn + bRe * rn;
                plus2Im[parity][v] += aIm * tn + bIm * rn;
                minus1Re[parity][v] += aRe * rn - bRe * tn;
                minus1Im[parity][v] += aIm * rn - bIm * tn;
                minus2Re[parity][v] += bRe * rn - aRe * tn;
                minus2Im[parity][v] += bIm * rn - aIm * tn;
            }
        }
        for (int v = 0; v < vectors; ++v) {
            // (-1)^(n-1) is +1 on odd orders, -1 on even ones.
            const V p1Re = plus1Re[1][v] + plus1Re[0][v], p1Im = plus1Im[1][v] + plus1Im[0][v];
            const V p2Re = plus2Re[1][v] + plus2Re[0][v], p2Im = plus2Im[1][v] + plus2Im[0][v];
            const V m1Re = minus1Re[1][v] - minus1Re[0][v], m1Im = minus1Im[1][v] - minus1Im[0][v];
            const V m2Re = minus2Re[1][v] - minus2Re[0][v], m2Im = minus2Im[1][v] - minus2Im[0][v];
            const V plus = ((p1Re * p1Re + p1Im * p1Im) + (p2Re * p2Re + p2Im * p2Im)) * scale;
            const V minus = ((m1Re * m1Re + m1Im * m1Im) + (m2Re * m2Re + m2Im * m2Im)) * scale;
            for (int lane = 0; lane < kWidth; ++lane) {
                const int k = first + v * kWidth + lane;
                if (k >= q.paired) break;
                q.even[k] = q.weight[k] * (plus[lane] + minus[lane]);
                q.odd[k] = q.weight[k] * (plus[lane] - minus[lane]);
            }
        }
    }
}

// sum_k u_k v_k over k < count in kPartialSums partial sums, sum j taking the
// k = j mod kPartialSums in order, then added pairwise: the same operations
// whatever the width of V (at most kPartialSums lanes).
constexpr int kPartialSums = 8;

template <typename V>
[[gnu::always_inline]] inline double nodeSum(const double* u, const double* v, int count) {
    constexpr int kWidth = kLaneCount<V>;
    static_assert(kPartialSums % kWidth == 0, "whole vectors per group of partial sums");
    V partial[kPartialSums / kWidth];
    for (V& p : partial) p = splat<V>(0.0);
    int k = 0;
    for (; k + kPartialSums <= count; k += kPartialSums) {
        for (int j = 0; j < kPartialSums / kWidth; ++j) {
            partial[j] += load<V>(u + k + j * kWidth) * load<V>(v + k + j * kWidth);
        }
    }
    double sums[kPartialSums];
    for (int j = 0; j < kPartialSums / kWidth; ++j) store<V>(sums + j * kWidth, partial[j]);
    for (int j = 0; k + j < count; ++j) sums[j] += u[k + j] * v[k + j];
    return ((sums[0] + sums[1]) + (sums[2] + sums[3])) + ((sums[4] + sums[5]) + (sums[6] + sums[7]));
}

// chi_l = 1/2 sum_k (l even ? even_k : odd_k) P_l(mu_k) over the paired
// nodes, P_l (in `current`) and its increment (in `previous`) as in
// legendreAt.
template <typename V>
[[gnu::always_inline]] inline void project(const QuadratureLayout& q, int moments, double* chi) {
    for (int k = 0; k < q.paired; ++k) {
        q.current[k] = 1.0;
        q.previous[k] = 0.0;
    }
    for (int l = 0; l < moments; ++l) {
        const double* weights = l % 2 == 0 ? q.even : q.odd;
        chi[l] = 0.5 * nodeSum<V>(weights, q.current, q.paired);
        // P_l -> P_{l+1}.
        const double up = q.up[l + 1];
        const double back = q.back[l + 1];
        inLanes<V>(q.paired, [&](auto tag, int k) __attribute__((always_inline)) {
            using W = typename decltype(tag)::Lanes;
            const W p = load<W>(q.current + k);
            const W e = back * load<W>(q.previous + k) - (2.0 * load<W>(q.s + k)) * (up * p);
            store<W>(q.previous + k, e);
            store<W>(q.current + k, p + e);
        });
    }
}

template <typename V>
[[gnu::always_inline]] inline void moments(const CoefficientView& c, double scale, int count, bool haveRule,
                                           const QuadratureLayout& q, double* chi) {
    if (!haveRule) {
        for (int j = 1; j <= q.nodes + 1; ++j) {
            q.up[j] = (2.0 * j - 1.0) / j;
            q.back[j] = (j - 1.0) / j;
        }
        gaussLegendre<V>(q);
    }
    pairedPhaseFunction<V>(c, scale, q);
    project<V>(q, count, chi);
}

void momentsPortable(const CoefficientView& c, double scale, int count, bool haveRule, const QuadratureLayout& q,
                     double* chi) {
    moments<Lanes2>(c, scale, count, haveRule, q, chi);
}

COATEDMIE_TARGET_AVX2 void momentsAvx2(const CoefficientView& c, double scale, int count, bool haveRule,
                                       const QuadratureLayout& q, double* chi) {
    moments<Lanes4>(c, scale, count, haveRule, q, chi);
}

COATEDMIE_TARGET_AVX512 void momentsAvx512(const CoefficientView& c, double scale, int count, bool haveRule,
                                           const QuadratureLayout& q, double* chi) {
    moments<Lanes8>(c, scale, count, haveRule, q, chi);
}

}  // namespace

const LegendreMomentsKernel kLegendreMomentsKernels[kPathCount] = {momentsPortable, momentsAvx2, momentsAvx512};

int quadratureNodesFor(int termCount, int moments) { return termCount + (moments + 1) / 2 + 1; }

std::size_t quadratureDoubles(int nodes) {
    const std::size_t rows = static_cast<std::size_t>(nodes) + 2;
    const std::size_t paired = static_cast<std::size_t>(nodes) / 2 + 1;
    return 2 * rows + 6 * paired;
}

void computeLegendreMoments(const Kernels& kernels, const CoefficientView& c, double phaseScale, int moments,
                            QuadratureStorage& storage, double* chi) {
    const int exact = 2 * c.termCount + 1;
    const int computed = moments < exact ? moments : exact;
    const int nodes = quadratureNodesFor(c.termCount, computed);
    kernels.legendreMoments(c, phaseScale, computed, storage.nodes == nodes, layoutOf(storage.storage, nodes), chi);
    storage.nodes = nodes;
    for (int l = computed; l < moments; ++l) chi[l] = 0.0;
}

}  // namespace coatedmie
