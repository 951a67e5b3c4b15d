// Independent reference for the tests: the Mie coefficients of a homogeneous
// sphere (Bohren & Huffman, "Absorption and Scattering of Light by Small
// Particles", 1983, section 4.8), written plainly with std::complex, an
// upward recurrence for psi_n and chi_n of the real size and a downward
// recurrence for D_n(m x). Convention m = n + ik, xi_n = psi_n - i chi_n.
#ifndef COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H
#define COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H

#include <cmath>
#include <complex>
#include <vector>

namespace coatedmie::testing_reference {

struct HomogeneousSphere {
    std::vector<std::complex<double>> a;  // a[n - 1] holds order n
    std::vector<std::complex<double>> b;
    double Qext = 0;
    double Qsca = 0;
};

inline HomogeneousSphere homogeneousSphere(double x, std::complex<double> m, int termCount) {
    const std::complex<double> mx = m * x;
    const int start = termCount + 15 + static_cast<int>(std::abs(mx));
    std::vector<std::complex<double>> d(start + 1, 0.0);
    for (int n = start; n >= 1; --n) {
        d[n - 1] = static_cast<double>(n) / mx - 1.0 / (d[n] + static_cast<double>(n) / mx);
    }
    HomogeneousSphere result;
    double psiPrev = std::cos(x);  // psi_{-1}
    double psi = std::sin(x);      // psi_0
    double chiPrev = -std::sin(x);
    double chi = std::cos(x);
    std::complex<double> xiPrev(psi, -chi);
    for (int n = 1; n <= termCount; ++n) {
        const double nu = 2.0 * n - 1.0;
        const double psiN = nu * psi / x - psiPrev;
        const double chiN = nu * chi / x - chiPrev;
        const std::complex<double> xiN(psiN, -chiN);
        const std::complex<double> da = d[n] / m + static_cast<double>(n) / x;
        const std::complex<double> db = m * d[n] + static_cast<double>(n) / x;
        const std::complex<double> a = (da * psiN - psi) / (da * xiN - xiPrev);
        const std::complex<double> b = (db * psiN - psi) / (db * xiN - xiPrev);
        result.a.push_back(a);
        result.b.push_back(b);
        result.Qext += (2.0 * n + 1.0) * (a.real() + b.real());
        result.Qsca += (2.0 * n + 1.0) * (std::norm(a) + std::norm(b));
        psiPrev = psi;
        psi = psiN;
        chiPrev = chi;
        chi = chiN;
        xiPrev = std::complex<double>(psi, -chi);
    }
    result.Qext *= 2.0 / (x * x);
    result.Qsca *= 2.0 / (x * x);
    return result;
}

}  // namespace coatedmie::testing_reference

#endif  // COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H
