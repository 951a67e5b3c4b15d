// A literal rendering of the number-text rules, written independently of the
// formatter: glibc's printf gives the exact leading digits, and both roundings
// are done on strings of decimal digits.
#ifndef COATEDMIE_REFERENCE_EXACT_ORACLE_H
#define COATEDMIE_REFERENCE_EXACT_ORACLE_H

#include <string>

namespace oracle {

// The first 18 significant digits of |value| (finite, nonzero), truncated;
// exponent is the power of ten of the first digit.
struct LeadingDigits {
    std::string digits;
    int exponent;
};
LeadingDigits leadingDigits(double value);

struct Texts {
    std::string fixed;
    std::string exponent;
};
// Both forms of one value, for any double.
Texts texts(double value);
// The same for a finite nonzero value whose leading digits the caller has.
Texts texts(double value, const LeadingDigits& leading);

}  // namespace oracle

#endif  // COATEDMIE_REFERENCE_EXACT_ORACLE_H
