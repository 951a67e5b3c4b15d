// How many values the randomised sweeps check: twenty times the default in
// the long sweep (COATEDMIE_LONG_TESTS), a tenth of it where the code runs
// unoptimised or under AddressSanitizer. Same cases, only more or fewer.
#ifndef COATEDMIE_TESTS_SWEEP_SIZE_H
#define COATEDMIE_TESTS_SWEEP_SIZE_H

#if defined(__SANITIZE_ADDRESS__)
#define COATEDMIE_TESTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COATEDMIE_TESTS_SANITIZED 1
#endif
#endif

namespace sweep {

#if defined(COATEDMIE_LONG_SWEEP)
constexpr long long kPercent = 2000;
#elif !defined(__OPTIMIZE__) || defined(COATEDMIE_TESTS_SANITIZED)
constexpr long long kPercent = 10;
#else
constexpr long long kPercent = 100;
#endif

// The number of values for a sweep whose default size is defaultCount.
constexpr int count(long long defaultCount) { return static_cast<int>(defaultCount * kPercent / 100); }

}  // namespace sweep

#endif  // COATEDMIE_TESTS_SWEEP_SIZE_H
