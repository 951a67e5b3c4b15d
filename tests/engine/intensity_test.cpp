#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

namespace coatedmie {
namespace {

const double kPi = 3.141592653589793;

bool sameBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

IntensityRecord intensityAt(int termCount, double theta) {
    IntensityRecord r{0.0, -1.0, -1.0};
    computeIntensity(termCount, theta, r);
    return r;
}

class AngularIntensity : public testing::Test {
protected:
    void SetUp() override {
        termCount = computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, efficiencies);
        ASSERT_EQ(termCount, 20);
    }
    int termCount = 0;
    EfficiencyRecord efficiencies{};
};

TEST_F(AngularIntensity, PublishedReferenceValues) {
    struct Case {
        double theta, I1, I2;
    };
    const Case cases[] = {{0, 394.7263, 394.7263}, {kPi / 2, 5.519364, 0.7590923}, {kPi, 1.644918, 1.644918}};
    for (const Case& c : cases) {
        const IntensityRecord r = intensityAt(termCount, c.theta);
        EXPECT_NEAR(r.I1, c.I1, 5e-7 * c.I1) << "theta = " << c.theta;
        EXPECT_NEAR(r.I2, c.I2, 5e-7 * c.I2) << "theta = " << c.theta;
    }
}

TEST_F(AngularIntensity, ForwardDirectionDoesNotSeePolarisation) {
    const IntensityRecord r = intensityAt(termCount, 0.0);
    EXPECT_TRUE(sameBits(r.I1, r.I2));
    const IntensityRecord back = intensityAt(termCount, kPi);  // S1(pi) = -S2(pi)
    EXPECT_NEAR(back.I1, back.I2, 1e-12 * back.I1);
}

TEST_F(AngularIntensity, EvenInTheScatteringAngle) {
    for (double theta : {1e-9, 0.3, 1.0, kPi / 2, 2.0, 3.0, kPi, 4.0}) {
        const IntensityRecord plus = intensityAt(termCount, theta);
        const IntensityRecord minus = intensityAt(termCount, -theta);
        EXPECT_TRUE(sameBits(plus.I1, minus.I1)) << "theta = " << theta;
        EXPECT_TRUE(sameBits(plus.I2, minus.I2)) << "theta = " << theta;
    }
}

// (1/y^2) * integral over theta of (I1 + I2) sin(theta) is the scattering
// efficiency: the angular functions and the weights must agree with the sums
// of the efficiency.
TEST(AngularIntensityIntegral, GivesTheScatteringEfficiency) {
    struct Case {
        double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
    };
    const Case cases[] = {{5, 1.5, 0.01, 3, 2.0, 0.5}, {0.5, 1.33, 0, 0.2, 1.7, 0.1}, {25, 1.33, 0, 20, 1.6, 0.3}};
    for (const Case& c : cases) {
        EfficiencyRecord e;
        const int n = computeCoatedSphere(c.alpha1, c.index1Re, c.index1Im, c.alpha2, c.index2Re,
                                          c.index2Im, e);
        const int intervals = 4000;  // composite Simpson rule
        const double h = kPi / intervals;
        double sum = 0;
        for (int i = 0; i <= intervals; ++i) {
            const double theta = i * h;
            const IntensityRecord r = intensityAt(n, theta);
            const double weight = (i == 0 || i == intervals) ? 1.0 : (i % 2 ? 4.0 : 2.0);
            sum += weight * (r.I1 + r.I2) * std::sin(theta);
        }
        const double ksca = sum * h / 3.0 / (c.alpha1 * c.alpha1);
        EXPECT_NEAR(ksca, e.Ksca, 1e-9 * e.Ksca) << "alpha1 = " << c.alpha1;
    }
}

TEST_F(AngularIntensity, TermCountsBelowTwoKeepOnlyTheFirstOrder) {
    const CoefficientTables& t = coefficientTables();
    for (double theta : {0.0, 0.7, 2.5}) {
        const IntensityRecord one = intensityAt(1, theta);
        for (int n : {0, -3}) {
            const IntensityRecord r = intensityAt(n, theta);
            EXPECT_TRUE(sameBits(r.I1, one.I1) && sameBits(r.I2, one.I2)) << n;
        }
        // S1 = (3/2)(a_1 + b_1 cos(theta)), S2 = (3/2)(a_1 cos(theta) + b_1).
        const std::complex<double> a1(t.aRe[1], t.aIm[1]), b1(t.bRe[1], t.bIm[1]);
        const double mu = std::cos(theta);
        EXPECT_NEAR(one.I1, std::norm(1.5 * (a1 + b1 * mu)), 1e-15);
        EXPECT_NEAR(one.I2, std::norm(1.5 * (a1 * mu + b1)), 1e-15);
    }
}

TEST_F(AngularIntensity, WritesOnlyTheIntensities) {
    const double sentinel = std::nan("0x5eed");
    IntensityRecord r{sentinel, -1.0, -1.0};
    computeIntensity(termCount, 0.4, r);
    EXPECT_TRUE(sameBits(r.reserved, sentinel));
    EXPECT_GT(r.I1, 0.0);
    EXPECT_GT(r.I2, 0.0);
}

TEST_F(AngularIntensity, NaNAngleGivesNaN) {
    const IntensityRecord r = intensityAt(termCount, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(r.I1) && std::isnan(r.I2));
}

TEST_F(AngularIntensity, OversizedTermCountReadsNoFurtherThanTheLargestN) {
    const IntensityRecord capped = intensityAt(kMaxTermCount, 1.0);
    const IntensityRecord r = intensityAt(2000000000, 1.0);
    EXPECT_TRUE(sameBits(r.I1, capped.I1) && sameBits(r.I2, capped.I2));
}

}  // namespace
}  // namespace coatedmie
