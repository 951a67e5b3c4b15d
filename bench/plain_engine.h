// The engine's baseline in the benchmarks: the same algorithm and bits,
// written line by line in scalar code.
#ifndef COATEDMIE_BENCH_PLAIN_ENGINE_H
#define COATEDMIE_BENCH_PLAIN_ENGINE_H

namespace plain {

struct Efficiencies {
    double Kext, Ksca, Kabs;
};

// computeCoatedSphere's contract for outer size parameters from 0.01 to the
// table capacity.
int efficiencies(double alpha1, double index1Re, double index1Im, double alpha2, double index2Re,
                 double index2Im, Efficiencies& result);

}  // namespace plain

#endif  // COATEDMIE_BENCH_PLAIN_ENGINE_H
