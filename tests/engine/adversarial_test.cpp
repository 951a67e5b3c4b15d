#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

// The accuracy map's adversarial particles (tools/accuracy_map.py): shells on
// and near the zeros of psi_n, lossless and weakly absorbing, cores and outer
// sizes on such zeros, round physical grids, thin shells, x = y, indices near
// and below 1, vacuum shells around small cores. Their values come from the
// textbook series in arbitrary precision (tools/coated_series_mp.py), written
// at 17 digits to adversarial_reference.txt.
namespace coatedmie {
namespace {

using namespace test_support;

constexpr double kTolerance = 1e-10;

struct Particle {
    std::string title;  // what it stands for, and its layers as written in the table
    Layers layers;
    double Kext, Ksca, Kabs, Kback, Kpr, g, albedo;
    std::vector<double> theta, S1Re, S1Im, S2Re, S2Im, moments;
};

std::vector<Particle> readTable() {
    std::ifstream file(COATEDMIE_TEST_DATA_DIR "/adversarial_reference.txt");
    std::vector<Particle> table;
    std::string title;
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "#") {
            std::getline(words >> std::ws, title);
        } else if (kind == "particle") {
            Particle p;
            Layers& l = p.layers;
            words >> l.first.size >> l.first.index.re >> l.first.index.im >> l.second.size >> l.second.index.re >>
                l.second.index.im;
            std::string layers = line.substr(kind.size(), static_cast<std::size_t>(words.tellg()) - kind.size());
            p.title = title + ":" + layers;
            words >> p.Kext >> p.Ksca >> p.Kabs >> p.Kback >> p.Kpr >> p.g >> p.albedo;
            table.push_back(p);
        } else if (kind == "angle" && !table.empty()) {
            Particle& p = table.back();
            for (std::vector<double>* column : {&p.theta, &p.S1Re, &p.S1Im, &p.S2Re, &p.S2Im}) {
                column->push_back(0.0);
                words >> column->back();
            }
        } else if (kind == "moments" && !table.empty()) {
            for (double chi; words >> chi;) table.back().moments.push_back(chi);
        }
    }
    return table;
}

// |got - want| <= 1e-10 scale, false for NaN.
::testing::AssertionResult near(const char* what, double got, double want, double scale) {
    if (std::abs(got - want) <= kTolerance * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << ": " << got << ", reference " << want << ", error "
                                         << std::abs(got - want) / scale << " of its scale";
}

// Efficiencies relative (Kabs against Kext); amplitudes, intensities, S11 and
// the phase function against the largest value of the particle's angles;
// S12, S33, S34 against S11 at the same angle; the moments absolute.
TEST(AdversarialParticles, EveryQuantityRightTo1e10) {
    const std::vector<Particle> table = readTable();
    ASSERT_GE(table.size(), 20u) << "adversarial_reference.txt";
    Engine engine;
    for (const Particle& p : table) {
        SCOPED_TRACE(p.title);
        const Layers& l = p.layers;
        ASSERT_GT(engine.compute(l.first, l.second), 0);
        const EfficiencyRecord e = engine.efficiencies();
        const DerivedQuantityRecord d = engine.derivedQuantities();
        EXPECT_GE(e.Kabs, 0.0);
        EXPECT_LE(e.Ksca, e.Kext * (1 + 1e-13));
        EXPECT_LE(std::abs(d.g), 1.0);
        EXPECT_TRUE(near("Kext", e.Kext, p.Kext, p.Kext));
        EXPECT_TRUE(near("Ksca", e.Ksca, p.Ksca, p.Ksca));
        EXPECT_TRUE(near("Kabs", e.Kabs, p.Kabs, p.Kext));
        EXPECT_TRUE(near("Kback", d.Kback, p.Kback, p.Kback));
        EXPECT_TRUE(near("Kpr", d.Kpr, p.Kpr, p.Kpr));
        EXPECT_TRUE(near("g", d.g, p.g, std::abs(p.g)));
        EXPECT_TRUE(near("albedo", d.albedo, p.albedo, p.albedo));

        const int count = static_cast<int>(p.theta.size());
        std::vector<double> S1Re(count), S1Im(count), S2Re(count), S2Im(count), I1(count), I2(count);
        std::vector<double> S11(count), S12(count), S33(count), S34(count), phase(count);
        engine.amplitudes(p.theta.data(), count, {S1Re.data(), S1Im.data(), S2Re.data(), S2Im.data()});
        engine.intensities(p.theta.data(), count, I1.data(), I2.data());
        engine.mueller(p.theta.data(), count, {S11.data(), S12.data(), S33.data(), S34.data()});
        engine.phaseFunction(p.theta.data(), count, phase.data());
        std::vector<double> wantI1(count), wantI2(count), wantS11(count);
        double largestI = 0;
        for (int i = 0; i < count; ++i) {
            wantI1[i] = p.S1Re[i] * p.S1Re[i] + p.S1Im[i] * p.S1Im[i];
            wantI2[i] = p.S2Re[i] * p.S2Re[i] + p.S2Im[i] * p.S2Im[i];
            wantS11[i] = (wantI1[i] + wantI2[i]) / 2;
            largestI = std::max({largestI, wantI1[i], wantI2[i]});
        }
        const double largestS = std::sqrt(largestI);
        const double largestS11 = *std::max_element(wantS11.begin(), wantS11.end());
        // p = 2 (I1 + I2) / (s^2 Ksca) = 4 S11 / (s^2 Ksca)
        const double phasePerS11 = 4 / (engine.normSquare() * p.Ksca);
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(testing::Message() << "theta = " << p.theta[i]);
            EXPECT_TRUE(near("S1 re", S1Re[i], p.S1Re[i], largestS));
            EXPECT_TRUE(near("S1 im", S1Im[i], p.S1Im[i], largestS));
            EXPECT_TRUE(near("S2 re", S2Re[i], p.S2Re[i], largestS));
            EXPECT_TRUE(near("S2 im", S2Im[i], p.S2Im[i], largestS));
            EXPECT_TRUE(near("I1", I1[i], wantI1[i], largestI));
            EXPECT_TRUE(near("I2", I2[i], wantI2[i], largestI));
            EXPECT_TRUE(near("S11", S11[i], wantS11[i], largestS11));
            // S2 S1* from the reference amplitudes.
            const double re = p.S2Re[i] * p.S1Re[i] + p.S2Im[i] * p.S1Im[i];
            const double im = p.S2Im[i] * p.S1Re[i] - p.S2Re[i] * p.S1Im[i];
            EXPECT_TRUE(near("S12", S12[i], (wantI2[i] - wantI1[i]) / 2, wantS11[i]));
            EXPECT_TRUE(near("S33", S33[i], re, wantS11[i]));
            EXPECT_TRUE(near("S34", S34[i], im, wantS11[i]));
            EXPECT_TRUE(near("p", phase[i], phasePerS11 * wantS11[i], phasePerS11 * largestS11));
        }

        std::vector<double> chi(p.moments.size());
        ASSERT_TRUE(engine.legendreMoments(static_cast<int>(chi.size()), chi.data()));
        for (std::size_t k = 0; k < chi.size(); ++k) {
            EXPECT_TRUE(near("moment", chi[k], p.moments[k], 1.0)) << "chi_" << k;
        }
    }
}

}  // namespace
}  // namespace coatedmie
