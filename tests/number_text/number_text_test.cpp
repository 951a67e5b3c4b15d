// The number text: values chosen by hand (examples.txt), then both forms of
// millions of values against the exact oracle, with the 18 digits the fast
// truncation gives checked against the oracle's on every value.
#include "number_text.h"
#include "number_text_detail.h"

#include "exact_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace coatedmie;
using namespace coatedmie::number_text_detail;

// Values per randomised sweep: twenty times the default in the long build
// (COATEDMIE_LONG_TESTS), a tenth where the code runs unoptimised or sanitised.
#if defined(COATEDMIE_LONG_SWEEP)
constexpr long long kSweepPercent = 2000;
#elif !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
constexpr long long kSweepPercent = 10;
#else
constexpr long long kSweepPercent = 100;
#endif
int sweepCount(long long defaultCount) { return static_cast<int>(defaultCount * kSweepPercent / 100); }

double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Either form, in a buffer of kMaxNumberText bytes watched for writes past it.
std::string text(double value, bool fixed) {
    char buffer[kMaxNumberText + 1];
    buffer[kMaxNumberText] = '\x7F';
    const std::size_t length = fixed ? formatFixed(value, buffer) : formatExponent(value, buffer);
    if (length > kMaxNumberText || buffer[kMaxNumberText] != '\x7F') return "<written past the buffer>";
    return std::string(buffer, length);
}

TEST(NumberText, ValuesChosenByHand) {
    std::ifstream file(COATEDMIE_NUMBER_TEXT_DATA "/examples.txt");
    ASSERT_TRUE(file.is_open()) << "examples.txt missing";
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::string value, fixed, exponent;
        std::istringstream(line) >> value >> fixed >> exponent;
        const double x = value.rfind("0x", 0) == 0 ? fromBits(std::stoull(value, nullptr, 16))
                                                   : std::strtod(value.c_str(), nullptr);
        EXPECT_EQ(text(x, true), fixed) << line;
        EXPECT_EQ(text(x, false), exponent) << line;
    }
}

// --- Every value against the exact oracle ----------------------------------

// value = significand × 2^exponent with exponent >= -1074, as the formatter
// decodes it (subnormals keep their shorter significand), found with frexp.
std::pair<std::uint64_t, int> split(double value) {
    int exponent;
    auto significand = static_cast<std::uint64_t>(std::ldexp(std::frexp(value, &exponent), 53));
    for (exponent -= 53; exponent < -1074; ++exponent) significand >>= 1;
    return {significand, exponent};
}

// Both forms of each value (finite, positive) and of its negation against the
// oracle; on the way, the 18 truncated digits of the fast path, and of the
// exact path where the fast one declines (or everywhere, with alsoExact),
// against the oracle's. Reports the first few failures; returns how many
// values the fast path declined.
int expectMatchesOracle(const std::vector<double>& values, const char* family, bool alsoExact = false) {
    int failures = 0;
    int declined = 0;
    std::ostringstream report;
    auto compare = [&](double value, const char* what, const std::string& expected, const std::string& got) {
        if (expected != got && ++failures <= 8) {
            report << "\n  " << what << " " << std::hexfloat << value << ": expected " << expected << ", got " << got;
        }
    };
    auto digits = [](TruncatedDecimal t) { return std::to_string(t.digits) + "e" + std::to_string(t.exponent + 17); };
    for (double value : values) {
        const oracle::LeadingDigits leading = oracle::leadingDigits(value);
        const oracle::Texts expected = oracle::texts(value, leading);
        compare(value, "fixed", expected.fixed, text(value, true));
        compare(value, "exponent", expected.exponent, text(value, false));
        compare(-value, "fixed", "-" + expected.fixed, text(-value, true));
        compare(-value, "exponent", "-" + expected.exponent, text(-value, false));

        const std::string truth = leading.digits + "e" + std::to_string(leading.exponent);
        const auto [significand, exponent] = split(value);
        TruncatedDecimal fast{0, 0};
        const bool accepted = truncateFast(significand, exponent, &fast);
        if (accepted) compare(value, "fast path", truth, digits(fast));
        if (!accepted || alsoExact) compare(value, "exact path", truth, digits(truncateExact(significand, exponent)));
        declined += accepted ? 0 : 1;
    }
    EXPECT_EQ(failures, 0) << family << " (" << values.size() << " values, both signs):" << report.str();
    return declined;
}

std::mt19937_64 generator(20240607);

double parse(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

void addWithNeighbours(std::vector<double>& values, double value, int steps) {
    values.push_back(value);
    for (double below = value, above = value; steps-- > 0;) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, INFINITY);
        if (below > 0) values.push_back(below);
        if (std::isfinite(above)) values.push_back(above);
    }
}

std::string randomDigits(int count, bool nonzeroFirst) {
    std::string digits;
    for (int i = 0; i < count; ++i) {
        digits += static_cast<char>('0' + std::uniform_int_distribution<int>(i == 0 && nonzeroFirst, 9)(generator));
    }
    return digits;
}

TEST(NumberTextProperty, RandomBitPatternsOfEveryMagnitude) {
    std::vector<double> values;
    while (static_cast<int>(values.size()) < sweepCount(1000000)) {
        const double value = fromBits(generator() & 0x7FFFFFFFFFFFFFFFU);
        if (std::isfinite(value)) values.push_back(value);
    }
    EXPECT_EQ(expectMatchesOracle(values, "random bit patterns"), 0) << "random doubles should never decline";
}

// m × 2^-s with m odd and m × 5^s of exactly 18 digits: the exact expansion
// ends in a 5 at the 18th significant digit, a tie of the first rounding.
TEST(NumberTextProperty, TiesAndNearTiesAtTheEighteenthDigit) {
    std::vector<double> values;
    for (int repeat = 0; repeat < sweepCount(2000); ++repeat) {
        for (int s = 2; s <= 25; ++s) {
            const double fivePower = std::pow(5.0, s);
            const auto low = static_cast<std::uint64_t>(std::ceil(1e17 / fivePower));
            const auto high = std::min(static_cast<std::uint64_t>(std::floor(9.99999999999999e17 / fivePower)),
                                       (std::uint64_t{1} << 53) - 1);
            if (low > high) continue;
            const std::uint64_t m = std::uniform_int_distribution<std::uint64_t>(low, high)(generator) | 1U;
            addWithNeighbours(values, std::ldexp(static_cast<double>(m), -s), 2);
        }
    }
    expectMatchesOracle(values, "ties at the 18th digit");
}

// Decimal values with a 5 just after the last printed place, read to the
// nearest double: their 17-digit strings sit on, or a hair beside, the half.
// Then exact binary halves at the last place of either form.
TEST(NumberTextProperty, TiesAndNearTiesAtTheLastPrintedPlace) {
    std::vector<double> values;
    std::uniform_int_distribution<int> exponent(-320, 300);
    std::uniform_int_distribution<int> integerDigits(0, 11);
    for (int i = 0; i < sweepCount(40000); ++i) {
        const std::string power = "e" + std::to_string(exponent(generator));
        addWithNeighbours(values, parse(randomDigits(1, true) + "." + randomDigits(6, false) + "5" + power), 1);
        const int digits = integerDigits(generator);
        const std::string whole = digits == 0 ? "0" : randomDigits(digits, true);
        addWithNeighbours(values, parse(whole + "." + randomDigits(6, false) + "5"), 1);
        // Carries through every printed digit.
        addWithNeighbours(values, parse("9.9999995" + power), 1);
        addWithNeighbours(values, parse(std::string(static_cast<std::size_t>(digits), '9') + ".9999995"), 1);
    }
    // n + k/128 (k odd) has 5 as its seventh and last decimal.
    std::uniform_int_distribution<std::uint64_t> whole(0, (std::uint64_t{1} << 45) - 1);
    std::uniform_int_distribution<int> eighths(0, 63);
    for (int i = 0; i < sweepCount(20000); ++i) {
        const double n = static_cast<double>(whole(generator) >> (i % 45));
        values.push_back(n + (2 * eighths(generator) + 1) / 128.0);
    }
    // m × 2^-s with m odd and m × 5^s of eight digits: 5 as the eighth.
    for (int s = 1; s <= 11; ++s) {
        const auto fivePower = static_cast<std::uint64_t>(std::pow(5.0, s));
        std::uniform_int_distribution<std::uint64_t> pick((10000000 + fivePower - 1) / fivePower,
                                                          (100000000 - 1) / fivePower);
        for (int i = 0; i < sweepCount(2000); ++i) {
            values.push_back(std::ldexp(static_cast<double>(pick(generator) | 1U), -s));
        }
    }
    expectMatchesOracle(values, "ties at the last printed place");
}

TEST(NumberTextProperty, PowersSubnormalsExtremesAndExactIntegers) {
    std::vector<double> values;
    for (int k = -1074; k <= 1023; ++k) addWithNeighbours(values, std::ldexp(1.0, k), 1);
    for (int k = -323; k <= 308; ++k) addWithNeighbours(values, parse("1e" + std::to_string(k)), 2);
    for (double value : {DBL_MAX, DBL_MIN, DBL_TRUE_MIN, fromBits(0x000FFFFFFFFFFFFFU), 1e16, 1e19, 1e22, 1e23,
                         18446744073709551616.0}) {
        addWithNeighbours(values, value, 3);
    }
    std::uniform_int_distribution<std::uint64_t> fraction(1, 0x000FFFFFFFFFFFFFU);
    for (int i = 0; i < sweepCount(20000); ++i) {
        const std::uint64_t bits = fraction(generator) >> (i % 52);
        values.push_back(fromBits(bits == 0 ? 1 : bits));
    }
    // Exact decimal integers above 2^64: 5^j divides the significand. Above
    // 2^128 their zero fraction is where the fast truncation declines.
    for (int j = 1; j <= 22; ++j) {
        const double fivePower = std::pow(5.0, j);
        for (double multiple = 1; multiple * fivePower < 9007199254740992.0; multiple = multiple * 3 + 1) {
            for (int shift = j; shift < j + 80; shift += 7) values.push_back(std::ldexp(multiple * fivePower, shift));
        }
    }
    EXPECT_GT(expectMatchesOracle(values, "powers, subnormals, extremes and exact integers", true), 0)
        << "the exact fallback was never reached";
}

// --- The power-of-ten table of the fast truncation -------------------------

TEST(PowerOfTenTable, EveryEntryIsTheTruncated128BitSignificand) {
    std::ifstream file(COATEDMIE_NUMBER_TEXT_DATA "/pow10_table.txt");
    std::string line;
    while (std::getline(file, line) && line[0] == '#') {
    }
    for (int p = kMinTablePower; p <= kMaxTablePower; ++p, std::getline(file, line)) {
        const Pow10Significand entry = pow10Significand(p);
        char entryText[64];
        std::snprintf(entryText, sizeof entryText, "%d 0x%016llX 0x%016llX %d", p,
                      static_cast<unsigned long long>(entry.high), static_cast<unsigned long long>(entry.low),
                      entry.binaryExponent);
        ASSERT_EQ(entryText, line) << "in pow10_table.txt";
    }
}

}  // namespace
