#include "number_text.h"

#include "exact_oracle.h"
#include "sweep_size.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using coatedmie::formatExponent;
using coatedmie::formatFixed;
using coatedmie::kMaxNumberText;

double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint64_t toBits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string fixedText(double value) {
    char buffer[kMaxNumberText];
    return std::string(buffer, formatFixed(value, buffer));
}

std::string exponentText(double value) {
    char buffer[kMaxNumberText];
    return std::string(buffer, formatExponent(value, buffer));
}

std::string describe(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (bits 0x%016llX)", value,
                  static_cast<unsigned long long>(toBits(value)));
    return text;
}

struct TextCase {
    const char* source;  // the value as written in the example
    double value;
    const char* expected;
};

TEST(NumberText, FixedFormExamples) {
    const TextCase cases[] = {
        {"1", 1.0, "1.000000"},
        {"1.5", 1.5, "1.500000"},
        {"0.01", 0.01, "0.010000"},
        {"0.5", 0.5, "0.500000"},
        {"1.33", 1.33, "1.330000"},
        {"0", 0.0, "0.000000"},
        {"-0", -0.0, "0.000000"},
        {"5", 5.0, "5.000000"},
        {"2.0", 2.0, "2.000000"},
        {"30 degrees", 30.0, "30.000000"},
        {"90 degrees", 90.0, "90.000000"},
        {"180 degrees", 180.0, "180.000000"},
        {"1/128: half at the last place rounds up", 0.0078125, "0.007813"},
        {"0.1234565: just below the half, its 17-digit string is the half", 0.1234565, "0.123457"},
        {"2^70: digits past the 17th print as 0", 1180591620717411303424.0,
         "1180591620717411300000.000000"},
        {"0.99999996: carry into a new integer digit", 0.99999996, "1.000000"},
        {"6.0e-7: first string digit 5 just past the sixth decimal", 6.0e-7, "0.000001"},
        {"-6.0e-7", -6.0e-7, "-0.000001"},
        {"5.0e-7: stored just below, string starts with 4", 5.0e-7, "0.000000"},
        {"-0.0000001: negative, all printed digits 0", -0.0000001, "-0.000000"},
        {"26217/2^18: 18th digit 5 after the printed place", 26217.0 / 262144.0, "0.100010"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(fixedText(c.value), c.expected) << c.source;
    }
    EXPECT_EQ(fixedText(DBL_MAX), "17976931348623157" + std::string(292, '0') + ".000000")
        << "DBL_MAX: 309 integer digits";
}

TEST(NumberText, ExponentFormExamples) {
    const TextCase cases[] = {
        {"0.00001", 0.00001, "1.000000e-005"},
        {"180", 180.0, "1.800000e+002"},
        {"1e300", 1e300, "1.000000e+300"},
        {"0", 0.0, "0.000000e+000"},
        {"-0", -0.0, "0.000000e+000"},
        {"I1 = 0.5", 0.5, "5.000000e-001"},
        {"I2 = 0.25", 0.25, "2.500000e-001"},
        {"Itotal = 0.75", 0.75, "7.500000e-001"},
        {"2^-11: half at the last place rounds up", 0.00048828125, "4.882813e-004"},
        {"9.9999996: carry raises the exponent", 9.9999996, "1.000000e+001"},
        {"smallest subnormal", fromBits(1), "4.940656e-324"},
        {"DBL_MAX", DBL_MAX, "1.797693e+308"},
        {"-DBL_MAX", -DBL_MAX, "-1.797693e+308"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(exponentText(c.value), c.expected) << c.source;
    }
}

struct MarkerCase {
    const char* kind;
    std::uint64_t bits;
    const char* fixed;
};

TEST(NumberText, MarkersForInfinitiesAndNanClasses) {
    const MarkerCase cases[] = {
        {"+infinity", 0x7FF0000000000000U, "1.#INF00"},
        {"-infinity", 0xFFF0000000000000U, "-1.#INF00"},
        {"default NaN: sign and quiet bit only", 0xFFF8000000000000U, "-1.#IND00"},
        {"quiet bit only, sign clear", 0x7FF8000000000000U, "1.#QNAN0"},
        {"quiet NaN with payload, sign set", 0xFFF8000000000001U, "-1.#QNAN0"},
        {"quiet NaN with top payload bit", 0xFFFC000000000000U, "-1.#QNAN0"},
        {"quiet NaN, all fraction bits", 0x7FFFFFFFFFFFFFFFU, "1.#QNAN0"},
        {"signalling NaN", 0x7FF0000000000001U, "1.#SNAN0"},
        {"signalling NaN, sign set", 0xFFF0000000000001U, "-1.#SNAN0"},
        {"signalling NaN, high payload", 0x7FF7FFFFFFFFFFFFU, "1.#SNAN0"},
    };
    for (const MarkerCase& c : cases) {
        const double value = fromBits(c.bits);
        EXPECT_EQ(fixedText(value), c.fixed) << c.kind;
        EXPECT_EQ(exponentText(value), std::string(c.fixed) + "e+000") << c.kind;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// On x86 an invalid operation delivers 0xFFF8000000000000; an angle grid of
// one angle computes 0 * infinity and must print it as the default NaN.
TEST(NumberText, InvalidOperationPrintsDefaultNan) {
    volatile double zero = 0.0;
    const double step = (180.0 - 0.0) / zero;
    EXPECT_EQ(fixedText(0.0 * step + 0.0), "-1.#IND00");
}
#endif

TEST(NumberText, LongestTextsFitTheBuffer) {
    EXPECT_EQ(fixedText(-DBL_MAX).size(), kMaxNumberText);
    char buffer[kMaxNumberText + 8];
    std::memset(buffer, '?', sizeof buffer);
    const std::size_t length = formatFixed(-DBL_MAX, buffer);
    EXPECT_EQ(length, kMaxNumberText);
    EXPECT_EQ(buffer[kMaxNumberText], '?') << "wrote past the returned length";
}

// --- The property tests: every value against the slow exact method ------

// Checks both forms of each value and of its negation (the oracle runs once
// per magnitude: a negative nonzero value prints as "-" and the same digits);
// reports the first few failures.
void expectMatchesOracle(const std::vector<double>& values, const char* family) {
    int failures = 0;
    std::ostringstream report;
    char buffer[kMaxNumberText];
    auto compare = [&](double value, const char* form, const std::string& expected, std::size_t length) {
        if (expected.compare(0, std::string::npos, buffer, length) != 0 && ++failures <= 8) {
            report << "\n  " << form << " " << describe(value) << ": expected " << expected << ", got "
                   << std::string(buffer, length);
        }
    };
    for (double value : values) {
        ASSERT_TRUE(std::isfinite(value) && !std::signbit(value)) << describe(value);
        const oracle::Texts expected = oracle::texts(value);
        const std::string sign = value != 0 ? "-" : "";
        compare(value, "fixed", expected.fixed, formatFixed(value, buffer));
        compare(value, "exponent", expected.exponent, formatExponent(value, buffer));
        compare(-value, "fixed", sign + expected.fixed, formatFixed(-value, buffer));
        compare(-value, "exponent", sign + expected.exponent, formatExponent(-value, buffer));
    }
    EXPECT_EQ(failures, 0) << family << " (" << values.size() << " values, both signs):" << report.str();
}

std::mt19937_64& generator() {
    static std::mt19937_64 engine(20240607);
    return engine;
}

double parse(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

void addWithNeighbours(std::vector<double>& values, double value, int steps) {
    values.push_back(value);
    double below = value;
    double above = value;
    for (int i = 0; i < steps; ++i) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, INFINITY);
        values.push_back(below);
        if (std::isfinite(above)) values.push_back(above);
    }
}

std::string randomDigits(int count, bool nonzeroFirst) {
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> leading(1, 9);
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('0' + (i == 0 && nonzeroFirst ? leading(generator()) : digit(generator())));
    }
    return text;
}

TEST(NumberTextProperty, RandomBitPatternsOfEveryMagnitude) {
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(sweep::count(1000000)));
    while (static_cast<int>(values.size()) < sweep::count(1000000)) {
        const double value = fromBits(generator()() & 0x7FFFFFFFFFFFFFFFU);
        if (std::isfinite(value)) values.push_back(value);
    }
    expectMatchesOracle(values, "random bit patterns");
}

// m × 2^-s with m odd and m × 5^s of exactly 18 digits: the exact expansion
// ends in a 5 at the 18th significant digit, a tie of the first rounding.
TEST(NumberTextProperty, TiesAndNearTiesAtTheEighteenthDigit) {
    std::vector<double> values;
    for (int repeat = 0; repeat < sweep::count(2000); ++repeat) {
        for (int s = 2; s <= 25; ++s) {
            const double fivePower = std::pow(5.0, s);
            const std::uint64_t low = static_cast<std::uint64_t>(std::ceil(1e17 / fivePower));
            std::uint64_t high = static_cast<std::uint64_t>(std::floor(9.99999999999999e17 / fivePower));
            if (high >= (std::uint64_t{1} << 53)) high = (std::uint64_t{1} << 53) - 1;
            if (low > high) continue;
            std::uniform_int_distribution<std::uint64_t> pick(low, high);
            const std::uint64_t m = pick(generator()) | 1U;  // odd: the last digit is 5
            addWithNeighbours(values, std::ldexp(static_cast<double>(m), -s), 2);
        }
    }
    expectMatchesOracle(values, "ties at the 18th digit");
}

// Decimal values with a 5 just after the last printed place, read to the
// nearest double: their 17-digit strings sit on, or a hair beside, the half.
TEST(NumberTextProperty, TiesAndNearTiesAtTheLastPrintedPlace) {
    std::vector<double> values;
    std::uniform_int_distribution<int> exponent(-320, 300);
    std::uniform_int_distribution<int> integerDigits(0, 11);
    for (int i = 0; i < sweep::count(40000); ++i) {
        // Exponent form: eight significant digits ending in 5.
        addWithNeighbours(values, parse(randomDigits(1, true) + "." + randomDigits(6, false) + "5e" +
                                       std::to_string(exponent(generator()))),
                          1);
        // Fixed form: a 5 at the seventh decimal.
        const int digits = integerDigits(generator());
        const std::string whole = digits == 0 ? "0" : randomDigits(digits, true);
        addWithNeighbours(values, parse(whole + "." + randomDigits(6, false) + "5"), 1);
        // Carries through every printed digit.
        addWithNeighbours(values, parse("9.9999995e" + std::to_string(exponent(generator()))), 1);
        addWithNeighbours(values, parse(std::string(static_cast<std::size_t>(digits), '9') + ".9999995"), 1);
    }
    // Exact binary ties: n + k/128 (k odd) has 5 as its seventh and last decimal.
    std::uniform_int_distribution<std::uint64_t> whole(0, (std::uint64_t{1} << 45) - 1);
    std::uniform_int_distribution<int> eighths(0, 63);
    for (int i = 0; i < sweep::count(20000); ++i) {
        const double n = static_cast<double>(whole(generator()) >> (i % 45));
        values.push_back(n + (2 * eighths(generator()) + 1) / 128.0);
    }
    // Exact eight-digit ties: m × 2^-s with m × 5^s of eight digits, m odd.
    for (int s = 1; s <= 11; ++s) {
        const std::uint64_t fivePower = static_cast<std::uint64_t>(std::pow(5.0, s));
        std::uniform_int_distribution<std::uint64_t> pick((10000000 + fivePower - 1) / fivePower,
                                                          (100000000 - 1) / fivePower);
        for (int i = 0; i < sweep::count(2000); ++i) {
            const std::uint64_t m = pick(generator()) | 1U;
            values.push_back(std::ldexp(static_cast<double>(m), -s));
        }
    }
    expectMatchesOracle(values, "ties at the last printed place");
}

TEST(NumberTextProperty, PowersOfTwoAndTenSubnormalsAndExtremes) {
    std::vector<double> values;
    for (int k = -1074; k <= 1023; ++k) addWithNeighbours(values, std::ldexp(1.0, k), 1);
    for (int k = -323; k <= 308; ++k) addWithNeighbours(values, parse("1e" + std::to_string(k)), 2);
    for (double value : {DBL_MAX, DBL_MIN, DBL_TRUE_MIN, fromBits(0x000FFFFFFFFFFFFFU), 1e-5, 1e-6, 1e-7, 1e16,
                         1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 18446744073709551616.0}) {
        addWithNeighbours(values, value, 3);
    }
    std::uniform_int_distribution<std::uint64_t> fraction(1, 0x000FFFFFFFFFFFFFU);
    for (int i = 0; i < sweep::count(100000); ++i) {
        const std::uint64_t bits = fraction(generator()) >> (i % 52);
        values.push_back(fromBits(bits == 0 ? 1 : bits));
    }
    // Exact decimal integers above 2^64: 5^j divides the significand. Above
    // 2^128 these are where the fast path declines to the exact one.
    for (int j = 1; j <= 22; ++j) {
        const double fivePower = std::pow(5.0, j);
        for (double multiple = 1; multiple * fivePower < 9007199254740992.0; multiple = multiple * 3 + 1) {
            for (int shift = j; shift < j + 80; shift += 7) {
                values.push_back(std::ldexp(multiple * fivePower, shift));
            }
        }
    }
    expectMatchesOracle(values, "powers, subnormals and extremes");
}

TEST(NumberTextProperty, AnglesIntensitiesAndIntegers) {
    std::vector<double> values;
    std::uniform_real_distribution<double> angle(0.0, 180.0);
    std::uniform_real_distribution<double> decades(-30.0, 12.0);
    std::uniform_int_distribution<std::uint64_t> integer(0, ~std::uint64_t{0});
    for (int i = 0; i < sweep::count(50000); ++i) {
        values.push_back(angle(generator()));
        values.push_back(std::pow(10.0, decades(generator())));
        values.push_back(static_cast<double>(integer(generator()) >> (i % 64)));
    }
    for (int count : {181, 1801, 3601}) {
        const double step = (180.0 - 0.0) / (count - 1);
        for (int i = 1; i <= count; ++i) values.push_back((i - 1) * step + 0.0);
    }
    expectMatchesOracle(values, "angles, intensities and integers");
}

// The oracle itself against glibc, whose printf expands a double exactly when
// given enough places (767 significant digits suffice for any double).
TEST(ExactOracle, LeadingDigitsMatchTheFullExpansion) {
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        const double value = fromBits(generator()() & 0x7FFFFFFFFFFFFFFFU);
        if (std::isfinite(value) && value != 0) values.push_back(value);
    }
    for (int k = -1074; k <= 1023; k += 7) values.push_back(std::ldexp(1.0, k));
    values.push_back(DBL_MAX);
    values.push_back(DBL_TRUE_MIN);
    values.push_back(26217.0 / 262144.0);
    std::vector<char> text(1000);
    for (double value : values) {
        std::snprintf(text.data(), text.size(), "%.780e", value);
        std::string digits = std::string(1, text[0]) + std::string(text.data() + 2, 17);
        const int exponent = std::atoi(std::strchr(text.data(), 'e') + 1);
        const oracle::LeadingDigits leading = oracle::leadingDigits(value);
        ASSERT_EQ(leading.digits, digits) << describe(value);
        ASSERT_EQ(leading.exponent, exponent) << describe(value);
    }
}

}  // namespace
