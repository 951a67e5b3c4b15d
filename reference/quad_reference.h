// Test-only reference: the coated sphere in quadruple precision (__float128,
// 113-bit significand), by a route that shares nothing with the engine.
//
// The Riccati-Bessel functions themselves are formed, not their ratios:
// psi_n(z) and psi_n'(z) from their power series (they converge for every z
// and, unlike upward recurrence, keep full relative accuracy for small z),
// chi_n(z) by upward recurrence from chi_0 = cos z (the dominant solution, so
// the recurrence is stable). The coefficients follow Aden and Kerker as
// written in Bohren & Huffman (1983), eqs. 8.2 and 8.3, with xi_n = psi_n - i
// chi_n and m = n + ik; for the other sign convention the coefficients are
// the complex conjugates.
//
// The differences of products in those formulas cancel for small arguments:
// at most a factor of about 1/y^2 (1/x^2 for the core terms), that is 16 of
// the 34 digits at y = 1e-8 and 22 at a core of 1e-11. The reference is then
// still good to better than 1e-15 relative, which the tests verify against
// the Rayleigh limit of the coated sphere and against a long-double
// evaluation where both apply.
#ifndef COATEDMIE_REFERENCE_QUAD_REFERENCE_H
#define COATEDMIE_REFERENCE_QUAD_REFERENCE_H

#include <vector>

namespace coatedmie::quad_reference {

using Real = __float128;

struct Complex {
    Real re, im;
};

struct Solution {
    std::vector<Complex> a, b;  // index n - 1 holds order n
    Real Kext = 0, Ksca = 0, Kabs = 0;
};

// The coated sphere of the two layers as the program gets them (size
// parameter, refractive index in either order and either sign convention),
// with the efficiencies referred to the outer cross-section, or to the
// core's when the shell index is exactly 1 + 0i. The series is summed to
// convergence; termCount only sets a minimum number of orders.
Solution coatedSphere(double alpha1, double index1Re, double index1Im, double alpha2,
                      double index2Re, double index2Im, int termCount = 0);

struct Intensities {
    Real I1, I2;
};

// |S1|^2 and |S2|^2 at the scattering angle theta (radians).
Intensities intensities(const Solution& s, double theta);

// The leading term of a_1 for a small coated sphere: -(2i/3) y^3 times the
// quasi-static polarisability factor of a coated sphere (Bohren & Huffman,
// eq. 5.36 rewritten for the relative permittivities of core and shell).
// Relative error of order y^2. Positive sign convention.
Complex rayleighFirstCoefficient(Real y, Real x, Complex m2, Complex m1);

// The small-particle limit of the coated sphere, with the same interface as
// coatedSphere: a_1, a_2 and b_1 from their leading terms in y (the
// quasi-static dipole and quadrupole of the layered sphere, and its magnetic
// dipole), b_2 and higher orders zero; Kabs from the leading real parts,
// Ksca from the squares, Kext their sum. Relative errors are of order y^2,
// so below y = 1e-8 this is exact to double precision, where the Riccati
// functions of coatedSphere cancel too much of their 34 digits.
Solution rayleighLimit(double alpha1, double index1Re, double index1Im, double alpha2,
                       double index2Re, double index2Im);

Real toReal(double v);
double toDouble(Real v);
Real absolute(Complex z);

}  // namespace coatedmie::quad_reference

#endif  // COATEDMIE_REFERENCE_QUAD_REFERENCE_H
