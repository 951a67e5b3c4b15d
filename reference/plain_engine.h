// The engine written line by line in scalar code, with the same algorithm and
// bits: the baseline of the benchmarks, and the tests' oracle of the engine's
// side-by-side evaluations.
#ifndef COATEDMIE_REFERENCE_PLAIN_ENGINE_H
#define COATEDMIE_REFERENCE_PLAIN_ENGINE_H

namespace plain {

struct Efficiencies {
    double Kext, Ksca, Kabs;
};

// The literal series, one computation at a time, for outer size parameters
// from 0.01 to the largest accepted: term count and efficiencies as the
// engine gives them where it takes no safeguard; below 0.01 only the
// log-derivative tables are the engine's (its coefficients take another path
// there).
int efficiencies(double alpha1, double index1Re, double index1Im, double alpha2, double index2Re,
                 double index2Im, Efficiencies& result);

// Entry n of a_n or b_n, and entry k (order k - 1) of a log-derivative table
// (0: m2 y, 1: m2 x, 2: m1 x, 3: y, real), of the last call.
double coefficient(bool b, bool imaginary, int n);
double logDerivative(int table, bool imaginary, int k);

// I1 and I2 at one angle from the last call's first max(N, 1) coefficients.
void intensity(int termCount, double theta, double& I1, double& I2);

}  // namespace plain

#endif  // COATEDMIE_REFERENCE_PLAIN_ENGINE_H
