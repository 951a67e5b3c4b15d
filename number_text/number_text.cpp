#include "number_text.h"

#include "number_text_detail.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace coatedmie {
namespace {

__extension__ typedef unsigned __int128 UInt128;

constexpr std::uint64_t kPowersOfTen[20] = {
    1U,
    10U,
    100U,
    1000U,
    10000U,
    100000U,
    1000000U,
    10000000U,
    100000000U,
    1000000000U,
    10000000000U,
    100000000000U,
    1000000000000U,
    10000000000000U,
    100000000000000U,
    1000000000000000U,
    10000000000000000U,
    100000000000000000U,
    1000000000000000000U,
    10000000000000000000U,
};

int decimalDigitCount(std::uint64_t n) {
    int count = 1;
    while (count < 20 && n >= kPowersOfTen[count]) ++count;
    return count;
}

}  // namespace

namespace number_text_detail {
namespace {

// A finite double is exactly significand × 2^exponent. Above 2^0 the value
// is an integer below 2^1024 < 10^309; below it, significand × 2^-s equals
// significand × 5^s / 10^s, and significand × 5^s < 2^53 × 5^1074 < 10^767.
// So the exact decimal expansion never has more than 767 significant digits.
constexpr int kMaxSignificantDigits = 767;
constexpr std::uint32_t kLimbBase = 1000000000;
constexpr int kLimbDigits = 9;
constexpr int kMaxLimbs = (kMaxSignificantDigits + kLimbDigits - 1) / kLimbDigits;

// Non-negative integer in base 10^9, least significant limb first.
struct DecimalBigInt {
    std::uint32_t limbs[kMaxLimbs];
    int size;
};

// factor < 2^32 and limb < 10^9 keep limb × factor + carry below 2^64.
void multiplyBy(DecimalBigInt& n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.size; ++i) {
        const std::uint64_t t = std::uint64_t{n.limbs[i]} * factor + carry;
        n.limbs[i] = static_cast<std::uint32_t>(t % kLimbBase);
        carry = t / kLimbBase;
    }
    while (carry != 0) {
        assert(n.size < kMaxLimbs);
        n.limbs[n.size++] = static_cast<std::uint32_t>(carry % kLimbBase);
        carry /= kLimbBase;
    }
}

constexpr Pow10Significand kPow10Table[] = {
#include "number_text_pow10.inc"
};
static_assert(sizeof kPow10Table / sizeof kPow10Table[0] == kMaxTablePower - kMinTablePower + 1,
              "one table entry per decimal scale");

// floor(e × log10(2)), exact for |e| <= 2620 (the shift of a negative
// product rounds toward minus infinity on every compiler we build with).
int floorLog10Pow2(int e) { return (e * 315653) >> 20; }

constexpr std::uint64_t kTenTo18 = 1000000000000000000U;

// digits = floor(value × 10^(17 - lowerExponent)) with lowerExponent either
// floor(log10(value)) or one below it, so 10^17 <= digits < 10^19.
TruncatedDecimal fromScaled(std::uint64_t digits, int lowerExponent) {
    if (digits >= kTenTo18) return {digits / 10, lowerExponent + 1 - 17};
    return {digits, lowerExponent - 17};
}

}  // namespace

Pow10Significand pow10Significand(int power) {
    assert(power >= kMinTablePower && power <= kMaxTablePower);
    return kPow10Table[power - kMinTablePower];
}

bool truncateFast(std::uint64_t significand, int binaryExponent, TruncatedDecimal* result) {
    const std::uint64_t m = significand;
    const int e = binaryExponent;
    const int bitLength = 64 - __builtin_clzll(m);

    if (e >= 0 && bitLength + e <= 64) {
        // An integer below 2^64 (and at least 2^52, so 16 to 20 digits).
        const std::uint64_t n = m << e;
        const int digitCount = decimalDigitCount(n);
        if (digitCount <= 18) {
            *result = {n * kPowersOfTen[18 - digitCount], digitCount - 18};
        } else {
            *result = {n / kPowersOfTen[digitCount - 18], digitCount - 18};
        }
        return true;
    }

    // 2^floorLog2 <= value < 2^(floorLog2 + 1), so floor(log10(value)) is
    // lowerExponent or lowerExponent + 1.
    const int floorLog2 = bitLength - 1 + e;
    const int lowerExponent = floorLog10Pow2(floorLog2);
    const int power = 17 - lowerExponent;

    if (e >= 0 && bitLength + e <= 128) {
        // An integer below 2^128 < 10^39: one exact 128-bit division by
        // 10^-power <= 10^21. Such values are often exact decimals (1e20,
        // 1e22), whose zero fraction the table path below cannot certify.
        const UInt128 n = UInt128{m} << e;
        UInt128 divisor = kPowersOfTen[-power <= 19 ? -power : 19];
        if (-power > 19) divisor *= kPowersOfTen[-power - 19];
        *result = fromScaled(static_cast<std::uint64_t>(n / divisor), lowerExponent);
        return true;
    }

    if (e < 0 && power <= 22) {
        // value = m / 2^-e with value >= 10^-5: m × 10^power < 2^53 × 10^22 < 2^127
        // and -e <= 53 + 17, so the floor is one exact 128-bit shift.
        UInt128 scaled = UInt128{m} * kPowersOfTen[power <= 19 ? power : 19];
        if (power > 19) scaled *= kPowersOfTen[power - 19];
        *result = fromScaled(static_cast<std::uint64_t>(scaled >> -e), lowerExponent);
        return true;
    }

    // value × 10^power = m × (c + d) × 2^(e + b) with c the table's 128-bit
    // significand, 0 <= d < 1. With P = m × c and shift = -(e + b), the wanted
    // floor is floor((P + m × d) / 2^shift), and m × d < m. Because
    // 10^17 <= result < 10^19 < 2^64 and 2^127 <= c < 2^128, shift lies in
    // [64, 125]. P's low shift bits (the fraction) decide: when adding m
    // cannot carry out of them, the floor is P >> shift.
    const Pow10Significand c = kPow10Table[power - kMinTablePower];
    const int shift = -(e + c.binaryExponent);
    assert(shift >= 64 && shift <= 125);
    const UInt128 lowProduct = UInt128{m} * c.low;
    const UInt128 upper = UInt128{m} * c.high + (lowProduct >> 64);  // P >> 64
    const auto lowestWord = static_cast<std::uint64_t>(lowProduct);
    const UInt128 fractionMask = (UInt128{1} << (shift - 64)) - 1;
    const bool carriesFromLowestWord = lowestWord + m < lowestWord;
    if (carriesFromLowestWord && (upper & fractionMask) == fractionMask) return false;
    *result = fromScaled(static_cast<std::uint64_t>(upper >> (shift - 64)), lowerExponent);
    return true;
}

TruncatedDecimal truncateExact(std::uint64_t significand, int binaryExponent) {
    assert(significand != 0 && significand < (std::uint64_t{1} << 53));
    DecimalBigInt n{};
    for (std::uint64_t rest = significand; rest != 0; rest /= kLimbBase) {
        n.limbs[n.size++] = static_cast<std::uint32_t>(rest % kLimbBase);
    }
    int scale = 0;  // the value is n × 10^scale
    if (binaryExponent >= 0) {
        int twos = binaryExponent;
        for (; twos >= 31; twos -= 31) multiplyBy(n, std::uint32_t{1} << 31);
        if (twos > 0) multiplyBy(n, std::uint32_t{1} << twos);
    } else {
        constexpr std::uint32_t kFiveToThe13 = 1220703125;
        int fives = -binaryExponent;
        for (; fives >= 13; fives -= 13) multiplyBy(n, kFiveToThe13);
        for (; fives > 0; --fives) multiplyBy(n, 5);
        scale = binaryExponent;
    }

    constexpr int kWanted = 18;
    const int top = n.size - 1;
    const int digitCount = kLimbDigits * top + decimalDigitCount(n.limbs[top]);
    std::uint64_t digits = n.limbs[top];
    int have = decimalDigitCount(n.limbs[top]);
    for (int i = top - 1; i >= 0 && have < kWanted; --i) {
        const int take = kWanted - have < kLimbDigits ? kWanted - have : kLimbDigits;
        digits = digits * kPowersOfTen[take] + n.limbs[i] / kPowersOfTen[kLimbDigits - take];
        have += take;
    }
    digits *= kPowersOfTen[kWanted - have];
    return {digits, scale + digitCount - kWanted};
}

}  // namespace number_text_detail

namespace {

using number_text_detail::TruncatedDecimal;

// IEEE 754 binary64 layout.
constexpr std::uint64_t kSignMask = 0x8000000000000000U;
constexpr std::uint64_t kExponentMask = 0x7FF0000000000000U;
constexpr std::uint64_t kFractionMask = 0x000FFFFFFFFFFFFFU;
constexpr std::uint64_t kHiddenBit = 0x0010000000000000U;
constexpr std::uint64_t kQuietNanBit = 0x0008000000000000U;
constexpr int kFractionBits = 52;
constexpr int kExponentBias = 1023 + kFractionBits;
constexpr int kSubnormalExponent = 1 - kExponentBias;

constexpr std::uint64_t kTenTo6 = 1000000U;
constexpr std::uint64_t kTenTo7 = 10000000U;
constexpr std::uint64_t kTenTo16 = 10000000000000000U;
constexpr std::uint64_t kTenTo17 = 100000000000000000U;

// The 17-significant-digit string: digits × 10^exponent, 10^16 <= digits < 10^17.
struct DigitString {
    std::uint64_t digits;
    int exponent;
};

// Half up on the 18th digit; a carry out of 99...9 gives 10^16 one place up.
DigitString roundTo17Digits(TruncatedDecimal truncated) {
    DigitString s{(truncated.digits + 5) / 10, truncated.exponent + 1};
    if (s.digits == kTenTo17) {
        s.digits = kTenTo16;
        s.exponent += 1;
    }
    return s;
}

// Infinities and NaNs: a marker such as "1#INF" stands where the digit
// string would, with the point after its first character and "0" padding it
// to six places. Only the default NaN (sign and quiet bit, no payload) is IND.
char* writeMarker(std::uint64_t bits, char* out) {
    const std::uint64_t fraction = bits & kFractionMask;
    const char* marker;
    if (fraction == 0) {
        marker = "#INF00";
    } else if ((fraction & kQuietNanBit) == 0) {
        marker = "#SNAN0";
    } else if ((bits & kSignMask) != 0 && fraction == kQuietNanBit) {
        marker = "#IND00";
    } else {
        marker = "#QNAN0";
    }
    if ((bits & kSignMask) != 0) *out++ = '-';
    *out++ = '1';
    *out++ = '.';
    std::memcpy(out, marker, 6);
    return out + 6;
}

// "00" "01" ... "99": two digits per division halves the divisions.
struct DigitPairs {
    char text[200];
};
constexpr DigitPairs makeDigitPairs() {
    DigitPairs pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs.text[2 * i] = static_cast<char>('0' + i / 10);
        pairs.text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}
constexpr DigitPairs kDigitPairs = makeDigitPairs();

// Writes n as exactly `width` decimal digits, leading zeros included.
void writeDigits(std::uint64_t n, int width, char* out) {
    int end = width;
    for (; end >= 2; end -= 2) {
        std::memcpy(out + end - 2, kDigitPairs.text + 2 * (n % 100), 2);
        n /= 100;
    }
    if (end == 1) out[0] = static_cast<char>('0' + n % 10);
}

// Every digit down to the sixth decimal place, at least "0" before the point.
char* writeFixedDigits(DigitString s, char* out) {
    const int dropped = -(s.exponent + 6);  // string digits right of the sixth decimal
    if (dropped <= 0) {
        // Every string digit is printed; zeros stand for the digits past the
        // 17th significant one, down to the sixth decimal.
        const int integerDigits = 17 + s.exponent;
        char digits[17];
        writeDigits(s.digits, 17, digits);
        if (integerDigits >= 17) {
            std::memcpy(out, digits, 17);
            std::memset(out + 17, '0', static_cast<std::size_t>(integerDigits - 17));
            out += integerDigits;
            *out++ = '.';
            std::memset(out, '0', 6);
            return out + 6;
        }
        std::memcpy(out, digits, static_cast<std::size_t>(integerDigits));
        out += integerDigits;
        *out++ = '.';
        std::memcpy(out, digits + integerDigits, static_cast<std::size_t>(17 - integerDigits));
        out += 17 - integerDigits;
        const int zeros = 6 - (17 - integerDigits);
        std::memset(out, '0', static_cast<std::size_t>(zeros));
        return out + zeros;
    }
    // Units of 10^-6, rounded half up on the string digit after them alone; a
    // string that starts two or more places below the sixth decimal prints 0.
    std::uint64_t units = 0;
    if (dropped <= 17) {
        const std::uint64_t kept = s.digits / kPowersOfTen[dropped - 1];
        units = kept / 10 + (kept % 10 >= 5 ? 1 : 0);
    }
    int width = 7;
    while (width < 18 && units >= kPowersOfTen[width]) ++width;
    char digits[18];
    writeDigits(units, width, digits);
    std::memcpy(out, digits, static_cast<std::size_t>(width - 6));
    out += width - 6;
    *out++ = '.';
    std::memcpy(out, digits + width - 6, 6);
    return out + 6;
}

// Seven significant digits rounded half up on the eighth; a carry out of
// 9.999999 gives 1.000000 and raises the exponent.
char* writeExponentDigits(DigitString s, char* out) {
    const std::uint64_t kept = s.digits / kPowersOfTen[9];  // eight digits
    std::uint64_t printed = kept / 10 + (kept % 10 >= 5 ? 1 : 0);
    int exponent = s.exponent + 16;
    if (printed == kTenTo7) {
        printed = kTenTo6;
        exponent += 1;
    }
    char digits[7];
    writeDigits(printed, 7, digits);
    *out++ = digits[0];
    *out++ = '.';
    std::memcpy(out, digits + 1, 6);
    out += 6;
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    writeDigits(static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent), 3, out);
    return out + 3;
}

enum class Form { fixed, exponent };

std::size_t format(double value, Form form, char* out) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char* const start = out;
    if ((bits & kExponentMask) == kExponentMask) {
        out = writeMarker(bits, out);
        if (form == Form::exponent) {
            std::memcpy(out, "e+000", 5);
            out += 5;
        }
        return static_cast<std::size_t>(out - start);
    }
    if ((bits & ~kSignMask) == 0) {
        static const char kFixedZero[] = "0.000000";
        static const char kExponentZero[] = "0.000000e+000";
        if (form == Form::fixed) {
            std::memcpy(out, kFixedZero, sizeof kFixedZero - 1);
            return sizeof kFixedZero - 1;
        }
        std::memcpy(out, kExponentZero, sizeof kExponentZero - 1);
        return sizeof kExponentZero - 1;
    }

    const std::uint64_t fraction = bits & kFractionMask;
    const int biasedExponent = static_cast<int>((bits & kExponentMask) >> kFractionBits);
    const std::uint64_t significand = biasedExponent == 0 ? fraction : fraction | kHiddenBit;
    const int binaryExponent =
        biasedExponent == 0 ? kSubnormalExponent : biasedExponent - kExponentBias;

    TruncatedDecimal truncated;
    if (!number_text_detail::truncateFast(significand, binaryExponent, &truncated)) {
        truncated = number_text_detail::truncateExact(significand, binaryExponent);
    }
    const DigitString s = roundTo17Digits(truncated);
    if ((bits & kSignMask) != 0) *out++ = '-';
    out = form == Form::fixed ? writeFixedDigits(s, out) : writeExponentDigits(s, out);
    const auto length = static_cast<std::size_t>(out - start);
    assert(length <= kMaxNumberText);
    return length;
}

}  // namespace

std::size_t formatFixed(double value, char* out) { return format(value, Form::fixed, out); }

std::size_t formatExponent(double value, char* out) { return format(value, Form::exponent, out); }

}  // namespace coatedmie
