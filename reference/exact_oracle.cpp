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

// The first `keep` digits, half up on the next one; a carry out of the first
// digit makes them one longer.
std::string rounded(const std::string& digits, std::size_t keep) {
    std::string kept = digits.substr(0, keep);
    if (digits[keep] < '5') return kept;
    std::size_t i = keep;
    for (; i > 0 && kept[i - 1] == '9'; --i) kept[i - 1] = '0';
    if (i == 0) return "1" + kept;
    ++kept[i - 1];
    return kept;
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
    // The 17-digit string (a carry leaves 1 and zeros, one place up).
    std::string digits = rounded(leading.digits, 17);
    const int exponent = leading.exponent + static_cast<int>(digits.size()) - 17;
    digits.resize(17);
    // Every digit down to the sixth decimal and the one after it, zeros
    // beyond the string; rounded on that last one.
    std::string fixed;
    for (int power = std::max(exponent, 0), index = exponent - power; power >= -7; --power, ++index) {
        fixed += index >= 0 && index < 17 ? digits[static_cast<std::size_t>(index)] : '0';
    }
    fixed = rounded(fixed, fixed.size() - 1);
    fixed.insert(fixed.size() - 6, ".");
    // Seven significant digits, half up on the eighth.
    std::string seven = rounded(digits, 7);
    const int shown = exponent + static_cast<int>(seven.size()) - 7;
    seven.resize(7);
    char power[16];
    std::snprintf(power, sizeof power, "e%c%03d", shown < 0 ? '-' : '+', std::abs(shown));
    const std::string sign = std::signbit(value) ? "-" : "";
    return {sign + fixed, sign + seven.substr(0, 1) + "." + seven.substr(1) + power};
}

}  // namespace oracle
