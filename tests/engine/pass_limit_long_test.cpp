// Slow sweeps of the continued fraction that starts the log-derivative tables.
#include <cmath>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "log_derivative.h"

namespace coatedmie {
namespace {

TEST(LentzPassCount, GrowsLikeTheArgumentBeyondTheOrder) {
    for (double modulus : {1e3, 1e5, 1e7}) {
        for (int n : {11, 1081, 99998}) {
            for (double phase : {0.0, 1e-6, 0.01, 0.785, 1.5707963267948966}) {
                ComplexResult d;
                const int passes =
                    lentzLogDerivative(modulus * std::cos(phase), modulus * std::sin(phase), n, d) - 2;
                SCOPED_TRACE(testing::Message() << "|z| = " << modulus << ", n = " << n << ", phase = " << phase);
                EXPECT_LE(passes, std::fmax(modulus - n, 0.0) + 10.0 * std::cbrt(modulus) + 300.0);
                EXPECT_GE(passes, phase == 0.0 ? modulus - n : 1.0);
            }
        }
    }
}

TEST(LentzPassLimit, AbsurdIndexIsRefusedInsteadOfHanging) {
    for (double coreIndex : {1e4 * 99621 / 20, 1e150 / 20}) {  // |m1| x = 1e9, 1e150
        EfficiencyRecord e{-1.0, -2.0, -3.0};
        EXPECT_EQ(computeCoatedSphere(40, 1.5, 0.01, 20, coreIndex, 0, e), 0) << coreIndex;
        EXPECT_TRUE(e.Kext == -1.0 && e.Ksca == -2.0 && e.Kabs == -3.0);
    }
}

}  // namespace
}  // namespace coatedmie
