// The parameter-file reader where a run of the program cannot show it: the
// grammar's subtleties, the nearest-double conversion bit for bit, the 32-bit
// angle count, and the exact limits. The refusals a user meets most (missing
// file, too few numbers, "181.0", 1e999, sizes and indices out of range) are
// checked on the program itself (end_to_end_test.cpp).
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "parameter_file.h"

namespace coatedmie {
namespace {

std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Values compared bit for bit, so that -0 differs from +0.
void expectSameParameters(const RunParameters& expected, const RunParameters& actual) {
    const double RunParameters::*const reals[] = {&RunParameters::Alpha1,   &RunParameters::index1Re,
                                                  &RunParameters::index1Im, &RunParameters::Alpha2,
                                                  &RunParameters::index2Re, &RunParameters::index2Im,
                                                  &RunParameters::startAngle, &RunParameters::endAngle};
    for (const auto real : reals) EXPECT_EQ(bitsOf(expected.*real), bitsOf(actual.*real)) << actual.*real;
    EXPECT_EQ(expected.angleCount, actual.angleCount);
}

bool parse(const std::string& text, RunParameters& parameters, std::string& problem) {
    return parseParameterText(text.data(), text.size(), "Parameter_in.txt", parameters, problem);
}

constexpr RunParameters kReference{5.0, 1.5, 0.01, 3.0, 2.0, 0.5, 3, 0.0, 180.0};

RunParameters referenceWith(int angleCount, double startAngle, double endAngle) {
    return {5.0, 1.5, 0.01, 3.0, 2.0, 0.5, angleCount, startAngle, endAngle};
}

TEST(ParameterText, AcceptedTextReadsTheNineValuesBitForBit) {
    const struct {
        const char* name;
        std::string text;
        RunParameters expected;
    } cases[] = {
        {"all six white-space kinds", " \t\n\v\f\r5\v1.5\f0.01\r3 2.0\t0.5\n3\v\f0\r\n180\t \n", kReference},
        {"garbage after the ninth number", "5 1.5 0.01 3 2.0 0.5 3 0 180 this is ignored\n", kReference},
        {"signs as the only separators", "5+1.5+0.01+3+2.0+0.5+3+0+180", kReference},
        {"point and exponent spellings", "5. 15e-1 1E-2 0.3e+1 2 .5 +3 -0e0 1.8E2", referenceWith(3, -0.0, 180)},
        {"leading zeros", "005 01.50 0.0100 03 2 0.5000 0000000000000000000000000003 0 0180", kReference},
        {"0x1A ends the data inside a number", std::string("5 1.5 0.01 3 2.0 0.5 3 0 18\x1A") + "0",
         referenceWith(3, 0, 18)},
        {"largest angle count", "5 1.5 0.01 3 2.0 0.5 2147483647 0 180", referenceWith(2147483647, 0, 180)},
        {"lowest angle count", "5 1.5 0.01 3 2.0 0.5 -2147483648 0 180", referenceWith(-2147483647 - 1, 0, 180)},
        {"one angle needs no finite step", "5 1.5 0.01 3 2.0 0.5 1 -1e308 1e308", referenceWith(1, -1e308, 1e308)},
        {"smallest sizes and indices", "1e-30 1e-4 0 1e-30 0 -1e-4 3 0 180",
         {1e-30, 1e-4, 0.0, 1e-30, 0.0, -1e-4, 3, 0.0, 180.0}},
        {"smallest index modulus from both parts", "2e-30 0.00006 0.00008 1e-30 1.5 0 3 0 180",
         {2e-30, 0.00006, 0.00008, 1e-30, 1.5, 0.0, 3, 0.0, 180.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters{};
        std::string problem;
        ASSERT_TRUE(parse(c.text, parameters, problem)) << problem;
        expectSameParameters(c.expected, parameters);
    }
}

TEST(ParameterText, NumbersConvertToTheNearestDouble) {
    const struct {
        std::string literal;
        std::uint64_t expectedBits;
    } cases[] = {
        {"0.1", 0x3FB999999999999AULL},
        // 2^53 + 1 lies halfway between two doubles: ties go to the even one.
        {"9007199254740993", 0x4340000000000000ULL},
        // A hair above that half rounds up, however far away the hair sits.
        {"9007199254740993.00000000000000000000000000001", 0x4340000000000001ULL},
        {"4.9406564584124654e-324", 0x0000000000000001ULL},
        {"2.4703282292062328e-324", 0x0000000000000001ULL},
        {"2.4703282292062327e-324", 0x0000000000000000ULL},
        {"1e-400", 0x0000000000000000ULL},
        {"1.7976931348623158e308", 0x7FEFFFFFFFFFFFFFULL},
        {"1.5e+0000000000000000000000001", 0x402E000000000000ULL},
        // 0.1 written with 800 digits, the last ones making it a little larger.
        {"0.1" + std::string(790, '0') + "1", 0x3FB999999999999AULL},
        {std::string(400, '0') + "1.25", 0x3FF4000000000000ULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal.substr(0, 60));
        // The imaginary part of index1: a slot with no range check.
        RunParameters parameters{};
        std::string problem;
        ASSERT_TRUE(parse("1 1.5 " + c.literal + " 1 1.5 0 3 0 180", parameters, problem)) << problem;
        EXPECT_EQ(bitsOf(parameters.index1Im), c.expectedBits);
    }
}

TEST(ParameterText, RefusalNamesTheLineTheValueAndWhatWasFound) {
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"0x1A before the ninth number", std::string("5 1.5 0.01 3 2.0 0.5 3 0\x1A") + " 180",
         "Parameter_in.txt, line 1: expected endAngle (a number), found the end of the data (a 0x1A byte)"},
        {"line counted over CR LF, comma hinted", "5\t1.5\t0.01\r\n3\t2,0\t0.5\r\n3\t0\t180\r\n",
         "Parameter_in.txt, line 2: expected the imaginary part of index2 (a number), found \",0\"; "
         "the decimal separator is \".\""},
        {"infinity", "5 1.5 0.01 inf 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected Alpha2 (a number), found \"inf\""},
        {"not a number", "5 1.5 0.01 3 nan 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected the real part of index2 (a number), found \"nan\""},
        {"hexadecimal reads as 0 then x", "5 1.5 0.01 3 2.0 0x1p-1 3 0 180",
         "Parameter_in.txt, line 1: expected angleCount (a number), found \"x1p-1\""},
        {"point alone", "5 . 0.01 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected the real part of index1 (a number), found \".\""},
        {"sign alone", "5 1.5 0.01 - 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected Alpha2 (a number), found \"-\""},
        {"exponent without a digit before it", "5 1.5 0.01 e5 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected Alpha2 (a number), found \"e5\""},
        {"exponent without digits", "5 1.5 0.01e+ 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected Alpha2 (a number), found \"e+\""},
        {"count with a trailing point", "5 1.5 0.01 3 2.0 0.5 181. 0 180",
         "Parameter_in.txt, line 1: angleCount must be a whole number, found \"181.\""},
        {"count with an exponent", "5 1.5 0.01 3 2.0 0.5 181e0 0 180",
         "Parameter_in.txt, line 1: angleCount must be a whole number, found \"181e0\""},
        {"count without digits", "5 1.5 0.01 3 2.0 0.5 .5 0 180",
         "Parameter_in.txt, line 1: expected angleCount (a number), found \".5\""},
        {"count above the 32-bit range", "5 1.5 0.01 3 2.0 0.5 2147483648 0 180",
         "Parameter_in.txt, line 1: angleCount is out of range (-2147483648 to 2147483647), found \"2147483648\""},
        {"count below the 32-bit range", "5 1.5 0.01 3 2.0 0.5 -2147483649 0 180",
         "Parameter_in.txt, line 1: angleCount is out of range (-2147483648 to 2147483647), found \"-2147483649\""},
        {"just past the largest double", "5 1.5 0.01 3 2.0 0.5 3 0 1.7976931348623159e308",
         "Parameter_in.txt, line 1: endAngle is too large for a double, found \"1.7976931348623159e308\""},
        {"the first problem in file order", "-5 1.5 1e999 0 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: the imaginary part of index1 is too large for a double, found \"1e999\""},
        {"UTF-16 big endian with mark", std::string("\xFE\xFF\0" "5\0 ", 6),
         "Parameter_in.txt is UTF-16 text; save it as plain text (ASCII or UTF-8)"},
        {"UTF-16 without a mark", std::string("5\0\t\0" "1\0", 6),
         "Parameter_in.txt is UTF-16 text; save it as plain text (ASCII or UTF-8)"},
        {"UTF-32 with mark", std::string("\xFF\xFE\0\0" "5\0\0\0", 8),
         "Parameter_in.txt is UTF-32 text; save it as plain text (ASCII or UTF-8)"},
        {"byte-order mark not at the start", " \xEF\xBB\xBF" "5 1.5 0.01 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: expected Alpha1 (a number), found \"\\xEF\\xBB\\xBF5\""},
        {"control bytes and quotes are escaped", "5 1.5 0.01 3 2.0 0.5 3 0 \"\\\x01\x7F",
         "Parameter_in.txt, line 1: expected endAngle (a number), found \"\\\"\\\\\\x01\\x7F\""},
        {"long text is cut", "5 1.5 0.01 3 2.0 0.5 3 0 abcdefghijklmnopqrstuvwxyz0123456789",
         "Parameter_in.txt, line 1: expected endAngle (a number), found \"abcdefghijklmnopqrstuvwx...\""},
    };
    const RunParameters untouched{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1, -1.0, -1.0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters = untouched;
        std::string problem;
        EXPECT_FALSE(parse(c.text, parameters, problem));
        EXPECT_EQ(problem, c.message);
        expectSameParameters(untouched, parameters);  // nothing handed out from a refused file
    }
}

TEST(ParameterText, IndexTimesSizeOfEachLayerIsLimited) {
    const struct {
        RunParameters parameters;
        const char* message;  // empty: accepted
    } cases[] = {
        // |120 + 160i| * 5e4 is exactly 1e7, the largest accepted.
        {{5e4, 120, 160, 1, 2.0, 0.5, 3, 0, 180}, ""},
        {{50000.00000000001, 120, 160, 1, 2.0, 0.5, 3, 0, 180},
         "Parameter_in.txt: |index1| * Alpha1 is 10000000.000000002, above the limit of 1e7 that keeps a run under a few seconds"},
        {{9e4, 1000, 0, 3, 2.0, 0.5, 3, 0, 180},
         "Parameter_in.txt: |index1| * Alpha1 is 9e+07, above the limit of 1e7 that keeps a run under a few seconds"},
        // A core's index meets only the core's own size parameter.
        {{1e4, 1.5, 0.01, 2e3, 3e3, -4e3, 3, 0, 180}, ""},
        {{1e4, 1.5, 0.01, 2.1e3, 3e3, 4e3, 3, 0, 180},
         "Parameter_in.txt: |index2| * Alpha2 is 1.05e+07, above the limit of 1e7 that keeps a run under a few seconds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::string problem;
        EXPECT_EQ(checkContinuedFractionLength(c.parameters, "Parameter_in.txt", problem), *c.message == '\0');
        EXPECT_EQ(problem, c.message);
    }
}

}  // namespace
}  // namespace coatedmie
