#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "log_derivative.h"

namespace coatedmie {
namespace {

using namespace test_support;
using Complex = std::complex<double>;

struct Coefficients {
    std::vector<double> aRe, aIm, bRe, bIm;
};

struct Outcome {
    int termCount;
    EfficiencyRecord e{};
    std::unique_ptr<Coefficients> c;
};

Outcome run(const Layers& l) {
    Outcome r{0, {-1.0, -1.0, -1.0}, std::make_unique<Coefficients>()};
    r.termCount = compute(l, r.e);
    const CoefficientView v = coefficients();
    const std::size_t entries = r.termCount + 1;
    r.c->aRe.assign(v.aRe, v.aRe + entries);
    r.c->aIm.assign(v.aIm, v.aIm + entries);
    r.c->bRe.assign(v.bRe, v.bRe + entries);
    r.c->bIm.assign(v.bIm, v.bIm + entries);
    return r;
}

Layers negated(const Layers& l) {
    return {{l.first.size, {l.first.index.re, -l.first.index.im}}, {l.second.size, {l.second.index.re, -l.second.index.im}}};
}

// Same term count, efficiencies and coefficients, bit for bit; with
// `conjugated` the second run holds the complex conjugates.
void expectIdentical(const Outcome& r, const Outcome& s, bool conjugated) {
    ASSERT_EQ(r.termCount, s.termCount);
    EXPECT_TRUE(sameBits(r.e, s.e));
    const double sign = conjugated ? -1.0 : 1.0;
    for (int n = 1; n <= r.termCount; ++n) {
        ASSERT_TRUE(sameBits(r.c->aRe[n], s.c->aRe[n]) && sameBits(r.c->aIm[n], sign * s.c->aIm[n]) &&
                    sameBits(r.c->bRe[n], s.c->bRe[n]) && sameBits(r.c->bIm[n], sign * s.c->bIm[n]))
            << "order " << n;
    }
}

// Independent reference: the homogeneous sphere after Bohren & Huffman (1983,
// section 4.8) in std::complex, upward recurrences for psi_n and chi_n of the
// real size, downward for D_n(m x); m = n + ik, xi_n = psi_n - i chi_n.
struct HomogeneousSphere {
    std::vector<Complex> a, b;  // index n - 1 holds order n
    double Qext = 0, Qsca = 0;
};

HomogeneousSphere homogeneousSphere(double x, Complex m, int termCount) {
    const Complex mx = m * x;
    std::vector<Complex> d(termCount + 16 + static_cast<int>(std::abs(mx)), 0.0);
    for (int n = static_cast<int>(d.size()) - 1; n >= 1; --n) {
        d[n - 1] = static_cast<double>(n) / mx - 1.0 / (d[n] + static_cast<double>(n) / mx);
    }
    HomogeneousSphere s;
    double psiPrev = std::cos(x), psi = std::sin(x), chiPrev = -std::sin(x), chi = std::cos(x);
    for (int n = 1; n <= termCount; ++n) {
        const double psiN = (2.0 * n - 1.0) * psi / x - psiPrev;
        const double chiN = (2.0 * n - 1.0) * chi / x - chiPrev;
        const Complex xi(psi, -chi), xiN(psiN, -chiN);
        const Complex da = d[n] / m + static_cast<double>(n) / x;
        const Complex db = m * d[n] + static_cast<double>(n) / x;
        s.a.push_back((da * psiN - psi) / (da * xiN - xi));
        s.b.push_back((db * psiN - psi) / (db * xiN - xi));
        s.Qext += (2.0 * n + 1.0) * (s.a.back().real() + s.b.back().real()) * 2.0 / (x * x);
        s.Qsca += (2.0 * n + 1.0) * (std::norm(s.a.back()) + std::norm(s.b.back())) * 2.0 / (x * x);
        psiPrev = psi, psi = psiN, chiPrev = chi, chi = chiN;
    }
    return s;
}

// The first row's intensities are the reference run's golden table.
TEST(CoatedSphere, PublishedReferenceValues) {
    const struct {
        Layers layers;
        int termCount;
        double Kext, Ksca, Kabs;
    } cases[] = {
        {{5, 1.5, 0.01, 3, 2.0, 0.5}, 20, 3.135894, 2.011933, 1.123961},
        {{10, 1.33, 0, 6, 1.5, 0}, 28, 2.566344, 2.566344, 0},
        {{5, 1, 0, 3, 1.5, 0}, 20, 3.418056, 3.418056, 0},
        {{0.5, 1.33, 0, 0.2, 1.7, 0.1}, 8, 0.014792, 0.007740, 0.007052},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.layers);
        EXPECT_EQ(r.termCount, c.termCount) << c.layers;
        EXPECT_NEAR(r.e.Kext, c.Kext, 5e-7) << c.layers;
        EXPECT_NEAR(r.e.Ksca, c.Ksca, 5e-7) << c.layers;
        EXPECT_NEAR(r.e.Kabs, c.Kabs, 5e-7) << c.layers;
    }
}

// The last three cases take the small-particle path (y < 0.01).
TEST(CoatedSphere, LayerOrderAndSignConventionChangeNoBit) {
    const Layers cases[] = {{5, 1.5, 0.01, 3, 2.0, 0.5},         {10, 1.33, 0, 6, 1.5, 0},
                            {80, 1.05, 0.002, 79.9, 2.5, 1.8},   {7, 1.6, 4.0, 6.9, 1.1, 0},
                            {0.005, 1.5, 0.01, 0.003, 2.0, 0.5}, {1e-6, 2.0, 1.0, 0.9e-6, 0.2, 3.0},
                            {1e-20, 1.33, 0.0, 1e-21, 1.5, 0.02}};
    for (const Layers& l : cases) {
        SCOPED_TRACE(testing::Message() << l);
        const Outcome given = run(l);
        expectIdentical(given, run(swapped(l)), false);
        if (l.first.index.im != 0 || l.second.index.im != 0) {
            expectIdentical(given, run(negated(l)), true);
        }
    }
    // One negative imaginary part puts both into the negative convention;
    // zeros of either sign leave the positive one.
    const Outcome positive = run({5, 1.5, 0.1, 3, 1.33, 0.02});
    expectIdentical(positive, run({5, 1.5, -0.1, 3, 1.33, 0.02}), true);
    expectIdentical(positive, run({5, 1.5, 0.1, 3, 1.33, -0.02}), true);
    const Outcome lossless = run({6, 1.33, 0.0, 4, 1.5, 0.0});
    expectIdentical(lossless, run({6, 1.33, -0.0, 4, 1.5, -0.0}), false);
}

TEST(CoatedSphere, ReducesToTheHomogeneousSphere) {
    const struct {
        const char* what;
        Layers layers;
        double size;  // of the equivalent homogeneous sphere
        Complex index;
        double normSize;  // whose cross-section the efficiencies refer to
    } cases[] = {
        {"equal indices", {8, 1.5, 0.02, 3, 1.5, 0.02}, 8, {1.5, 0.02}, 8},
        {"equal indices, strong absorption", {30, 1.8, 2.0, 12, 1.8, 2.0}, 30, {1.8, 2.0}, 30},
        {"equal sizes: zero-thickness shell", {4, 2.0, 0.5, 4, 1.33, 0.01}, 4, {1.33, 0.01}, 4},
        {"equal sizes, large", {150, 1.1, 0, 150, 1.6, 0.05}, 150, {1.6, 0.05}, 150},
        {"vacuum shell", {5, 1, 0, 3, 1.5, 0}, 3, {1.5, 0}, 3},
        {"vacuum shell, -0i", {12, 1, -0.0, 2.5, 1.7, 0.3}, 2.5, {1.7, 0.3}, 2.5},
        {"almost vacuum shell", {5, 1 + 0x1p-52, 0, 3, 1.5, 0}, 3, {1.5, 0}, 5},
        {"almost vacuum shell, 1e-300i", {5, 1, 1e-300, 3, 1.5, 0}, 3, {1.5, 0}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.layers);
        const HomogeneousSphere sphere = homogeneousSphere(c.size, c.index, r.termCount);
        const double scale = (c.size * c.size) / (c.normSize * c.normSize);
        EXPECT_NEAR(r.e.Kext, sphere.Qext * scale, 1e-10 * sphere.Qext);
        EXPECT_NEAR(r.e.Ksca, sphere.Qsca * scale, 1e-10 * sphere.Qext);
        for (int n = 1; n <= 5; ++n) {
            EXPECT_NEAR(std::abs(Complex(r.c->aRe[n], r.c->aIm[n]) - sphere.a[n - 1]), 0, 1e-11) << n;
            EXPECT_NEAR(std::abs(Complex(r.c->bRe[n], r.c->bIm[n]) - sphere.b[n - 1]), 0, 1e-11) << n;
        }
    }
}

// Small particles too: there Re a_n ~ |a_n|^2, and Kext - Ksca would be
// noise, possibly negative, rather than +0; and many orders at large sizes,
// whose residue would exceed the cutoff.
TEST(CoatedSphere, LosslessLayersAbsorbNothing) {
    const Layers zero[] = {
        {10, 1.33, 0, 6, 1.5, 0},         {0.3, 1.5, 0, 0.1, 3.0, 0},     {100, 1.33, 0, 60, 1.59, 0},
        {1000, 1.5, 0, 900, 1.2, 0},      {3, 1.0, 0, 2, 4.0, 0},         {55, 2.4, -0.0, 55, 1.4, 0},
        {0.0099, 1.33, 0, 0.005, 1.5, 0}, {1e-3, 1.5, 0, 1e-6, 3.0, 0},   {1e-5, 1.0, 0, 5e-6, 1.5, 0},
        {1e-8, 1.7, 2.5, 1e-8, 1.33, 0},  {1e-15, 1.33, 0, 1e-15, 1.5, 0}, {20000, 1.33, 0, 12000, 1.5, 0},
        {0.01, 1.5, 0, 0.005, 3.0, 0},
    };
    for (const Layers& l : zero) {
        const EfficiencyRecord e = run(l).e;
        EXPECT_TRUE(sameBits(e.Kabs, 0.0)) << l << ": " << e.Kabs;
        EXPECT_GT(e.Kext, 0.0) << l;
    }
}

TEST(CoatedSphere, UnusableCoreSizeGivesNaNEfficienciesAndNoAbsorption) {
    for (double core : {0.0, std::nan("")}) {  // NaN is not larger than 5: it stays the core
        const Outcome r = run({5, 1.5, 0.01, core, 2.0, 0.5});
        EXPECT_EQ(r.termCount, 20);
        EXPECT_TRUE(std::isnan(r.e.Kext) && std::isnan(r.e.Ksca));
        EXPECT_TRUE(sameBits(r.e.Kabs, 0.0));
    }
}

TEST(CoatedSphere, RefusedComputationsKeepThePreviousResults) {
    EfficiencyRecord e{};
    ASSERT_EQ(compute({4, 1.5, 0.01, 2, 1.33, 0}, e), 18);
    const std::uint64_t before = coefficientHash(coefficients());
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const Layers refused[] = {
        {99622, 1.33, 0, 50000, 1.5, 0.01}, {1e300, 1.5, 0, 1, 1.33, 0},    {inf, 1.5, 0, 3, 1.33, 0},
        {3, 1.5, 0, inf, 1.33, 0},          {nan, 1.5, 0, 3, 1.33, 0},      {nan, 1.5, 0, nan, 1.33, 0},
        {-1, 1.5, 0, -2, 1.33, 0},          {-1e-300, 1.5, 0, -1, 1.33, 0}, {-inf, 1.5, 0, -inf, 1.33, 0},
    };
    for (const Layers& l : refused) {
        EfficiencyRecord r{-1.0, -1.0, -1.0};
        EXPECT_EQ(compute(l, r), 0) << l;
        EXPECT_TRUE(sameBits(r, {-1.0, -1.0, -1.0})) << l;
        EXPECT_EQ(sharedEngine().termCount(), 18) << l;
        EXPECT_TRUE(sameBits(sharedEngine().efficiencies(), e)) << l;
        EXPECT_EQ(coefficientHash(coefficients()), before) << l;
    }
    const Outcome largest = run({50000, 1.5, 0.01, 99621, 1.33, 0});
    EXPECT_EQ(largest.termCount, kMaxTermCount);
    EXPECT_NEAR(largest.e.Kext, 2.0, 0.01);  // the extinction paradox of large spheres
}

}  // namespace
}  // namespace coatedmie
