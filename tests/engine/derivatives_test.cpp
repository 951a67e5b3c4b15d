// The derivatives of the efficiencies against central differences of an
// independent arbitrary-precision evaluation (derivative_reference.txt, written
// by tools/derivative_reference.py), shells on the zeros of the
// Riccati-Bessel functions included; the values that come with them bit for
// bit those of the computation without; the layer order and the sign
// convention changing nothing.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace coatedmie {
namespace {

using namespace test_support;

// Kext, Ksca, Kback, g with respect to index1.real, index1.imag, alpha1,
// index2.real, index2.imag, alpha2.
void table(const Derivatives& d, double (&out)[4][6]) {
    const DerivativeRecord* columns[6] = {&d.first.indexRe,  &d.first.indexIm,  &d.first.size,
                                          &d.second.indexRe, &d.second.indexIm, &d.second.size};
    for (int p = 0; p < 6; ++p) {
        const DerivativeRecord& r = *columns[p];
        const double quantities[4] = {r.Kext, r.Ksca, r.Kback, r.g};
        for (int q = 0; q < 4; ++q) out[q][p] = quantities[q];
    }
}

TEST(Derivatives, IndependentReferenceValues) {
    std::ifstream file(COATEDMIE_TEST_DATA_DIR "/derivative_reference.txt");
    ASSERT_TRUE(file) << "derivative_reference.txt";
    int cases = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        SCOPED_TRACE(line.substr(0, 60));
        std::istringstream values(line);
        Layers l;
        values >> l.first.size >> l.first.index.re >> l.first.index.im >> l.second.size >> l.second.index.re >>
            l.second.index.im;
        double want[4][6];
        for (auto& row : want) for (double& v : row) values >> v;

        Engine plain, withDerivatives;
        Derivatives d;
        ASSERT_GT(plain.compute(l.first, l.second), 0);
        ASSERT_EQ(withDerivatives.compute(l.first, l.second, d), plain.termCount());
        EXPECT_TRUE(sameBits(withDerivatives.efficiencies(), plain.efficiencies()));
        double got[4][6];
        table(d, got);
        for (int q = 0; q < 4; ++q) {
            double scale = 0.0;
            for (double v : want[q]) scale = std::fmax(scale, std::fabs(v));
            for (int p = 0; p < 6; ++p) EXPECT_NEAR(got[q][p], want[q][p], 1e-10 * scale) << "quantity " << q << ", parameter " << p;
        }

        // The other layer order swaps the records; the other sign convention
        // changes no derivative with respect to k.
        Derivatives swappedDerivatives, negated;
        withDerivatives.compute(l.second, l.first, swappedDerivatives);
        withDerivatives.compute({l.first.size, {l.first.index.re, -l.first.index.im}},
                                {l.second.size, {l.second.index.re, -l.second.index.im}}, negated);
        double swappedTable[4][6], negatedTable[4][6];
        table(swappedDerivatives, swappedTable);
        table(negated, negatedTable);
        for (int q = 0; q < 4; ++q) {
            for (int p = 0; p < 6; ++p) {
                EXPECT_TRUE(sameBits(swappedTable[q][(p + 3) % 6], got[q][p]) || l.first.size == l.second.size);
                EXPECT_NEAR(negatedTable[q][p], got[q][p], 1e-14 * std::fabs(got[q][p])) << q << " " << p;
            }
        }
        ++cases;
    }
    EXPECT_EQ(cases, 9);
}

}  // namespace
}  // namespace coatedmie
