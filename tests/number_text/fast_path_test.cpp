// The fast 18-digit truncation against the exact big-integer one, and the
// power-of-ten table it relies on against independent big integers.
#include "number_text_detail.h"

#include "sweep_size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using coatedmie::number_text_detail::kMaxTablePower;
using coatedmie::number_text_detail::kMinTablePower;
using coatedmie::number_text_detail::pow10Significand;
using coatedmie::number_text_detail::truncateExact;
using coatedmie::number_text_detail::truncateFast;
using coatedmie::number_text_detail::TruncatedDecimal;

// Unsigned big integer in base 2^32, least significant word first.
using Big = std::vector<std::uint32_t>;

void trim(Big& n) {
    while (!n.empty() && n.back() == 0) n.pop_back();
}

Big fromHalves(std::uint64_t high, std::uint64_t low) {
    Big n{static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(low >> 32),
          static_cast<std::uint32_t>(high), static_cast<std::uint32_t>(high >> 32)};
    trim(n);
    return n;
}

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

Big powerOfTen(int exponent) {
    Big n{1};
    for (int i = 0; i < exponent; ++i) n = times(n, 10);
    return n;
}

Big shiftedLeft(const Big& n, int bits) {
    Big result(static_cast<std::size_t>(bits / 32), 0);
    result.insert(result.end(), n.begin(), n.end());
    result.push_back(0);
    if (bits % 32 != 0) {
        for (std::size_t i = result.size(); i-- > 1;) {
            result[i] = (result[i] << (bits % 32)) | (result[i - 1] >> (32 - bits % 32));
        }
        result[0] <<= bits % 32;
    }
    trim(result);
    return result;
}

Big plus(const Big& a, const Big& b) {
    Big sum;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < a.size() || i < b.size() || carry != 0; ++i) {
        carry += (i < a.size() ? a[i] : 0U);
        carry += (i < b.size() ? b[i] : 0U);
        sum.push_back(static_cast<std::uint32_t>(carry));
        carry >>= 32;
    }
    trim(sum);
    return sum;
}

bool lessThan(const Big& a, const Big& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

// Every entry: c × 2^b <= 10^p < (c + 1) × 2^b and 2^127 <= c < 2^128,
// checked with both sides scaled to integers.
TEST(PowerOfTenTable, EveryEntryIsTheTruncated128BitSignificand) {
    for (int power = kMinTablePower; power <= kMaxTablePower; ++power) {
        const auto entry = pow10Significand(power);
        ASSERT_NE(entry.high >> 63, 0U) << "10^" << power << " not normalised";
        const Big c = fromHalves(entry.high, entry.low);
        const Big cPlusOne = plus(c, Big{1});
        Big lower, value, upper;
        if (power >= 0 && entry.binaryExponent >= 0) {
            lower = shiftedLeft(c, entry.binaryExponent);
            upper = shiftedLeft(cPlusOne, entry.binaryExponent);
            value = powerOfTen(power);
        } else if (power >= 0) {
            lower = c;
            upper = cPlusOne;
            value = shiftedLeft(powerOfTen(power), -entry.binaryExponent);
        } else {
            ASSERT_LT(entry.binaryExponent, 0) << "10^" << power;
            // c × 10^-p and (c + 1) × 10^-p against 2^-b.
            lower = c;
            upper = cPlusOne;
            for (int i = 0; i < -power; ++i) {
                lower = times(lower, 10);
                upper = times(upper, 10);
            }
            value = shiftedLeft(Big{1}, -entry.binaryExponent);
        }
        EXPECT_FALSE(lessThan(value, lower)) << "10^" << power << " below the entry";
        EXPECT_TRUE(lessThan(value, upper)) << "10^" << power << " at or above entry + 1";
    }
}

struct Split {
    std::uint64_t significand;
    int exponent;
};

// value = significand × 2^exponent with exponent >= -1074, as the formatter
// decodes it (subnormals keep their shorter significand).
Split split(double value) {
    int exponent;
    const double fraction = std::frexp(value, &exponent);
    Split s{static_cast<std::uint64_t>(std::ldexp(fraction, 53)), exponent - 53};
    for (; s.exponent < -1074; ++s.exponent) s.significand >>= 1;
    return s;
}

// Compares on every value that the fast path accepts; returns how many it declined.
int expectFastMatchesExact(const std::vector<double>& values) {
    int declined = 0;
    int mismatches = 0;
    for (double value : values) {
        const Split s = split(value);
        TruncatedDecimal fast{0, 0};
        if (!truncateFast(s.significand, s.exponent, &fast)) {
            ++declined;
            continue;
        }
        const TruncatedDecimal exact = truncateExact(s.significand, s.exponent);
        if ((fast.digits != exact.digits || fast.exponent != exact.exponent) && ++mismatches <= 5) {
            ADD_FAILURE() << std::hexfloat << value << ": fast " << fast.digits << "e" << fast.exponent
                          << ", exact " << exact.digits << "e" << exact.exponent;
        }
    }
    return declined;
}

TEST(FastTruncation, AgreesWithExactOverRandomDoublesOfEveryMagnitude) {
    std::mt19937_64 generator(7);
    std::vector<double> values;
    while (static_cast<int>(values.size()) < sweep::count(300000)) {
        const std::uint64_t bits = generator() & 0x7FFFFFFFFFFFFFFFU;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value) && value != 0) values.push_back(value);
    }
    EXPECT_EQ(expectFastMatchesExact(values), 0) << "random doubles should essentially never decline";
}

TEST(FastTruncation, AgreesWithExactAtEveryBinaryScale) {
    std::vector<double> values;
    for (int k = -1074; k <= 1023; ++k) {
        const double power = std::ldexp(1.0, k);
        values.push_back(power);
        values.push_back(std::nextafter(power, 0.0));
        values.push_back(std::nextafter(power, INFINITY));
        values.push_back(std::ldexp(1.5, k));
    }
    for (int k = -323; k <= 308; ++k) {
        const double power = std::strtod(("1e" + std::to_string(k)).c_str(), nullptr);
        values.push_back(power);
        values.push_back(std::nextafter(power, 0.0));
        if (k < 308) values.push_back(std::nextafter(power, INFINITY));
    }
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !(std::isfinite(v) && v > 0); }),
                 values.end());
    EXPECT_EQ(expectFastMatchesExact(values), 0);
}

// Exact decimal integers above 2^128 (below 10^40, with 5^21 dividing the
// significand) have a zero fraction that the truncated table cannot tell from
// one just below: these are the declines. Below 2^128 the integer and 128-bit
// paths are exact.
TEST(FastTruncation, DeclinesOnlyWhereTheBoundCannotDecide) {
    const double fiveTo22 = 2384185791015625.0;
    for (double value : {std::ldexp(fiveTo22, 77), std::ldexp(fiveTo22, 81), std::ldexp(3 * 476837158203125.0, 79)}) {
        const Split s = split(value);
        TruncatedDecimal fast{0, 0};
        EXPECT_FALSE(truncateFast(s.significand, s.exponent, &fast)) << value;
    }
    for (double value : {0.5, 0.75, 30.5, 180.0, 1e15, 9007199254740993.0, 1e19, 1e20, 1e21, 1e22, 0.0078125,
                         1e-5, std::ldexp(fiveTo22, 70)}) {
        const Split s = split(value);
        TruncatedDecimal fast{0, 0};
        EXPECT_TRUE(truncateFast(s.significand, s.exponent, &fast)) << value;
    }
}

}  // namespace
