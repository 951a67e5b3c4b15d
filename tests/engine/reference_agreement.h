// Runs the engine and the plain reference engine on the same layers and
// expects the same term count and the same bits in every efficiency,
// coefficient and log-derivative table entry.
#ifndef COATEDMIE_TESTS_REFERENCE_AGREEMENT_H
#define COATEDMIE_TESTS_REFERENCE_AGREEMENT_H

#include <cstring>
#include <ostream>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "log_derivative.h"
#include "reference_engine.h"

namespace coatedmie::testing_reference {

struct Layers {
    double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
};

inline std::ostream& operator<<(std::ostream& os, const Layers& l) {
    return os << "(" << l.alpha1 << ", " << l.index1Re << " + " << l.index1Im << "i; " << l.alpha2
              << ", " << l.index2Re << " + " << l.index2Im << "i)";
}

inline bool sameBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

// Index of the first entry in first..last where the arrays differ, or -1.
inline int firstDifference(const double* fast, const double* plain, int first, int last) {
    for (int k = first; k <= last; ++k) {
        if (!sameBits(fast[k], plain[k])) return k;
    }
    return -1;
}

inline void expectSameAsReference(const Layers& l) {
    EfficiencyRecord fast{-1.0, -1.0, -1.0};
    EfficiencyRecord plain{-1.0, -1.0, -1.0};
    const int n = computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re,
                                      l.index2Im, fast);
    const int m = reference::computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2,
                                                 l.index2Re, l.index2Im, plain);
    ASSERT_EQ(n, m) << l;
    EXPECT_TRUE(sameBits(fast.Kext, plain.Kext)) << l << ": Kext " << fast.Kext << " vs " << plain.Kext;
    EXPECT_TRUE(sameBits(fast.Ksca, plain.Ksca)) << l << ": Ksca " << fast.Ksca << " vs " << plain.Ksca;
    EXPECT_TRUE(sameBits(fast.Kabs, plain.Kabs)) << l << ": Kabs " << fast.Kabs << " vs " << plain.Kabs;

    const CoefficientTables& c = coefficientTables();
    const CoefficientTables& rc = reference::coefficientTables();
    const struct {
        const char* name;
        const double* fast;
        const double* plain;
        int last;
    } tables[] = {
        {"Re a", c.aRe, rc.aRe, n},
        {"Im a", c.aIm, rc.aIm, n},
        {"Re b", c.bRe, rc.bRe, n},
        {"Im b", c.bIm, rc.bIm, n},
        {"Re Dm2y", logDerivativeTables().Dm2yRe, reference::logDerivativeTables().Dm2yRe, n + 1},
        {"Im Dm2y", logDerivativeTables().Dm2yIm, reference::logDerivativeTables().Dm2yIm, n + 1},
        {"Re Dm2x", logDerivativeTables().Dm2xRe, reference::logDerivativeTables().Dm2xRe, n + 1},
        {"Im Dm2x", logDerivativeTables().Dm2xIm, reference::logDerivativeTables().Dm2xIm, n + 1},
        {"Re Dm1x", logDerivativeTables().Dm1xRe, reference::logDerivativeTables().Dm1xRe, n + 1},
        {"Im Dm1x", logDerivativeTables().Dm1xIm, reference::logDerivativeTables().Dm1xIm, n + 1},
        {"Dy", logDerivativeTables().Dy, reference::logDerivativeTables().Dy, n + 1},
    };
    for (const auto& t : tables) {
        const int k = firstDifference(t.fast, t.plain, 1, t.last);
        EXPECT_EQ(k, -1) << l << ": " << t.name << " differs first at entry " << k << ": "
                         << t.fast[k < 0 ? 0 : k] << " vs " << t.plain[k < 0 ? 0 : k];
    }
}

}  // namespace coatedmie::testing_reference

#endif  // COATEDMIE_TESTS_REFERENCE_AGREEMENT_H
