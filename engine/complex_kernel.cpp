#include "complex_kernel.h"

namespace coatedmie {

void complexQuotientProduct(double a, double b, double c, double d, QuotientProduct& result) {
    const double den = c * c + d * d;
    result.quotRe = (a * c + b * d) / den;
    result.quotIm = (b * c - a * d) / den;
    result.prodRe = a * c - b * d;
    result.prodIm = a * d + b * c;
}

}  // namespace coatedmie
