// What the engine's tests share: the two layers of a computation, and
// results compared or hashed over their bit patterns.
#ifndef COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H
#define COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <ostream>

#include <coatedmie/engine.h>

namespace coatedmie::test_support {

// The arguments of computeCoatedSphere, in its order.
struct Layers {
    double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
};

inline std::ostream& operator<<(std::ostream& os, const Layers& l) {
    return os << "(" << l.alpha1 << ", " << l.index1Re << " + " << l.index1Im << "i; " << l.alpha2
              << ", " << l.index2Re << " + " << l.index2Im << "i)";
}

inline int compute(const Layers& l, EfficiencyRecord& e) {
    return computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im, e);
}

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

// The hash of a_n and b_n, n = 1..N, of the last computation.
inline std::uint64_t coefficientHash(int termCount) {
    const CoefficientTables& t = coefficientTables();
    std::uint64_t h = 1469598103934665603ULL;
    for (int n = 1; n <= termCount; ++n) {
        for (double v : {t.aRe[n], t.aIm[n], t.bRe[n], t.bIm[n]}) h = hashBits(h, v);
    }
    return h;
}

}  // namespace coatedmie::test_support

#endif  // COATEDMIE_TESTS_ENGINE_TEST_SUPPORT_H
