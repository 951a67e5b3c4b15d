// The parameter-file reader called directly, then the input rules as the
// program words them: the grammar, the nearest-double conversion bit for bit,
// the 32-bit angle count, and every refusal with its message (the program's
// runs show that it prints them, program_test.cpp).
// Then the angle grid's last bits, which six printed decimals cannot show.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "angle_grid.h"
#include "parameter_file.h"

namespace coatedmie {
namespace {

// The nine values, the reals in hexadecimal: every bit shows, and -0 differs from +0.
std::string exactly(const RunParameters& p) {
    char text[256];
    std::snprintf(text, sizeof text, "%a %a %a %a %a %a %d %a %a", p.Alpha1, p.index1Re, p.index1Im, p.Alpha2,
                  p.index2Re, p.index2Im, p.angleCount, p.startAngle, p.endAngle);
    return text;
}

// Read, then held to the input rules; the values are handed out only when
// both accept them.
bool parse(const std::string& text, RunParameters& parameters, std::string& problem,
           std::size_t chunkSize = kParameterChunkSize) {
    RunParameters read{};
    if (!parseParameterText(text.data(), text.size(), "Parameter_in.txt", read, problem, chunkSize)) return false;
    if (checkRunParameters(read, "Parameter_in.txt", problem) != InputProblem::none) return false;
    parameters = read;
    return true;
}

// The case file's C escapes: \t \n \v \f \r \\ and \xHH.
std::string unescaped(const std::string& text) {
    static const std::string escape = "tnvfr\\", byte = "\t\n\v\f\r\\";
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
        } else if (text[++i] == 'x') {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += byte.at(escape.find(text[i]));
        }
    }
    return bytes;
}

// Accepted texts hand out their nine values bit for bit (the expected ones
// read here by the C library); refused ones name the line, the value and what
// was found, and hand out nothing; whatever chunks the bytes arrive in.
TEST(ParameterText, EveryCaseOfTheCaseFileInChunksOfAnySize) {
    std::ifstream file(COATEDMIE_TEST_DATA_DIR "/parameter_texts.txt");
    ASSERT_TRUE(file.is_open()) << "parameter_texts.txt missing";
    const RunParameters untouched{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1, -1.0, -1.0, {}};
    int cases[2] = {0, 0};
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string kind, name, text, expected;
        for (std::string* field : {&kind, &name, &text, &expected}) std::getline(fields, *field, '\t');
        RunParameters values{};
        std::istringstream(expected) >> values.Alpha1 >> values.index1Re >> values.index1Im >> values.Alpha2 >>
            values.index2Re >> values.index2Im >> values.angleCount >> values.startAngle >> values.endAngle;
        for (std::size_t chunkSize : {kParameterChunkSize, std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
            SCOPED_TRACE(name + ", chunks of " + std::to_string(chunkSize));
            RunParameters parameters = untouched;
            std::string problem;
            const bool accepted = parse(unescaped(text), parameters, problem, chunkSize);
            cases[accepted] += chunkSize == kParameterChunkSize;
            if (kind == "accept") {
                EXPECT_TRUE(accepted) << problem;
                EXPECT_EQ(exactly(parameters), exactly(values));
            } else {
                EXPECT_FALSE(accepted);
                EXPECT_EQ(problem, "Parameter_in.txt" + unescaped(expected));
                EXPECT_EQ(exactly(parameters), exactly(untouched)) << "values handed out from a refused file";
            }
        }
    }
    EXPECT_EQ(cases[true], 19);
    EXPECT_EQ(cases[false], 32);
}

// A value's text of kLongestValueText bytes is read; one byte more, or an
// exponent just past the limit, is refused by name; in one chunk or byte by byte.
TEST(ParameterText, LongestValueText) {
    const std::string zeros(kLongestValueText - 5, '0');
    const std::string tooLong = "Parameter_in.txt, line 1: the real part of index1 is longer than 65536 characters, "
                                "found \"" + std::string(24, '0') + "...\"";
    for (std::size_t chunkSize : {kParameterChunkSize, std::size_t{1}}) {
        for (const char* tail : {"15e-1", "0001.5", "00001e+1"}) {
            RunParameters parameters{};
            std::string problem;
            const bool accepted = parse("5 " + zeros + tail + " 0.01 3 2.0 0.5 3 0 180", parameters, problem, chunkSize);
            EXPECT_EQ(problem, accepted ? "" : tooLong) << tail << ", chunks of " << chunkSize;
            EXPECT_EQ(parameters.index1Re, tail[0] == '1' ? 1.5 : 0.0) << tail << ", chunks of " << chunkSize;
        }
    }
}

TEST(ParameterText, IndexTimesSizeOfEachLayerIsLimited) {
    const std::string limit = ", above the limit of 1e7 that keeps a run under a few seconds";
    const struct {
        const char* text;
        std::string message;  // empty: accepted
    } cases[] = {
        // |120 + 160i| * 5e4 is exactly 1e7, the largest accepted.
        {"5e4 120 160 1 2.0 0.5 3 0 180", ""},
        {"50000.00000000001 120 160 1 2.0 0.5 3 0 180", "|index1| * Alpha1 is 10000000.000000002" + limit},
        {"9e4 1000 0 3 2.0 0.5 3 0 180", "|index1| * Alpha1 is 9e+07" + limit},
        // A core's index meets only the core's own size parameter.
        {"1e4 1.5 0.01 2e3 3e3 -4e3 3 0 180", ""},
        {"1e4 1.5 0.01 2.1e3 3e3 4e3 3 0 180", "|index2| * Alpha2 is 1.05e+07" + limit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RunParameters parameters{};
        std::string problem;
        EXPECT_EQ(parse(c.text, parameters, problem), c.message.empty());
        EXPECT_EQ(problem, c.message.empty() ? "" : "Parameter_in.txt: " + c.message);
    }
}

// Every angle, the last one included, is (i - 1) * angleStep + startAngle with
// the product and the sum rounded separately.
TEST(AngleGrid, LastAngleIsComputedWithTwoRoundings) {
    auto lastAngle = [](int angleCount, double startAngle, double endAngle) {
        double degrees;
        double radians;
        fillAngles(makeAngleGrid(angleCount, startAngle, endAngle), angleCount, 1, &degrees, &radians);
        return degrees;
    };
    // (0.9 - 0.3) / 2 * 2 + 0.3 rounds to 0.9000000000000001, not endAngle.
    EXPECT_EQ(lastAngle(3, 0.3, 0.9), 0.9000000000000001);
    // 6 * 33.36666666666667 + 0.1: a fused multiply-add would give 100.3.
    EXPECT_EQ(lastAngle(7, 0.1, 100.3), 100.29999999999998);
}

}  // namespace
}  // namespace coatedmie
