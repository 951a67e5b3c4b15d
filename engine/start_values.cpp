#include "start_values.h"

#include <cmath>

#include "library_square.h"

namespace coatedmie {

namespace {

// sin y - y cos y        = (y^3/3) (1 - y^2/10 + y^4/280 - y^6/15120 + ...)
// y cos 2y + sin 2y (y^2 - 1)/2 = -(y^3/3) (1 + 2y^2/5 - 6y^4/35 + 4y^6/189 - ...)
// Below y = 0.01 the first omitted terms are under 1e-22 of the sums.
constexpr double kSineTerms[] = {-1.0 / 10.0, 1.0 / 280.0, -1.0 / 15120.0};
constexpr double kDoubleAngleTerms[] = {2.0 / 5.0, -6.0 / 35.0, 4.0 / 189.0};

double seriesFactor(const double (&terms)[3], double ySquare) {
    return 1.0 + ySquare * (terms[0] + ySquare * (terms[1] + ySquare * terms[2]));
}

}  // namespace

ComplexResult psiOverXiStartValue(double y, double ySquare, int signConvention) {
    if (y < kSmallParticleLimit) {
        const double leading = ySquare * y / 3.0;
        const double numeratorRe = librarySquare(leading * seriesFactor(kSineTerms, ySquare));
        double numeratorIm = -(leading * seriesFactor(kDoubleAngleTerms, ySquare));
        if (signConvention == +1) {
            numeratorIm = -numeratorIm;
        }
        return {numeratorRe / (ySquare + 1.0), numeratorIm / (ySquare + 1.0)};
    }
    const double numeratorRe = librarySquare(std::sin(y) - y * std::cos(y));
    double numeratorIm = y * std::cos(2.0 * y) + 0.5 * (std::sin(2.0 * y) * (ySquare - 1.0));
    if (signConvention == +1) {
        numeratorIm = -numeratorIm;
    }
    return {numeratorRe / (ySquare + 1.0), numeratorIm / (ySquare + 1.0)};
}

ComplexResult shellRatioStartValue(double m2xRe, double m2xIm, double m2yRe, double m2yIm,
                                   int signConvention) {
    const double a = m2xRe;
    const double b = m2xIm;
    const double c = m2yRe;
    const double d = m2yIm;
    QuotientProduct q;
    double scale;
    if (signConvention == +1) {
        complexQuotientProduct(std::exp(-2.0 * b) - std::cos(2.0 * a), std::sin(2.0 * a),
                               std::exp(-2.0 * d) - std::cos(2.0 * c), std::sin(2.0 * c), q);
        scale = std::exp(2.0 * (b - d));
    } else {
        complexQuotientProduct(std::cos(2.0 * a) - std::exp(2.0 * b), std::sin(2.0 * a),
                               std::cos(2.0 * c) - std::exp(2.0 * d), std::sin(2.0 * c), q);
        scale = std::exp(2.0 * (d - b));
    }
    return {scale * q.quotRe, scale * q.quotIm};
}

ComplexResult smallArgumentShellRatioStartValue(double m2xRe, double m2xIm, double m2yRe,
                                                double m2yIm, int signConvention) {
    const double a = m2xRe;
    const double b = m2xIm;
    const double c = m2yRe;
    const double d = m2yIm;
    const double sinA = std::sin(a);
    const double sinC = std::sin(c);
    // e^(-2b) - cos 2a = expm1(-2b) + 2 sin^2 a; the negative convention
    // has cos 2a - e^(2b), the same with b of the other sign, negated.
    const double s = static_cast<double>(signConvention);
    const double numeratorRe = s * (std::expm1(-2.0 * (s * b)) + 2.0 * (sinA * sinA));
    const double denominatorRe = s * (std::expm1(-2.0 * (s * d)) + 2.0 * (sinC * sinC));
    QuotientProduct q;
    complexQuotientProduct(numeratorRe, std::sin(2.0 * a), denominatorRe, std::sin(2.0 * c), q);
    const double scale = std::exp(2.0 * (s * (b - d)));
    return {scale * q.quotRe, scale * q.quotIm};
}

}  // namespace coatedmie
