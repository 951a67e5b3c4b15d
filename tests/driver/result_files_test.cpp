// The text of the result files around the numbers: labels, TABs, CR LF,
// empty lines, and which value goes where.
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

TEST(HeaderText, FiveLinesWithTheInputsInFileOrder) {
    const RunParameters parameters{1.0, 1.5, 0.01, 0.5, 1.33, 0.0, 181, 0.0, 180.0};
    const EfficiencyRecord efficiencies{0.25, 0.125, 0.0078125};
    EXPECT_EQ(textOf([&](OutputFile& out) { writeHeader(out, parameters, efficiencies); }),
              "Alpha1=1.000000\tRefractive index_m1=(1.500000, 0.010000)\r\n"
              "Alpha2=0.500000\tRefractive index_m2=(1.330000, 0.000000)\r\n"
              "\r\n"
              "Kext=0.250000, Ksca=0.125000, Kabs=0.007813\r\n"
              "\r\n");
}

TEST(HeaderText, SignsAndNegativeZeroAsRead) {
    const RunParameters parameters{3.0, -2.0, -0.5, 5.0, 1.5, -0.0, 3, 0.0, 180.0};
    const EfficiencyRecord efficiencies{0.0, -0.0, 0.0};
    EXPECT_EQ(textOf([&](OutputFile& out) { writeHeader(out, parameters, efficiencies); }),
              "Alpha1=3.000000\tRefractive index_m1=(-2.000000, -0.500000)\r\n"
              "Alpha2=5.000000\tRefractive index_m2=(1.500000, 0.000000)\r\n"
              "\r\n"
              "Kext=0.000000, Ksca=0.000000, Kabs=0.000000\r\n"
              "\r\n");
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
