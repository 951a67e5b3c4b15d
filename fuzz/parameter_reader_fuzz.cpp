// Any bytes given as Parameter_in.txt: the reader either refuses them with
// one printable line naming the file, or hands out nine values that the input
// rules accept or refuse in the same way, and the same values written back
// with 17 digits read the same again. Read in small chunks, the bytes give
// the same answer.
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

bool same(const coatedmie::RunParameters& a, const coatedmie::RunParameters& b) {
    return sameBits(a.Alpha1, b.Alpha1) && sameBits(a.index1Re, b.index1Re) && sameBits(a.index1Im, b.index1Im) &&
           sameBits(a.Alpha2, b.Alpha2) && sameBits(a.index2Re, b.index2Re) && sameBits(a.index2Im, b.index2Im) &&
           a.angleCount == b.angleCount && sameBits(a.startAngle, b.startAngle) && sameBits(a.endAngle, b.endAngle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace coatedmie;
    RunParameters p{}, chunked{};
    std::string problem, chunkedProblem;
    const bool accepted = parseParameterText(reinterpret_cast<const char*>(data), size, kName, p, problem);
    const std::size_t chunkSize = size > 0 ? data[size - 1] % 8 + 1 : 1;
    require(parseParameterText(reinterpret_cast<const char*>(data), size, kName, chunked, chunkedProblem,
                               chunkSize) == accepted);
    require(chunkedProblem == problem && same(chunked, p));
    const auto isOneLineAboutTheFile = [](const std::string& message) {
        require(message.compare(0, sizeof kName - 1, kName) == 0);
        require(message.size() < 300);
        for (char c : message) require(c >= 0x20 && c < 0x7F);
    };
    if (!accepted) {
        isOneLineAboutTheFile(problem);
        return 0;
    }
    const double reals[] = {p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im,
                            p.startAngle, p.endAngle};
    for (double value : reals) require(std::isfinite(value));
    std::string refusal;
    const InputProblem rule = checkRunParameters(p, kName, refusal);
    if (rule == InputProblem::none || rule == InputProblem::beyondCapacity) {
        require(p.Alpha1 > 0.0 && p.Alpha2 > 0.0 && refusal.empty());
    } else {
        isOneLineAboutTheFile(refusal);
    }

    char text[512];
    const int length = std::snprintf(text, sizeof text, "%.17g %.17g %.17g\n%.17g %.17g %.17g\n%d %.17g %.17g\n",
                                     p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im,
                                     p.angleCount, p.startAngle, p.endAngle);
    require(length > 0 && static_cast<std::size_t>(length) < sizeof text);
    RunParameters again{};
    require(parseParameterText(text, static_cast<std::size_t>(length), kName, again, problem));
    require(same(again, p));
    return 0;
}
