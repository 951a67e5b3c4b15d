// The parameter file Parameter_in.txt: nine numbers, read with the grammar of
// the three formatted scans "%lf\t%lf\t%lf\n", "%lf\t%lf\t%lf\n" and
// "%d\t%lf\t%lf\n", then checked so that the run can only end with a result.
//
// Grammar (as those scans accept it)
// - Any run of space, tab, line feed, vertical tab, form feed or carriage
//   return separates numbers, the empty run included: "1.5-2" is 1.5 and -2.
//   Line breaks carry no meaning.
// - A real number: optional sign, digits, optionally "." and digits (at least
//   one digit in all), then, only after a digit, optionally "e" or "E", an
//   optional sign and digits. Converted to the nearest double. No inf, nan or
//   hexadecimal forms.
// - The angle count: optional sign and digits, a 32-bit signed integer.
// - A 0x1A byte ends the data wherever it stands; nothing after the ninth
//   number is read.
// - The file is read in chunks, keeping only the value being read, so memory
//   stays bounded whatever the file holds (a link to /dev/zero included); a
//   value's text longer than kLongestValueText bytes is refused.
//
// On top of the grammar: a UTF-8 byte-order mark at the very start is
// skipped, UTF-16 and UTF-32 files are refused by name, an angle count
// written with a point or exponent ("181.0") is refused instead of being
// split into 181 and ".0", and every value must be finite. The engine's
// input rules come after the reading, in checkRunParameters.
//
// Example: "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n" gives Alpha1 = 5,
// index1 = 1.5 + 0.01i, Alpha2 = 3, index2 = 2.0 + 0.5i, angleCount = 3,
// startAngle = 0, endAngle = 180.
#ifndef COATEDMIE_PARAMETER_FILE_H
#define COATEDMIE_PARAMETER_FILE_H

#include <cstddef>
#include <string>

#include <coatedmie/engine.h>

namespace coatedmie {

inline constexpr char kParameterFileName[] = "Parameter_in.txt";

inline constexpr std::size_t kParameterChunkSize = 4096;
// Far beyond any number a person writes (a 400-digit one is read exactly).
inline constexpr std::size_t kLongestValueText = 65536;

// Where a value's text stood in the file, quoted for messages about it.
struct ValueText {
    std::string quoted;  // "1.5", with C escapes for bytes that are not printable
    long long line;
};

// The six real values of the layers, in file order: Alpha1, index1 real and
// imaginary part, Alpha2, index2 real and imaginary part.
inline constexpr int kRealValueCount = 6;

struct RunParameters {
    double Alpha1;      // first size parameter
    double index1Re;    // refractive index paired with Alpha1
    double index1Im;
    double Alpha2;      // second size parameter
    double index2Re;    // refractive index paired with Alpha2
    double index2Im;
    int angleCount;     // number of grid angles
    double startAngle;  // degrees
    double endAngle;    // degrees
    ValueText texts[kRealValueCount];  // the layers' values as read
};

// Parses the bytes of a parameter file. On failure returns false and sets
// problem to one line without a line end, starting with fileName, e.g.
//   Parameter_in.txt, line 3: angleCount must be a whole number, found "181.0"
// parameters is fully written only on success. The bytes are taken chunkSize
// at a time, as from a file.
bool parseParameterText(const char* text, std::size_t size, const char* fileName,
                        RunParameters& parameters, std::string& problem,
                        std::size_t chunkSize = kParameterChunkSize);

// Reads the named file, chunkSize bytes at a time, as far as the parse needs;
// problem also covers a file that cannot be opened or read ("cannot open
// Parameter_in.txt: No such file or directory").
bool readParameterFile(const char* fileName, RunParameters& parameters, std::string& problem,
                       std::size_t chunkSize = kParameterChunkSize);

// Applies the engine's input rules to the layers read, and words a refusal
// for this file: "Parameter_in.txt, line 2: Alpha2 must be at least 1e-30,
// found "1e-40"; ...", or "Parameter_in.txt: |index1| * Alpha1 is 1.8e+07,
// ..." for the rule on a product of two values. Returns the problem; for
// beyondCapacity (the capacity stop) and none, problem is left alone.
InputProblem checkRunParameters(const RunParameters& parameters, const char* fileName, std::string& problem);

}  // namespace coatedmie

#endif  // COATEDMIE_PARAMETER_FILE_H
