// The engine's fast paths against the plain reference engine: every term
// count, efficiency, coefficient and log-derivative entry bit for bit.
#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "reference_agreement.h"

namespace coatedmie {
namespace {

using testing_reference::Layers;

TEST(ReferenceAgreement, EveryRegimeBitForBit) {
    const struct {
        const char* regime;
        Layers layers;
    } cases[] = {
        {"published reference", {5, 1.5, 0.01, 3, 2.0, 0.5}},
        {"layers given core first", {3, 2.0, 0.5, 5, 1.5, 0.01}},
        {"negative convention", {5, 1.5, -0.01, 3, 2.0, -0.5}},
        {"one negative imaginary part", {5, 1.5, -0.1, 3, 1.33, 0.02}},
        {"negative zero imaginary parts", {5, 1.5, -0.0, 3, 2.0, -0.0}},
        {"non-absorbing", {10, 1.33, 0, 6, 1.5, 0}},
        {"equal indices", {8, 1.5, 0.02, 4, 1.5, 0.02}},
        {"equal sizes", {6, 1.33, 0.01, 6, 1.8, 0.2}},
        {"vacuum shell", {5, 1, 0, 3, 1.5, 0}},
        {"vacuum shell, negative convention", {5, 1, -0.0, 3, 1.5, -0.1}},
        {"no core: NaN results", {5, 1.5, 0.01, 0, 2.0, 0.5}},
        {"tiny", {1e-3, 1.33, 0, 5e-4, 1.7, 0.1}},
        {"tiny core in a tiny shell", {1e-2, 1.5, 0.001, 1e-3, 3.0, 4.0}},
        {"small", {0.5, 1.33, 0, 0.2, 1.7, 0.1}},
        {"metallic core", {20, 1.33, 0, 15, 0.2, 3.5}},
        {"strongly absorbing shell", {30, 2.0, 1.5, 10, 1.4, 0}},
        {"high index", {50, 4.0, 0.001, 45, 10.0, 10.0}},
        {"thin shell", {1000, 1.33, 0.0001, 999, 1.59, 0.001}},
        {"lossless large", {1000, 1.5, 0, 700, 1.2, 0}},
        {"size 10000", {10000, 1.33, 0.001, 8000, 1.5, 0.01}},
        {"largest size", {99621, 1.33, 0.001, 79696.8, 1.5, 0.01}},
        {"largest size, lossless", {99621, 1.2, 0, 50000, 1.05, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.regime);
        testing_reference::expectSameAsReference(c.layers);
    }
}

}  // namespace
}  // namespace coatedmie
