// What the engine's tests share: the two layers of a computation, an Engine
// for the tests that run on one thread, storage for the internal steps, and
// results compared or hashed over their bit patterns.
#ifndef COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H
#define COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include <coatedmie/engine.h>

#include "tables.h"

namespace coatedmie::test_support {

// The two layers of a computation, in the order given; {5, 1.5, 0.01, 3, 2.0,
// 0.5} reads as two layers of size, real and imaginary part.
struct Layers {
    Layer first, second;
};

inline std::ostream& operator<<(std::ostream& os, const Layer& l) {
    return os << l.size << ", " << l.index.re << " + " << l.index.im << "i";
}

inline std::ostream& operator<<(std::ostream& os, const Layers& l) {
    return os << "(" << l.first << "; " << l.second << ")";
}

inline Layers swapped(const Layers& l) { return {l.second, l.first}; }

// One Engine for the single-threaded tests.
inline Engine& sharedEngine() {
    static Engine engine;
    return engine;
}

// Computes on the shared Engine; the efficiencies are written only on success.
inline int compute(const Layers& l, EfficiencyRecord& e) {
    Engine& engine = sharedEngine();
    const int n = engine.compute(l.first, l.second);
    if (n > 0) e = engine.efficiencies();
    return n;
}

// The shared Engine's coefficients, and its I1, I2 at one angle.
inline CoefficientView coefficients() { return sharedEngine().coefficients(); }

struct Intensity {
    double I1, I2;
};

inline Intensity intensityAt(double theta) {
    Intensity r{0.0, 0.0};
    sharedEngine().intensities(&theta, 1, &r.I1, &r.I2);
    return r;
}

// Storage for the internal steps of a computation of up to `orders` orders.
struct Workspace {
    explicit Workspace(int orders = kMaxTermCount)
        : entries(orders + 2), storage(static_cast<std::size_t>(kArraysPerComputation) * entries) {}
    LogDerivativeTables tables() { return logDerivativeTablesIn(storage.data(), entries); }
    CoefficientArrays coefficients() { return coefficientArraysIn(storage.data(), entries); }
    CoefficientView view(int termCount) {
        const CoefficientArrays c = coefficients();
        return {termCount, c.aRe, c.aIm, c.bRe, c.bIm};
    }
    int entries;
    std::vector<double> storage;
};

inline std::uint64_t bitsOf(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

inline bool sameBits(double u, double v) { return bitsOf(u) == bitsOf(v); }

inline bool sameBits(const EfficiencyRecord& e, const EfficiencyRecord& f) {
    return sameBits(e.Kext, f.Kext) && sameBits(e.Ksca, f.Ksca) && sameBits(e.Kabs, f.Kabs);
}

// FNV-1a over bit patterns.
inline std::uint64_t hashBits(std::uint64_t h, double v) { return (h ^ bitsOf(v)) * 1099511628211ULL; }

// The hash of a_n and b_n, n = 1..N, of a computation.
inline std::uint64_t coefficientHash(const CoefficientView& c) {
    std::uint64_t h = 1469598103934665603ULL;
    for (int n = 1; n <= c.termCount; ++n) {
        for (double v : {c.aRe[n], c.aIm[n], c.bRe[n], c.bIm[n]}) h = hashBits(h, v);
    }
    return h;
}

}  // namespace coatedmie::test_support

#endif  // COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H
