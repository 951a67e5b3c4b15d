#include "quad_reference.h"

#include <quadmath.h>

#include <algorithm>
#include <utility>

namespace coatedmie::quad_reference {
namespace {

Complex operator+(Complex u, Complex w) { return {u.re + w.re, u.im + w.im}; }
Complex operator-(Complex u, Complex w) { return {u.re - w.re, u.im - w.im}; }
Complex operator*(Complex u, Complex w) { return {u.re * w.re - u.im * w.im, u.re * w.im + u.im * w.re}; }
Complex operator*(Real r, Complex w) { return {r * w.re, r * w.im}; }
Complex operator/(Complex u, Complex w) {
    // The exponent range of __float128 (to 1e4932) makes scaling unnecessary.
    const Real den = w.re * w.re + w.im * w.im;
    return {(u.re * w.re + u.im * w.im) / den, (u.im * w.re - u.re * w.im) / den};
}
Complex conjugate(Complex z) { return {z.re, -z.im}; }

Complex sine(Complex z) { return {sinq(z.re) * coshq(z.im), cosq(z.re) * sinhq(z.im)}; }
Complex cosine(Complex z) { return {cosq(z.re) * coshq(z.im), -sinq(z.re) * sinhq(z.im)}; }

struct RiccatiValues {
    Complex psi, dpsi;  // psi_n(z), psi_n'(z)
    Complex chi, dchi;  // chi_n(z), chi_n'(z)
};

// psi_n(z) = z^(n+1)/(2n+1)!! * sum_k t_k with t_0 = 1 and
// t_k = t_(k-1) (-z^2/2) / (k (2n + 2k + 1)); the derivative takes the
// factor n + 1 + 2k into each term. For |z| up to 40 the largest term
// exceeds the sum by at most e^|z|/e^|Im z|, about 17 of the 34 digits.
std::vector<RiccatiValues> riccatiFunctions(Complex z, int orders) {
    std::vector<RiccatiValues> f(orders + 1);
    const Complex minusHalfSquare = Real(-0.5) * (z * z);
    const Real modulusSquare = z.re * z.re + z.im * z.im;
    Complex leading = z;  // z^(n+1)/(2n+1)!!
    for (int n = 0; n <= orders; ++n) {
        if (n > 0) leading = (Real(1) / Real(2 * n + 1)) * (leading * z);
        Complex term{1, 0};
        Complex sum{1, 0};
        Complex derivativeSum{Real(n + 1), 0};
        for (int k = 1;; ++k) {
            term = (Real(1) / (Real(k) * Real(2 * n + 2 * k + 1))) * (term * minusHalfSquare);
            sum = sum + term;
            derivativeSum = derivativeSum + Real(n + 1 + 2 * k) * term;
            const Real size = fabsq(term.re) + fabsq(term.im);
            // Past the largest term the terms shrink faster than geometrically.
            if (Real(2 * k) * Real(2 * n + 2 * k + 1) > 4 * modulusSquare &&
                size < Real(1e-40) * (fabsq(sum.re) + fabsq(sum.im))) {
                break;
            }
        }
        f[n].psi = leading * sum;
        f[n].dpsi = leading * derivativeSum / z;
    }
    f[0].chi = cosine(z);
    f[0].dchi = Complex{0, 0} - sine(z);
    if (orders >= 1) f[1].chi = f[0].chi / z + sine(z);
    for (int n = 1; n < orders; ++n) {
        f[n + 1].chi = Real(2 * n + 1) * (f[n].chi / z) - f[n - 1].chi;
    }
    for (int n = 1; n <= orders; ++n) {
        f[n].dchi = f[n - 1].chi - Real(n) * (f[n].chi / z);
    }
    return f;
}

}  // namespace

Real toReal(double v) { return static_cast<Real>(v); }
double toDouble(Real v) { return static_cast<double>(v); }
Real absolute(Complex z) { return hypotq(z.re, z.im); }

Solution coatedSphere(double alpha1, double index1Re, double index1Im, double alpha2,
                      double index2Re, double index2Im, int termCount) {
    if (alpha1 < alpha2) {
        std::swap(alpha1, alpha2);
        std::swap(index1Re, index2Re);
        std::swap(index1Im, index2Im);
    }
    const bool negativeConvention = index1Im < 0 || index2Im < 0;
    const Real y = alpha1, x = alpha2;
    const Complex m2{index1Re, fabsq(index1Im)}, m1{index2Re, fabsq(index2Im)};
    const Complex yc{y, 0}, m2y = m2 * yc, m2x = m2 * Complex{x, 0}, m1x = m1 * Complex{x, 0};

    const int orders = std::max(termCount, static_cast<int>(y + 4 * cbrtq(y)) + 12);
    const auto fy = riccatiFunctions(yc, orders);
    const auto fm2y = riccatiFunctions(m2y, orders);
    const auto fm2x = riccatiFunctions(m2x, orders);
    const auto fm1x = riccatiFunctions(m1x, orders);

    Solution s;
    Real sumExt = 0, sumSca = 0;
    const Complex minusI{0, -1};
    for (int n = 1; n <= orders; ++n) {
        const RiccatiValues &Y = fy[n], &M2y = fm2y[n], &M2x = fm2x[n], &M1x = fm1x[n];
        const Complex xi = Y.psi + minusI * Y.chi, dxi = Y.dpsi + minusI * Y.dchi;
        const Complex A = (m2 * M2x.psi * M1x.dpsi - m1 * M2x.dpsi * M1x.psi) /
                          (m2 * M2x.chi * M1x.dpsi - m1 * M2x.dchi * M1x.psi);
        const Complex B = (m2 * M1x.psi * M2x.dpsi - m1 * M1x.dpsi * M2x.psi) /
                          (m2 * M2x.dchi * M1x.psi - m1 * M1x.dpsi * M2x.chi);
        const Complex dA = M2y.dpsi - A * M2y.dchi, fA = M2y.psi - A * M2y.chi;
        const Complex dB = M2y.dpsi - B * M2y.dchi, fB = M2y.psi - B * M2y.chi;
        Complex a = (Y.psi * dA - m2 * Y.dpsi * fA) / (xi * dA - m2 * dxi * fA);
        Complex b = (m2 * Y.psi * dB - Y.dpsi * fB) / (m2 * xi * dB - dxi * fB);
        if (negativeConvention) {
            a = conjugate(a);
            b = conjugate(b);
        }
        s.a.push_back(a);
        s.b.push_back(b);
        const Real weight = 2 * n + 1;
        sumExt += weight * (a.re + b.re);
        sumSca += weight * (a.re * a.re + a.im * a.im + b.re * b.re + b.im * b.im);
    }
    const bool vacuumShell = m2.re == 1 && m2.im == 0;
    const Real normSquare = vacuumShell ? x * x : y * y;
    s.Kext = 2 * sumExt / normSquare;
    s.Ksca = 2 * sumSca / normSquare;
    s.Kabs = s.Kext - s.Ksca;
    return s;
}

Intensities intensities(const Solution& s, double theta) {
    const Real mu = cosq(toReal(theta));
    Complex s1{0, 0}, s2{0, 0};
    Real piPrev = 0, pi = 1;
    for (std::size_t i = 0; i < s.a.size(); ++i) {
        const Real n = static_cast<Real>(i + 1);
        if (i > 0) {
            const Real next = ((2 * n - 1) * mu * pi - n * piPrev) / (n - 1);
            piPrev = pi;
            pi = next;
        }
        const Real tau = n * mu * pi - (n + 1) * piPrev;
        const Real w = (2 * n + 1) / (n * (n + 1));
        s1 = s1 + w * (pi * s.a[i] + tau * s.b[i]);
        s2 = s2 + w * (tau * s.a[i] + pi * s.b[i]);
    }
    return {s1.re * s1.re + s1.im * s1.im, s2.re * s2.re + s2.im * s2.im};
}

namespace {

// The quasi-static 2^l-pole factor of a core (permittivity e1, radius
// fraction q^(1/(2l+1))) in a shell e2, from the potentials r^l and
// r^-(l+1) matched at both surfaces; l = 1 is Bohren & Huffman's eq. 5.36.
Complex multipoleFactor(int l, Real q, Complex e1, Complex e2) {
    const Complex one{1, 0};
    const Real L = l, L1 = l + 1;
    const Complex coreMatch = L * e1 + L1 * e2;
    const Complex num = (e2 - one) * coreMatch + q * ((e1 - e2) * (L * one + L1 * e2));
    const Complex den = (L * e2 + L1 * one) * coreMatch + (q * L * L1) * ((e1 - e2) * (e2 - one));
    return num / den;
}

}  // namespace

Complex rayleighFirstCoefficient(Real y, Real x, Complex m2, Complex m1) {
    const Real f = (x / y) * (x / y) * (x / y);
    return Complex{0, -Real(2) / 3 * y * y * y} * multipoleFactor(1, f, m1 * m1, m2 * m2);
}

Solution rayleighLimit(double alpha1, double index1Re, double index1Im, double alpha2,
                       double index2Re, double index2Im) {
    if (alpha1 < alpha2) {
        std::swap(alpha1, alpha2);
        std::swap(index1Re, index2Re);
        std::swap(index1Im, index2Im);
    }
    const bool negativeConvention = index1Im < 0 || index2Im < 0;
    const Real y = alpha1, x = alpha2, ratio = x / y;
    const Complex m2{index1Re, fabsq(index1Im)}, m1{index2Re, fabsq(index2Im)};
    const Complex e2 = m2 * m2, e1 = m1 * m1, one{1, 0};
    const Real y3 = y * y * y, y5 = y3 * y * y, q5 = powq(ratio, 5);
    Complex a1 = rayleighFirstCoefficient(y, x, m2, m1);
    // a_2 = -(i/15) y^5 P_2; b_1 = -(i/45) y^5 ((e2 - 1) + (x/y)^5 (e1 - e2)).
    Complex a2 = Complex{0, -y5 / 15} * multipoleFactor(2, q5, e1, e2);
    Complex b1 = Complex{0, -y5 / 45} * ((e2 - one) + q5 * (e1 - e2));
    if (negativeConvention) {
        a1 = conjugate(a1);
        a2 = conjugate(a2);
        b1 = conjugate(b1);
    }
    Solution s;
    s.a = {a1, a2};
    s.b = {b1, Complex{0, 0}};
    const bool vacuumShell = m2.re == 1 && m2.im == 0;
    const Real normSquare = vacuumShell ? x * x : y * y;
    s.Kabs = 2 * (3 * (a1.re + b1.re) + 5 * a2.re) / normSquare;
    s.Ksca = 2 * (3 * (a1.re * a1.re + a1.im * a1.im + b1.re * b1.re + b1.im * b1.im) +
                  5 * (a2.re * a2.re + a2.im * a2.im)) / normSquare;
    s.Kext = s.Kabs + s.Ksca;
    return s;
}

}  // namespace coatedmie::quad_reference
