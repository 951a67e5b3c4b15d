#include "log_derivative.h"

#include <cmath>

namespace coatedmie {

namespace {

LogDerivativeTables tables;

void fillComplexTable(double zRe, double zIm, int termCount, const ComplexResult& start,
                      double* re, double* im) {
    re[termCount + 1] = start.re;
    im[termCount + 1] = start.im;
    for (int k = termCount; k >= 1; --k) {
        QuotientProduct kOverZ;
        complexQuotientProduct(static_cast<double>(k), 0.0, zRe, zIm, kOverZ);
        const double wRe = kOverZ.quotRe + re[k + 1];
        const double wIm = kOverZ.quotIm + im[k + 1];
        QuotientProduct reciprocal;
        complexQuotientProduct(1.0, 0.0, wRe, wIm, reciprocal);
        re[k] = kOverZ.quotRe - reciprocal.quotRe;
        im[k] = kOverZ.quotIm - reciprocal.quotIm;
    }
}

void fillRealTable(double y, int termCount, double start, double* table) {
    table[termCount + 1] = start;
    for (int k = termCount; k >= 1; --k) {
        const double kOverY = static_cast<double>(k) / y;
        table[k] = kOverY - 1.0 / (kOverY + table[k + 1]);
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

int lentzLogDerivative(double zRe, double zIm, int n, ComplexResult& result, int passLimit) {
    const double p1 = 2.0 * n + 1.0;
    const double p2 = -2.0 * n - 3.0;
    QuotientProduct a1;
    complexQuotientProduct(p1, 0.0, zRe, zIm, a1);
    QuotientProduct a2;
    complexQuotientProduct(p2, 0.0, zRe, zIm, a2);

    double productRe = zRe / p2 + a1.quotRe;
    double productIm = zIm / p2 + a1.quotIm;
    double numRe = zRe / p1 + a2.quotRe;
    double numIm = zIm / p1 + a2.quotIm;
    double denRe = a2.quotRe;
    double denIm = a2.quotIm;
    double termRe = a2.quotRe;
    double termIm = a2.quotIm;

    for (int k = 3; k - 2 <= passLimit; ++k) {
        // The terms alternate in sign and grow like 2m - 1: scale the previous
        // one rather than dividing afresh by z.
        const double m = static_cast<double>(n) + static_cast<double>(k);
        const double c = -(2.0 * m - 1.0) / (2.0 * m - 3.0);
        termRe = c * termRe;
        termIm = c * termIm;

        QuotientProduct inverse;
        complexQuotientProduct(1.0, 0.0, numRe, numIm, inverse);
        const double nextNumRe = termRe + inverse.quotRe;
        const double nextNumIm = termIm + inverse.quotIm;
        complexQuotientProduct(1.0, 0.0, denRe, denIm, inverse);
        const double nextDenRe = termRe + inverse.quotRe;
        const double nextDenIm = termIm + inverse.quotIm;

        QuotientProduct ratio;
        complexQuotientProduct(nextNumRe, nextNumIm, nextDenRe, nextDenIm, ratio);
        QuotientProduct next;
        complexQuotientProduct(productRe, productIm, ratio.quotRe, ratio.quotIm, next);

        // Far below the spacing of doubles around 1: the loop ends when the
        // computed modulus is exactly 1, at the latest when the numerator and
        // denominator sequences agree in every bit.
        const double t = std::fabs(1.0 - std::sqrt(ratio.quotRe * ratio.quotRe +
                                                   ratio.quotIm * ratio.quotIm));
        if (t < kLentzTolerance || std::isnan(t)) {
            QuotientProduct minusNOverZ;
            complexQuotientProduct(static_cast<double>(-n), 0.0, zRe, zIm, minusNOverZ);
            result.re = next.prodRe + minusNOverZ.quotRe;
            result.im = next.prodIm + minusNOverZ.quotIm;
            return k;
        }
        numRe = nextNumRe;
        numIm = nextNumIm;
        denRe = nextDenRe;
        denIm = nextDenIm;
        productRe = next.prodRe;
        productIm = next.prodIm;
    }
    return 0;
}

bool fillLogDerivativeTables(int termCount, double m2yRe, double m2yIm, double m2xRe,
                             double m2xIm, double m1xRe, double m1xIm, double y) {
    // All four starts come first, so that a continued fraction stopped by the
    // pass limit leaves every table as it was.
    ComplexResult startM2y;
    ComplexResult startM2x;
    ComplexResult startM1x;
    ComplexResult startY;
    if (lentzLogDerivative(m2yRe, m2yIm, termCount, startM2y) == 0 ||
        lentzLogDerivative(m2xRe, m2xIm, termCount, startM2x) == 0 ||
        lentzLogDerivative(m1xRe, m1xIm, termCount, startM1x) == 0 ||
        lentzLogDerivative(y, 0.0, termCount, startY) == 0) {
        return false;
    }
    fillComplexTable(m2yRe, m2yIm, termCount, startM2y, tables.Dm2yRe, tables.Dm2yIm);
    fillComplexTable(m2xRe, m2xIm, termCount, startM2x, tables.Dm2xRe, tables.Dm2xIm);
    fillComplexTable(m1xRe, m1xIm, termCount, startM1x, tables.Dm1xRe, tables.Dm1xIm);
    fillRealTable(y, termCount, startY.re, tables.Dy);
    return true;
}

const LogDerivativeTables& logDerivativeTables() { return tables; }

}  // namespace coatedmie
