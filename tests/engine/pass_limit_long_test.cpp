// Slow sweeps of the continued fraction that starts the log-derivative
// tables: how its pass count grows with the argument, and that the pass
// limit turns an absurd argument into a refusal instead of a hang.
#include <cmath>
#include <cstring>
#include <memory>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "log_derivative.h"

namespace coatedmie {
namespace {

TEST(LentzPassCount, GrowsLikeTheArgumentBeyondTheOrder) {
    for (double modulus : {1e3, 1e4, 1e5, 1e6, 1e7}) {
        for (int n : {11, 1081, 99998}) {
            for (double phase : {0.0, 1e-6, 0.01, 0.785, 1.5707963267948966}) {
                ComplexResult d;
                const int k = lentzLogDerivative(modulus * std::cos(phase), modulus * std::sin(phase),
                                                 n, d);
                SCOPED_TRACE(testing::Message() << "|z| = " << modulus << ", n = " << n
                                                << ", phase = " << phase << ", k = " << k);
                ASSERT_GT(k, 0);
                const double bound = std::fmax(modulus - n, 0.0) + 10.0 * std::cbrt(modulus) + 300.0;
                EXPECT_LE(k - 2, bound);
                if (phase == 0.0 && modulus > n) {
                    EXPECT_GE(k - 2, modulus - n);
                }
            }
        }
    }
}

TEST(LentzPassLimit, AbsurdIndexIsRefusedWithinSeconds) {
    EfficiencyRecord e;
    ASSERT_EQ(computeCoatedSphere(40, 1.5, 0.01, 20, 1.33, 0, e), termCountFor(40));
    const auto coefficientsBefore = std::make_unique<CoefficientTables>(coefficientTables());
    const auto logDerivativesBefore = std::make_unique<LogDerivativeTables>(logDerivativeTables());

    // |m1| x = 1e150: the core table would need about 1e150 passes.
    for (const double index : {1e4 * 99621 / 20, 1e150 / 20}) {
        SCOPED_TRACE(testing::Message() << "core index " << index);
        EfficiencyRecord untouched{-1.0, -2.0, -3.0};
        EXPECT_EQ(computeCoatedSphere(40, 1.5, 0.01, 20, index, 0, untouched), 0);
        EXPECT_EQ(untouched.Kext, -1.0);
        EXPECT_EQ(untouched.Ksca, -2.0);
        EXPECT_EQ(untouched.Kabs, -3.0);
        EXPECT_EQ(std::memcmp(coefficientsBefore.get(), &coefficientTables(), sizeof(CoefficientTables)), 0);
        EXPECT_EQ(std::memcmp(logDerivativesBefore.get(), &logDerivativeTables(), sizeof(LogDerivativeTables)), 0);
    }
}

}  // namespace
}  // namespace coatedmie
