// Series coefficients a_n, b_n of the coated sphere and its efficiencies.
//
// The coefficients are formed from ratios only: the logarithmic derivatives of
// the tables, the ratio psi_n(y)/xi_n(y), and the ratio
// psi_n(m2 x) xi_n(m2 y) / (psi_n(m2 y) xi_n(m2 x)) across the shell. No
// Riccati function is formed itself, so nothing overflows at large orders,
// large sizes or strong absorption. xi_n is the Riccati function with
// xi_0(z) = sin z - i s cos z, s the sign convention of the imaginary parts.
// The coefficient formulas are those of the two-layer sphere of Aden and
// Kerker (J. Appl. Phys. 22, 1242, 1951), in the ratio form of Toon and
// Ackerman (Appl. Opt. 20, 3657, 1981).
//
// Speed. Of the roughly thirty divisions per order only a few chain from one
// order to the next: those that carry the logarithmic derivatives of xi,
// psi_n/xi_n and the ratio across the shell. The others (n/y, n/(m y), the
// quotient that moves the shell ratio up an order, the two that form a_n and
// b_n) are independent across orders. So each block of orders runs in
// passes: the quotients n/y and n/(m y) for the whole block side by side, the
// chains in one scalar pass, the shell ratio's factors side by side, its
// product chain, and a_n and b_n side by side. Every value is formed by the
// same operations on the same operands as in a single loop over the orders,
// each rounded by itself, so every bit is the same.
#include <cmath>
#include <utility>

#include <coatedmie/engine.h>

#include "complex_kernel.h"
#include "lanes.h"
#include "library_square.h"
#include "log_derivative.h"
#include "small_particle.h"
#include "start_values.h"
#include "tables.h"
#include "kernels.h"

namespace coatedmie {

namespace {

// Relative absorption below this is rounding residue of Kext - Ksca.
constexpr double kAbsorptionCutoff = 1e-10;

// A ratio psi_n/psi_{n-1} of y smaller than this times n/y has lost more than
// 16 bits to the subtraction that formed it: at most a few 1e-12 of error.
// Large particles pass near a zero of some psi_n often, so the bound is
// lower than that of the start values.
constexpr double kRatioCancellationBound = 0x1p-16;

// Orders per block: the block's working values (17 arrays) stay in the
// level-1 data cache.
constexpr int kOrderBlock = 96;

// What the passes of one block hand each other, index i holding order
// first + i.
struct OrderBlock {
    double orderOverY[kOrderBlock];
    double orderOverM2yRe[kOrderBlock], orderOverM2yIm[kOrderBlock];
    double orderOverM2xRe[kOrderBlock], orderOverM2xIm[kOrderBlock];
    double psiOverXiRe[kOrderBlock], psiOverXiIm[kOrderBlock];
    double dXiYRe[kOrderBlock], dXiYIm[kOrderBlock];
    double dXiM2yRe[kOrderBlock], dXiM2yIm[kOrderBlock];
    double dXiM2xRe[kOrderBlock], dXiM2xIm[kOrderBlock];
    double shellRatioRe[kOrderBlock], shellRatioIm[kOrderBlock];
};

// 1/(n/z - D) - n/z from n/z (the upward step of a logarithmic derivative).
inline ComplexResult upwardStep(double orderOverZRe, double orderOverZIm, const ComplexResult& d) {
    const ComplexResult reciprocal = complexQuotient(1.0, 0.0, orderOverZRe - d.re, orderOverZIm - d.im);
    return {reciprocal.re - orderOverZRe, reciprocal.im - orderOverZIm};
}

void keepBlock(const SeriesValues& k, int first, int count, const LogDerivativeTables& D, const OrderBlock& b) {
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        k.dY[n] = D.Dy[n + 1];
        k.dM2yRe[n] = D.Dm2yRe[n + 1], k.dM2yIm[n] = D.Dm2yIm[n + 1];
        k.dM2xRe[n] = D.Dm2xRe[n + 1], k.dM2xIm[n] = D.Dm2xIm[n + 1];
        k.dM1xRe[n] = D.Dm1xRe[n + 1], k.dM1xIm[n] = D.Dm1xIm[n + 1];
        k.dXiYRe[n] = b.dXiYRe[i], k.dXiYIm[n] = b.dXiYIm[i];
        k.dXiM2yRe[n] = b.dXiM2yRe[i], k.dXiM2yIm[n] = b.dXiM2yIm[i];
        k.dXiM2xRe[n] = b.dXiM2xRe[i], k.dXiM2xIm[n] = b.dXiM2xIm[i];
        k.psiOverXiRe[n] = b.psiOverXiRe[i], k.psiOverXiIm[n] = b.psiOverXiIm[i];
        k.shellRatioRe[n] = b.shellRatioRe[i], k.shellRatioIm[n] = b.shellRatioIm[i];
    }
}

template <typename V>
[[gnu::always_inline]] inline void runBlock(const SeriesArguments& a, int first, int count,
                                            const LogDerivativeTables& D, const CoefficientArrays& c,
                                            Recurrences& r, OrderBlock& b) {
    inLanes<V>(count, [&](auto tag, int i) __attribute__((always_inline)) {
        using W = typename decltype(tag)::Lanes;
        const W order = orders<W>(first + i);
        store<W>(b.orderOverY + i, order / a.y);
        storeComplex<W>(b.orderOverM2yRe + i, b.orderOverM2yIm + i, orderOver<W>(order, a.m2y));
        storeComplex<W>(b.orderOverM2xRe + i, b.orderOverM2xIm + i, orderOver<W>(order, a.m2x));
    });

    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        const double t = b.orderOverY[i];
        if (n >= 2) {
            // psi_n/xi_n = (D_{n-1}(y) - n/y) / (dxi_{n-1}(y) - n/y) * psi_{n-1}/xi_{n-1}
            const ComplexResult ratio =
                complexQuotient(r.psiOverXi.re, r.psiOverXi.im, r.dXiY.re - t, r.dXiY.im);
            double factor = D.Dy[n] - t;
            // -psi_n/psi_{n-1}: near a zero of psi_n(y) the difference keeps
            // only the bits of D_{n-1}(y) above those of n/y, while the next
            // order divides by the full reciprocal 1/(n/y + D_n(y)) the table
            // formed D_{n-1} from. Taken as that reciprocal, both orders share
            // its rounding.
            if (std::fabs(factor) < kRatioCancellationBound * t) [[unlikely]] {
                factor = -1.0 / (t + D.Dy[n + 1]);
                r.ratioFromTable = true;
            }
            r.psiOverXi = {factor * ratio.re, factor * ratio.im};
        }
        const ComplexResult reciprocal = complexQuotient(1.0, 0.0, t - r.dXiY.re, -r.dXiY.im);
        r.dXiY = {reciprocal.re - t, reciprocal.im};
        r.dXiM2y = upwardStep(b.orderOverM2yRe[i], b.orderOverM2yIm[i], r.dXiM2y);
        r.dXiM2x = upwardStep(b.orderOverM2xRe[i], b.orderOverM2xIm[i], r.dXiM2x);
        b.psiOverXiRe[i] = r.psiOverXi.re;
        b.psiOverXiIm[i] = r.psiOverXi.im;
        b.dXiYRe[i] = r.dXiY.re;
        b.dXiYIm[i] = r.dXiY.im;
        b.dXiM2yRe[i] = r.dXiM2y.re;
        b.dXiM2yIm[i] = r.dXiM2y.im;
        b.dXiM2xRe[i] = r.dXiM2x.re;
        b.dXiM2xIm[i] = r.dXiM2x.im;
    }

    // f_{n-1}/f_n = f_n'/f_n + n/z carries the shell ratio up one order:
    // first the factors (n/m2y + D_n(m2y))(n/m2x + dxi_n(m2x)) /
    // ((n/m2x + D_n(m2x))(n/m2y + dxi_n(m2y))), then their running product.
    inLanes<V>(count, [&](auto tag, int i) __attribute__((always_inline)) {
        using W = typename decltype(tag)::Lanes;
        const int n = first + i;
        const ComplexLanes<W> orderOverM2y = loadComplex<W>(b.orderOverM2yRe + i, b.orderOverM2yIm + i);
        const ComplexLanes<W> orderOverM2x = loadComplex<W>(b.orderOverM2xRe + i, b.orderOverM2xIm + i);
        const ComplexLanes<W> dM2y = loadComplex<W>(D.Dm2yRe + n + 1, D.Dm2yIm + n + 1);
        const ComplexLanes<W> dM2x = loadComplex<W>(D.Dm2xRe + n + 1, D.Dm2xIm + n + 1);
        const ComplexLanes<W> dXiM2y = loadComplex<W>(b.dXiM2yRe + i, b.dXiM2yIm + i);
        const ComplexLanes<W> dXiM2x = loadComplex<W>(b.dXiM2xRe + i, b.dXiM2xIm + i);
        const ComplexLanes<W> p1 = product(sum(orderOverM2y, dM2y), sum(orderOverM2x, dXiM2x));
        const ComplexLanes<W> p2 = product(sum(orderOverM2x, dM2x), sum(orderOverM2y, dXiM2y));
        storeComplex<W>(b.shellRatioRe + i, b.shellRatioIm + i, quotient(p1, p2));
    });
    for (int i = 0; i < count; ++i) {
        r.shellRatio = complexProduct(r.shellRatio.re, r.shellRatio.im, b.shellRatioRe[i], b.shellRatioIm[i]);
        b.shellRatioRe[i] = r.shellRatio.re;
        b.shellRatioIm[i] = r.shellRatio.im;
    }

    // a_n = psi_n/xi_n (U1 V1 - G V2)/(U1 V3 - G V4), G = shell ratio * U2, and
    // b_n alike with W and Z: each of the twelve a difference of two products
    // of an index (or 1) with a logarithmic derivative.
    inLanes<V>(count, [&](auto tag, int i) __attribute__((always_inline)) {
        using W = typename decltype(tag)::Lanes;
        const int n = first + i;
        const ComplexLanes<W> one = splatComplex<W>(1.0, 0.0);
        const ComplexLanes<W> m1 = splatComplex<W>(a.m1.re, a.m1.im);
        const ComplexLanes<W> m2 = splatComplex<W>(a.m2.re, a.m2.im);
        const ComplexLanes<W> dM2y = loadComplex<W>(D.Dm2yRe + n + 1, D.Dm2yIm + n + 1);
        const ComplexLanes<W> dM2x = loadComplex<W>(D.Dm2xRe + n + 1, D.Dm2xIm + n + 1);
        const ComplexLanes<W> dM1x = loadComplex<W>(D.Dm1xRe + n + 1, D.Dm1xIm + n + 1);
        const ComplexLanes<W> dY{load<W>(D.Dy + n + 1), splat<W>(0.0)};
        const ComplexLanes<W> dXiY = loadComplex<W>(b.dXiYRe + i, b.dXiYIm + i);
        const ComplexLanes<W> dXiM2y = loadComplex<W>(b.dXiM2yRe + i, b.dXiM2yIm + i);
        const ComplexLanes<W> dXiM2x = loadComplex<W>(b.dXiM2xRe + i, b.dXiM2xIm + i);
        const ComplexLanes<W> shellRatio = loadComplex<W>(b.shellRatioRe + i, b.shellRatioIm + i);
        const ComplexLanes<W> psiOverXi = loadComplex<W>(b.psiOverXiRe + i, b.psiOverXiIm + i);

        const ComplexLanes<W> u1 = crossDifference(m1, dXiM2x, m2, dM1x);
        const ComplexLanes<W> u2 = crossDifference(m1, dM2x, m2, dM1x);
        const ComplexLanes<W> v1 = crossDifference(one, dM2y, m2, dY);
        const ComplexLanes<W> v2 = crossDifference(one, dXiM2y, m2, dY);
        const ComplexLanes<W> v3 = crossDifference(one, dM2y, m2, dXiY);
        const ComplexLanes<W> v4 = crossDifference(one, dXiM2y, m2, dXiY);
        const ComplexLanes<W> w1 = crossDifference(m2, dXiM2x, m1, dM1x);
        const ComplexLanes<W> w2 = crossDifference(m2, dM2x, m1, dM1x);
        const ComplexLanes<W> z1 = crossDifference(m2, dM2y, one, dY);
        const ComplexLanes<W> z2 = crossDifference(m2, dXiM2y, one, dY);
        const ComplexLanes<W> z3 = crossDifference(m2, dM2y, one, dXiY);
        const ComplexLanes<W> z4 = crossDifference(m2, dXiM2y, one, dXiY);
        const ComplexLanes<W> g = product(shellRatio, u2);
        const ComplexLanes<W> h = product(shellRatio, w2);
        const ComplexLanes<W> an =
            product(psiOverXi, quotient(crossDifference(u1, v1, g, v2), crossDifference(u1, v3, g, v4)));
        const ComplexLanes<W> bn =
            product(psiOverXi, quotient(crossDifference(w1, z1, h, z2), crossDifference(w1, z3, h, z4)));
        storeComplex<W>(c.aRe + n, c.aIm + n, an);
        storeComplex<W>(c.bRe + n, c.bIm + n, bn);
    });
    if (a.keep != nullptr) keepBlock(*a.keep, first, count, D, b);
}

template <typename V>
[[gnu::always_inline]] inline void runOrders(const SeriesArguments& a, int termCount,
                                             const LogDerivativeTables& D, const CoefficientArrays& c,
                                             Recurrences& r) {
    OrderBlock block;
    for (int first = 1; first <= termCount; first += kOrderBlock) {
        const int count = termCount - first + 1 < kOrderBlock ? termCount - first + 1 : kOrderBlock;
        runBlock<V>(a, first, count, D, c, r, block);
    }
}

// The squares of a vector of orders side by side, the sums in the order of
// the orders, so that the result does not depend on the width.
template <typename V>
[[gnu::always_inline]] inline EfficiencySums sumOrders(const CoefficientView& c) {
    EfficiencySums sums{0.0, 0.0};
    inLanes<V>(c.termCount, [&](auto tag, int i) __attribute__((always_inline)) {
        using W = typename decltype(tag)::Lanes;
        const int n = 1 + i;
        double squares[kLaneCount<W>];
        if constexpr (kLaneCount<W> == 1) {
            squares[0] = ((librarySquare(c.aRe[n]) + librarySquare(c.aIm[n])) + librarySquare(c.bRe[n])) +
                         librarySquare(c.bIm[n]);
        } else {
            const W s = ((librarySquares(load<W>(c.aRe + n)) + librarySquares(load<W>(c.aIm + n))) +
                         librarySquares(load<W>(c.bRe + n))) +
                        librarySquares(load<W>(c.bIm + n));
            store<W>(squares, s);
        }
        for (int lane = 0; lane < kLaneCount<W>; ++lane) {
            const double f = 2.0 * (n + lane) + 1.0;
            sums.ext = (c.aRe[n + lane] + c.bRe[n + lane]) * f + sums.ext;
            sums.sca = squares[lane] * f + sums.sca;
        }
    });
    return sums;
}

void seriesPortable(const SeriesArguments& a, int termCount, const LogDerivativeTables& D,
                    const CoefficientArrays& c, Recurrences& r) {
    runOrders<Lanes2>(a, termCount, D, c, r);
}

COATEDMIE_TARGET_AVX2 void seriesAvx2(const SeriesArguments& a, int termCount, const LogDerivativeTables& D,
                                      const CoefficientArrays& c, Recurrences& r) {
    runOrders<Lanes4>(a, termCount, D, c, r);
}

EfficiencySums sumsPortable(const CoefficientView& c) { return sumOrders<Lanes2>(c); }
COATEDMIE_TARGET_AVX2 EfficiencySums sumsAvx2(const CoefficientView& c) { return sumOrders<Lanes4>(c); }

}  // namespace

// The AVX-512 path runs the series and its sums at the width of AVX2: their
// work chains from order to order, and eight lanes measured slower than four.
const SeriesOrdersKernel kSeriesOrdersKernels[kPathCount] = {seriesPortable, seriesAvx2, seriesAvx2};
const SumOrdersKernel kSumOrdersKernels[kPathCount] = {sumsPortable, sumsAvx2, sumsAvx2};

Scatterer normalise(const Layer& first, const Layer& second) {
    const bool swapped = first.size < second.size;
    const Layer& shell = swapped ? second : first;
    const Layer& core = swapped ? first : second;
    Scatterer s{shell.size, core.size, shell.index.re, shell.index.im, core.index.re, core.index.im, +1};
    if (s.m2Im < 0.0 || s.m1Im < 0.0) {
        s.m2Im = -std::fabs(s.m2Im);
        s.m1Im = -std::fabs(s.m1Im);
        s.signConvention = -1;
    } else {
        s.m2Im = std::fabs(s.m2Im);
        s.m1Im = std::fabs(s.m1Im);
    }
    return s;
}

namespace {

// A shell of index exactly 1 + 0i is the medium itself, and the particle is
// its core. The coated form still gives the core's coefficients, as the
// difference of two terms one of which is D_n(y) from the complex table minus
// D_n(y) from the real one: zero but for rounding. Relative to the core's
// part, psi_n(x)/xi_n(x) over psi_n(y)/xi_n(y) in size (about (x/y)^3 at
// order 1), that rounding weighs 1e-16 over this ratio, and more where the
// core absorbs weakly; so below the bound the core is computed as the sphere
// it is. Measured against arbitrary precision, the coated form leaves errors
// of 1e-8 at a ratio of 1e-3 (a core of a tenth of the outer size), 3e-9 at
// 8e-3 and 2e-10 at 3e-2, the level of any particle of outer size 0.1.
constexpr double kBareCoreBound = 0x1p-5;

bool shellIsMediumAroundSmallCore(const Scatterer& s) {
    // (The small-particle path carries the core's part without this loss.)
    if (!(s.m2Re == 1.0 && s.m2Im == 0.0 && s.x < s.y && s.y >= kSmallParticleLimit)) return false;
    // psi_1/xi_1 at a real argument z: psi_1 = sin z / z - cos z, and
    // |xi_1|^2 = psi_1^2 + chi_1^2 = 1 + 1/z^2.
    const auto ratio = [](double z) {
        const double psi = z < 1e-3 ? z * z / 3.0 : std::sin(z) / z - std::cos(z);
        return std::fabs(psi) / std::sqrt(1.0 + 1.0 / (z * z));
    };
    return ratio(s.x) < kBareCoreBound * ratio(s.y);
}

}  // namespace

double losslessRealPart(double re, double im) {
    if (!(re < 0.25)) return re;
    const double imSquare = im * im;
    return imSquare / (0.5 + std::sqrt(0.25 - imSquare));
}

namespace {

// The point of the circle |a - 1/2| = 1/2 that a lossless coefficient must lie
// on: low on it the real part from the imaginary one (losslessRealPart),
// elsewhere the computed value moved along its radius, which drops the part
// of the rounding that would show as absorption of either sign.
void putOnLosslessCircle(double& re, double& im) {
    if (re < 0.25) {
        re = losslessRealPart(re, im);
        return;
    }
    const double scale = 0.5 / std::sqrt((re - 0.5) * (re - 0.5) + im * im);
    re = 0.5 + (re - 0.5) * scale;
    im = im * scale;
}

// Re a_n keeps an absolute accuracy of a few 1e-16 |a_n|, which a weak
// scatterer's Re a_n (of order |a_n|^2 plus its absorption) does not
// dwarf: the bound, in units of Kext, on what that leaves in Kext - Ksca.
double realPartRounding(const CoefficientView& c, double normSquare) {
    double magnitude = 0.0;
    for (int n = 1; n <= c.termCount; ++n) {
        const double f = 2.0 * n + 1.0;
        magnitude += (std::fabs(c.aRe[n]) + std::fabs(c.aIm[n]) + std::fabs(c.bRe[n]) + std::fabs(c.bIm[n])) * f;
    }
    return 0x1p-50 * (magnitude + magnitude) / normSquare;
}

}  // namespace

bool computeSeries(const Kernels& kernels, const Scatterer& s, int termCount, const LogDerivativeTables& D,
                   const CoefficientArrays& coefficients, unsigned& safeguards, const SeriesValues* keep) {
    if (shellIsMediumAroundSmallCore(s)) {
        const Scatterer core{s.x, s.x, s.m1Re, s.m1Im, s.m1Re, s.m1Im, s.signConvention};
        const int coreTerms = termCountFor(s.x);
        if (!computeSeries(kernels, core, coreTerms, D, coefficients, safeguards, keep)) return false;
        for (int n = coreTerms + 1; n <= termCount; ++n) {
            coefficients.aRe[n] = coefficients.aIm[n] = coefficients.bRe[n] = coefficients.bIm[n] = 0.0;
        }
        safeguards |= kBareCore;
        return true;
    }
    const double y = s.y;
    const double x = s.x;
    const int sign = s.signConvention;
    const double ySquare = librarySquare(y);
    const ComplexResult m2y{s.m2Re * y, s.m2Im * y};
    const ComplexResult m2x{s.m2Re * x, s.m2Im * x};
    const ComplexResult m1x{s.m1Re * x, s.m1Im * x};
    bool movedOffZero = false;
    if (!kernels.fillTables(termCount, {m2y, m2x, m1x, y}, D, movedOffZero)) return false;
    if (movedOffZero) safeguards |= kZeroAvoided;
    if (y < kSmallParticleLimit) {
        if (y >= kLiteralSmallParticleLimit) safeguards |= kSmallParticleForm;
        smallParticleCoefficients(s, termCount, D, coefficients, safeguards, keep);
        return true;
    }

    ComplexResult psiOverXi = psiOverXiStartValue(y, ySquare, sign);
    if (psiOverXiStartFromTable(y, ySquare, sign, D.Dy[2], psiOverXi)) safeguards |= kStartFromTables;
    const ComplexResult atM2x = shellStartFactorOrTable(shellStartFactor(m2x.re, m2x.im, sign), m2x.re, m2x.im,
                                                        sign, D.Dm2xRe[1], D.Dm2xIm[1], safeguards);
    const ComplexResult atM2y = shellStartFactorOrTable(shellStartFactor(m2y.re, m2y.im, sign), m2y.re, m2y.im,
                                                        sign, D.Dm2yRe[1], D.Dm2yIm[1], safeguards);
    const double orderZeroXi = static_cast<double>(sign);  // xi_0'/xi_0 = i s
    Recurrences r{psiOverXi,
                  {0.0, orderZeroXi},
                  {0.0, orderZeroXi},
                  {0.0, orderZeroXi},
                  shellRatioFromFactors(atM2x, atM2y, m2x.im, m2y.im, sign),
                  false};
    kernels.seriesOrders({y, m2y, m2x, {s.m1Re, s.m1Im}, {s.m2Re, s.m2Im}, keep}, termCount, D, coefficients, r);
    if (r.ratioFromTable) safeguards |= kStartFromTables;
    return true;
}

double computeEfficiencies(const Kernels& kernels, const Scatterer& s, int termCount,
                           const CoefficientArrays& coefficients, EfficiencyRecord& efficiencies,
                           unsigned& safeguards) {
    const CoefficientView c{termCount, coefficients.aRe, coefficients.aIm, coefficients.bRe, coefficients.bIm};
    // A shell of index exactly 1 + 0i is no shell: refer the efficiencies to
    // the core's cross-section.
    const bool vacuumShell = s.m2Re == 1.0 && s.m2Im == 0.0;
    const double normSquare = vacuumShell ? librarySquare(s.x) : librarySquare(s.y);
    for (;;) {
        const EfficiencySums sums = kernels.sumOrders(c);
        const double sumExt = sums.ext;
        const double sumSca = sums.sca;
        efficiencies.Kext = (sumExt + sumExt) / normSquare;
        efficiencies.Ksca = (sumSca + sumSca) / normSquare;
        efficiencies.Kabs = efficiencies.Kext - efficiencies.Ksca;
        // The negated test also clears a ratio that is not a number (0/0).
        if (!(std::fabs(efficiencies.Kabs / efficiencies.Kext) >= kAbsorptionCutoff)) {
            efficiencies.Kabs = 0.0;
            return normSquare;
        }
        if (!isLossless(s)) {
            if (efficiencies.Kabs < 0.0 && -efficiencies.Kabs <= realPartRounding(c, normSquare)) {
                efficiencies.Kabs = 0.0;
                safeguards |= kAbsorptionUnresolved;
            }
            return normSquare;
        }
        if ((safeguards & kLosslessRealParts) != 0) return normSquare;
        for (int n = 1; n <= termCount; ++n) {
            putOnLosslessCircle(coefficients.aRe[n], coefficients.aIm[n]);
            putOnLosslessCircle(coefficients.bRe[n], coefficients.bIm[n]);
        }
        safeguards |= kLosslessRealParts;
    }
}

}  // namespace coatedmie
