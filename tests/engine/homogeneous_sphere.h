// Independent reference for the tests: Mie coefficients of a homogeneous
// sphere after Bohren & Huffman (1983, section 4.8), plainly in std::complex:
// upward recurrences for psi_n and chi_n of the real size, downward for
// D_n(m x). Convention m = n + ik, xi_n = psi_n - i chi_n.
#ifndef COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H
#define COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H

#include <cmath>
#include <complex>
#include <vector>

namespace coatedmie::testing_reference {

struct HomogeneousSphere {
    std::vector<std::complex<double>> a, b;  // index n - 1 holds order n
    double Qext = 0, Qsca = 0;
};

inline HomogeneousSphere homogeneousSphere(double x, std::complex<double> m, int termCount) {
    const std::complex<double> mx = m * x;
    std::vector<std::complex<double>> d(termCount + 16 + static_cast<int>(std::abs(mx)), 0.0);
    for (int n = static_cast<int>(d.size()) - 1; n >= 1; --n) {
        d[n - 1] = static_cast<double>(n) / mx - 1.0 / (d[n] + static_cast<double>(n) / mx);
    }
    HomogeneousSphere s;
    double psiPrev = std::cos(x), psi = std::sin(x), chiPrev = -std::sin(x), chi = std::cos(x);
    for (int n = 1; n <= termCount; ++n) {
        const double psiN = (2.0 * n - 1.0) * psi / x - psiPrev;
        const double chiN = (2.0 * n - 1.0) * chi / x - chiPrev;
        const std::complex<double> xi(psi, -chi), xiN(psiN, -chiN);
        const std::complex<double> da = d[n] / m + static_cast<double>(n) / x;
        const std::complex<double> db = m * d[n] + static_cast<double>(n) / x;
        s.a.push_back((da * psiN - psi) / (da * xiN - xi));
        s.b.push_back((db * psiN - psi) / (db * xiN - xi));
        s.Qext += (2.0 * n + 1.0) * (s.a.back().real() + s.b.back().real()) * 2.0 / (x * x);
        s.Qsca += (2.0 * n + 1.0) * (std::norm(s.a.back()) + std::norm(s.b.back())) * 2.0 / (x * x);
        psiPrev = psi, psi = psiN, chiPrev = chi, chi = chiN;
    }
    return s;
}

}  // namespace coatedmie::testing_reference

#endif  // COATEDMIE_TESTS_HOMOGENEOUS_SPHERE_H
