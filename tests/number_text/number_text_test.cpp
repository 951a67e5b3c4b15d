// The number text: the published examples and markers, then both forms of
// millions of values against the slow exact oracle, with the 18 digits the
// fast truncation gives checked against the oracle's on every value.
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
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using coatedmie::formatExponent;
using coatedmie::formatFixed;
using coatedmie::kMaxNumberText;
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

std::string fixedText(double value) {
    char buffer[kMaxNumberText];
    return std::string(buffer, formatFixed(value, buffer));
}

std::string exponentText(double value) {
    char buffer[kMaxNumberText];
    return std::string(buffer, formatExponent(value, buffer));
}

std::string describe(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (bits 0x%016llX)", value, static_cast<unsigned long long>(bits));
    return text;
}

// The examples of the file formats, by hand; nullptr where a form is not shown.
TEST(NumberText, PublishedExamples) {
    const struct {
        double value;
        const char* fixed;
        const char* exponent;
        const char* note;
    } cases[] = {
        {1.0, "1.000000", nullptr, "header inputs"},
        {1.5, "1.500000", nullptr, ""},
        {0.01, "0.010000", nullptr, ""},
        {0.5, "0.500000", "5.000000e-001", "header input; I1 of the table example"},
        {1.33, "1.330000", nullptr, ""},
        {5.0, "5.000000", nullptr, "reference run inputs"},
        {3.0, "3.000000", nullptr, ""},
        {2.0, "2.000000", nullptr, ""},
        {30.0, "30.000000", nullptr, "angles"},
        {90.0, "90.000000", nullptr, ""},
        {180.0, "180.000000", "1.800000e+002", ""},
        {0.25, nullptr, "2.500000e-001", "I2 of the table example"},
        {0.75, nullptr, "7.500000e-001", "Itotal of the table example"},
        {0.0, "0.000000", "0.000000e+000", "zero"},
        {-0.0, "0.000000", "0.000000e+000", "negative zero prints no sign"},
        {0.00001, nullptr, "1.000000e-005", "three exponent digits"},
        {1e300, nullptr, "1.000000e+300", ""},
        {0.0078125, "0.007813", nullptr, "1/128: a half at the last place rounds up"},
        {0.00048828125, nullptr, "4.882813e-004", "2^-11: a half at the last place rounds up"},
        {0.1234565, "0.123457", nullptr, "stored just below the half, its 17-digit string is the half"},
        {1180591620717411303424.0, "1180591620717411300000.000000", nullptr, "2^70: past the 17th digit zeros"},
        {9.9999996, nullptr, "1.000000e+001", "a carry raises the exponent"},
        {0.99999996, "1.000000", nullptr, "a carry adds an integer digit"},
        {6.0e-7, "0.000001", nullptr, "the string's first digit, 5, just past the sixth decimal"},
        {-6.0e-7, "-0.000001", nullptr, ""},
        {5.0e-7, "0.000000", nullptr, "stored just below, the string starts with 4"},
        {-0.0000001, "-0.000000", nullptr, "negative with every printed digit 0"},
        {26217.0 / 262144.0, "0.100010", nullptr, "0.100009918212890625: 18th digit 5, half up not even"},
        {-DBL_MAX, nullptr, "-1.797693e+308", "the largest magnitude (fixed form below)"},
        {DBL_TRUE_MIN, "0.000000", "4.940656e-324", "the smallest subnormal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.value) + " " + c.note);
        if (c.fixed != nullptr) {
            EXPECT_EQ(fixedText(c.value), c.fixed);
        }
        if (c.exponent != nullptr) {
            EXPECT_EQ(exponentText(c.value), c.exponent);
        }
    }
}

// 309 integer digits, the longest text: it fills the buffer and no more.
TEST(NumberText, LongestTextFitsTheBuffer) {
    char buffer[kMaxNumberText + 8];
    std::memset(buffer, '?', sizeof buffer);
    const std::size_t length = formatFixed(-DBL_MAX, buffer);
    EXPECT_EQ(std::string(buffer, length), "-17976931348623157" + std::string(292, '0') + ".000000");
    EXPECT_EQ(length, kMaxNumberText);
    EXPECT_EQ(buffer[kMaxNumberText], '?') << "wrote past the returned length";
}

TEST(NumberText, MarkersForInfinitiesAndNanClasses) {
    const struct {
        std::uint64_t bits;
        const char* fixed;
        const char* kind;
    } cases[] = {
        {0x7FF0000000000000U, "1.#INF00", "+infinity"},
        {0xFFF0000000000000U, "-1.#INF00", "-infinity"},
        {0xFFF8000000000000U, "-1.#IND00", "default NaN: sign and quiet bit only"},
        {0x7FF8000000000000U, "1.#QNAN0", "quiet bit only, sign clear"},
        {0xFFF8000000000001U, "-1.#QNAN0", "quiet NaN with payload, sign set"},
        {0xFFFC000000000000U, "-1.#QNAN0", "quiet NaN with top payload bit"},
        {0x7FFFFFFFFFFFFFFFU, "1.#QNAN0", "quiet NaN, all fraction bits"},
        {0x7FF0000000000001U, "1.#SNAN0", "signalling NaN"},
        {0xFFF0000000000001U, "-1.#SNAN0", "signalling NaN, sign set"},
        {0x7FF7FFFFFFFFFFFFU, "1.#SNAN0", "signalling NaN, high payload"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(fixedText(fromBits(c.bits)), c.fixed);
        EXPECT_EQ(exponentText(fromBits(c.bits)), std::string(c.fixed) + "e+000");
    }
}

// --- Every value against the slow exact method ---------------------------

// value = significand × 2^exponent with exponent >= -1074, as the formatter
// decodes it (subnormals keep their shorter significand), found with frexp.
void split(double value, std::uint64_t& significand, int& exponent) {
    const double fraction = std::frexp(value, &exponent);
    significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    for (exponent -= 53; exponent < -1074; ++exponent) significand >>= 1;
}

// Both forms of each value (finite, positive) and of its negation against the
// oracle, which runs once per magnitude: a negative value prints "-" and the
// same digits. On the way, the 18 truncated digits of the fast path, and of
// the exact path where the fast one declines (or everywhere, with alsoExact),
// against the oracle's. Reports the first few failures; returns how many
// values the fast path declined.
int expectMatchesOracle(const std::vector<double>& values, const char* family, bool alsoExact = false) {
    int failures = 0;
    int declined = 0;
    std::ostringstream report;
    auto compare = [&](double value, const char* what, const std::string& expected, const std::string& got) {
        if (expected != got && ++failures <= 8) {
            report << "\n  " << what << " " << describe(value) << ": expected " << expected << ", got " << got;
        }
    };
    auto digits = [](TruncatedDecimal t) { return std::to_string(t.digits) + "e" + std::to_string(t.exponent + 17); };
    for (double value : values) {
        const oracle::LeadingDigits leading = oracle::leadingDigits(value);
        const oracle::Texts expected = oracle::texts(value, leading);
        compare(value, "fixed", expected.fixed, fixedText(value));
        compare(value, "exponent", expected.exponent, exponentText(value));
        compare(-value, "fixed", "-" + expected.fixed, fixedText(-value));
        compare(-value, "exponent", "-" + expected.exponent, exponentText(-value));

        const std::string truth = leading.digits + "e" + std::to_string(leading.exponent);
        std::uint64_t significand;
        int exponent;
        split(value, significand, exponent);
        TruncatedDecimal fast{0, 0};
        const bool accepted = truncateFast(significand, exponent, &fast);
        if (accepted) compare(value, "fast truncation", truth, digits(fast));
        if (!accepted || alsoExact) {
            compare(value, "exact truncation", truth, digits(truncateExact(significand, exponent)));
        }
        declined += accepted ? 0 : 1;
    }
    EXPECT_EQ(failures, 0) << family << " (" << values.size() << " values, both signs):" << report.str();
    return declined;
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
        if (below > 0) values.push_back(below);
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
    while (static_cast<int>(values.size()) < sweepCount(1000000)) {
        const double value = fromBits(generator()() & 0x7FFFFFFFFFFFFFFFU);
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
            auto high = static_cast<std::uint64_t>(std::floor(9.99999999999999e17 / fivePower));
            high = std::min(high, (std::uint64_t{1} << 53) - 1);
            if (low > high) continue;
            const std::uint64_t m = std::uniform_int_distribution<std::uint64_t>(low, high)(generator()) | 1U;
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
        const std::string power = "e" + std::to_string(exponent(generator()));
        addWithNeighbours(values, parse(randomDigits(1, true) + "." + randomDigits(6, false) + "5" + power), 1);
        const int digits = integerDigits(generator());
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
        const double n = static_cast<double>(whole(generator()) >> (i % 45));
        values.push_back(n + (2 * eighths(generator()) + 1) / 128.0);
    }
    // m × 2^-s with m odd and m × 5^s of eight digits: 5 as the eighth.
    for (int s = 1; s <= 11; ++s) {
        const auto fivePower = static_cast<std::uint64_t>(std::pow(5.0, s));
        std::uniform_int_distribution<std::uint64_t> pick((10000000 + fivePower - 1) / fivePower,
                                                          (100000000 - 1) / fivePower);
        for (int i = 0; i < sweepCount(2000); ++i) {
            values.push_back(std::ldexp(static_cast<double>(pick(generator()) | 1U), -s));
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
        const std::uint64_t bits = fraction(generator()) >> (i % 52);
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

// The oracle itself against glibc, whose printf expands a double exactly when
// given enough places (767 significant digits suffice for any double).
TEST(ExactOracle, LeadingDigitsMatchTheFullExpansion) {
    std::vector<double> values{DBL_MAX, DBL_TRUE_MIN, 26217.0 / 262144.0};
    for (int k = -1074; k <= 1023; k += 7) values.push_back(std::ldexp(1.0, k));
    while (values.size() < 20000) {
        const double value = fromBits(generator()() & 0x7FFFFFFFFFFFFFFFU);
        if (std::isfinite(value) && value != 0) values.push_back(value);
    }
    std::vector<char> text(1000);
    for (double value : values) {
        std::snprintf(text.data(), text.size(), "%.780e", value);
        const oracle::LeadingDigits leading = oracle::leadingDigits(value);
        ASSERT_EQ(leading.digits, text[0] + std::string(text.data() + 2, 17)) << describe(value);
        ASSERT_EQ(leading.exponent, std::atoi(std::strchr(text.data(), 'e') + 1)) << describe(value);
    }
}

// --- The power-of-ten table of the fast truncation -----------------------

// Unsigned big integer in base 2^32, least significant word first, no
// leading zero words.
using Big = std::vector<std::uint32_t>;

Big times(Big n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& word : n) {
        const std::uint64_t product = std::uint64_t{word} * factor + carry;
        word = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0) n.push_back(static_cast<std::uint32_t>(carry));
    return n;
}

Big timesPowerOfTwo(Big n, int power) {
    for (; power > 31; power -= 31) n = times(n, std::uint32_t{1} << 31);
    return times(n, std::uint32_t{1} << power);
}

Big timesPowerOfTen(Big n, int power) {
    for (; power > 0; --power) n = times(n, 10);
    return n;
}

bool lessThan(const Big& a, const Big& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
}

// Every entry (c, b): 2^127 <= c and c × 2^b <= 10^p < (c + 1) × 2^b, checked
// in integers by moving 2^-b and 10^-p, where negative, to the other side.
TEST(PowerOfTenTable, EveryEntryIsTheTruncated128BitSignificand) {
    for (int p = kMinTablePower; p <= kMaxTablePower; ++p) {
        SCOPED_TRACE(testing::Message() << "10^" << p);
        const Pow10Significand entry = pow10Significand(p);
        ASSERT_NE(entry.high >> 63, 0U) << "not normalised";
        const int b = entry.binaryExponent;
        auto scaled = [&](std::uint64_t high, std::uint64_t low) {
            Big c{static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(low >> 32),
                  static_cast<std::uint32_t>(high), static_cast<std::uint32_t>(high >> 32)};
            return timesPowerOfTen(timesPowerOfTwo(c, std::max(b, 0)), std::max(-p, 0));
        };
        const Big value = timesPowerOfTwo(timesPowerOfTen(Big{1}, std::max(p, 0)), std::max(-b, 0));
        EXPECT_FALSE(lessThan(value, scaled(entry.high, entry.low))) << "10^p below the entry";
        const bool lowCarries = entry.low == ~std::uint64_t{0};
        EXPECT_TRUE(lessThan(value, scaled(entry.high + (lowCarries ? 1 : 0), entry.low + 1)))
            << "10^p at or above the entry plus one";
    }
}

}  // namespace
