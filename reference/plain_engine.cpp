// The efficiencies of a coated sphere written line by line, as the baseline
// of the engine's speed: the same algorithm and the same operations on the
// same operands (so the same bits), each quotient formed once and nothing
// unused formed, in scalar code built with the engine's flags. One continued
// fraction after another, the tables one after another, one loop over the
// orders with the sums inside it, squares from the C library's pow, static
// tables. For outer size parameters from 0.01 up; not reentrant.
#include "plain_engine.h"

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <utility>
#include <vector>

namespace plain {

namespace {

struct Complex {
    double re;
    double im;
};

Complex quotient(Complex u, Complex w) {
    const double den = w.re * w.re + w.im * w.im;
    return {(u.re * w.re + u.im * w.im) / den, (u.im * w.re - u.re * w.im) / den};
}

Complex product(Complex u, Complex w) { return {u.re * w.re - u.im * w.im, u.re * w.im + u.im * w.re}; }

Complex difference(Complex u, Complex w) { return {u.re - w.re, u.im - w.im}; }

Complex sum(Complex u, Complex w) { return {u.re + w.re, u.im + w.im}; }

Complex crossDifference(Complex z1, Complex z2, Complex z3, Complex z4) {
    return difference(product(z1, z2), product(z3, z4));
}

Complex orderOver(int n, Complex z) { return quotient({static_cast<double>(n), 0.0}, z); }

// The engine's cap on the passes of a continued fraction.
constexpr int kPassLimit = 250000000;

bool lentz(Complex z, int n, Complex& result) {
    const double p1 = 2.0 * n + 1.0;
    const double p2 = -2.0 * n - 3.0;
    const Complex a1 = quotient({p1, 0.0}, z);
    const Complex a2 = quotient({p2, 0.0}, z);
    Complex product_ = {z.re / p2 + a1.re, z.im / p2 + a1.im};
    Complex num = {z.re / p1 + a2.re, z.im / p1 + a2.im};
    Complex den = a2;
    Complex term = a2;
    for (int k = 3; k - 2 <= kPassLimit; ++k) {
        const double m = static_cast<double>(n) + static_cast<double>(k);
        const double c = -(2.0 * m - 1.0) / (2.0 * m - 3.0);
        term = {c * term.re, c * term.im};
        const Complex nextNum = sum(term, quotient({1.0, 0.0}, num));
        const Complex nextDen = sum(term, quotient({1.0, 0.0}, den));
        const Complex ratio = quotient(nextNum, nextDen);
        const Complex next = product(product_, ratio);
        const double t = std::fabs(1.0 - std::sqrt(ratio.re * ratio.re + ratio.im * ratio.im));
        if (t < 1e-20 || std::isnan(t)) {
            result = sum(next, orderOver(-n, z));
            return true;
        }
        num = nextNum;
        den = nextDen;
        product_ = next;
    }
    return false;
}

std::vector<Complex> dM2yTable, dM2xTable, dM1xTable;
std::vector<double> dYTable;
std::vector<Complex> aTable, bTable;

// Entry k holds D_{k-1}(z), k = 1..N+1.
void fillTable(Complex z, int termCount, Complex start, std::vector<Complex>& table) {
    table[termCount + 1] = start;
    for (int k = termCount; k >= 1; --k) {
        const Complex q = orderOver(k, z);
        table[k] = difference(q, quotient({1.0, 0.0}, sum(q, table[k + 1])));
    }
}

void fillRealTable(double y, int termCount, double start, std::vector<double>& table) {
    table[termCount + 1] = start;
    for (int k = termCount; k >= 1; --k) {
        const double q = static_cast<double>(k) / y;
        table[k] = q - 1.0 / (q + table[k + 1]);
    }
}

}  // namespace

int efficiencies(double alpha1, double index1Re, double index1Im, double alpha2, double index2Re,
                 double index2Im, Efficiencies& result) {
    if (alpha1 < alpha2) {
        std::swap(alpha1, alpha2);
        std::swap(index1Re, index2Re);
        std::swap(index1Im, index2Im);
    }
    const double y = alpha1;
    const double x = alpha2;
    Complex m2{index1Re, index1Im};
    Complex m1{index2Re, index2Im};
    int s = +1;
    if (m2.im < 0.0 || m1.im < 0.0) {
        m2.im = -std::fabs(m2.im);
        m1.im = -std::fabs(m1.im);
        s = -1;
    } else {
        m2.im = std::fabs(m2.im);
        m1.im = std::fabs(m1.im);
    }
    const double v = (std::pow(y, 0.34) * 7.5 + y) + 2.5;
    if (!(v < 99999.0)) return 0;
    const int termCount = static_cast<int>(v);

    const double ySquare = std::pow(y, 2.0);
    const Complex m2y{m2.re * y, m2.im * y};
    const Complex m2x{m2.re * x, m2.im * x};
    const Complex m1x{m1.re * x, m1.im * x};
    Complex starts[4];
    if (!lentz(m2y, termCount, starts[0]) || !lentz(m2x, termCount, starts[1]) || !lentz(m1x, termCount, starts[2]) ||
        !lentz({y, 0.0}, termCount, starts[3])) {
        return 0;
    }
    if (dYTable.size() < static_cast<std::size_t>(termCount) + 2) {
        for (auto* table : {&dM2yTable, &dM2xTable, &dM1xTable, &aTable, &bTable}) table->resize(termCount + 2);
        dYTable.resize(termCount + 2);
    }
    fillTable(m2y, termCount, starts[0], dM2yTable);
    fillTable(m2x, termCount, starts[1], dM2xTable);
    fillTable(m1x, termCount, starts[2], dM1xTable);
    fillRealTable(y, termCount, starts[3].re, dYTable);

    // psi_1(y)/xi_1(y) and the order-0 ratio across the shell.
    Complex psiOverXi{std::pow(std::sin(y) - y * std::cos(y), 2.0) / (ySquare + 1.0), 0.0};
    double numeratorIm = y * std::cos(2.0 * y) + 0.5 * (std::sin(2.0 * y) * (ySquare - 1.0));
    if (s == +1) numeratorIm = -numeratorIm;
    psiOverXi.im = numeratorIm / (ySquare + 1.0);
    Complex shellRatio;
    if (s == +1) {
        const Complex q = quotient({std::exp(-2.0 * m2x.im) - std::cos(2.0 * m2x.re), std::sin(2.0 * m2x.re)},
                                   {std::exp(-2.0 * m2y.im) - std::cos(2.0 * m2y.re), std::sin(2.0 * m2y.re)});
        const double scale = std::exp(2.0 * (m2x.im - m2y.im));
        shellRatio = {scale * q.re, scale * q.im};
    } else {
        const Complex q = quotient({std::cos(2.0 * m2x.re) - std::exp(2.0 * m2x.im), std::sin(2.0 * m2x.re)},
                                   {std::cos(2.0 * m2y.re) - std::exp(2.0 * m2y.im), std::sin(2.0 * m2y.re)});
        const double scale = std::exp(2.0 * (m2y.im - m2x.im));
        shellRatio = {scale * q.re, scale * q.im};
    }
    Complex dXiY{0.0, static_cast<double>(s)};
    Complex dXiM2y = dXiY;
    Complex dXiM2x = dXiY;
    const Complex one{1.0, 0.0};

    double sumExt = 0.0;
    double sumSca = 0.0;
    for (int n = 1; n <= termCount; ++n) {
        const double t = static_cast<double>(n) / y;
        if (n >= 2) {
            const Complex ratio = quotient(psiOverXi, {dXiY.re - t, dXiY.im});
            const double factor = dYTable[n] - t;
            psiOverXi = {factor * ratio.re, factor * ratio.im};
        }
        const Complex reciprocal = quotient(one, {t - dXiY.re, -dXiY.im});
        dXiY = {reciprocal.re - t, reciprocal.im};
        const Complex nOverM2y = orderOver(n, m2y);
        const Complex nOverM2x = orderOver(n, m2x);
        dXiM2y = difference(quotient(one, difference(nOverM2y, dXiM2y)), nOverM2y);
        dXiM2x = difference(quotient(one, difference(nOverM2x, dXiM2x)), nOverM2x);

        const Complex dM2y = dM2yTable[n + 1];
        const Complex dM2x = dM2xTable[n + 1];
        const Complex dM1x = dM1xTable[n + 1];
        const Complex dY{dYTable[n + 1], 0.0};
        const Complex p1 = product(sum(nOverM2y, dM2y), sum(nOverM2x, dXiM2x));
        const Complex p2 = product(sum(nOverM2x, dM2x), sum(nOverM2y, dXiM2y));
        shellRatio = product(shellRatio, quotient(p1, p2));

        const Complex u1 = crossDifference(m1, dXiM2x, m2, dM1x);
        const Complex u2 = crossDifference(m1, dM2x, m2, dM1x);
        const Complex v1 = crossDifference(one, dM2y, m2, dY);
        const Complex v2 = crossDifference(one, dXiM2y, m2, dY);
        const Complex v3 = crossDifference(one, dM2y, m2, dXiY);
        const Complex v4 = crossDifference(one, dXiM2y, m2, dXiY);
        const Complex w1 = crossDifference(m2, dXiM2x, m1, dM1x);
        const Complex w2 = crossDifference(m2, dM2x, m1, dM1x);
        const Complex z1 = crossDifference(m2, dM2y, one, dY);
        const Complex z2 = crossDifference(m2, dXiM2y, one, dY);
        const Complex z3 = crossDifference(m2, dM2y, one, dXiY);
        const Complex z4 = crossDifference(m2, dXiM2y, one, dXiY);
        const Complex g = product(shellRatio, u2);
        const Complex h = product(shellRatio, w2);
        const Complex a = product(psiOverXi, quotient(crossDifference(u1, v1, g, v2), crossDifference(u1, v3, g, v4)));
        const Complex b = product(psiOverXi, quotient(crossDifference(w1, z1, h, z2), crossDifference(w1, z3, h, z4)));
        aTable[n] = a;
        bTable[n] = b;

        const double f = 2.0 * n + 1.0;
        sumExt = (a.re + b.re) * f + sumExt;
        sumSca = (((std::pow(a.re, 2.0) + std::pow(a.im, 2.0)) + std::pow(b.re, 2.0)) + std::pow(b.im, 2.0)) * f +
                 sumSca;
    }

    const bool vacuumShell = m2.re == 1.0 && m2.im == 0.0;
    const double normSquare = vacuumShell ? std::pow(x, 2.0) : ySquare;
    result.Kext = (sumExt + sumExt) / normSquare;
    result.Ksca = (sumSca + sumSca) / normSquare;
    result.Kabs = result.Kext - result.Ksca;
    if (!(std::fabs(result.Kabs / result.Kext) >= 1e-10)) result.Kabs = 0.0;
    return termCount;
}

double coefficient(bool b, bool imaginary, int n) {
    const Complex c = (b ? bTable : aTable)[n];
    return imaginary ? c.im : c.re;
}

double logDerivative(int table, bool imaginary, int k) {
    if (table == 3) return imaginary ? 0.0 : dYTable[k];
    const Complex d = (table == 0 ? dM2yTable : table == 1 ? dM2xTable : dM1xTable)[k];
    return imaginary ? d.im : d.re;
}

void intensity(int termCount, double theta, double& I1, double& I2) {
    const int lastOrder = termCount < 99998 ? termCount : 99998;
    const double mu = std::cos(theta);
    const double sinSquare = std::pow(std::sin(theta), 2.0);
    double piPrev = 1.0, piPrev2 = 0.0, piPrimePrev = 0.0, piPrimePrev2 = 0.0;
    const double w1 = ((2.0 * 1 + 1.0) / 1.0) / (1.0 + 1.0);
    const Complex a1 = aTable[1], b1 = bTable[1];
    Complex s1{(piPrev * a1.re + mu * b1.re) * w1, (piPrev * a1.im + mu * b1.im) * w1};
    Complex s2{(mu * a1.re + piPrev * b1.re) * w1, (mu * a1.im + piPrev * b1.im) * w1};
    for (int n = 2; n <= lastOrder; ++n) {
        const double order = n;
        const double piN = ((mu * (2.0 * order - 1.0)) * piPrev - order * piPrev2) / (order - 1.0);
        const double piPrimeN = (2.0 * order - 1.0) * piPrev + piPrimePrev2;
        const double tauN = mu * piN - sinSquare * piPrimeN;
        piPrev2 = piPrev;
        piPrev = piN;
        piPrimePrev2 = piPrimePrev;
        piPrimePrev = piPrimeN;
        const double w = ((2.0 * order + 1.0) / order) / (order + 1.0);
        const Complex a = aTable[n], b = bTable[n];
        s1.re = (piN * a.re + tauN * b.re) * w + s1.re;
        s2.re = (tauN * a.re + piN * b.re) * w + s2.re;
        s1.im = (piN * a.im + tauN * b.im) * w + s1.im;
        s2.im = (tauN * a.im + piN * b.im) * w + s2.im;
    }
    I1 = s1.re * s1.re + s1.im * s1.im;
    I2 = s2.re * s2.re + s2.im * s2.im;
}

}  // namespace plain
