#include "log_derivative.h"

#include <cmath>

#include "lanes.h"
#include "kernels.h"

namespace coatedmie {

namespace {

// k/z + D_k = psi_{k-1}/psi_k is zero, or so small that its squared modulus
// underflows, where the rounded argument falls on a zero of psi_{k-1}; its
// reciprocal would be NaN and every lower order with it. D_k is then moved
// by a unit in the last place of k/z, well inside its own error: D_{k-1}
// becomes huge but finite. The table keeps the moved D_k, so that the
// per-order loop, which forms k/z + D_k again, meets the same small number
// and divides out what D_{k-1} carries.
[[gnu::noinline, gnu::cold]] double movedOffZero(double d, double orderOverZRe, double orderOverZIm) {
    const double scale = std::fmax(std::fabs(orderOverZRe), std::fabs(orderOverZIm));
    return d + std::ldexp(scale, -52);
}

// One downward step D_{k-1} = k/z - 1/(k/z + D_k) of a complex table, from
// k/z. `entry` holds D_k as stored, and is moved with it.
ComplexResult downwardStep(double orderOverZRe, double orderOverZIm, ComplexResult& d, double* entryRe,
                           double* entryIm, bool& moved) {
    double sumRe = orderOverZRe + d.re;
    double sumIm = orderOverZIm + d.im;
    if (sumRe * sumRe + sumIm * sumIm == 0.0) [[unlikely]] {
        if (std::fabs(orderOverZRe) >= std::fabs(orderOverZIm)) {
            d.re = *entryRe = movedOffZero(d.re, orderOverZRe, orderOverZIm);
        } else {
            d.im = *entryIm = movedOffZero(d.im, orderOverZRe, orderOverZIm);
        }
        sumRe = orderOverZRe + d.re;
        sumIm = orderOverZIm + d.im;
        moved = true;
    }
    const ComplexResult reciprocal = complexQuotient(1.0, 0.0, sumRe, sumIm);
    return {orderOverZRe - reciprocal.re, orderOverZIm - reciprocal.im};
}

// The same for the real table.
double downwardStep(double orderOverY, double& d, double* entry, bool& moved) {
    double sum = orderOverY + d;
    if (sum == 0.0) [[unlikely]] {
        d = *entry = movedOffZero(d, orderOverY, 0.0);
        sum = orderOverY + d;
        moved = true;
    }
    return orderOverY - 1.0 / sum;
}

// Orders per block of the downward fill.
constexpr int kOrderBlock = 128;

// k/z of one block of orders, index i holding order first + i.
struct OrderQuotients {
    double m2yRe[kOrderBlock], m2yIm[kOrderBlock];
    double m2xRe[kOrderBlock], m2xIm[kOrderBlock];
    double m1xRe[kOrderBlock], m1xIm[kOrderBlock];
    double y[kOrderBlock];
};

// The four recurrences run side by side: each step waits on the step before
// it through a division, and four independent chains keep the divider busy
// where one alone would leave it idle most of the time. The quotients k/z,
// which chain nothing, go first for a block of orders, side by side.
template <typename V>
[[gnu::always_inline]] inline void fillTables(const LogDerivativeTables& t, int termCount,
                                              const TableQuadruple& z, const TableQuadruple& start, bool& moved) {
    const int top = termCount + 1;
    t.Dm2yRe[top] = start.m2y.re;
    t.Dm2yIm[top] = start.m2y.im;
    t.Dm2xRe[top] = start.m2x.re;
    t.Dm2xIm[top] = start.m2x.im;
    t.Dm1xRe[top] = start.m1x.re;
    t.Dm1xIm[top] = start.m1x.im;
    t.Dy[top] = start.y;
    ComplexResult dM2y = start.m2y;
    ComplexResult dM2x = start.m2x;
    ComplexResult dM1x = start.m1x;
    double dY = start.y;
    OrderQuotients q;
    for (int last = termCount; last >= 1; last -= kOrderBlock) {
        const int first = last - kOrderBlock + 1 > 1 ? last - kOrderBlock + 1 : 1;
        inLanes<V>(last - first + 1, [&](auto tag, int i) __attribute__((always_inline)) {
            using W = typename decltype(tag)::Lanes;
            const W order = orders<W>(first + i);
            storeComplex<W>(q.m2yRe + i, q.m2yIm + i, orderOver<W>(order, z.m2y));
            storeComplex<W>(q.m2xRe + i, q.m2xIm + i, orderOver<W>(order, z.m2x));
            storeComplex<W>(q.m1xRe + i, q.m1xIm + i, orderOver<W>(order, z.m1x));
            store<W>(q.y + i, order / z.y);
        });
        for (int i = last - first; i >= 0; --i) {
            const int k = first + i;
            dM2y = downwardStep(q.m2yRe[i], q.m2yIm[i], dM2y, t.Dm2yRe + k + 1, t.Dm2yIm + k + 1, moved);
            dM2x = downwardStep(q.m2xRe[i], q.m2xIm[i], dM2x, t.Dm2xRe + k + 1, t.Dm2xIm + k + 1, moved);
            dM1x = downwardStep(q.m1xRe[i], q.m1xIm[i], dM1x, t.Dm1xRe + k + 1, t.Dm1xIm + k + 1, moved);
            dY = downwardStep(q.y[i], dY, t.Dy + k + 1, moved);
            t.Dm2yRe[k] = dM2y.re;
            t.Dm2yIm[k] = dM2y.im;
            t.Dm2xRe[k] = dM2x.re;
            t.Dm2xIm[k] = dM2x.im;
            t.Dm1xRe[k] = dM1x.re;
            t.Dm1xIm[k] = dM1x.im;
            t.Dy[k] = dY;
        }
    }
}

}  // namespace

int termCountFor(double outerSizeParameter) {
    const double y = outerSizeParameter;
    const double v = (std::pow(y, 0.34) * 7.5 + y) + 2.5;
    // Written so that NaN (from a negative y, whose power has no real value)
    // fails the test along with every count the tables cannot hold.
    if (!(v < static_cast<double>(kMaxTermCount + 1))) {
        return 0;
    }
    return static_cast<int>(v);
}

namespace {

// The factor that turns a_(k-1) into a_k: the terms alternate in sign and
// grow like 2m - 1, so each is the previous one scaled rather than a fresh
// division by z. The same for every argument.
double termFactor(int n, int k) {
    const double m = static_cast<double>(n) + static_cast<double>(k);
    return -(2.0 * m - 1.0) / (2.0 * m - 3.0);
}

// D_n(z) by Lentz's method (Appl. Opt. 15, 668, 1976) on the continued fraction
//   D_n(z) = -n/z + a_1 + 1/(a_2 + 1/(a_3 + ...)),  a_k = (-1)^(k+1) (2n+2k-1)/z,
// for the four tables at once, one in each lane of a vector (m2y, m2x, m1x,
// y), on every path. A lane that has ended keeps running, and its later
// values are never read. The stop test, |1 - |ratio|| < kLentzTolerance, is
// taken without a square root (lentzStops).
[[gnu::always_inline]] inline bool startTables(int n, const TableQuadruple& z, TableQuadruple& start) {
    using L = Lanes4;
    const ComplexLanes<L> arg{L{z.m2y.re, z.m2x.re, z.m1x.re, z.y}, L{z.m2y.im, z.m2x.im, z.m1x.im, 0.0}};
    const double p1 = 2.0 * n + 1.0;
    const double p2 = -2.0 * n - 3.0;
    const ComplexLanes<L> a1 = quotient(splatComplex<L>(p1, 0.0), arg);
    const ComplexLanes<L> a2 = quotient(splatComplex<L>(p2, 0.0), arg);
    const ComplexLanes<L> minusNOverZ = quotient(splatComplex<L>(static_cast<double>(-n), 0.0), arg);
    const ComplexLanes<L> one = splatComplex<L>(1.0, 0.0);
    ComplexLanes<L> product_{arg.re / p2 + a1.re, arg.im / p2 + a1.im};
    ComplexLanes<L> num{arg.re / p1 + a2.re, arg.im / p1 + a2.im};
    ComplexLanes<L> den = a2;
    ComplexLanes<L> term = a2;
    ComplexResult results[4] = {};
    bool ended[4] = {false, false, false, false};
    int running = 4;
    for (int k = 3; k - 2 <= kLentzPassLimit && running > 0; ++k) {
        const double factor = termFactor(n, k);
        term = {factor * term.re, factor * term.im};
        const ComplexLanes<L> nextNum = sum(term, quotient(one, num));
        const ComplexLanes<L> nextDen = sum(term, quotient(one, den));
        const ComplexLanes<L> ratio = quotient(nextNum, nextDen);
        const ComplexLanes<L> next = product(product_, ratio);
        const L r = ratio.re * ratio.re + ratio.im * ratio.im;
        const auto stop = lentzStops(r);
        if ((stop[0] | stop[1] | stop[2] | stop[3]) != 0) {
            for (int lane = 0; lane < 4; ++lane) {
                if (ended[lane] || stop[lane] == 0) continue;
                results[lane] = {next.re[lane] + minusNOverZ.re[lane], next.im[lane] + minusNOverZ.im[lane]};
                ended[lane] = true;
                --running;
            }
        }
        num = nextNum;
        den = nextDen;
        product_ = next;
    }
    if (running > 0) return false;
    start = {results[0], results[1], results[2], results[3].re};
    return true;
}

template <typename V>
[[gnu::always_inline]] inline bool fillOn(int termCount, const TableQuadruple& z, const LogDerivativeTables& tables,
                                          bool& moved) {
    // All four fractions end before any table is touched, so that one stopped
    // by the pass limit leaves every table as it was.
    TableQuadruple start;
    if (!startTables(termCount, z, start)) return false;
    fillTables<V>(tables, termCount, z, start, moved);
    return true;
}

bool fillPortable(int termCount, const TableQuadruple& z, const LogDerivativeTables& tables, bool& moved) {
    return fillOn<Lanes2>(termCount, z, tables, moved);
}

COATEDMIE_TARGET_AVX2 bool fillAvx2(int termCount, const TableQuadruple& z, const LogDerivativeTables& tables,
                                    bool& moved) {
    return fillOn<Lanes4>(termCount, z, tables, moved);
}

}  // namespace

// The AVX-512 path fills the tables at the width of AVX2, as it runs the
// series (coated_sphere.cpp).
const FillTablesKernel kFillTablesKernels[kPathCount] = {fillPortable, fillAvx2, fillAvx2};

}  // namespace coatedmie
