#include "result_files.h"

#include <cstring>

#include "number_text.h"

namespace coatedmie {
namespace {

constexpr char kLineEnd[] = "\r\n";

// Room for a table line in which every number may take the longest text of
// either form (the formatter's contract), three TABs and CR LF.
constexpr std::size_t kTableLineRoom = 4 * kMaxNumberText + 3 + 2;
static_assert(kTableLineRoom <= kOutputBufferSize, "a table line must fit the output buffer");

void appendLiteral(OutputFile& file, const char* text) {
    appendOutput(file, text, std::strlen(text));
}

void appendFixed(OutputFile& file, double value) {
    char* out = reserveOutput(file, kMaxNumberText);
    commitOutput(file, formatFixed(value, out));
}

}  // namespace

void writeHeader(OutputFile& file, const RunParameters& p, const EfficiencyRecord& efficiencies) {
    appendLiteral(file, "Alpha1=");
    appendFixed(file, p.Alpha1);
    appendLiteral(file, "\tRefractive index_m1=(");
    appendFixed(file, p.index1Re);
    appendLiteral(file, ", ");
    appendFixed(file, p.index1Im);
    appendLiteral(file, ")\r\n");

    appendLiteral(file, "Alpha2=");
    appendFixed(file, p.Alpha2);
    appendLiteral(file, "\tRefractive index_m2=(");
    appendFixed(file, p.index2Re);
    appendLiteral(file, ", ");
    appendFixed(file, p.index2Im);
    appendLiteral(file, ")\r\n\r\n");

    appendLiteral(file, "Kext=");
    appendFixed(file, efficiencies.Kext);
    appendLiteral(file, ", Ksca=");
    appendFixed(file, efficiencies.Ksca);
    appendLiteral(file, ", Kabs=");
    appendFixed(file, efficiencies.Kabs);
    appendLiteral(file, "\r\n\r\n");
}

void writeTableColumnLine(OutputFile& file) {
    appendLiteral(file, "Angle(Deg)\tI1\tI2\tItotal\r\n");
}

void writeTableLine(OutputFile& file, double angleDegrees, double I1, double I2) {
    const double Itotal = I1 + I2;
    char* const line = reserveOutput(file, kTableLineRoom);
    char* out = line;
    out += formatFixed(angleDegrees, out);
    *out++ = '\t';
    out += formatExponent(I1, out);
    *out++ = '\t';
    out += formatExponent(I2, out);
    *out++ = '\t';
    out += formatExponent(Itotal, out);
    std::memcpy(out, kLineEnd, 2);
    out += 2;
    commitOutput(file, static_cast<std::size_t>(out - line));
}

}  // namespace coatedmie
