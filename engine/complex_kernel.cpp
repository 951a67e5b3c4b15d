#include "complex_kernel.h"

namespace coatedmie {

void complexQuotientProduct(double a, double b, double c, double d, QuotientProduct& result) {
    const double den = c * c + d * d;
    result.quotRe = (a * c + b * d) / den;
    result.quotIm = (b * c - a * d) / den;
    result.prodRe = a * c - b * d;
    result.prodIm = a * d + b * c;
}

void upwardLogDerivativeStep(int n, double zRe, double zIm, double dRe, double dIm,
                             ComplexResult& result) {
    QuotientProduct orderOverZ;
    complexQuotientProduct(static_cast<double>(n), 0.0, zRe, zIm, orderOverZ);
    const double eRe = orderOverZ.quotRe - dRe;
    const double eIm = orderOverZ.quotIm - dIm;
    QuotientProduct reciprocal;
    complexQuotientProduct(1.0, 0.0, eRe, eIm, reciprocal);
    result.re = reciprocal.quotRe - orderOverZ.quotRe;
    result.im = reciprocal.quotIm - orderOverZ.quotIm;
}

void addOrderOverArgument(int n, double zRe, double zIm, double xRe, double xIm,
                          ComplexResult& result) {
    QuotientProduct orderOverZ;
    complexQuotientProduct(static_cast<double>(n), 0.0, zRe, zIm, orderOverZ);
    result.re = orderOverZ.quotRe + xRe;
    result.im = orderOverZ.quotIm + xIm;
}

void crossProductDifference(double z1Re, double z1Im, double z2Re, double z2Im,
                            double z3Re, double z3Im, double z4Re, double z4Im,
                            ComplexResult& result) {
    QuotientProduct first;
    complexQuotientProduct(z1Re, z1Im, z2Re, z2Im, first);
    QuotientProduct second;
    complexQuotientProduct(z3Re, z3Im, z4Re, z4Im, second);
    result.re = first.prodRe - second.prodRe;
    result.im = first.prodIm - second.prodIm;
}

}  // namespace coatedmie
