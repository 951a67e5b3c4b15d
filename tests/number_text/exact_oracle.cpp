#include "exact_oracle.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace oracle {
namespace {

// Adds one unit in the last place; true on a carry out of the first digit.
bool increment(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    return true;
}

const char* marker(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (std::isinf(value)) return "1.#INF00";
    if (((bits >> 51) & 1U) == 0) return "1.#SNAN0";
    return bits == 0xFFF8000000000000U ? "1.#IND00" : "1.#QNAN0";
}

}  // namespace

// glibc's printf converts from the exact binary value and honours the
// rounding mode: toward zero, its 18 digits are the truncated ones.
LeadingDigits leadingDigits(double value) {
    const int mode = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    char text[32];
    std::snprintf(text, sizeof text, "%.17e", std::fabs(value));
    std::fesetround(mode);
    return {text[0] + std::string(text + 2, 17), std::atoi(text + 20)};
}

Texts texts(double value) {
    const std::string sign = std::signbit(value) ? "-" : "";
    if (!std::isfinite(value)) return {sign + marker(value), sign + marker(value) + "e+000"};
    if (value == 0) return {"0.000000", "0.000000e+000"};
    return texts(value, leadingDigits(value));
}

Texts texts(double value, const LeadingDigits& leading) {
    // The 17-digit string, half up on the 18th digit.
    std::string digits = leading.digits.substr(0, 17);
    int exponent = leading.exponent;
    if (leading.digits[17] >= '5' && increment(digits)) {
        digits = "1" + digits.substr(1);
        ++exponent;
    }
    // Every digit down to the sixth decimal, half up on the next one.
    auto digitAt = [&](int power) {
        const int index = exponent - power;
        return index >= 0 && index < 17 ? digits[static_cast<std::size_t>(index)] : '0';
    };
    std::string fixed;
    for (int power = std::max(exponent, 0); power >= -6; --power) fixed += digitAt(power);
    if (digitAt(-7) >= '5' && increment(fixed)) fixed.insert(0, "1");
    fixed.insert(fixed.size() - 6, ".");
    // Seven significant digits, half up on the eighth.
    std::string seven = digits.substr(0, 7);
    if (digits[7] >= '5' && increment(seven)) {
        seven = "1000000";
        ++exponent;
    }
    char power[16];
    std::snprintf(power, sizeof power, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    const std::string sign = std::signbit(value) ? "-" : "";
    return {sign + fixed, sign + seven.substr(0, 1) + "." + seven.substr(1) + power};
}

}  // namespace oracle
