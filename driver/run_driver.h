// The program: reads Parameter_in.txt in the current working directory,
// computes the coated sphere once, and writes Header_Coated_TA.txt and
// Mie_Coated_TA.txt next to it. A successful run prints nothing; every
// failure prints one line on standard error and leaves the previous result
// files untouched.
#ifndef COATEDMIE_RUN_DRIVER_H
#define COATEDMIE_RUN_DRIVER_H

namespace coatedmie {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBadInput = 1;       // parameter file missing, unreadable, malformed or invalid
inline constexpr int kExitCapacity = 2;       // outer size parameter needs more terms than the tables hold
inline constexpr int kExitOutputFailure = 3;  // a result file could not be written

// Exactly this text, then a line end, on standard error at the capacity stop.
inline constexpr char kCapacityMessage[] =
    "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!";

// Returns the exit status.
int runDriver();

}  // namespace coatedmie

#endif  // COATEDMIE_RUN_DRIVER_H
