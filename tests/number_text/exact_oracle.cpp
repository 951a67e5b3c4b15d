#include "exact_oracle.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace oracle {
namespace {

constexpr int kLeadingDigitCount = 18;
constexpr std::uint32_t kChunk = 1000000000;  // nine decimal digits

// Unsigned integer in base 2^32, least significant word first.
using Words = std::vector<std::uint32_t>;

// |value| = significand × 2^exponent, found with frexp rather than bit masks.
void splitMagnitude(double value, std::uint64_t& significand, int& exponent) {
    int binaryExponent = 0;
    const double fraction = std::frexp(std::fabs(value), &binaryExponent);
    significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent = binaryExponent - 53;
}

Words shiftedLeft(std::uint64_t n, int shift) {
    Words words(static_cast<std::size_t>(shift / 32 + 3), 0);
    const int wordShift = shift / 32;
    const int bitShift = shift % 32;
    const unsigned __int128 wide = static_cast<unsigned __int128>(n) << bitShift;
    for (int i = 0; i < 3; ++i) {
        words[static_cast<std::size_t>(wordShift + i)] = static_cast<std::uint32_t>(wide >> (32 * i));
    }
    return words;
}

bool isZero(const Words& words) {
    for (std::uint32_t w : words) {
        if (w != 0) return false;
    }
    return true;
}

// Decimal digits of an integer by repeated division by 10^9.
std::string integerDigits(Words words) {
    std::vector<std::uint32_t> chunks;
    while (!isZero(words)) {
        std::uint64_t remainder = 0;
        for (std::size_t i = words.size(); i-- > 0;) {
            const std::uint64_t current = (remainder << 32) | words[i];
            words[i] = static_cast<std::uint32_t>(current / kChunk);
            remainder = current % kChunk;
        }
        chunks.push_back(static_cast<std::uint32_t>(remainder));
    }
    std::string text;
    for (std::size_t i = chunks.size(); i-- > 0;) {
        std::string chunk = std::to_string(chunks[i]);
        if (i + 1 != chunks.size()) chunk.insert(0, 9 - chunk.size(), '0');
        text += chunk;
    }
    return text;
}

// Digits after the point of remainder / 2^bits, nine at a time by long division.
class FractionDigits {
public:
    FractionDigits(Words remainder, int bits) : remainder_(std::move(remainder)), bits_(bits) {
        remainder_.resize(static_cast<std::size_t>(bits / 32 + 2), 0);
    }

    std::string nextNine() {
        std::uint64_t carry = 0;
        for (std::uint32_t& w : remainder_) {
            const std::uint64_t product = std::uint64_t{w} * kChunk + carry;
            w = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        const std::size_t word = static_cast<std::size_t>(bits_ / 32);
        const int offset = bits_ % 32;
        std::uint64_t digits = remainder_[word] >> offset;
        if (offset != 0) digits |= std::uint64_t{remainder_[word + 1]} << (32 - offset);
        remainder_[word] &= offset == 0 ? 0U : (std::uint32_t{1} << offset) - 1U;
        for (std::size_t i = word + 1; i < remainder_.size(); ++i) remainder_[i] = 0;
        std::string text = std::to_string(digits);
        text.insert(0, 9 - text.size(), '0');
        return text;
    }

private:
    Words remainder_;
    int bits_;
};

// Adds one unit in the last place; returns true on a carry out of the first digit.
bool incrementDigits(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    return true;
}

// The 17-digit string of the rule; exponent is updated on a carry.
std::string seventeenDigits(const LeadingDigits& leading, int& exponent) {
    std::string digits = leading.digits.substr(0, 17);
    exponent = leading.exponent;
    if (leading.digits[17] >= '5' && incrementDigits(digits)) {
        digits = "1" + digits.substr(0, 16);
        exponent += 1;
    }
    return digits;
}

const char* markerText(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (std::isinf(value)) return "1.#INF00";
    const bool signBit = (bits >> 63) != 0;
    const bool quiet = ((bits >> 51) & 1U) != 0;
    const bool otherFractionBitsZero = (bits & ((std::uint64_t{1} << 51) - 1U)) == 0;
    if (!quiet) return "1.#SNAN0";
    if (signBit && otherFractionBitsZero) return "1.#IND00";
    return "1.#QNAN0";
}

// Every digit down to the sixth decimal, rounded half up on the next one.
std::string fixedDigits(const std::string& digits, int exponent) {
    auto digitAt = [&](int position) {
        const int index = exponent - position;
        return index >= 0 && index < 17 ? digits[static_cast<std::size_t>(index)] : '0';
    };
    std::string printed;
    for (int position = exponent > 0 ? exponent : 0; position >= -6; --position) {
        printed += digitAt(position);
    }
    if (digitAt(-7) >= '5' && incrementDigits(printed)) printed.insert(0, "1");
    printed.insert(printed.size() - 6, ".");
    return printed;
}

// Seven significant digits, rounded half up on the eighth, and the exponent.
std::string exponentDigits(const std::string& digits, int exponent) {
    std::string printed = digits.substr(0, 7);
    if (digits[7] >= '5' && incrementDigits(printed)) {
        printed = "1000000";
        exponent += 1;
    }
    std::string magnitude = std::to_string(exponent < 0 ? -exponent : exponent);
    magnitude.insert(0, 3 - magnitude.size(), '0');
    return printed.substr(0, 1) + "." + printed.substr(1) + "e" + (exponent < 0 ? "-" : "+") + magnitude;
}

}  // namespace

LeadingDigits leadingDigits(double value) {
    std::uint64_t significand;
    int exponent;
    splitMagnitude(value, significand, exponent);

    std::string integerPart;
    Words fraction;
    int fractionBits = 0;
    if (exponent >= 0) {
        integerPart = integerDigits(shiftedLeft(significand, exponent));
    } else {
        fractionBits = -exponent;
        const std::uint64_t whole = fractionBits >= 64 ? 0 : significand >> fractionBits;
        const std::uint64_t rest = fractionBits >= 64 ? significand : significand - (whole << fractionBits);
        if (whole != 0) integerPart = std::to_string(whole);
        fraction = shiftedLeft(rest, 0);
    }

    LeadingDigits result;
    result.digits = integerPart;
    result.exponent = static_cast<int>(integerPart.size()) - 1;
    if (fractionBits > 0) {
        FractionDigits after(fraction, fractionBits);
        int position = -1;  // power of ten of the next fraction digit
        while (static_cast<int>(result.digits.size()) < kLeadingDigitCount && position > -400) {
            for (char digit : after.nextNine()) {
                if (result.digits.empty() && digit == '0') {
                    --position;
                    continue;
                }
                if (result.digits.empty()) result.exponent = position;
                result.digits += digit;
                --position;
            }
        }
    }
    result.digits.resize(kLeadingDigitCount, '0');
    return result;
}

Texts texts(double value) {
    const std::string sign = std::signbit(value) ? "-" : "";
    if (std::isinf(value) || std::isnan(value)) {
        return {sign + markerText(value), sign + markerText(value) + "e+000"};
    }
    if (value == 0) return {"0.000000", "0.000000e+000"};
    return texts(value, leadingDigits(value));
}

Texts texts(double value, const LeadingDigits& leading) {
    const std::string sign = std::signbit(value) ? "-" : "";
    int exponent;
    const std::string digits = seventeenDigits(leading, exponent);
    return {sign + fixedDigits(digits, exponent), sign + exponentDigits(digits, exponent)};
}

}  // namespace oracle
