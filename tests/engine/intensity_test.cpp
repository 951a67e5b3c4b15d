#include <cmath>
#include <complex>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace coatedmie {
namespace {

using test_support::sameBits;

const double kPi = 3.141592653589793;

IntensityRecord intensityAt(int termCount, double theta) {
    IntensityRecord r{0.0, -1.0, -1.0};
    computeIntensity(termCount, theta, r);
    return r;
}

class AngularIntensity : public testing::Test {
protected:
    void SetUp() override {
        EfficiencyRecord e;
        ASSERT_EQ(computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e), 20);
    }
};

TEST_F(AngularIntensity, SymmetriesOfTheAmplitudes) {
    const IntensityRecord forward = intensityAt(20, 0.0);
    EXPECT_TRUE(sameBits(forward.I1, forward.I2));
    const IntensityRecord backward = intensityAt(20, kPi);  // S1(pi) = -S2(pi)
    EXPECT_NEAR(backward.I1, backward.I2, 1e-12 * backward.I1);
    for (double theta : {1e-9, 0.3, kPi / 2, 3.0, kPi, 4.0}) {
        const IntensityRecord plus = intensityAt(20, theta), minus = intensityAt(20, -theta);
        EXPECT_TRUE(sameBits(plus.I1, minus.I1) && sameBits(plus.I2, minus.I2)) << theta;
    }
}

TEST_F(AngularIntensity, OneTermIsTheFirstOrderFormula) {
    const CoefficientTables& t = coefficientTables();
    const std::complex<double> a1(t.aRe[1], t.aIm[1]), b1(t.bRe[1], t.bIm[1]);
    for (double theta : {0.0, 0.7, 2.5}) {
        const IntensityRecord one = intensityAt(1, theta);
        const double mu = std::cos(theta);  // w_1 = 3/2, pi_1 = 1, tau_1 = mu
        EXPECT_NEAR(one.I1, std::norm(1.5 * (a1 + b1 * mu)), 1e-15) << theta;
        EXPECT_NEAR(one.I2, std::norm(1.5 * (a1 * mu + b1)), 1e-15) << theta;
    }
}

TEST_F(AngularIntensity, NaNAngleAndCountsBeyondTheTables) {
    EXPECT_TRUE(std::isnan(intensityAt(20, std::nan("")).I1));
    const IntensityRecord capped = intensityAt(kMaxTermCount, 1.0), huge = intensityAt(2000000000, 1.0);
    EXPECT_TRUE(sameBits(capped.I1, huge.I1) && sameBits(capped.I2, huge.I2));
}

}  // namespace
}  // namespace coatedmie
