#include "reference_engine.h"

#include <cmath>
#include <utility>

#include "complex_kernel.h"
#include "small_particle.h"
#include "start_values.h"

namespace coatedmie::reference {

namespace {

struct LogDerivativeArrays {
    double Dm2yRe[kTableCapacity], Dm2yIm[kTableCapacity], Dm2xRe[kTableCapacity], Dm2xIm[kTableCapacity];
    double Dm1xRe[kTableCapacity], Dm1xIm[kTableCapacity], Dy[kTableCapacity];
} logDerivativeArrays;
const LogDerivativeTables logDerivatives{logDerivativeArrays.Dm2yRe, logDerivativeArrays.Dm2yIm,
                                         logDerivativeArrays.Dm2xRe, logDerivativeArrays.Dm2xIm,
                                         logDerivativeArrays.Dm1xRe, logDerivativeArrays.Dm1xIm,
                                         logDerivativeArrays.Dy};
CoefficientTables coefficients;

constexpr double kAbsorptionCutoff = 1e-10;

int plainLentzLogDerivative(double zRe, double zIm, int n, ComplexResult& result) {
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

    for (int k = 3; k - 2 <= kLentzPassLimit; ++k) {
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

bool fillLogDerivativeTables(int termCount, double m2yRe, double m2yIm, double m2xRe,
                             double m2xIm, double m1xRe, double m1xIm, double y) {
    ComplexResult startM2y;
    ComplexResult startM2x;
    ComplexResult startM1x;
    ComplexResult startY;
    if (plainLentzLogDerivative(m2yRe, m2yIm, termCount, startM2y) == 0 ||
        plainLentzLogDerivative(m2xRe, m2xIm, termCount, startM2x) == 0 ||
        plainLentzLogDerivative(m1xRe, m1xIm, termCount, startM1x) == 0 ||
        plainLentzLogDerivative(y, 0.0, termCount, startY) == 0) {
        return false;
    }
    const LogDerivativeTables& t = logDerivatives;
    fillComplexTable(m2yRe, m2yIm, termCount, startM2y, t.Dm2yRe, t.Dm2yIm);
    fillComplexTable(m2xRe, m2xIm, termCount, startM2x, t.Dm2xRe, t.Dm2xIm);
    fillComplexTable(m1xRe, m1xIm, termCount, startM1x, t.Dm1xRe, t.Dm1xIm);
    fillRealTable(y, termCount, startY.re, t.Dy);
    return true;
}

ComplexResult product(const ComplexResult& u, const ComplexResult& w) {
    QuotientProduct qp;
    complexQuotientProduct(u.re, u.im, w.re, w.im, qp);
    return {qp.prodRe, qp.prodIm};
}

ComplexResult quotient(const ComplexResult& u, const ComplexResult& w) {
    QuotientProduct qp;
    complexQuotientProduct(u.re, u.im, w.re, w.im, qp);
    return {qp.quotRe, qp.quotIm};
}

ComplexResult crossDifference(const ComplexResult& z1, const ComplexResult& z2,
                              const ComplexResult& z3, const ComplexResult& z4) {
    ComplexResult r;
    crossProductDifference(z1.re, z1.im, z2.re, z2.im, z3.re, z3.im, z4.re, z4.im, r);
    return r;
}

ComplexResult seriesCoefficient(const ComplexResult& psiOverXi, const ComplexResult& u1,
                                const ComplexResult& g, const ComplexResult& v1,
                                const ComplexResult& v2, const ComplexResult& v3,
                                const ComplexResult& v4) {
    const ComplexResult numerator = crossDifference(u1, v1, g, v2);
    const ComplexResult denominator = crossDifference(u1, v3, g, v4);
    return product(psiOverXi, quotient(numerator, denominator));
}

}  // namespace

int computeCoatedSphere(double alpha1, double index1Re, double index1Im, double alpha2,
                        double index2Re, double index2Im, EfficiencyRecord& efficiencies) {
    if (alpha1 < alpha2) {
        std::swap(alpha1, alpha2);
        std::swap(index1Re, index2Re);
        std::swap(index1Im, index2Im);
    }
    const double y = alpha1;
    const double x = alpha2;
    double m2Im = index1Im;
    double m1Im = index2Im;
    int signConvention = +1;
    if (m2Im < 0.0 || m1Im < 0.0) {
        m2Im = -std::fabs(m2Im);
        m1Im = -std::fabs(m1Im);
        signConvention = -1;
    } else {
        m2Im = std::fabs(m2Im);
        m1Im = std::fabs(m1Im);
    }
    const double m2Re = index1Re;
    const double m1Re = index2Re;

    const int termCount = termCountFor(y);
    if (termCount == 0) {
        return 0;
    }

    double sumExt = 0.0;
    double sumSca = 0.0;
    const double ySquare = std::pow(y, 2.0);
    const ComplexResult m2y{m2Re * y, m2Im * y};
    const ComplexResult m2x{m2Re * x, m2Im * x};
    const ComplexResult m1x{m1Re * x, m1Im * x};
    if (!fillLogDerivativeTables(termCount, m2y.re, m2y.im, m2x.re, m2x.im, m1x.re, m1x.im, y)) {
        return 0;
    }
    const LogDerivativeTables& D = logDerivatives;
    // Below kSmallParticleLimit the engine takes its small-particle path,
    // which has no fast variant to check: the reference takes the same.
    const bool smallParticle = y < kSmallParticleLimit;
    if (smallParticle) {
        smallParticleCoefficients({y, x, m2Re, m2Im, m1Re, m1Im, signConvention}, termCount, D,
                                  {coefficients.aRe, coefficients.aIm, coefficients.bRe, coefficients.bIm});
    }

    const ComplexResult one{1.0, 0.0};
    const ComplexResult m2{m2Re, m2Im};
    const ComplexResult m1{m1Re, m1Im};
    const double orderZeroXi = static_cast<double>(signConvention);
    ComplexResult psiOverXi = psiOverXiStartValue(y, ySquare, signConvention);
    ComplexResult dXiY{0.0, orderZeroXi};
    ComplexResult dXiM2y{0.0, orderZeroXi};
    ComplexResult dXiM2x{0.0, orderZeroXi};
    ComplexResult shellRatio = shellRatioStartValue(m2x.re, m2x.im, m2y.re, m2y.im, signConvention);

    for (int n = 1; n <= termCount && !smallParticle; ++n) {
        const double t = static_cast<double>(n) / y;
        if (n >= 2) {
            const ComplexResult ratio = quotient(psiOverXi, {dXiY.re - t, dXiY.im});
            const double factor = D.Dy[n] - t;
            psiOverXi = {factor * ratio.re, factor * ratio.im};
        }
        QuotientProduct reciprocal;
        complexQuotientProduct(1.0, 0.0, t - dXiY.re, -dXiY.im, reciprocal);
        dXiY = {reciprocal.quotRe - t, reciprocal.quotIm};
        upwardLogDerivativeStep(n, m2y.re, m2y.im, dXiM2y.re, dXiM2y.im, dXiM2y);
        upwardLogDerivativeStep(n, m2x.re, m2x.im, dXiM2x.re, dXiM2x.im, dXiM2x);

        const ComplexResult dM2y{D.Dm2yRe[n + 1], D.Dm2yIm[n + 1]};
        const ComplexResult dM2x{D.Dm2xRe[n + 1], D.Dm2xIm[n + 1]};
        const ComplexResult dM1x{D.Dm1xRe[n + 1], D.Dm1xIm[n + 1]};
        const ComplexResult dY{D.Dy[n + 1], 0.0};

        ComplexResult psiM2yUp;
        addOrderOverArgument(n, m2y.re, m2y.im, dM2y.re, dM2y.im, psiM2yUp);
        ComplexResult xiM2xUp;
        addOrderOverArgument(n, m2x.re, m2x.im, dXiM2x.re, dXiM2x.im, xiM2xUp);
        const ComplexResult p1 = product(psiM2yUp, xiM2xUp);
        ComplexResult psiM2xUp;
        addOrderOverArgument(n, m2x.re, m2x.im, dM2x.re, dM2x.im, psiM2xUp);
        ComplexResult xiM2yUp;
        addOrderOverArgument(n, m2y.re, m2y.im, dXiM2y.re, dXiM2y.im, xiM2yUp);
        const ComplexResult p2 = product(psiM2xUp, xiM2yUp);
        shellRatio = product(shellRatio, quotient(p1, p2));

        const ComplexResult u1 = crossDifference(m1, dXiM2x, m2, dM1x);
        const ComplexResult u2 = crossDifference(m1, dM2x, m2, dM1x);
        const ComplexResult v1 = crossDifference(one, dM2y, m2, dY);
        const ComplexResult v2 = crossDifference(one, dXiM2y, m2, dY);
        const ComplexResult v3 = crossDifference(one, dM2y, m2, dXiY);
        const ComplexResult v4 = crossDifference(one, dXiM2y, m2, dXiY);
        const ComplexResult w1 = crossDifference(m2, dXiM2x, m1, dM1x);
        const ComplexResult w2 = crossDifference(m2, dM2x, m1, dM1x);
        const ComplexResult z1 = crossDifference(m2, dM2y, one, dY);
        const ComplexResult z2 = crossDifference(m2, dXiM2y, one, dY);
        const ComplexResult z3 = crossDifference(m2, dM2y, one, dXiY);
        const ComplexResult z4 = crossDifference(m2, dXiM2y, one, dXiY);

        const ComplexResult a =
            seriesCoefficient(psiOverXi, u1, product(shellRatio, u2), v1, v2, v3, v4);
        const ComplexResult b =
            seriesCoefficient(psiOverXi, w1, product(shellRatio, w2), z1, z2, z3, z4);
        coefficients.aRe[n] = a.re;
        coefficients.aIm[n] = a.im;
        coefficients.bRe[n] = b.re;
        coefficients.bIm[n] = b.im;
    }
    for (int n = 1; n <= termCount; ++n) {
        const CoefficientTables& c = coefficients;
        const double f = 2.0 * n + 1.0;
        sumExt = (c.aRe[n] + c.bRe[n]) * f + sumExt;
        const double squares = ((std::pow(c.aRe[n], 2.0) + std::pow(c.aIm[n], 2.0)) +
                                std::pow(c.bRe[n], 2.0)) +
                               std::pow(c.bIm[n], 2.0);
        sumSca = squares * f + sumSca;
    }

    const bool vacuumShell = m2Re == 1.0 && m2Im == 0.0;
    const double normSquare = vacuumShell ? std::pow(x, 2.0) : ySquare;
    efficiencies.Kext = (sumExt + sumExt) / normSquare;
    efficiencies.Ksca = (sumSca + sumSca) / normSquare;
    efficiencies.Kabs = efficiencies.Kext - efficiencies.Ksca;
    if (!(std::fabs(efficiencies.Kabs / efficiencies.Kext) >= kAbsorptionCutoff)) {
        efficiencies.Kabs = 0.0;
    }
    return termCount;
}

const CoefficientTables& coefficientTables() { return coefficients; }

const LogDerivativeTables& logDerivativeTables() { return logDerivatives; }

void computeIntensity(const CoefficientTables& c, int termCount, double theta,
                      IntensityRecord& intensity) {
    const int lastOrder = termCount < kMaxTermCount ? termCount : kMaxTermCount;

    const double mu = std::cos(theta);
    const double sinSquare = std::pow(std::sin(theta), 2.0);
    double piPrev = 1.0;
    double piPrev2 = 0.0;
    double piPrimePrev = 0.0;
    double piPrimePrev2 = 0.0;

    const double w1 = ((2.0 * 1 + 1.0) / 1.0) / (1.0 + 1.0);
    const double tau1 = mu;
    double s1Re = (piPrev * c.aRe[1] + tau1 * c.bRe[1]) * w1;
    double s1Im = (piPrev * c.aIm[1] + tau1 * c.bIm[1]) * w1;
    double s2Re = (tau1 * c.aRe[1] + piPrev * c.bRe[1]) * w1;
    double s2Im = (tau1 * c.aIm[1] + piPrev * c.bIm[1]) * w1;

    for (int n = 2; n <= lastOrder; ++n) {
        const double order = static_cast<double>(n);
        const double piN = ((mu * (2.0 * order - 1.0)) * piPrev - order * piPrev2) / (order - 1.0);
        const double piPrimeN = (2.0 * order - 1.0) * piPrev + piPrimePrev2;
        const double tauN = mu * piN - sinSquare * piPrimeN;
        piPrev2 = piPrev;
        piPrev = piN;
        piPrimePrev2 = piPrimePrev;
        piPrimePrev = piPrimeN;

        const double w = ((2.0 * order + 1.0) / order) / (order + 1.0);
        s1Re = (piN * c.aRe[n] + tauN * c.bRe[n]) * w + s1Re;
        s2Re = (tauN * c.aRe[n] + piN * c.bRe[n]) * w + s2Re;
        s1Im = (piN * c.aIm[n] + tauN * c.bIm[n]) * w + s1Im;
        s2Im = (tauN * c.aIm[n] + piN * c.bIm[n]) * w + s2Im;
    }

    intensity.I1 = s1Re * s1Re + s1Im * s1Im;
    intensity.I2 = s2Re * s2Re + s2Im * s2Im;
}

}  // namespace coatedmie::reference
