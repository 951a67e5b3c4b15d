// The coefficients of a small coated sphere from the ratios that carry its
// physics.
//
// The per-order loop works with logarithmic derivatives, D_n(z) ~ (n+1)/z and
// xi_n'/xi_n ~ -n/z for small z. What distinguishes the layers sits in their
// remainders, of size z, and several steps recover them by subtraction:
// D_{n-1}(y) - n/y in psi_n/xi_n, n/z + xi_n'/xi_n in the shell ratio, and
// m2 D_n(m2y) - D_n(y), m2 D_n(m2x) - m1 D_n(m1x), m2 xi_n'/xi_n(m2y) -
// xi_n'/xi_n(y) in b_n. Each keeps only an absolute accuracy of 1e-16 / z on
// a value of size z. Here the remainders are carried themselves,
//   R_n(z) = psi_{n+1}(z)/psi_n(z) = (n+1)/z - D_n(z)       ~ z/(2n+3),
//   Q_n(z) = xi_{n-1}(z)/xi_n(z)   = n/z + xi_n'(z)/xi_n(z) ~ z/(2n-1),
// R by the downward recurrence R_{n-1} = z/(2n+1 - z R_n), Q by the upward
// Q_{n+1} = z/(2n+1 - z Q_n) from Q_1 = xi_0/xi_1 = z/(1 - i s z). Neither
// subtracts quantities of similar size, and both ratios are the log-derivative
// recurrences of the tables and of the loop in another form, so they serve
// large arguments (a large index) as well.
#include "small_particle.h"

#include <cmath>

#include "complex_kernel.h"
#include "library_square.h"
#include "start_values.h"

namespace coatedmie {

namespace {

using namespace pair_arithmetic;

// y < 0.1 gives at most 6 terms (7.5 * 0.1^0.34 + 2.6 < 6.1).
constexpr int kMaxOrders = 6;
// R starts this many orders above the last one needed, from z/(2K + 3); an
// error there shrinks by |z|^2/(2n+1)^2 <= 1/(2n+1)^2 at every step down.
constexpr int kDownwardStartOffset = 10;

ComplexResult subtract(const ComplexResult& u, const ComplexResult& w) { return {u.re - w.re, u.im - w.im}; }

ComplexResult orderOver(double order, const ComplexResult& z) { return quotient({order, 0.0}, z); }

// Ratios of the Riccati functions at one argument, for orders 0..N.
struct RiccatiRatios {
    ComplexResult psiUp[kMaxOrders + 1];   // R_n = psi_{n+1}/psi_n, n = 0..N
    ComplexResult xiDown[kMaxOrders + 1];  // Q_n = xi_{n-1}/xi_n, n = 1..N
    ComplexResult D[kMaxOrders + 1];       // psi_n'/psi_n = (n+1)/z - R_n
    ComplexResult dXi[kMaxOrders + 1];     // xi_n'/xi_n = Q_n - n/z
};

// The ratios at the four arguments y, m2 y, m2 x, m1 x. tableRe/tableIm: the
// log-derivative table of each (entry k holds order k - 1), used where
// |z| > 1; there (n+1)/z - D_n subtracts nothing of much larger size, while
// the downward start would need more orders. The four recurrences run side
// by side: each is a chain of dependent divisions, and the processor
// overlaps independent chains.
void riccatiRatios(const ComplexResult (&z)[4], int termCount, int signConvention,
                   const double* const (&tableRe)[4], const double* const (&tableIm)[4], RiccatiRatios (&r)[4]) {
    const int start = termCount + kDownwardStartOffset;
    bool downward[4];
    ComplexResult ratio[4];
    for (int k = 0; k < 4; ++k) {
        downward[k] = z[k].re * z[k].re + z[k].im * z[k].im <= 1.0;
        ratio[k] = quotient(z[k], {2.0 * start + 3.0, 0.0});
    }
    for (int n = start; n >= 1; --n) {
        for (int k = 0; k < 4; ++k) {
            if (!downward[k]) continue;
            // R_{n-1} = z / (2n + 1 - z R_n)
            const ComplexResult zr = product(z[k], ratio[k]);
            ratio[k] = quotient(z[k], {(2.0 * n + 1.0) - zr.re, -zr.im});
            if (n - 1 <= termCount) {
                r[k].psiUp[n - 1] = ratio[k];
            }
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (downward[k]) continue;
        for (int n = 0; n <= termCount; ++n) {
            const double im = tableIm[k] != nullptr ? tableIm[k][n + 1] : 0.0;
            r[k].psiUp[n] = subtract(orderOver(n + 1.0, z[k]), {tableRe[k][n + 1], im});
        }
    }
    // xi_1 = xi_0 (1/z - i s), so Q_1 = z / (1 - i s z); with Im z of the
    // sign s the divisor is at least 1 in real part.
    const double s = static_cast<double>(signConvention);
    for (int k = 0; k < 4; ++k) r[k].xiDown[1] = quotient(z[k], {1.0 + s * z[k].im, -(s * z[k].re)});
    for (int n = 1; n < termCount; ++n) {
        for (int k = 0; k < 4; ++k) {
            const ComplexResult zq = product(z[k], r[k].xiDown[n]);
            r[k].xiDown[n + 1] = quotient(z[k], {(2.0 * n + 1.0) - zq.re, -zq.im});
        }
    }
    for (int k = 0; k < 4; ++k) {
        for (int n = 1; n <= termCount; ++n) {
            r[k].D[n] = subtract(orderOver(n + 1.0, z[k]), r[k].psiUp[n]);
            r[k].dXi[n] = subtract(r[k].xiDown[n], orderOver(static_cast<double>(n), z[k]));
        }
    }
}

}  // namespace

void smallParticleCoefficients(const Scatterer& sphere, int termCount,
                               const LogDerivativeTables& tables,
                               const CoefficientArrays& coefficients, unsigned& safeguards,
                               const SeriesValues* keep) {
    const int s = sphere.signConvention;
    const double y = sphere.y;
    const double x = sphere.x;
    const ComplexResult one{1.0, 0.0};
    const ComplexResult m2{sphere.m2Re, sphere.m2Im};
    const ComplexResult m1{sphere.m1Re, sphere.m1Im};
    const ComplexResult m2y{sphere.m2Re * y, sphere.m2Im * y};
    const ComplexResult m2x{sphere.m2Re * x, sphere.m2Im * x};
    const ComplexResult m1x{sphere.m1Re * x, sphere.m1Im * x};

    RiccatiRatios at[4];
    riccatiRatios({{y, 0.0}, m2y, m2x, m1x}, termCount, s, {tables.Dy, tables.Dm2yRe, tables.Dm2xRe, tables.Dm1xRe},
                  {nullptr, tables.Dm2yIm, tables.Dm2xIm, tables.Dm1xIm}, at);
    const RiccatiRatios& atY = at[0];
    const RiccatiRatios& atM2y = at[1];
    const RiccatiRatios& atM2x = at[2];
    const RiccatiRatios& atM1x = at[3];

    const double ySquare = librarySquare(y);
    ComplexResult psiOverXi = psiOverXiStartValue(y, ySquare, s);
    // Where an argument beyond 1 lies near k pi, the ratios below come from
    // its table: the start value must then come from there too.
    const ComplexResult startM2x = shellStartFactorOrTable(smallArgumentShellStartFactor(m2x.re, m2x.im, s), m2x.re,
                                                           m2x.im, s, tables.Dm2xRe[1], tables.Dm2xIm[1], safeguards);
    const ComplexResult startM2y = shellStartFactorOrTable(smallArgumentShellStartFactor(m2y.re, m2y.im, s), m2y.re,
                                                           m2y.im, s, tables.Dm2yRe[1], tables.Dm2yIm[1], safeguards);
    ComplexResult shellRatio = shellRatioFromFactors(startM2x, startM2y, m2x.im, m2y.im, s);
    const bool lossless = isLossless(sphere);

    for (int n = 1; n <= termCount; ++n) {
        if (n >= 2) {
            // psi_n/xi_n = psi_{n-1}/xi_{n-1} * (psi_n/psi_{n-1}) * (xi_{n-1}/xi_n)
            psiOverXi = product(psiOverXi, product(atY.psiUp[n - 1], atY.xiDown[n]));
        }
        // The ratio across the shell carried from order n - 1 to n.
        shellRatio = product(shellRatio, quotient(product(atM2x.psiUp[n - 1], atM2x.xiDown[n]),
                                                  product(atM2y.psiUp[n - 1], atM2y.xiDown[n])));

        const ComplexResult& dY = atY.D[n];
        const ComplexResult& dXiY = atY.dXi[n];
        const ComplexResult& dM2y = atM2y.D[n];
        const ComplexResult& dXiM2y = atM2y.dXi[n];
        const ComplexResult u1 = crossDifference(m1, atM2x.dXi[n], m2, atM1x.D[n]);
        const ComplexResult u2 = crossDifference(m1, atM2x.D[n], m2, atM1x.D[n]);
        const ComplexResult w1 = crossDifference(m2, atM2x.dXi[n], m1, atM1x.D[n]);
        // m2 D_n(m2x) - m1 D_n(m1x), m2 D_n(m2y) - D_n(y) and
        // m2 xi_n'/xi_n(m2y) - xi_n'/xi_n(y) with the (n+1)/x, (n+1)/y and
        // n/y parts, which cancel exactly, left out.
        const ComplexResult w2 = crossDifference(m1, atM1x.psiUp[n], m2, atM2x.psiUp[n]);
        const ComplexResult z1 = crossDifference(one, atY.psiUp[n], m2, atM2y.psiUp[n]);
        const ComplexResult z4 = crossDifference(m2, atM2y.xiDown[n], one, atY.xiDown[n]);
        const ComplexResult v1 = crossDifference(one, dM2y, m2, dY);
        const ComplexResult v2 = crossDifference(one, dXiM2y, m2, dY);
        const ComplexResult v3 = crossDifference(one, dM2y, m2, dXiY);
        const ComplexResult v4 = crossDifference(one, dXiM2y, m2, dXiY);
        const ComplexResult z2 = crossDifference(m2, dXiM2y, one, dY);
        const ComplexResult z3 = crossDifference(m2, dM2y, one, dXiY);

        // (u1 v1 - G v2)/(u1 v3 - G v4) with G = shellRatio u2, divided through
        // by u1: for a tiny core u1 and u2 grow like 1/x, and their products
        // with the v of size 1/y would leave the range of the quotient.
        const ComplexResult gA = product(shellRatio, quotient(u2, u1));
        const ComplexResult gB = product(shellRatio, quotient(w2, w1));
        ComplexResult a = product(psiOverXi, quotient(crossDifference(one, v1, gA, v2),
                                                      crossDifference(one, v3, gA, v4)));
        ComplexResult b = product(psiOverXi, quotient(crossDifference(one, z1, gB, z2),
                                                      crossDifference(one, z3, gB, z4)));
        if (lossless) {
            a.re = losslessRealPart(a.re, a.im);
            b.re = losslessRealPart(b.re, b.im);
        }
        if (keep != nullptr) {
            const SeriesValues& k = *keep;
            k.dY[n] = dY.re;
            k.dM2yRe[n] = dM2y.re, k.dM2yIm[n] = dM2y.im;
            k.dM2xRe[n] = atM2x.D[n].re, k.dM2xIm[n] = atM2x.D[n].im;
            k.dM1xRe[n] = atM1x.D[n].re, k.dM1xIm[n] = atM1x.D[n].im;
            k.dXiYRe[n] = dXiY.re, k.dXiYIm[n] = dXiY.im;
            k.dXiM2yRe[n] = dXiM2y.re, k.dXiM2yIm[n] = dXiM2y.im;
            k.dXiM2xRe[n] = atM2x.dXi[n].re, k.dXiM2xIm[n] = atM2x.dXi[n].im;
            k.psiOverXiRe[n] = psiOverXi.re, k.psiOverXiIm[n] = psiOverXi.im;
            k.shellRatioRe[n] = shellRatio.re, k.shellRatioIm[n] = shellRatio.im;
        }
        coefficients.aRe[n] = a.re;
        coefficients.aIm[n] = a.im;
        coefficients.bRe[n] = b.re;
        coefficients.bIm[n] = b.im;
    }
}

}  // namespace coatedmie
