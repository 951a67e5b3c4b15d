#include <coatedmie/engine.h>
#include <gtest/gtest.h>

TEST(PublicApi, CapacityConstants) {
    EXPECT_EQ(coatedmie::kMaxTermCount, 99998);
}
