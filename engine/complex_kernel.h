// Complex arithmetic of the engine. Every complex quotient and product is
// formed by the plain formulas below (no operand scaling, no fused
// multiply-add), which fix the last bits of every complex result; here for
// one pair of operands, lane by lane in lanes.h. Complex values travel as
// separate real and imaginary parts.
#ifndef COATEDMIE_COMPLEX_KERNEL_H
#define COATEDMIE_COMPLEX_KERNEL_H

namespace coatedmie {

struct ComplexResult {
    double re;
    double im;
};

// u/w and u*w for u = a + ib, w = c + id. The quotient divides by c*c + d*d
// as it stands, so w = 0 gives a NaN quotient (never infinity); moduli beyond
// about 1e154 overflow the denominator. Nothing traps.
inline ComplexResult complexQuotient(double a, double b, double c, double d) {
    const double den = c * c + d * d;
    return {(a * c + b * d) / den, (b * c - a * d) / den};
}

inline ComplexResult complexProduct(double a, double b, double c, double d) {
    return {a * c - b * d, a * d + b * c};
}

// The same on complex pairs, and z1*z2 - z3*z4 from them (each
// product rounded before the difference). In a namespace of their own, which
// argument-dependent lookup does not search.
namespace pair_arithmetic {

inline ComplexResult product(const ComplexResult& u, const ComplexResult& w) {
    return complexProduct(u.re, u.im, w.re, w.im);
}

inline ComplexResult quotient(const ComplexResult& u, const ComplexResult& w) {
    return complexQuotient(u.re, u.im, w.re, w.im);
}

inline ComplexResult crossDifference(const ComplexResult& z1, const ComplexResult& z2,
                                     const ComplexResult& z3, const ComplexResult& z4) {
    const ComplexResult p = product(z1, z2);
    const ComplexResult q = product(z3, z4);
    return {p.re - q.re, p.im - q.im};
}

}  // namespace pair_arithmetic

}  // namespace coatedmie

#endif  // COATEDMIE_COMPLEX_KERNEL_H
