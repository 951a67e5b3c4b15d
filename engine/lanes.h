// Vectors of doubles for the engine's side-by-side evaluations, and the few
// operations they need beyond + - * /, for vectors and for a plain double (one
// lane) alike, so that one template serves the body and the tail of a loop.
// Vector arithmetic rounds lane by lane exactly like scalar arithmetic
// (nothing is fused under -ffp-contract=off), so a value keeps its bits
// whichever lane, width or instruction set computes it.
#ifndef COATEDMIE_LANES_H
#define COATEDMIE_LANES_H

#include <cstring>

#include "complex_kernel.h"

namespace coatedmie {

typedef double Lanes2 __attribute__((vector_size(16)));
typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));

template <typename V>
inline constexpr int kLaneCount = sizeof(V) / sizeof(double);

// The integer vector of the same lanes, for bit operations and comparisons.
template <typename V>
struct LaneBits;
template <>
struct LaneBits<Lanes2> {
    typedef long long type __attribute__((vector_size(16)));
};
template <>
struct LaneBits<Lanes4> {
    typedef long long type __attribute__((vector_size(32)));
};
template <>
struct LaneBits<Lanes8> {
    typedef long long type __attribute__((vector_size(64)));
};

// Every lane set to s (for -0.0 too, which 0.0 + s would turn into +0.0).
template <typename V>
[[gnu::always_inline]] inline V splat(double s) {
    if constexpr (kLaneCount<V> == 1) {
        return s;
    } else {
        V v{};
        for (int i = 0; i < kLaneCount<V>; ++i) v[i] = s;
        return v;
    }
}

template <typename V>
[[gnu::always_inline]] inline V load(const double* p) {
    V v{};
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
[[gnu::always_inline]] inline void store(double* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

// The orders first, first + 1, ... as doubles.
template <typename V>
[[gnu::always_inline]] inline V orders(int first) {
    if constexpr (kLaneCount<V> == 1) {
        return static_cast<double>(first);
    } else {
        V v{};
        for (int i = 0; i < kLaneCount<V>; ++i) v[i] = static_cast<double>(first + i);
        return v;
    }
}

// A complex number per lane.
template <typename V>
struct ComplexLanes {
    V re;
    V im;
};

template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> loadComplex(const double* re, const double* im) {
    return {load<V>(re), load<V>(im)};
}

template <typename V>
[[gnu::always_inline]] inline void storeComplex(double* re, double* im, const ComplexLanes<V>& z) {
    store<V>(re, z.re);
    store<V>(im, z.im);
}

// The operations of complexQuotient and complexProduct, lane by lane, in their order.
template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> quotient(const ComplexLanes<V>& u, const ComplexLanes<V>& w) {
    const V den = w.re * w.re + w.im * w.im;
    return {(u.re * w.re + u.im * w.im) / den, (u.im * w.re - u.re * w.im) / den};
}

template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> product(const ComplexLanes<V>& u, const ComplexLanes<V>& w) {
    return {u.re * w.re - u.im * w.im, u.re * w.im + u.im * w.re};
}

template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> crossDifference(const ComplexLanes<V>& z1, const ComplexLanes<V>& z2,
                                                              const ComplexLanes<V>& z3, const ComplexLanes<V>& z4) {
    const ComplexLanes<V> p = product(z1, z2);
    const ComplexLanes<V> q = product(z3, z4);
    return {p.re - q.re, p.im - q.im};
}

template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> sum(const ComplexLanes<V>& u, const ComplexLanes<V>& w) {
    return {u.re + w.re, u.im + w.im};
}

template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> splatComplex(double re, double im) {
    return {splat<V>(re), splat<V>(im)};
}

// k/z as complexQuotient(k, 0, z) forms it, for the orders k in the lanes.
template <typename V>
[[gnu::always_inline]] inline ComplexLanes<V> orderOver(V order, const ComplexResult& z) {
    const double den = z.re * z.re + z.im * z.im;
    return {(order * z.re + 0.0 * z.im) / den, (0.0 * z.re - order * z.im) / den};
}

template <typename V>
struct Tag {
    using Lanes = V;
};

// Runs body(Tag<V>{}, i) for i = 0, w, 2w, ... while whole vectors fit in
// count, then body(Tag<double>{}, i) for the rest, one lane at a time.
template <typename V, typename Body>
[[gnu::always_inline]] inline void inLanes(int count, Body&& body) {
    int i = 0;
    for (; i + kLaneCount<V> <= count; i += kLaneCount<V>) body(Tag<V>{}, i);
    for (; i < count; ++i) body(Tag<double>{}, i);
}

}  // namespace coatedmie

#endif  // COATEDMIE_LANES_H
