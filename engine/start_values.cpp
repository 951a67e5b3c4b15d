#include "start_values.h"

#include <cmath>

#include <coatedmie/engine.h>

#include "library_square.h"

namespace coatedmie {

namespace {

// sin y - y cos y        = (y^3/3) (1 - y^2/10 + y^4/280 - y^6/15120 + y^8/1330560 - ...)
// y cos 2y + sin 2y (y^2 - 1)/2 = -(y^3/3) (1 + 2y^2/5 - 6y^4/35 + 4y^6/189 - 2y^8/1485 + ...)
// Below y = 0.01 the first four terms, as always: the first omitted ones are
// under 1e-22 of the sums. Up to 0.1 six: under 1e-18.
constexpr double kSineTerms[] = {-1.0 / 10.0, 1.0 / 280.0, -1.0 / 15120.0, 1.0 / 1330560.0, -1.0 / 172972800.0};
constexpr double kDoubleAngleTerms[] = {2.0 / 5.0, -6.0 / 35.0, 4.0 / 189.0, -2.0 / 1485.0, 4.0 / 75075.0};

double seriesFactor(const double (&terms)[5], int count, double ySquare) {
    double sum = terms[count - 1];
    for (int k = count - 2; k >= 0; --k) sum = terms[k] + ySquare * sum;
    return 1.0 + ySquare * sum;
}

}  // namespace

ComplexResult psiOverXiStartValue(double y, double ySquare, int signConvention) {
    if (y < kSmallParticleLimit) {
        const int terms = y < kLiteralSmallParticleLimit ? 3 : 5;
        const double leading = ySquare * y / 3.0;
        const double numeratorRe = librarySquare(leading * seriesFactor(kSineTerms, terms, ySquare));
        double numeratorIm = -(leading * seriesFactor(kDoubleAngleTerms, terms, ySquare));
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

bool psiOverXiStartFromTable(double y, double ySquare, int signConvention, double tableD1,
                             ComplexResult& result) {
    if (!(y >= 1.0)) return false;
    const double sine = std::sin(y);
    const double yCosine = y * std::cos(y);
    if (!(std::fabs(sine - yCosine) < kStartCancellationBound * (std::fabs(sine) + std::fabs(yCosine)))) {
        return false;
    }
    const double yPsi = y * sine / (1.0 / y + tableD1);
    const double yChi = std::cos(y) + y * sine;
    const double s = static_cast<double>(signConvention);
    result = {yPsi * yPsi / (ySquare + 1.0), s * (yPsi * yChi) / (ySquare + 1.0)};
    return true;
}

ComplexResult shellStartFactor(double a, double b, int signConvention) {
    if (signConvention == +1) return {std::exp(-2.0 * b) - std::cos(2.0 * a), std::sin(2.0 * a)};
    return {std::cos(2.0 * a) - std::exp(2.0 * b), std::sin(2.0 * a)};
}

ComplexResult smallArgumentShellStartFactor(double a, double b, int signConvention) {
    // e^(-2b) - cos 2a = expm1(-2b) + 2 sin^2 a; the negative convention has
    // cos 2a - e^(2b), the same with b of the other sign, negated.
    const double s = static_cast<double>(signConvention);
    const double sinA = std::sin(a);
    return {s * (std::expm1(-2.0 * (s * b)) + 2.0 * (sinA * sinA)), std::sin(2.0 * a)};
}

ComplexResult tableShellStartFactor(double b, int signConvention, double tableD0Re, double tableD0Im) {
    const double s = static_cast<double>(signConvention);
    // 1 - i s D_0 = (1 + s Im D_0) - i s Re D_0
    return complexQuotient(2.0 * s * std::exp(-2.0 * (s * b)), 0.0, 1.0 + s * tableD0Im, -(s * tableD0Re));
}

bool shellStartCancels(const ComplexResult& factor) {
    return factor.re * factor.re + factor.im * factor.im < kStartCancellationBound * kStartCancellationBound;
}

ComplexResult shellStartFactorOrTable(const ComplexResult& factor, double a, double b, int signConvention,
                                      double tableD0Re, double tableD0Im, unsigned& safeguards) {
    if (!(a * a + b * b > 1.0 && shellStartCancels(factor))) return factor;
    safeguards |= kStartFromTables;
    return tableShellStartFactor(b, signConvention, tableD0Re, tableD0Im);
}

ComplexResult shellRatioFromFactors(const ComplexResult& atM2x, const ComplexResult& atM2y, double b,
                                    double d, int signConvention) {
    const ComplexResult q = complexQuotient(atM2x.re, atM2x.im, atM2y.re, atM2y.im);
    const double scale = signConvention == +1 ? std::exp(2.0 * (b - d)) : std::exp(2.0 * (d - b));
    return {scale * q.re, scale * q.im};
}

}  // namespace coatedmie
