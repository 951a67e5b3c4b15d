// The parameter-file reader: the layouts the scanning grammar accepts, the
// nearest-double conversion, and every way a file is refused, with the exact
// message a user sees.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "parameter_file.h"

namespace coatedmie {
namespace {

constexpr char kName[] = "Parameter_in.txt";

std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Values compared bit for bit, so that -0 differs from +0.
void expectSameParameters(const RunParameters& expected, const RunParameters& actual) {
    EXPECT_EQ(bitsOf(expected.Alpha1), bitsOf(actual.Alpha1)) << actual.Alpha1;
    EXPECT_EQ(bitsOf(expected.index1Re), bitsOf(actual.index1Re)) << actual.index1Re;
    EXPECT_EQ(bitsOf(expected.index1Im), bitsOf(actual.index1Im)) << actual.index1Im;
    EXPECT_EQ(bitsOf(expected.Alpha2), bitsOf(actual.Alpha2)) << actual.Alpha2;
    EXPECT_EQ(bitsOf(expected.index2Re), bitsOf(actual.index2Re)) << actual.index2Re;
    EXPECT_EQ(bitsOf(expected.index2Im), bitsOf(actual.index2Im)) << actual.index2Im;
    EXPECT_EQ(expected.angleCount, actual.angleCount);
    EXPECT_EQ(bitsOf(expected.startAngle), bitsOf(actual.startAngle)) << actual.startAngle;
    EXPECT_EQ(bitsOf(expected.endAngle), bitsOf(actual.endAngle)) << actual.endAngle;
}

bool parse(const std::string& text, RunParameters& parameters, std::string& problem) {
    return parseParameterText(text.data(), text.size(), kName, parameters, problem);
}

const RunParameters kReferenceRun{5.0, 1.5, 0.01, 3.0, 2.0, 0.5, 3, 0.0, 180.0};

struct LayoutCase {
    const char* name;
    std::string text;
};

TEST(ParameterLayout, EveryLayoutOfTheReferenceRunReadsTheSameNineValues) {
    const LayoutCase cases[] = {
        {"three tab-separated lines", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n"},
        {"no final line end", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180"},
        {"one line, single spaces", "5 1.5 0.01 3 2.0 0.5 3 0 180"},
        {"CR LF line ends", "5\t1.5\t0.01\r\n3\t2.0\t0.5\r\n3\t0\t180\r\n"},
        {"extra blank lines", "\n\n5\t1.5\t0.01\n\n\n3\t2.0\t0.5\r\n\r\n3\t0\t180\n\n\n"},
        {"all six white-space kinds", " \t\n\v\f\r5\v1.5\f0.01\r3 2.0\t0.5\n3\v\f0\r\n180\t \n"},
        {"0x1A after the ninth number, then garbage", std::string("5 1.5 0.01 3 2.0 0.5 3 0 180\x1A") + "garbage \x01\xff 7 8"},
        {"garbage after the ninth number", "5 1.5 0.01 3 2.0 0.5 3 0 180 this is ignored\n"},
        {"an e after the ninth number starts no exponent", "5 1.5 0.01 3 2.0 0.5 3 0 180e"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n"},
        {"signs as the only separators", "5+1.5+0.01+3+2.0+0.5+3+0+180"},
        {"point and exponent spellings", "5. 15e-1 1E-2 0.3e+1 2 .5 +3 -0e0 1.8E2"},
        {"leading zeros", "005 01.50 0.0100 03 2 0.5000 0003 0 0180"},
        {"a number cut by 0x1A", std::string("5 1.5 0.01 3 2.0 0.5 3 0 180\x1A") + "5"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters{};
        std::string problem;
        ASSERT_TRUE(parse(c.text, parameters, problem)) << problem;
        RunParameters expected = kReferenceRun;
        if (std::strcmp(c.name, "point and exponent spellings") == 0) expected.startAngle = -0.0;
        expectSameParameters(expected, parameters);
    }
}

TEST(ParameterLayout, ZeroOneAByteEndsTheDataInsideANumber) {
    RunParameters parameters{};
    std::string problem;
    ASSERT_TRUE(parse(std::string("5 1.5 0.01 3 2.0 0.5 3 0 18\x1A") + "0", parameters, problem)) << problem;
    EXPECT_EQ(parameters.endAngle, 18.0);
}

TEST(ParameterLayout, ValuesKeepFileOrderAndSigns) {
    RunParameters parameters{};
    std::string problem;
    ASSERT_TRUE(parse("1 1.5 -0.01\n3 -2.0 -0.5\n-7 180 -90\n", parameters, problem)) << problem;
    expectSameParameters(RunParameters{1.0, 1.5, -0.01, 3.0, -2.0, -0.5, -7, 180.0, -90.0}, parameters);
}

// Reads one literal as the imaginary part of index1, a slot with no range check.
double readAsIndexImaginaryPart(const std::string& literal) {
    RunParameters parameters{};
    std::string problem;
    EXPECT_TRUE(parse("1 1.5 " + literal + " 1 1.5 0 3 0 180", parameters, problem)) << problem;
    return parameters.index1Im;
}

TEST(NumberConversion, GivesTheNearestDouble) {
    const struct {
        const char* literal;
        std::uint64_t expectedBits;
    } cases[] = {
        {"0.1", 0x3FB999999999999AULL},
        {"-0", 0x8000000000000000ULL},
        {"0.3", 0x3FD3333333333333ULL},
        // 2^53 + 1 lies halfway between two doubles: ties go to the even one.
        {"9007199254740993", 0x4340000000000000ULL},
        // A hair above that half rounds up, however far away the hair sits.
        {"9007199254740993.00000000000000000000000000001", 0x4340000000000001ULL},
        {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFFULL},
        {"4.9406564584124654e-324", 0x0000000000000001ULL},
        {"2.4703282292062328e-324", 0x0000000000000001ULL},
        {"2.4703282292062327e-324", 0x0000000000000000ULL},
        {"1e-400", 0x0000000000000000ULL},
        {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFULL},
        {"1.7976931348623158e308", 0x7FEFFFFFFFFFFFFFULL},
        {"1.5e+0000000000000000000000001", 0x402E000000000000ULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(bitsOf(readAsIndexImaginaryPart(c.literal)), c.expectedBits);
    }
}

TEST(NumberConversion, ManyDigitsStillGiveTheNearestDouble) {
    // 0.1 written with 800 digits, the last ones making it a little larger.
    std::string literal = "0.1" + std::string(790, '0') + "1";
    EXPECT_EQ(bitsOf(readAsIndexImaginaryPart(literal)), bitsOf(0.1));
    literal = std::string(400, '0') + "1.25";
    EXPECT_EQ(readAsIndexImaginaryPart(literal), 1.25);
}

TEST(NumberConversion, AngleCountCoversThe32BitRange) {
    const struct {
        const char* literal;
        int expected;
    } cases[] = {
        {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"+0181", 181},
        {"-0", 0},                  {"0000000000000000000000000003", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        RunParameters parameters{};
        std::string problem;
        ASSERT_TRUE(parse(std::string("5 1.5 0.01 3 2.0 0.5 ") + c.literal + " 0 180", parameters, problem))
            << problem;
        EXPECT_EQ(parameters.angleCount, c.expected);
    }
}

struct RefusalCase {
    const char* name;
    std::string text;
    std::string message;
};

TEST(ParameterRefusal, NamesTheFileTheLineTheValueAndWhatWasFound) {
    const RefusalCase cases[] = {
        {"empty file", "", "Parameter_in.txt, line 1: expected Alpha1 (a number), found the end of the file"},
        {"eight numbers", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0",
         "Parameter_in.txt, line 3: expected endAngle (a number), found the end of the file"},
        {"0x1A before the ninth number", std::string("5 1.5 0.01 3 2.0 0.5 3 0\x1A") + " 180",
         "Parameter_in.txt, line 1: expected endAngle (a number), found the end of the data (a 0x1A byte)"},
        {"a word", "5\t1.5\tabc\n3\t2.0\t0.5\n3\t0\t180\n",
         "Parameter_in.txt, line 1: expected the imaginary part of index1 (a number), found \"abc\""},
        {"line counted over CR LF", "5\t1.5\t0.01\r\n3\t2,0\t0.5\r\n3\t0\t180\r\n",
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
        {"count with a point", "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n",
         "Parameter_in.txt, line 3: angleCount must be a whole number, found \"181.0\""},
        {"count with a trailing point", "5 1.5 0.01 3 2.0 0.5 181. 0 180",
         "Parameter_in.txt, line 1: angleCount must be a whole number, found \"181.\""},
        {"count with an exponent", "5 1.5 0.01 3 2.0 0.5 1.81e2 0 180",
         "Parameter_in.txt, line 1: angleCount must be a whole number, found \"1.81e2\""},
        {"count without digits", "5 1.5 0.01 3 2.0 0.5 .5 0 180",
         "Parameter_in.txt, line 1: expected angleCount (a number), found \".5\""},
        {"count above the 32-bit range", "5 1.5 0.01 3 2.0 0.5 2147483648 0 180",
         "Parameter_in.txt, line 1: angleCount is out of range (-2147483648 to 2147483647), found \"2147483648\""},
        {"count below the 32-bit range", "5 1.5 0.01 3 2.0 0.5 -2147483649 0 180",
         "Parameter_in.txt, line 1: angleCount is out of range (-2147483648 to 2147483647), found \"-2147483649\""},
        {"size parameter overflowing to infinity", "1e999\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n",
         "Parameter_in.txt, line 1: Alpha1 is too large for a double, found \"1e999\""},
        {"just past the largest double", "5 1.5 0.01 3 2.0 0.5 3 0 1.7976931348623159e308",
         "Parameter_in.txt, line 1: endAngle is too large for a double, found \"1.7976931348623159e308\""},
        {"index overflowing to minus infinity", "5 1.5 0.01\n3 2.0 -1e400\n3 0 180",
         "Parameter_in.txt, line 2: the imaginary part of index2 is too large for a double, found \"-1e400\""},
        {"start angle overflowing", "5 1.5 0.01\n3 2.0 0.5\n3 -1e309 180",
         "Parameter_in.txt, line 3: startAngle is too large for a double, found \"-1e309\""},
        {"zero size parameter", "0 1.5 0.01 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: Alpha1 must be greater than 0, found \"0\""},
        {"negative zero size parameter", "5 1.5 0.01\n-0.0 2.0 0.5\n3 0 180",
         "Parameter_in.txt, line 2: Alpha2 must be greater than 0, found \"-0.0\""},
        {"negative size parameter", "5 1.5 0.01\n-3 2.0 0.5\n3 0 180",
         "Parameter_in.txt, line 2: Alpha2 must be greater than 0, found \"-3\""},
        {"size parameter rounding to zero", "1e-400 1.5 0.01 3 2.0 0.5 3 0 180",
         "Parameter_in.txt, line 1: Alpha1 must be greater than 0, found \"1e-400\""},
        {"angles too far apart for the step", "5 1.5 0.01 3 2.0 0.5 3 -1e308\n1e308",
         "Parameter_in.txt, line 2: startAngle and endAngle are too far apart, found \"-1e308\" and \"1e308\""},
        {"UTF-16 little endian with mark", std::string("\xFF\xFE" "5\0 \0", 6),
         "Parameter_in.txt is UTF-16 text; save it as plain text (ASCII or UTF-8)"},
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
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1, -1.0, -1.0};
        std::string problem;
        EXPECT_FALSE(parse(c.text, parameters, problem));
        EXPECT_EQ(problem, c.message);
        // Nothing is handed out from a refused file.
        expectSameParameters(RunParameters{-1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1, -1.0, -1.0}, parameters);
    }
}

TEST(ParameterRefusal, IndexTimesSizeOfEachLayerIsLimited) {
    const struct {
        RunParameters parameters;
        const char* message;  // empty: accepted
    } cases[] = {
        // |3 + 4i| * 2e6 is exactly 1e7, the largest accepted.
        {{2e6, 3, 4, 1, 2.0, 0.5, 3, 0, 180}, ""},
        {{2000000.0000000002, 3, 4, 1, 2.0, 0.5, 3, 0, 180},
         "Parameter_in.txt: |index1| * Alpha1 is 10000000.000000002, above the limit of 1e7 that keeps a run under a few seconds"},
        {{1e5, 101, 0, 3, 2.0, 0.5, 3, 0, 180},
         "Parameter_in.txt: |index1| * Alpha1 is 1.01e+07, above the limit of 1e7 that keeps a run under a few seconds"},
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

TEST(ParameterRefusal, OneAngleNeedsNoFiniteStep) {
    RunParameters parameters{};
    std::string problem;
    EXPECT_TRUE(parse("5 1.5 0.01 3 2.0 0.5 1 -1e308 1e308", parameters, problem)) << problem;
}

TEST(ParameterRefusal, TheFirstProblemInFileOrderIsReported) {
    RunParameters parameters{};
    std::string problem;
    EXPECT_FALSE(parse("-5 1.5 1e999 0 2.0 0.5 3 0 180", parameters, problem));
    EXPECT_EQ(problem, "Parameter_in.txt, line 1: the imaginary part of index1 is too large for a double, "
                       "found \"1e999\"");
}

TEST(ParameterFile, MissingOrUnreadableFileIsNamedWithTheSystemsReason) {
    RunParameters parameters{};
    std::string problem;
    EXPECT_FALSE(readParameterFile("/nonexistent-folder/Parameter_in.txt", parameters, problem));
    EXPECT_EQ(problem, "cannot open /nonexistent-folder/Parameter_in.txt: No such file or directory");
    EXPECT_FALSE(readParameterFile("/", parameters, problem));
    EXPECT_EQ(problem, "cannot read /: Is a directory");
}

}  // namespace
}  // namespace coatedmie
