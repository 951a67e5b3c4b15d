// Derivatives of the coefficients a_n, b_n, and through them of every
// efficiency, with respect to the two indices and the two size parameters,
// computed beside the values from the per-order values of the series.
//
// The coefficients are analytic functions of m1, m2, x and y, through the
// arguments z = m1 x, m2 x, m2 y and y of their Riccati functions, and the
// derivatives of those follow from the values alone: psi_n and xi_n solve
// f'' = (n(n+1)/z^2 - 1) f, so every logarithmic derivative L of them obeys
// L' = mu - L^2 with mu = n(n+1)/z^2 - 1, and a ratio of two of them moves with
// the difference of their logarithmic derivatives.
//
// The series' own form cannot be differentiated as it stands near a zero of
// psi_n: there D_n = psi_n'/psi_n and the shell ratio grow without bound,
// their derivatives like their squares, and the derivative of a finite
// coefficient would come out as the difference of two huge terms. So each
// psi_n enters here as the pair (psi_n, psi_n')/c, scaled by c = psi_n where
// |D_n| <= 1 and by c = psi_n' elsewhere: (1, D_n) or (1/D_n, 1), neither of
// which grows, with d ln c = D_n or mu/D_n, neither of which grows either. In
// these pairs the a_n of the series (U1 V1 - G V2)/(U1 V3 - G V4) psi/xi reads
//   a_n = (U A1 - K A2)/(U B1 - K B2)
// with U = m1 dxi(m2x) h1 - m2 h1', K = T (m1 h2x' h1 - m2 h1' h2x),
// A1 = R h2y' - m2 P h2y, A2 = R dxi(m2y) - m2 P, B1 = h2y' - m2 dxi(y) h2y,
// B2 = dxi(m2y) - m2 dxi(y), (h, h') the pairs at m1 x, m2 x and m2 y,
// R = psi_n(y)/xi_n(y), P = R D_n(y) = psi_n'(y)/xi_n(y), and T the shell
// ratio for the scales c: every term finite, the poles divided out. b_n is the
// same with m1 and m2 exchanged in U and K and with 1 and m2 in A and B. Each
// derivative is then a sum over these terms of (partial derivative of the
// quotient) x (derivative of the term), no term larger than the result's scale.
#include <cmath>

#include <coatedmie/engine.h>

#include "complex_kernel.h"
#include "kernels.h"
#include "tables.h"

namespace coatedmie {

namespace {

using namespace pair_arithmetic;
using Complex = ComplexResult;

inline Complex operator+(const Complex& u, const Complex& w) { return {u.re + w.re, u.im + w.im}; }
inline Complex operator-(const Complex& u, const Complex& w) { return {u.re - w.re, u.im - w.im}; }
inline Complex operator*(const Complex& u, const Complex& w) { return product(u, w); }
inline Complex operator/(const Complex& u, const Complex& w) { return quotient(u, w); }
inline Complex operator*(double s, const Complex& u) { return {s * u.re, s * u.im}; }

// A psi_n at one argument, as the scaled pair, with the derivatives of both
// members and of ln c with respect to the argument.
struct ScaledPsi {
    Complex h, hPrime;  // (psi, psi')/c
    Complex dlnc;       // d ln c / dz
    Complex dh, dhPrime;
};

ScaledPsi scaledPsi(const Complex& D, const Complex& mu) {
    ScaledPsi p;
    if (D.re * D.re + D.im * D.im <= 1.0) {
        p.h = {1.0, 0.0};
        p.hPrime = D;
        p.dlnc = D;
    } else {
        const Complex E = Complex{1.0, 0.0} / D;
        p.h = E;
        p.hPrime = {1.0, 0.0};
        p.dlnc = mu * E;
    }
    p.dh = p.hPrime - p.h * p.dlnc;
    p.dhPrime = mu * p.h - p.hPrime * p.dlnc;
    return p;
}

// n(n+1)/z^2 - 1.
Complex muOf(double orderTerm, const Complex& z) {
    const Complex inverse = Complex{1.0, 0.0} / z;
    const Complex square = inverse * inverse;
    return {orderTerm * square.re - 1.0, orderTerm * square.im};
}

// The partial derivatives of one coefficient with respect to the arguments
// m1 x, m2 x, m2 y, y and to m1, m2 where they stand on their own.
struct Partials {
    Complex z1, z2x, z2y, y, m1, m2;
};

// The values of one order that both coefficients share.
struct OrderTerms {
    ScaledPsi core, inner, outer;  // at m1 x, m2 x, m2 y
    Complex dXiInner, dXiOuter, dXiY;
    Complex dXiInnerPrime, dXiOuterPrime, dXiYPrime;  // mu - dxi^2
    Complex R, P, RPrime, PPrime;
    Complex T, dlnTInner, dlnTOuter;  // d ln T / dz at m2 x and m2 y
};

// One coefficient c = (U A1 - K A2)/(U B1 - K B2) of the form above, with
// U = p dxi(m2x) h1 - q h1', K = T (p h2x' h1 - q h1' h2x),
// A1 = u R h2y' - v P h2y, A2 = u R dxi(m2y) - v P,
// B1 = u h2y' - v dxi(y) h2y, B2 = u dxi(m2y) - v dxi(y):
// (p, q, u, v) = (m1, m2, 1, m2) for a_n, (m2, m1, m2, 1) for b_n.
Partials partials(const OrderTerms& t, const Complex& c, bool isA, const Complex& m1, const Complex& m2) {
    const Complex one{1.0, 0.0};
    const Complex zero{0.0, 0.0};
    const Complex p = isA ? m1 : m2;
    const Complex q = isA ? m2 : m1;
    const Complex u = isA ? one : m2;
    const Complex v = isA ? m2 : one;
    const ScaledPsi& h1 = t.core;
    const ScaledPsi& h2x = t.inner;
    const ScaledPsi& h2y = t.outer;
    const Complex U = p * t.dXiInner * h1.h - q * h1.hPrime;
    const Complex K = t.T * (p * h2x.hPrime * h1.h - q * h1.hPrime * h2x.h);
    const Complex A1 = u * t.R * h2y.hPrime - v * t.P * h2y.h;
    const Complex A2 = u * t.R * t.dXiOuter - v * t.P;
    const Complex B1 = u * h2y.hPrime - v * t.dXiY * h2y.h;
    const Complex B2 = u * t.dXiOuter - v * t.dXiY;
    const Complex den = U * B1 - K * B2;
    // The partial derivatives of c with respect to U, K, A1, A2, B1 and B2.
    const Complex cU = (A1 - c * B1) / den;
    const Complex cK = (c * B2 - A2) / den;
    const Complex cA1 = U / den;
    const Complex cA2 = zero - K / den;
    const Complex cB1 = zero - c * U / den;
    const Complex cB2 = c * K / den;

    Partials d;
    d.z1 = cU * (p * t.dXiInner * h1.dh - q * h1.dhPrime) +
           cK * (t.T * (p * h2x.hPrime * h1.dh - q * h1.dhPrime * h2x.h));
    d.z2x = cU * (p * t.dXiInnerPrime * h1.h) +
            cK * (t.T * (p * h2x.dhPrime * h1.h - q * h1.hPrime * h2x.dh) + K * t.dlnTInner);
    d.z2y = cK * (K * t.dlnTOuter) + cA1 * (u * t.R * h2y.dhPrime - v * t.P * h2y.dh) +
            cA2 * (u * t.R * t.dXiOuterPrime) + cB1 * (u * h2y.dhPrime - v * t.dXiY * h2y.dh) +
            cB2 * (u * t.dXiOuterPrime);
    d.y = cA1 * (u * t.RPrime * h2y.hPrime - v * t.PPrime * h2y.h) + cA2 * (u * t.RPrime * t.dXiOuter - v * t.PPrime) -
          cB1 * (v * t.dXiYPrime * h2y.h) - cB2 * (v * t.dXiYPrime);
    // Where p, q, u and v themselves change.
    const Complex byP = cU * (t.dXiInner * h1.h) + cK * (t.T * h2x.hPrime * h1.h);
    const Complex byQ = zero - cU * h1.hPrime - cK * (t.T * h1.hPrime * h2x.h);
    const Complex byU = cA1 * (t.R * h2y.hPrime) + cA2 * (t.R * t.dXiOuter) + cB1 * h2y.hPrime + cB2 * t.dXiOuter;
    const Complex byV = zero - cA1 * (t.P * h2y.h) - cA2 * t.P - cB1 * (t.dXiY * h2y.h) - cB2 * t.dXiY;
    d.m1 = isA ? byP : byQ;
    d.m2 = isA ? byQ + byV : byP + byU;
    return d;
}

Complex at(const double* re, const double* im, int n) { return {re[n], im[n]}; }

OrderTerms orderTerms(const Scatterer& s, const SeriesValues& v, int n) {
    const double orderTerm = static_cast<double>(n) * (n + 1.0);
    const Complex m1{s.m1Re, s.m1Im}, m2{s.m2Re, s.m2Im};
    const Complex z1 = s.x * m1, z2x = s.x * m2, z2y = s.y * m2, y{s.y, 0.0};
    const Complex mu1 = muOf(orderTerm, z1), mu2x = muOf(orderTerm, z2x), mu2y = muOf(orderTerm, z2y),
                  muY = muOf(orderTerm, y);
    OrderTerms t;
    const Complex D2x = at(v.dM2xRe, v.dM2xIm, n), D2y = at(v.dM2yRe, v.dM2yIm, n);
    t.core = scaledPsi(at(v.dM1xRe, v.dM1xIm, n), mu1);
    t.inner = scaledPsi(D2x, mu2x);
    t.outer = scaledPsi(D2y, mu2y);
    t.dXiInner = at(v.dXiM2xRe, v.dXiM2xIm, n);
    t.dXiOuter = at(v.dXiM2yRe, v.dXiM2yIm, n);
    t.dXiY = at(v.dXiYRe, v.dXiYIm, n);
    t.dXiInnerPrime = mu2x - t.dXiInner * t.dXiInner;
    t.dXiOuterPrime = mu2y - t.dXiOuter * t.dXiOuter;
    t.dXiYPrime = muY - t.dXiY * t.dXiY;
    t.R = at(v.psiOverXiRe, v.psiOverXiIm, n);
    t.P = v.dY[n] * t.R;
    t.RPrime = t.P - t.R * t.dXiY;
    t.PPrime = muY * t.R - t.P * t.dXiY;
    // T = shell ratio (c_2x / psi(m2x)) (psi(m2y) / c_2y).
    t.T = at(v.shellRatioRe, v.shellRatioIm, n);
    if (t.inner.h.re != 1.0 || t.inner.h.im != 0.0) t.T = t.T * D2x;
    if (t.outer.h.re != 1.0 || t.outer.h.im != 0.0) t.T = t.T * t.outer.h;
    t.dlnTInner = t.inner.dlnc - t.dXiInner;
    t.dlnTOuter = t.dXiOuter - t.outer.dlnc;
    return t;
}

// d/dm1, d/dm2, d/dx, d/dy of one coefficient.
struct CoefficientDerivatives {
    Complex m1, m2, x, y;
};

CoefficientDerivatives byParameters(const Scatterer& s, const Partials& d) {
    const Complex m1{s.m1Re, s.m1Im}, m2{s.m2Re, s.m2Im};
    return {s.x * d.z1 + d.m1, s.x * d.z2x + s.y * d.z2y + d.m2, d.z1 * m1 + d.z2x * m2, d.z2y * m2 + d.y};
}

}  // namespace

void computeDerivatives(const Scatterer& s, const CoefficientView& c, const SeriesValues& v, double normSquare,
                        bool normBySize, const EfficiencyRecord& e, ScattererDerivatives& out) {
    const Complex m1{s.m1Re, s.m1Im}, m2{s.m2Re, s.m2Im};
    const Complex i{0.0, 1.0};
    // Per real parameter j: Re m1, Im m1, x, Re m2, Im m2, y.
    constexpr int kParameters = 6;
    double ext[kParameters] = {}, sca[kParameters] = {}, neighbour[kParameters] = {}, cross[kParameters] = {};
    Complex back[kParameters] = {};
    Complex backValue{0.0, 0.0};
    double neighbourValue = 0.0, crossValue = 0.0;
    Complex previousA[kParameters], previousB[kParameters];
    Complex aPrevious{0.0, 0.0}, bPrevious{0.0, 0.0};
    for (int n = 1; n <= c.termCount; ++n) {
        const Complex a{c.aRe[n], c.aIm[n]}, b{c.bRe[n], c.bIm[n]};
        const OrderTerms t = orderTerms(s, v, n);
        const CoefficientDerivatives da = byParameters(s, partials(t, a, true, m1, m2));
        const CoefficientDerivatives db = byParameters(s, partials(t, b, false, m1, m2));
        const Complex dA[kParameters] = {da.m1, i * da.m1, da.x, da.m2, i * da.m2, da.y};
        const Complex dB[kParameters] = {db.m1, i * db.m1, db.x, db.m2, i * db.m2, db.y};
        const double order = n;
        const double f = 2.0 * order + 1.0;
        const double alternating = n % 2 == 0 ? f : -f;
        const double crossWeight = f / (order * (order + 1.0));
        // Weight of the pair (n - 1, n) in g Ksca.
        const double neighbourWeight = (order - 1.0) * (order + 1.0) / order;
        backValue = backValue + alternating * (a - b);
        crossValue += crossWeight * (a.re * b.re + a.im * b.im);
        if (n >= 2) {
            neighbourValue += neighbourWeight * (((aPrevious.re * a.re + aPrevious.im * a.im) +
                                                  bPrevious.re * b.re) + bPrevious.im * b.im);
        }
        for (int j = 0; j < kParameters; ++j) {
            ext[j] += f * (dA[j].re + dB[j].re);
            sca[j] += 2.0 * f * (((a.re * dA[j].re + a.im * dA[j].im) + b.re * dB[j].re) + b.im * dB[j].im);
            back[j] = back[j] + alternating * (dA[j] - dB[j]);
            cross[j] += crossWeight * (((dA[j].re * b.re + dA[j].im * b.im) + a.re * dB[j].re) + a.im * dB[j].im);
            if (n >= 2) {
                neighbour[j] += neighbourWeight *
                                (((previousA[j].re * a.re + previousA[j].im * a.im) + aPrevious.re * dA[j].re +
                                  aPrevious.im * dA[j].im) +
                                 ((previousB[j].re * b.re + previousB[j].im * b.im) + bPrevious.re * dB[j].re +
                                  bPrevious.im * dB[j].im));
            }
            previousA[j] = dA[j];
            previousB[j] = dB[j];
        }
        aPrevious = a;
        bPrevious = b;
    }
    const double gKsca = 4.0 * (neighbourValue + crossValue) / normSquare;
    const double Kback = (backValue.re * backValue.re + backValue.im * backValue.im) / normSquare;
    const double g = gKsca / e.Ksca;
    const double albedo = e.Ksca / e.Kext;
    DerivativeRecord* records[kParameters] = {&out.m1Re, &out.m1Im, &out.x, &out.m2Re, &out.m2Im, &out.y};
    for (int j = 0; j < kParameters; ++j) {
        // The cross-section the efficiencies are referred to: y^2, or x^2.
        const double normChange =
            (j == 2 && !normBySize) || (j == 5 && normBySize) ? 2.0 / (j == 2 ? s.x : s.y) : 0.0;
        DerivativeRecord& r = *records[j];
        r.Kext = 2.0 * ext[j] / normSquare - e.Kext * normChange;
        r.Ksca = 2.0 * sca[j] / normSquare - e.Ksca * normChange;
        r.Kabs = r.Kext - r.Ksca;
        r.Kback = 2.0 * (backValue.re * back[j].re + backValue.im * back[j].im) / normSquare - Kback * normChange;
        const double dgKsca = 4.0 * (neighbour[j] + cross[j]) / normSquare - gKsca * normChange;
        r.g = (dgKsca - g * r.Ksca) / e.Ksca;
        r.Kpr = r.Kext - dgKsca;
        r.albedo = (r.Ksca - albedo * r.Kext) / e.Kext;
    }
}

}  // namespace coatedmie
