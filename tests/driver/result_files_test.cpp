// The table lines around the numbers: TABs, CR LF, and Itotal as the sum.
// The header's text is pinned by the end-to-end golden files.
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "result_files.h"
#include "scratch_folder.h"

namespace coatedmie {
namespace {

using testing::ScratchFolder;

OutputFile file;

template <typename Write>
std::string textOf(Write write) {
    ScratchFolder folder;
    const int descriptor = open((folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    attachOutputFile(file, descriptor);
    write(file);
    EXPECT_EQ(closeOutputFile(file), 0);
    return folder.read("out");
}

TEST(TableText, ColumnLineAndOneLinePerAngle) {
    EXPECT_EQ(textOf([](OutputFile& out) {
                  writeTableColumnLine(out);
                  writeTableLine(out, 30.0, 0.5, 0.25);
                  writeTableLine(out, 180.0, 1e300, 1e300);
              }),
              "Angle(Deg)\tI1\tI2\tItotal\r\n"
              "30.000000\t5.000000e-001\t2.500000e-001\t7.500000e-001\r\n"
              "180.000000\t1.000000e+300\t1.000000e+300\t2.000000e+300\r\n");
}

TEST(TableText, ItotalIsOneRoundedSumIncludingOverflowAndNaN) {
    const double huge = std::numeric_limits<double>::max();
    EXPECT_EQ(textOf([&](OutputFile& out) {
                  writeTableLine(out, 0.0, huge, huge);
                  writeTableLine(out, 1.0, std::nan(""), 0.0);
              }),
              "0.000000\t1.797693e+308\t1.797693e+308\t1.#INF00e+000\r\n"
              "1.000000\t1.#QNAN0e+000\t0.000000e+000\t1.#QNAN0e+000\r\n");
}

}  // namespace
}  // namespace coatedmie
