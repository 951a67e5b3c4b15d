// The engine's fast paths against their plain counterparts, bit for bit: a
// computation against the plain reference engine (term count, efficiencies,
// every coefficient and log-derivative entry), and the many-angle
// intensities against computeIntensity one angle at a time.
#ifndef COATEDMIE_TESTS_REFERENCE_AGREEMENT_H
#define COATEDMIE_TESTS_REFERENCE_AGREEMENT_H

#include <string>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "vector_paths.h"
#include "log_derivative.h"
#include "tables.h"
#include "reference_engine.h"

namespace coatedmie::test_support {

// The computation on every vector path this processor runs, against the
// plain reference engine: term count, efficiencies, every coefficient and
// log-derivative entry.
inline void expectSameAsReference(const Layers& l) {
    EfficiencyRecord plain{-1.0, -1.0, -1.0};
    const int m = reference::computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2,
                                                 l.index2Re, l.index2Im, plain);
    for (VectorPath path : kVectorPaths) {
        if (!vectorPathSupported(path)) continue;
        SCOPED_TRACE(vectorPathName(path));
        const Scatterer s = normalise(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im);
        const int n = termCountFor(s.y);
        ASSERT_EQ(n, m) << l;
        if (n == 0) continue;
        ASSERT_TRUE(computeSeriesOn(path, s, n, logDerivativeTables(), coefficientArrays())) << l;
        const CoefficientTables& c = coefficientTables();
        EfficiencyRecord fast{-1.0, -1.0, -1.0};
        computeEfficiencies(s, {n, c.aRe, c.aIm, c.bRe, c.bIm}, fast);
        EXPECT_TRUE(sameBits(fast, plain)) << l << ": Kext " << fast.Kext << " vs " << plain.Kext << ", Ksca "
                                           << fast.Ksca << " vs " << plain.Ksca << ", Kabs " << fast.Kabs
                                           << " vs " << plain.Kabs;
        const CoefficientTables& rc = reference::coefficientTables();
        const LogDerivativeTables d = logDerivativeTables();
        const LogDerivativeTables& rd = reference::logDerivativeTables();
        const struct {
            const char* name;
            const double* fast;
            const double* plain;
            int last;
        } tables[] = {
            {"Re a", c.aRe, rc.aRe, n},              {"Im a", c.aIm, rc.aIm, n},
            {"Re b", c.bRe, rc.bRe, n},              {"Im b", c.bIm, rc.bIm, n},
            {"Re Dm2y", d.Dm2yRe, rd.Dm2yRe, n + 1}, {"Im Dm2y", d.Dm2yIm, rd.Dm2yIm, n + 1},
            {"Re Dm2x", d.Dm2xRe, rd.Dm2xRe, n + 1}, {"Im Dm2x", d.Dm2xIm, rd.Dm2xIm, n + 1},
            {"Re Dm1x", d.Dm1xRe, rd.Dm1xRe, n + 1}, {"Im Dm1x", d.Dm1xIm, rd.Dm1xIm, n + 1},
            {"Dy", d.Dy, rd.Dy, n + 1},
        };
        for (const auto& t : tables) {
            for (int k = 1; k <= t.last; ++k) {
                ASSERT_TRUE(sameBits(t.fast[k], t.plain[k]))
                    << l << ": " << t.name << " differs first at entry " << k << ": " << t.fast[k] << " vs "
                    << t.plain[k];
            }
        }
    }
}

// computeIntensities as dispatched and on every path this processor runs,
// and the amplitudes on every path, whose squared moduli must be these
// intensities: all against the reference's one angle at a time.
inline void expectSameAsOneAngleAtATime(int termCount, const std::vector<double>& theta, const std::string& grid) {
    const int count = static_cast<int>(theta.size());
    std::vector<double> oneI1(count), oneI2(count);
    for (int i = 0; i < count; ++i) {
        IntensityRecord r{0.0, -1.0, -1.0};
        reference::computeIntensity(coefficientTables(), termCount, theta[i], r);
        oneI1[i] = r.I1;
        oneI2[i] = r.I2;
    }
    const CoefficientTables& c = coefficientTables();
    const CoefficientView view{termCount < kMaxTermCount ? termCount : kMaxTermCount, c.aRe, c.aIm, c.bRe, c.bIm};
    for (int p = -1; p < static_cast<int>(std::size(kVectorPaths)); ++p) {
        if (p >= 0 && !vectorPathSupported(kVectorPaths[p])) continue;
        std::vector<double> I1(count, -1.0), I2(count, -1.0);
        std::vector<double> S1Re(count), S1Im(count), S2Re(count), S2Im(count);
        if (p < 0) {
            computeIntensities(termCount, theta.data(), count, I1.data(), I2.data());
        } else {
            computeIntensitiesOn(kVectorPaths[p], view, theta.data(), count, I1.data(), I2.data());
            computeAmplitudesOn(kVectorPaths[p], view, theta.data(), count,
                                {S1Re.data(), S1Im.data(), S2Re.data(), S2Im.data()});
        }
        for (int i = 0; i < count; ++i) {
            const char* where = p < 0 ? "dispatched" : vectorPathName(kVectorPaths[p]);
            ASSERT_TRUE(sameBits(I1[i], oneI1[i]) && sameBits(I2[i], oneI2[i]))
                << where << " path, N = " << termCount << ", " << grid << ", angle " << i << " (theta = " << theta[i]
                << "): I1 " << I1[i] << " vs " << oneI1[i] << ", I2 " << I2[i] << " vs " << oneI2[i];
            if (p < 0) continue;
            ASSERT_TRUE(sameBits(S1Re[i] * S1Re[i] + S1Im[i] * S1Im[i], oneI1[i]) &&
                        sameBits(S2Re[i] * S2Re[i] + S2Im[i] * S2Im[i], oneI2[i]))
                << where << " path amplitudes, N = " << termCount << ", " << grid << ", angle " << i;
        }
    }
}

}  // namespace coatedmie::test_support

#endif  // COATEDMIE_TESTS_REFERENCE_AGREEMENT_H
