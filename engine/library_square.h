// pow(x, 2.0) as the C library rounds it, mostly without calling it.
//
// The efficiency sums and the angular table square with the library's power
// function, which rounds by itself: not always like the product x*x (at an
// exact tie glibc's pow rounds away from zero, the product to even). Its
// error is documented: "Worst-case error: 0.54 ULP" (glibc 2.28 and later,
// sysdeps/ieee754/dbl-64/e_pow.c), of which 0.511 ULP belong to its exp and
// the rest to its log, relative error 1.5 * 2^-68 times |y log x| <= 1024 ln 2
// scaled to ulps; for y = 2 and |x| in [2^-200, 2^200] the log adds at most
// 2 * 200 ln 2 * 1.5 * 2^-68 * 2^53 = 0.0127 ULP, so there the error stays
// below 0.524 ULP.
//
// Let p = x*x (the product rounded to nearest) and e = x^2 - p its exact
// error, which Dekker's split gives with plain products and sums. If pow
// returned another double q != p, then |q - x^2| >= ulp - |e| (q lies at
// least one spacing from p, on one side or the other of x^2), and that is
// <= 0.524 ulp only when |e| >= 0.476 ulp. So wherever |e| <= 0.47 ulp the
// library's answer can only be p; the remaining 6% of squares, near a
// midpoint between two doubles, take the call. Where p is a power of two the
// spacing below it is half an ulp, and the argument fails: those take the
// call too, as does everything outside [2^-200, 2^200] (zeros, subnormals,
// infinities, NaN, and values the log term would need a wider margin for).
#ifndef COATEDMIE_LIBRARY_SQUARE_H
#define COATEDMIE_LIBRARY_SQUARE_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "lanes.h"

// The shortcut holds for glibc's pow from 2.28 on (the bound above); other C
// libraries always take the call.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
#define COATEDMIE_LIBRARY_SQUARE_SHORTCUT 1
#else
#define COATEDMIE_LIBRARY_SQUARE_SHORTCUT 0
#endif

namespace coatedmie {

inline constexpr std::uint64_t kExponentMask = 0x7ff0000000000000ULL;
inline constexpr std::uint64_t kFractionMask = 0x000fffffffffffffULL;

// Accepted |e|, in units of 2^exponent(p): 0.47 ulp.
inline constexpr double kAcceptedSquareError = 0.47 * 0x1p-52;
// 2^27 + 1 splits a double into two halves of 26 bits whose products are exact.
inline constexpr double kDekkerSplitter = 134217729.0;
inline constexpr double kShortcutMin = 0x1p-200;
inline constexpr double kShortcutMax = 0x1p200;

// std::pow(x, 2.0), out of line: compiled with the engine's
// -fno-builtin-pow, it stays a library call wherever this header goes (a
// compiler may otherwise fold pow(x, 2.0) into x*x).
double libraryPowSquare(double x);

inline double librarySquare(double x) {
#if COATEDMIE_LIBRARY_SQUARE_SHORTCUT
    const double p = x * x;
    const double magnitude = std::fabs(x);
    if (magnitude >= kShortcutMin && magnitude <= kShortcutMax) {
        const double c = kDekkerSplitter * x;
        const double hi = c - (c - x);
        const double lo = x - hi;
        const double error = ((hi * hi - p) + 2.0 * (hi * lo)) + lo * lo;
        std::uint64_t bits;
        std::memcpy(&bits, &p, sizeof bits);
        const std::uint64_t exponentBits = bits & kExponentMask;
        double binade;
        std::memcpy(&binade, &exponentBits, sizeof binade);
        if ((bits & kFractionMask) != 0 && std::fabs(error) <= binade * kAcceptedSquareError) return p;
    }
#endif
    return libraryPowSquare(x);
}

// librarySquare lane by lane: the shortcut's test side by side, the call
// for the lanes it cannot decide.
template <typename V>
[[gnu::always_inline]] inline V librarySquares(V x) {
#if COATEDMIE_LIBRARY_SQUARE_SHORTCUT
    using Bits = typename LaneBits<V>::type;
    constexpr long long kMagnitudeBits = static_cast<long long>(kExponentMask | kFractionMask);
    constexpr long long kExponentBits = static_cast<long long>(kExponentMask);
    constexpr long long kFractionBits = static_cast<long long>(kFractionMask);
    const V p = x * x;
    const V magnitude = (V)((Bits)x & kMagnitudeBits);
    const V c = kDekkerSplitter * x;
    const V hi = c - (c - x);
    const V lo = x - hi;
    const V error = ((hi * hi - p) + 2.0 * (hi * lo)) + lo * lo;
    const V errorMagnitude = (V)((Bits)error & kMagnitudeBits);
    const V binade = (V)((Bits)p & kExponentBits);
    const Bits decided = (magnitude >= kShortcutMin) & (magnitude <= kShortcutMax) &
                         (((Bits)p & kFractionBits) != 0) & (errorMagnitude <= binade * kAcceptedSquareError);
    V square = p;
    for (int lane = 0; lane < kLaneCount<V>; ++lane) {
        if (decided[lane] == 0) square[lane] = libraryPowSquare(x[lane]);
    }
    return square;
#else
    V square;
    for (int lane = 0; lane < kLaneCount<V>; ++lane) {
        square[lane] = libraryPowSquare(x[lane]);
    }
    return square;
#endif
}

}  // namespace coatedmie

#endif  // COATEDMIE_LIBRARY_SQUARE_H
