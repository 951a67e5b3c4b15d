// Every kernel of every vector path the processor runs (the portable one
// always), bit for bit against the plain implementation of the literal series
// (reference/plain_engine.h) and against each other: the log-derivative
// tables, the series and the
// efficiency sums in every regime and on random scatterers (term count,
// efficiencies, every coefficient and log-derivative entry); the angular sums
// over term counts and angle grids that cross the block and lane boundaries
// (intensities, amplitudes whose squared moduli must be them, Mueller
// elements, the phase function); the Legendre moments. The long build
// (COATEDMIE_LONG_SWEEP) takes a thousand times the random scatterers.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "plain_engine.h"
#include "kernels.h"
#include "start_values.h"
#include "tables.h"

namespace coatedmie {
namespace {

using namespace test_support;

const double kPi = 3.141592653589793;
const double kInf = std::numeric_limits<double>::infinity();

// The paths this processor runs, the portable one first.
std::vector<VectorPath> supportedPaths() {
    std::vector<VectorPath> paths;
    for (VectorPath path : {VectorPath::portable, VectorPath::avx2, VectorPath::avx512}) {
        if (vectorPathSupported(path)) paths.push_back(path);
    }
    return paths;
}

Workspace& workspace() {
    static Workspace w;
    return w;
}

#ifdef COATEDMIE_LONG_SWEEP
constexpr int kRandomScatterers = 100000;
#else
constexpr int kRandomScatterers = 100;
#endif

// Bit for bit the plain implementation of the literal series, on every
// vector path, unless the engine reports a safeguard; and then not. Returns
// the safeguards.
unsigned expectSameAsPlainUnlessSafeguarded(const Layers& l) {
    plain::Efficiencies p{-1.0, -1.0, -1.0};
    const int m = plain::efficiencies(l.first.size, l.first.index.re, l.first.index.im, l.second.size,
                                      l.second.index.re, l.second.index.im, p);
    const Scatterer s = normalise(l.first, l.second);
    const int n = termCountFor(s.y);
    EXPECT_EQ(n, m) << l;
    unsigned safeguards = 0;
    if (n == 0 || n != m) return safeguards;
    Workspace& w = workspace();
    for (VectorPath path : supportedPaths()) {
        SCOPED_TRACE(vectorPathName(path));
        const Kernels& k = kernelsFor(path);
        safeguards = 0;
        EXPECT_TRUE(computeSeries(k, s, n, w.tables(), w.coefficients(), safeguards)) << l;
        const CoefficientArrays c = w.coefficients();
        const LogDerivativeTables d = w.tables();
        const double* tables[4][2] = {{d.Dm2yRe, d.Dm2yIm}, {d.Dm2xRe, d.Dm2xIm}, {d.Dm1xRe, d.Dm1xIm}, {d.Dy, nullptr}};
        int differing = 0;
        for (int t = 0; t < 4; ++t) {
            for (int k = 1; k <= n + 1; ++k) {
                for (int part = 0; part < (t < 3 ? 2 : 1); ++part) {
                    differing += !sameBits(tables[t][part][k], plain::logDerivative(t, part == 1, k));
                }
            }
        }
        // Below y = 0.01 the coefficients have always come from a path of their own.
        if (s.y < kLiteralSmallParticleLimit) {
            EXPECT_EQ(differing == 0, (safeguards & (kZeroAvoided | kBareCore)) == 0) << l;
            continue;
        }
        EfficiencyRecord e{-1.0, -1.0, -1.0};
        computeEfficiencies(k, s, n, c, e, safeguards);
        differing += !sameBits(e, {p.Kext, p.Ksca, p.Kabs});
        for (int k = 1; k <= n; ++k) {
            const double found[4] = {c.aRe[k], c.aIm[k], c.bRe[k], c.bIm[k]};
            for (int part = 0; part < 4; ++part) {
                differing += !sameBits(found[part], plain::coefficient(part >= 2, part % 2 == 1, k));
            }
        }
        EXPECT_EQ(differing == 0, safeguards == 0)
            << l << ": " << differing << " values differ, safeguards " << safeguards << ", Kext " << e.Kext
            << " vs " << p.Kext;
    }
    return safeguards;
}

void expectSameAsPlain(const Layers& l) { EXPECT_EQ(expectSameAsPlainUnlessSafeguarded(l), 0u) << l; }

TEST(PlainAgreement, EveryRegimeBitForBit) {
    const struct {
        const char* regime;
        Layers layers;
    } cases[] = {
        {"published reference", {5, 1.5, 0.01, 3, 2.0, 0.5}},
        {"layers given core first", {3, 2.0, 0.5, 5, 1.5, 0.01}},
        {"negative convention", {5, 1.5, -0.01, 3, 2.0, -0.5}},
        {"one negative imaginary part", {5, 1.5, -0.1, 3, 1.33, 0.02}},
        {"non-absorbing", {10, 1.33, 0, 6, 1.5, 0}},
        {"equal indices", {8, 1.5, 0.02, 4, 1.5, 0.02}},
        {"equal sizes", {6, 1.33, 0.01, 6, 1.8, 0.2}},
        {"vacuum shell, negative convention", {5, 1, -0.0, 3, 1.5, -0.1}},
        {"no core: NaN results", {5, 1.5, 0.01, 0, 2.0, 0.5}},
        {"at the small-particle limit", {0.1, 1.5, 0.001, 1e-3, 3.0, 4.0}},
        {"just below it", {0x1.47ae147ae147ap-7, 1.33, 0, 5e-4, 1.7, 0.1}},
        {"small", {0.5, 1.33, 0, 0.2, 1.7, 0.1}},
        {"metallic core", {20, 1.33, 0, 15, 0.2, 3.5}},
        {"strongly absorbing shell", {30, 2.0, 1.5, 10, 1.4, 0}},
        {"high index", {50, 4.0, 0.001, 45, 10.0, 10.0}},
        {"thin shell", {1000, 1.33, 0.0001, 999, 1.59, 0.001}},
        {"size 10000", {10000, 1.33, 0.001, 8000, 1.5, 0.01}},
        {"largest size", {99621, 1.33, 0.001, 79696.8, 1.5, 0.01}},
        {"beyond the tables", {99622, 1.33, 0, 1, 1.5, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.regime);
        expectSameAsPlain(c.layers);
    }
}

// The particles where the literal series gives impossible values or NaN, each
// with the safeguard that takes over.
TEST(PlainAgreement, SafeguardsTakeOverExactlyWhereTheLiteralSeriesFails) {
    const double pi = kPi;
    const double psi2Zero = 9.095011330476355;  // the second zero of psi_2
    const struct {
        const char* regime;
        Layers layers;
        unsigned safeguards;
    } cases[] = {
        {"lossless shell, m2 y = pi", {pi * 400 / 600, 1.5, 0, pi * 200 / 600, 1.75, 0.44}, kStartFromTables},
        {"lossless shell, m2 x = pi", {pi * 500 / 600, 1.5, 0, pi * 400 / 600, 1.75, 0.44}, kStartFromTables},
        {"weakly absorbing shell, m2 y = 3 pi", {2 * pi, 1.5, 1e-12, pi, 1.75, 0.44}, kStartFromTables},
        {"negative convention, m2 y = pi", {pi * 400 / 600, 1.5, -1e-9, pi * 200 / 600, 1.75, 0.44},
         kStartFromTables},
        {"y on the first zero of psi_1", {4.493409457909064, 1.5, 0.1, 4.493409457909064, 1.5, 0.1},
         kStartFromTables},
        {"small particle, m2 y = pi", {0.005, pi / 0.005, 0, 0.002, 1.5, 0}, kStartFromTables},
        {"m2 y exactly on a zero of psi_2", {psi2Zero / 1.5, 1.5, 0, psi2Zero / 3, 1.75, 0.44}, kZeroAvoided},
        {"lossless, low contrast", {0.12, 1.0001, 0, 0.12, 1.0001, 0}, kLosslessRealParts},
        {"y on a zero of psi_2, 1e-9 away", {5.76345919689455 * (1 + 1e-9), 1.33, 1e-9, 2.88, 1.5, 0},
         kStartFromTables},
        {"small, strong contrast", {0.01, 1.5, 0.001, 1e-3, 3.0, 4.0}, kSmallParticleForm},
        {"lossless, many orders", {20000, 1.33, 0, 12000, 1.5, 0}, kLosslessRealParts},
        {"vacuum shell around a tiny core", {3.16227766, 1, 0, 1e-8, 6.5217, 1}, kBareCore},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.regime);
        EXPECT_EQ(expectSameAsPlainUnlessSafeguarded(c.layers), c.safeguards) << c.layers;
    }
}

double logUniform(std::mt19937_64& g, double low, double high) {
    return std::exp(std::uniform_real_distribution<double>(std::log(low), std::log(high))(g));
}

double chance(std::mt19937_64& g) { return std::uniform_real_distribution<double>(0.0, 1.0)(g); }

// Mostly dielectric, sometimes metallic or exactly 1; either sign.
void randomIndex(std::mt19937_64& g, double& re, double& im) {
    const double kind = chance(g);
    re = kind < 0.1 ? 1.0 : kind < 0.25 ? logUniform(g, 0.05, 1.0) : logUniform(g, 1.0, 4.0);
    im = chance(g) < 0.3 ? 0.0 : logUniform(g, 1e-7, kind < 0.25 ? 8.0 : 2.0);
    if (chance(g) < 0.3) im = -im;
}

TEST(PlainAgreement, RandomScatterers) {
    std::mt19937_64 g(20240611);
    for (int i = 0; i < kRandomScatterers && !HasFailure(); ++i) {
        Layers l;
        l.first.size = logUniform(g, 1e-2, i % 100 == 0 ? 99621.0 : 3000.0);
        l.second.size = chance(g) < 0.1 ? l.first.size : l.first.size * chance(g);
        randomIndex(g, l.first.index.re, l.first.index.im);
        randomIndex(g, l.second.index.re, l.second.index.im);
        if (chance(g) < 0.1) l.second.index = l.first.index;
        if (chance(g) < 0.5) l = swapped(l);
        SCOPED_TRACE(testing::Message() << "scatterer " << i);
        expectSameAsPlainUnlessSafeguarded(l);
    }
}

// Every angular output of every path from the coefficients of orders
// 1..termCount of the shared Engine, at the angles theta: intensities and
// amplitudes against the plain evaluation one angle at a time, Mueller
// elements (in both sign conventions) and the phase function against the
// portable path's.
void expectSameAsOneAngleAtATime(int termCount, const std::vector<double>& theta, const std::string& grid) {
    const int count = static_cast<int>(theta.size());
    std::vector<double> oneI1(count), oneI2(count);
    for (int i = 0; i < count; ++i) plain::intensity(termCount, theta[i], oneI1[i], oneI2[i]);
    CoefficientView view = coefficients();
    view.termCount = termCount;
    const AngleSource angles{theta.data(), nullptr};
    std::vector<std::vector<double>> portable;
    for (VectorPath path : supportedPaths()) {
        const AngularKernel angular = kernelsFor(path).angular;
        std::vector<std::vector<double>> out(14, std::vector<double>(count, -1.0));
        const auto p = [&](int k) { return out[k].data(); };
        angular(view, angles, count, {AngularOutput::intensities, {p(0), p(1)}, false, 0.0});
        angular(view, angles, count, {AngularOutput::amplitudes, {p(2), p(3), p(4), p(5)}, false, 0.0});
        angular(view, angles, count, {AngularOutput::mueller, {p(6), p(7), p(8), p(9)}, false, 0.0});
        angular(view, angles, count, {AngularOutput::mueller, {p(10), p(11), p(12), p(13)}, true, 0.0});
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(sameBits(out[0][i], oneI1[i]) && sameBits(out[1][i], oneI2[i]) &&
                        sameBits(out[2][i] * out[2][i] + out[3][i] * out[3][i], oneI1[i]) &&
                        sameBits(out[4][i] * out[4][i] + out[5][i] * out[5][i], oneI2[i]))
                << vectorPathName(path) << " path, N = " << termCount << ", " << grid << ", angle " << i
                << " (theta = " << theta[i] << "): I1 " << out[0][i] << " vs " << oneI1[i] << ", I2 " << out[1][i]
                << " vs " << oneI2[i];
            // Conjugated amplitudes turn Im(S2 S1*) over: the same two products.
            ASSERT_TRUE(out[13][i] == -out[9][i] || std::isnan(out[9][i])) << grid << ", angle " << i;
        }
        std::vector<double> phase(count, -1.0);
        angular(view, angles, count, {AngularOutput::scaledSum, {phase.data()}, false, 0.25});
        out.push_back(phase);
        if (portable.empty()) {
            portable = out;
            continue;
        }
        for (std::size_t k = 0; k < out.size(); ++k) {
            for (int i = 0; i < count; ++i) {
                ASSERT_TRUE(sameBits(out[k][i], portable[k][i]) || (std::isnan(out[k][i]) && std::isnan(portable[k][i])))
                    << vectorPathName(path) << " path, output " << k << ", N = " << termCount << ", " << grid
                    << ", angle " << i;
            }
        }
    }
}

std::vector<double> evenGrid(int count, double first, double last) {
    std::vector<double> theta;
    const double step = (last - first) / (count - 1);
    for (int i = 0; i < count; ++i) theta.push_back(i * step + first);
    return theta;
}

// The NaN that invalid operations deliver (sign bit set, payload zero).
double defaultNan() {
    volatile double zero = 0.0;
    return zero * kInf;
}

int computeBoth(const Layers& l) {
    plain::Efficiencies p;
    plain::efficiencies(l.first.size, l.first.index.re, l.first.index.im, l.second.size, l.second.index.re,
                        l.second.index.im, p);
    EfficiencyRecord e{};
    return compute(l, e);
}

TEST(AngularTable, SameBitsAsOneAngleAtATime) {
    // The ends of the range, signed zeros, angles beyond 2 pi, huge and
    // non-finite ones, and a sine whose square is a tie, scattered over a long
    // grid so that they share vectors with ordinary ones in every lane.
    const std::vector<double> odd = {0.0,   -0.0,  kPi,   -kPi,     kPi / 2,      1e-300,           5e-324,
                                     1e-8,  3.0,   -2.5,  7.0,      -100.0,       1e10,             -1e22,
                                     1e300, kInf,  -kInf, defaultNan(), std::nan("0x5eed"), 0x1.5274ab5542f2dp+0, 2 * kPi};
    std::vector<double> mixed = evenGrid(600, -1.0, 7.0);
    for (std::size_t i = 0; i < odd.size(); ++i) mixed[(i * 37) % mixed.size()] = odd[i];
    const struct {
        const char* name;
        std::vector<double> theta;
    } grids[] = {
        {"one angle", {0.7}},           {"7 angles", evenGrid(7, 0.0, kPi)},
        {"255 angles", evenGrid(255, -kPi, kPi)}, {"257 angles", evenGrid(257, kPi, 0.0)},
        {"1801 angles", evenGrid(1801, 0.0, kPi)}, {"odd angles among 600", mixed},
    };
    ASSERT_EQ(computeBoth({1000, 1.33, 0.001, 700, 1.59, 0.2}), 1081);
    for (int termCount : {-5, 0, 1, 2, 3, 4, 5, 8, 9, 16, 17, 28, 1080, 1081}) {
        for (const auto& grid : grids) expectSameAsOneAngleAtATime(termCount, grid.theta, grid.name);
    }
    ASSERT_EQ(computeBoth({99621, 1.33, 0, 50000, 1.5, 0.01}), kMaxTermCount);
    expectSameAsOneAngleAtATime(kMaxTermCount, evenGrid(19, 0.0, kPi), "19 angles");
    // A core of size 0 gives default NaN coefficients; where a NaN with a
    // payload meets them IEEE arithmetic leaves open which comes out, so only
    // the default NaN angle takes part.
    ASSERT_EQ(computeBoth({5, 1.5, 0.01, 0, 2.0, 0.5}), 20);
    expectSameAsOneAngleAtATime(20, {0.0, defaultNan(), kPi, 1.0, 2.0, 3.0, 0.5}, "NaN coefficients");
}

// The moments of every path bit for bit the portable path's, and the rule
// exact: chi_0 = 1, chi_1 = g, nothing beyond 2N.
TEST(LegendreMoments, SameBitsOnEveryPath) {
    for (const Layers& l : {Layers{5, 1.5, 0.01, 3, 2.0, 0.5}, Layers{1000, 1.33, 0.001, 700, 1.59, 0.2}}) {
        Engine engine;
        const int n = engine.compute(l.first, l.second);
        const int count = 2 * n + 3;
        std::vector<double> portable;
        for (VectorPath path : supportedPaths()) {
            ASSERT_TRUE(setVectorPath(path));
            std::vector<double> chi(count, -1.0);
            Engine fresh;  // the rule computed afresh on this path
            fresh.compute(l.first, l.second);
            ASSERT_TRUE(fresh.legendreMoments(count, chi.data()));
            EXPECT_NEAR(chi[0], 1.0, 1e-14) << l;
            EXPECT_NEAR(chi[1], engine.derivedQuantities().g, 1e-13) << l;
            EXPECT_TRUE(chi[count - 2] == 0.0 && chi[count - 1] == 0.0) << l;
            if (portable.empty()) portable = chi;
            for (int j = 0; j < count; ++j) {
                ASSERT_TRUE(sameBits(chi[j], portable[j])) << vectorPathName(path) << " path, moment " << j << ", " << l;
            }
        }
        setVectorPath(supportedPaths().back());
    }
}

TEST(AngularTable, WritesOnlyItsCount) {
    EfficiencyRecord e{};
    ASSERT_EQ(compute({5, 1.5, 0.01, 3, 2.0, 0.5}, e), 20);
    const std::vector<double> theta = evenGrid(10, 0.0, kPi);
    for (int count : {-1, 0, 3}) {
        std::vector<double> I1(10, -1.0), I2(10, -2.0);
        sharedEngine().intensities(theta.data(), count, I1.data(), I2.data());
        for (int i = count < 0 ? 0 : count; i < 10; ++i) EXPECT_TRUE(I1[i] == -1.0 && I2[i] == -2.0) << count << i;
    }
}

}  // namespace
}  // namespace coatedmie
