#include "log_derivative.h"

#include <cmath>

namespace coatedmie {

namespace {

// One downward step D_{k-1} = k/z - 1/(k/z + D_k) of a complex table, from
// k/z.
ComplexResult downwardStep(const ComplexResult& orderOverZ, const ComplexResult& d) {
    const ComplexResult reciprocal =
        complexQuotient(1.0, 0.0, orderOverZ.re + d.re, orderOverZ.im + d.im);
    return {orderOverZ.re - reciprocal.re, orderOverZ.im - reciprocal.im};
}

// The four recurrences run side by side in one loop: each step waits on the
// step before it through a division, and four independent chains keep the
// divider busy where one alone would leave it idle most of the time.
void fillTables(const LogDerivativeTables& t, int termCount, const ComplexResult& m2y, const ComplexResult& m2x,
                const ComplexResult& m1x, double y, const ComplexResult& startM2y,
                const ComplexResult& startM2x, const ComplexResult& startM1x, double startY) {
    const int top = termCount + 1;
    t.Dm2yRe[top] = startM2y.re;
    t.Dm2yIm[top] = startM2y.im;
    t.Dm2xRe[top] = startM2x.re;
    t.Dm2xIm[top] = startM2x.im;
    t.Dm1xRe[top] = startM1x.re;
    t.Dm1xIm[top] = startM1x.im;
    t.Dy[top] = startY;
    ComplexResult dM2y = startM2y;
    ComplexResult dM2x = startM2x;
    ComplexResult dM1x = startM1x;
    double dY = startY;
    for (int k = termCount; k >= 1; --k) {
        const double order = static_cast<double>(k);
        dM2y = downwardStep(complexQuotient(order, 0.0, m2y.re, m2y.im), dM2y);
        dM2x = downwardStep(complexQuotient(order, 0.0, m2x.re, m2x.im), dM2x);
        dM1x = downwardStep(complexQuotient(order, 0.0, m1x.re, m1x.im), dM1x);
        const double kOverY = order / y;
        dY = kOverY - 1.0 / (kOverY + dY);
        t.Dm2yRe[k] = dM2y.re;
        t.Dm2yIm[k] = dM2y.im;
        t.Dm2xRe[k] = dM2x.re;
        t.Dm2xIm[k] = dM2x.im;
        t.Dm1xRe[k] = dM1x.re;
        t.Dm1xIm[k] = dM1x.im;
        t.Dy[k] = dY;
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

// One continued fraction between passes: the product so far, the numerator
// and denominator sequences, and the running term a_k.
struct LentzFraction {
    double zRe, zIm;
    double productRe, productIm;
    double numRe, numIm;
    double denRe, denIm;
    double termRe, termIm;
};

LentzFraction startFraction(double zRe, double zIm, int n) {
    const double p1 = 2.0 * n + 1.0;
    const double p2 = -2.0 * n - 3.0;
    const ComplexResult a1 = complexQuotient(p1, 0.0, zRe, zIm);
    const ComplexResult a2 = complexQuotient(p2, 0.0, zRe, zIm);
    return {zRe,           zIm,           zRe / p2 + a1.re, zIm / p2 + a1.im, zRe / p1 + a2.re,
            zIm / p1 + a2.im, a2.re, a2.im, a2.re,          a2.im};
}

// The factor that turns a_(k-1) into a_k: the terms alternate in sign and
// grow like 2m - 1, so each is the previous one scaled rather than a fresh
// division by z. The same for every argument.
double termFactor(int n, int k) {
    const double m = static_cast<double>(n) + static_cast<double>(k);
    return -(2.0 * m - 1.0) / (2.0 * m - 3.0);
}

// One pass with the term of index k. Returns true, with D_n(z) in result,
// when the fraction has converged.
bool lentzPass(LentzFraction& f, int n, double factor, ComplexResult& result) {
    f.termRe = factor * f.termRe;
    f.termIm = factor * f.termIm;

    const ComplexResult numInverse = complexQuotient(1.0, 0.0, f.numRe, f.numIm);
    const double nextNumRe = f.termRe + numInverse.re;
    const double nextNumIm = f.termIm + numInverse.im;
    const ComplexResult denInverse = complexQuotient(1.0, 0.0, f.denRe, f.denIm);
    const double nextDenRe = f.termRe + denInverse.re;
    const double nextDenIm = f.termIm + denInverse.im;

    const ComplexResult ratio = complexQuotient(nextNumRe, nextNumIm, nextDenRe, nextDenIm);
    const ComplexResult next = complexProduct(f.productRe, f.productIm, ratio.re, ratio.im);

    // Far below the spacing of doubles around 1: the loop ends when the
    // computed modulus is exactly 1, at the latest when the numerator and
    // denominator sequences agree in every bit.
    const double t = std::fabs(1.0 - std::sqrt(ratio.re * ratio.re + ratio.im * ratio.im));
    if (t < kLentzTolerance || std::isnan(t)) {
        const ComplexResult minusNOverZ =
            complexQuotient(static_cast<double>(-n), 0.0, f.zRe, f.zIm);
        result.re = next.re + minusNOverZ.re;
        result.im = next.im + minusNOverZ.im;
        return true;
    }
    f.numRe = nextNumRe;
    f.numIm = nextNumIm;
    f.denRe = nextDenRe;
    f.denIm = nextDenIm;
    f.productRe = next.re;
    f.productIm = next.im;
    return false;
}

}  // namespace

int lentzLogDerivative(double zRe, double zIm, int n, ComplexResult& result, int passLimit) {
    LentzFraction f = startFraction(zRe, zIm, n);
    for (int k = 3; k - 2 <= passLimit; ++k) {
        if (lentzPass(f, n, termFactor(n, k), result)) return k;
    }
    return 0;
}

bool fillLogDerivativeTables(int termCount, double m2yRe, double m2yIm, double m2xRe,
                             double m2xIm, double m1xRe, double m1xIm, double y,
                             const LogDerivativeTables& tables) {
    // The four continued fractions run side by side, each pass of each one
    // waiting only on its own previous pass; each stops at its own last term.
    // All four end before any table is touched, so that one stopped by the
    // pass limit leaves every table as it was.
    LentzFraction fractions[4] = {startFraction(m2yRe, m2yIm, termCount),
                                  startFraction(m2xRe, m2xIm, termCount),
                                  startFraction(m1xRe, m1xIm, termCount),
                                  startFraction(y, 0.0, termCount)};
    ComplexResult starts[4];
    bool converged[4] = {false, false, false, false};
    int running = 4;
    for (int k = 3; k - 2 <= kLentzPassLimit && running > 0; ++k) {
        const double factor = termFactor(termCount, k);
        for (int i = 0; i < 4; ++i) {
            if (!converged[i] && lentzPass(fractions[i], termCount, factor, starts[i])) {
                converged[i] = true;
                --running;
            }
        }
    }
    if (running > 0) {
        return false;
    }
    fillTables(tables, termCount, {m2yRe, m2yIm}, {m2xRe, m2xIm}, {m1xRe, m1xIm}, y, starts[0], starts[1],
               starts[2], starts[3].re);
    return true;
}

}  // namespace coatedmie
