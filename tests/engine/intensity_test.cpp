#include <cmath>
#include <complex>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "kernels.h"

namespace coatedmie {
namespace {

using namespace test_support;

const double kPi = 3.141592653589793;

class AngularIntensity : public testing::Test {
protected:
    void SetUp() override {
        EfficiencyRecord e{};
        ASSERT_EQ(compute({5, 1.5, 0.01, 3, 2.0, 0.5}, e), 20);
    }
};

TEST_F(AngularIntensity, SymmetriesOfTheAmplitudes) {
    const Intensity forward = intensityAt(0.0);
    EXPECT_TRUE(sameBits(forward.I1, forward.I2));
    const Intensity backward = intensityAt(kPi);  // S1(pi) = -S2(pi)
    EXPECT_NEAR(backward.I1, backward.I2, 1e-12 * backward.I1);
    for (double theta : {1e-9, 0.3, kPi / 2, 3.0, kPi, 4.0}) {
        const Intensity plus = intensityAt(theta), minus = intensityAt(-theta);
        EXPECT_TRUE(sameBits(plus.I1, minus.I1) && sameBits(plus.I2, minus.I2)) << theta;
    }
    EXPECT_TRUE(std::isnan(intensityAt(std::nan("")).I1));
}

TEST_F(AngularIntensity, OneTermIsTheFirstOrderFormula) {
    CoefficientView c = coefficients();
    c.termCount = 1;
    const std::complex<double> a1(c.aRe[1], c.aIm[1]), b1(c.bRe[1], c.bIm[1]);
    for (double theta : {0.0, 0.7, 2.5}) {
        double I1, I2;
        kernels().angular(c, {&theta, nullptr}, 1, {AngularOutput::intensities, {&I1, &I2}, false, 0.0});
        const double mu = std::cos(theta);  // w_1 = 3/2, pi_1 = 1, tau_1 = mu
        EXPECT_NEAR(I1, std::norm(1.5 * (a1 + b1 * mu)), 1e-15) << theta;
        EXPECT_NEAR(I2, std::norm(1.5 * (a1 * mu + b1)), 1e-15) << theta;
    }
}

}  // namespace
}  // namespace coatedmie
