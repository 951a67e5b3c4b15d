// The parameter-file reader called directly: the grammar, the nearest-double
// conversion bit for bit, the 32-bit angle count, and every refusal with its
// message (the program's runs show that it prints them, program_test.cpp).
// Then the angle grid's last bits, which six printed decimals cannot show.
#include <cfloat>
#include <cstdio>
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

bool parse(const std::string& text, RunParameters& parameters, std::string& problem) {
    return parseParameterText(text.data(), text.size(), "Parameter_in.txt", parameters, problem);
}

RunParameters reference(int angleCount = 3, double startAngle = 0, double endAngle = 180) {
    return {5.0, 1.5, 0.01, 3.0, 2.0, 0.5, angleCount, startAngle, endAngle};
}

// A literal in the imaginary part of index1, a slot with no range check.
std::string inIndex1Im(const std::string& literal) { return "1 1.5 " + literal + " 1 1.5 0 3 0 180"; }
RunParameters index1Im(double value) { return {1.0, 1.5, value, 1.0, 1.5, 0.0, 3, 0.0, 180.0}; }

TEST(ParameterText, AcceptedTextReadsTheNineValuesBitForBit) {
    const struct {
        const char* name;
        std::string text;
        RunParameters expected;
    } cases[] = {
        {"all six white-space kinds", " \t\n\v\f\r5\v1.5\f0.01\r3 2.0\t0.5\n3\v\f0\r\n180\t \n", reference()},
        {"UTF-8 byte-order mark at the start", "\xEF\xBB\xBF" "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", reference()},
        {"garbage after the ninth number", "5 1.5 0.01 3 2.0 0.5 3 0 180 this is ignored\n", reference()},
        {"signs as the only separators", "5+1.5+0.01+3+2.0+0.5+3+0+180", reference()},
        {"point and exponent spellings", "5. 15e-1 1E-2 0.3e+1 2 .5 +3 -0e0 1.8E2", reference(3, -0.0, 180)},
        {"leading zeros", "005 01.50 0.0100 03 2 0.5000 0000000000000000000000000003 0 0180", reference()},
        {"0x1A ends the data inside a number", std::string("5 1.5 0.01 3 2.0 0.5 3 0 18\x1A") + "0\xFF\xFE 1 2",
         reference(3, 0, 18)},
        {"largest angle count", "5 1.5 0.01 3 2.0 0.5 2147483647 0 180", reference(2147483647, 0, 180)},
        {"lowest angle count", "5 1.5 0.01 3 2.0 0.5 -2147483648 0 180", reference(-2147483647 - 1, 0, 180)},
        {"one angle needs no finite step", "5 1.5 0.01 3 2.0 0.5 1 -1e308 1e308", reference(1, -1e308, 1e308)},
        {"smallest sizes and indices", "1e-30 1e-4 0 1e-30 0 -1e-4 3 0 180",
         {1e-30, 1e-4, 0.0, 1e-30, 0.0, -1e-4, 3, 0.0, 180.0}},
        {"smallest index modulus from both parts", "2e-30 0.00006 0.00008 1e-30 1.5 0 3 0 180",
         {2e-30, 0.00006, 0.00008, 1e-30, 1.5, 0.0, 3, 0.0, 180.0}},
        // 2^53 + 1 lies halfway between two doubles: ties go to the even one;
        // a hair above the half rounds up, however far away the hair sits.
        {"a tie", inIndex1Im("9007199254740993"), index1Im(9007199254740992.0)},
        {"a hair above a tie", inIndex1Im("9007199254740993.00000000000000000000000000001"),
         index1Im(9007199254740994.0)},
        {"400 leading zeros", inIndex1Im(std::string(400, '0') + "1.25"), index1Im(1.25)},
        {"a long exponent", inIndex1Im("1.5e+0000000000000000000000001"), index1Im(15.0)},
        {"underflow to zero", inIndex1Im("1e-400"), index1Im(0.0)},
        {"the largest double", inIndex1Im("1.7976931348623158e308"), index1Im(DBL_MAX)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters{};
        std::string problem;
        ASSERT_TRUE(parse(c.text, parameters, problem)) << problem;
        EXPECT_EQ(exactly(parameters), exactly(c.expected));
    }
}

TEST(ParameterText, RefusalNamesTheLineTheValueAndWhatWasFound) {
    const std::string tooSmall = "; the intensities of a particle that small are beyond double precision";
    const std::string noCore = "; a core that small changes no digit of the results: for the sphere without it give ";
    const std::string relative = "; give the refractive index of the layer relative to the surrounding medium";
    const std::string plain = " text; save it as plain text (ASCII or UTF-8)";
    const struct {
        const char* name;
        std::string text;
        std::string message;  // after the file name
    } cases[] = {
        {"fewer than nine numbers", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\n",
         ", line 4: expected endAngle (a number), found the end of the file"},
        {"a byte-order mark alone", "\xEF\xBB\xBF", ", line 1: expected Alpha1 (a number), found the end of the file"},
        {"0x1A before the ninth number", std::string("5 1.5 0.01 3 2.0 0.5 3 0\x1A") + " 180",
         ", line 1: expected endAngle (a number), found the end of the data (a 0x1A byte)"},
        {"line counted over CR LF, comma hinted", "5\t1.5\t0.01\r\n3\t2,0\t0.5\r\n3\t0\t180\r\n",
         ", line 2: expected the imaginary part of index2 (a number), found \",0\"; the decimal separator is \".\""},
        {"infinity", "5 1.5 0.01 inf 2.0 0.5 3 0 180", ", line 1: expected Alpha2 (a number), found \"inf\""},
        {"hexadecimal reads as 0 then x", "5 1.5 0.01 3 2.0 0x1p-1 3 0 180",
         ", line 1: expected angleCount (a number), found \"x1p-1\""},
        {"point alone", "5 . 0.01 3 2.0 0.5 3 0 180",
         ", line 1: expected the real part of index1 (a number), found \".\""},
        {"sign alone", "5 1.5 0.01 - 3 2.0 0.5 3 0 180", ", line 1: expected Alpha2 (a number), found \"-\""},
        {"exponent without a digit before it", "5 1.5 0.01 e5 2.0 0.5 3 0 180",
         ", line 1: expected Alpha2 (a number), found \"e5\""},
        {"exponent without digits", "5 1.5 0.01e+ 3 2.0 0.5 3 0 180",
         ", line 1: expected Alpha2 (a number), found \"e+\""},
        {"count with a trailing point", "5 1.5 0.01 3 2.0 0.5 181. 0 180",
         ", line 1: angleCount must be a whole number, found \"181.\""},
        {"count above the 32-bit range", "5 1.5 0.01 3 2.0 0.5 2147483648 0 180",
         ", line 1: angleCount is out of range (-2147483648 to 2147483647), found \"2147483648\""},
        {"count below the 32-bit range", "5 1.5 0.01 3 2.0 0.5 -2147483649 0 180",
         ", line 1: angleCount is out of range (-2147483648 to 2147483647), found \"-2147483649\""},
        {"just past the largest double", "5 1.5 0.01 3 2.0 0.5 3 0 1.7976931348623159e308",
         ", line 1: endAngle is too large for a double, found \"1.7976931348623159e308\""},
        {"too large comes first, on the value's line", "-5 1.5\n1e999\n0 2.0 0.5 3 0 180",
         ", line 2: the imaginary part of index1 is too large for a double, found \"1e999\""},
        {"two angles too far apart for a finite step", "5\t1.5\t0.01\n3\t2.0\t0.5\n2\t-1e308\t1e308\n",
         ", line 3: startAngle and endAngle are too far apart, found \"-1e308\" and \"1e308\""},
        {"zero size parameter", "0\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n",
         ", line 1: Alpha1 must be greater than 0, found \"0\""},
        {"negative size parameter", "5\t1.5\t0.01\n-3\t2.0\t0.5\n3\t0\t180\n",
         ", line 2: Alpha2 must be greater than 0, found \"-3\""},
        {"whole particle too small, outer layer second", "1e-35\t1.5\t0.01\n2e-31\t2.0\t0.5\n3\t0\t180\n",
         ", line 2: Alpha2 must be at least 1e-30, found \"2e-31\"" + tooSmall},
        {"equal sizes too small", "9e-31 1.5 0.01 9e-31 2.0 0.5 3 0 180",
         ", line 1: Alpha1 must be at least 1e-30, found \"9e-31\"" + tooSmall},
        {"core too small", "5\t1.5\t0.01\n1e-160\t2.0\t0.5\n3\t0\t180\n",
         ", line 2: Alpha2 must be at least 1e-30, found \"1e-160\"" + noCore +
             "layer 2 the size parameter and index of layer 1"},
        {"core too small, given first", "1e-200\t1.5\t0.01\n1\t2.0\t0.5\n3\t0\t180\n",
         ", line 1: Alpha1 must be at least 1e-30, found \"1e-200\"" + noCore +
             "layer 1 the size parameter and index of layer 2"},
        {"index 0", "1\t0\t0\n0.5\t2.0\t0.5\n3\t0\t180\n",
         ", line 1: |index1| must be at least 1e-4, found \"0\" and \"0\"" + relative},
        {"index just too close to 0", "1\t1.5\t0.01\n0.5\t-3e-5\t4e-5\n3\t0\t180\n",
         ", line 2: |index2| must be at least 1e-4, found \"-3e-5\" and \"4e-5\"" + relative},
        {"UTF-16 little endian with mark", std::string("\xFF\xFE" "5\0\t\0", 6), " is UTF-16" + plain},
        {"UTF-16 big endian with mark", std::string("\xFE\xFF\0" "5\0 ", 6), " is UTF-16" + plain},
        {"UTF-16 without a mark", std::string("5\0\t\0" "1\0", 6), " is UTF-16" + plain},
        {"UTF-32 with mark", std::string("\xFF\xFE\0\0" "5\0\0\0", 8), " is UTF-32" + plain},
        {"byte-order mark not at the start", " \xEF\xBB\xBF" "5 1.5 0.01 3 2.0 0.5 3 0 180",
         ", line 1: expected Alpha1 (a number), found \"\\xEF\\xBB\\xBF5\""},
        {"control bytes and quotes are escaped", "5 1.5 0.01 3 2.0 0.5 3 0 \"\\\x01\x7F",
         ", line 1: expected endAngle (a number), found \"\\\"\\\\\\x01\\x7F\""},
        {"long text is cut", "5 1.5 0.01 3 2.0 0.5 3 0 abcdefghijklmnopqrstuvwxyz0123456789",
         ", line 1: expected endAngle (a number), found \"abcdefghijklmnopqrstuvwx...\""},
    };
    const RunParameters untouched{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1, -1.0, -1.0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters = untouched;
        std::string problem;
        EXPECT_FALSE(parse(c.text, parameters, problem));
        EXPECT_EQ(problem, "Parameter_in.txt" + c.message);
        EXPECT_EQ(exactly(parameters), exactly(untouched)) << "values handed out from a refused file";
    }
}

TEST(ParameterText, IndexTimesSizeOfEachLayerIsLimited) {
    const std::string limit = ", above the limit of 1e7 that keeps a run under a few seconds";
    const struct {
        RunParameters parameters;
        std::string message;  // empty: accepted
    } cases[] = {
        // |120 + 160i| * 5e4 is exactly 1e7, the largest accepted.
        {{5e4, 120, 160, 1, 2.0, 0.5, 3, 0, 180}, ""},
        {{50000.00000000001, 120, 160, 1, 2.0, 0.5, 3, 0, 180}, "|index1| * Alpha1 is 10000000.000000002" + limit},
        {{9e4, 1000, 0, 3, 2.0, 0.5, 3, 0, 180}, "|index1| * Alpha1 is 9e+07" + limit},
        // A core's index meets only the core's own size parameter.
        {{1e4, 1.5, 0.01, 2e3, 3e3, -4e3, 3, 0, 180}, ""},
        {{1e4, 1.5, 0.01, 2.1e3, 3e3, 4e3, 3, 0, 180}, "|index2| * Alpha2 is 1.05e+07" + limit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::string problem;
        EXPECT_EQ(checkContinuedFractionLength(c.parameters, "Parameter_in.txt", problem), c.message.empty());
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
