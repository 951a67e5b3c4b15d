// Any bytes given as Parameter_in.txt: the reader either refuses them with
// one printable line naming the file, or hands out nine values the run can
// use, and the same values written back with 17 digits read the same again.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parameter_file.h"

namespace {

constexpr char kName[] = "Parameter_in.txt";

void require(bool condition) {
    if (!condition) std::abort();
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace coatedmie;
    RunParameters p{};
    std::string problem;
    if (!parseParameterText(reinterpret_cast<const char*>(data), size, kName, p, problem)) {
        require(problem.compare(0, sizeof kName - 1, kName) == 0);
        require(problem.size() < 300);
        for (char c : problem) require(c >= 0x20 && c < 0x7F);
        return 0;
    }
    const double reals[] = {p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im,
                            p.startAngle, p.endAngle};
    for (double value : reals) require(std::isfinite(value));
    require(p.Alpha1 > 0.0 && p.Alpha2 > 0.0);

    char text[512];
    const int length = std::snprintf(text, sizeof text, "%.17g %.17g %.17g\n%.17g %.17g %.17g\n%d %.17g %.17g\n",
                                     p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im,
                                     p.angleCount, p.startAngle, p.endAngle);
    require(length > 0 && static_cast<std::size_t>(length) < sizeof text);
    RunParameters again{};
    require(parseParameterText(text, static_cast<std::size_t>(length), kName, again, problem));
    require(sameBits(again.Alpha1, p.Alpha1) && sameBits(again.index1Re, p.index1Re) &&
            sameBits(again.index1Im, p.index1Im) && sameBits(again.Alpha2, p.Alpha2) &&
            sameBits(again.index2Re, p.index2Re) && sameBits(again.index2Im, p.index2Im) &&
            again.angleCount == p.angleCount && sameBits(again.startAngle, p.startAngle) &&
            sameBits(again.endAngle, p.endAngle));
    return 0;
}
