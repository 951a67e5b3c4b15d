// Runs of the real program that take seconds: only with COATEDMIE_LONG_TESTS.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "program_runner.h"
#include "scratch_folder.h"

namespace coatedmie {
namespace {

using testing::RunResult;
using testing::ScratchFolder;

TEST(BadInputLong, IndexTooLargeForTheContinuedFractionEndsWithStatusOne) {
    // |index| * size parameter = 1e12: the engine gives up on the continued
    // fraction after its pass limit (seconds), and the run must still end.
    ScratchFolder folder;
    folder.write("Parameter_in.txt", "1\t1e12\t0\n0.5\t1.33\t0\n3\t0\t180\n");
    folder.write("Mie_Coated_TA.txt", "earlier table\r\n");
    const RunResult result = testing::runProgram(folder);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError,
              "coatedmie: Parameter_in.txt: a refractive index times its size parameter is too large "
              "for the computation to finish\n");
    EXPECT_EQ(folder.read("Mie_Coated_TA.txt"), "earlier table\r\n");
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Parameter_in.txt", "Mie_Coated_TA.txt"}));
}

}  // namespace
}  // namespace coatedmie
