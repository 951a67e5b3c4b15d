#include "parameter_file.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace coatedmie {
namespace {

constexpr int kValueCount = 9;
constexpr int kCountSlot = 6;

// Names used in messages, in file order.
constexpr const char* kValueNames[kValueCount] = {
    "Alpha1",       "the real part of index1", "the imaginary part of index1",
    "Alpha2",       "the real part of index2", "the imaginary part of index2",
    "angleCount",   "startAngle",              "endAngle",
};

constexpr unsigned char kEndOfDataMark = 0x1A;

// Offending text is quoted up to this many bytes of the file.
constexpr std::size_t kQuotedBytes = 24;

struct Scanner {
    const char* text;
    std::size_t size;        // bytes before the first 0x1A
    bool endsAtMark;         // the data ends at a 0x1A byte, not at the file's end
    std::size_t position;
    int line;                // 1-based line of position
};

// Where a value's text stood, for messages about it after the scan.
struct ValueText {
    std::size_t offset;
    std::size_t length;
    int line;
};

bool isWhiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

unsigned char byteAt(const Scanner& s, std::size_t at) {
    return static_cast<unsigned char>(s.text[at]);
}

void skipWhiteSpace(Scanner& s) {
    while (s.position < s.size && isWhiteSpace(byteAt(s, s.position))) {
        if (s.text[s.position] == '\n') ++s.line;
        ++s.position;
    }
}

std::size_t endOfDigits(const Scanner& s, std::size_t at) {
    while (at < s.size && isDigit(byteAt(s, at))) ++at;
    return at;
}

std::size_t afterSign(const Scanner& s, std::size_t at) {
    if (at < s.size && (s.text[at] == '+' || s.text[at] == '-')) ++at;
    return at;
}

// Length of the real-number literal at s.position, 0 when there is none.
// An "e" that is not followed by an exponent ends the literal before it,
// as in "2e" or "2e+".
std::size_t realLiteralLength(const Scanner& s) {
    std::size_t at = afterSign(s, s.position);
    const std::size_t integerEnd = endOfDigits(s, at);
    std::size_t digitCount = integerEnd - at;
    at = integerEnd;
    if (at < s.size && s.text[at] == '.') {
        const std::size_t fractionEnd = endOfDigits(s, at + 1);
        digitCount += fractionEnd - (at + 1);
        at = fractionEnd;
    }
    if (digitCount == 0) return 0;
    if (at < s.size && (s.text[at] == 'e' || s.text[at] == 'E')) {
        const std::size_t exponentDigits = afterSign(s, at + 1);
        const std::size_t exponentEnd = endOfDigits(s, exponentDigits);
        if (exponentEnd > exponentDigits) at = exponentEnd;
    }
    return at - s.position;
}

std::size_t countLiteralLength(const Scanner& s) {
    const std::size_t digits = afterSign(s, s.position);
    const std::size_t end = endOfDigits(s, digits);
    return end > digits ? end - s.position : 0;
}

void appendQuoted(std::string& out, const char* bytes, std::size_t length, bool cut) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (cut) out += "...";
    out += '"';
}

// What stands where a value was due: the end of the data, or the quoted
// text up to the next white space.
std::string describeFound(const Scanner& s) {
    if (s.position >= s.size) {
        return s.endsAtMark ? "the end of the data (a 0x1A byte)" : "the end of the file";
    }
    std::size_t end = s.position;
    while (end < s.size && !isWhiteSpace(byteAt(s, end))) ++end;
    const std::size_t length = end - s.position;
    std::string found;
    appendQuoted(found, s.text + s.position, length < kQuotedBytes ? length : kQuotedBytes,
                 length > kQuotedBytes);
    return found;
}

std::string quoteValue(const Scanner& s, const ValueText& value) {
    std::string found;
    appendQuoted(found, s.text + value.offset,
                 value.length < kQuotedBytes ? value.length : kQuotedBytes,
                 value.length > kQuotedBytes);
    return found;
}

std::string where(const char* fileName, int line) {
    return std::string(fileName) + ", line " + std::to_string(line) + ": ";
}

// The literal has been checked against the grammar, so it is a plain decimal
// number that strtod reads in full. glibc's strtod rounds correctly to the
// nearest double (ties to even) for any number of digits, and in the "C"
// locale that this program never changes the point is ".". The copy stops
// strtod from reading on into text the grammar does not accept ("0x1p3").
double convertRealLiteral(const char* literal, std::size_t length) {
    const std::string copy(literal, length);
    return std::strtod(copy.c_str(), nullptr);
}

// Scans a count literal of the given length; false when it is outside the
// 32-bit range.
bool convertCountLiteral(const char* literal, std::size_t length, int& count) {
    std::size_t at = 0;
    const bool negative = literal[0] == '-';
    if (literal[0] == '+' || literal[0] == '-') ++at;
    const std::int64_t limit = negative ? std::int64_t{2147483648} : std::int64_t{2147483647};
    std::int64_t magnitude = 0;
    for (; at < length; ++at) {
        magnitude = magnitude * 10 + (literal[at] - '0');
        if (magnitude > limit) return false;
    }
    count = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

const char* wideEncodingName(const unsigned char* bytes, std::size_t size) {
    if (size >= 4 && ((bytes[0] == 0xFF && bytes[1] == 0xFE && bytes[2] == 0 && bytes[3] == 0) ||
                      (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0xFE && bytes[3] == 0xFF))) {
        return "UTF-32";
    }
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        return "UTF-16";
    }
    // Without a byte-order mark, text in a 16-bit encoding starts with a
    // character whose other byte is zero.
    if (size >= 2 && ((bytes[0] == 0) != (bytes[1] == 0))) return "UTF-16";
    return nullptr;
}

bool checkValues(const Scanner& s, const RunParameters& p, const ValueText (&texts)[kValueCount],
                 const char* fileName, std::string& problem) {
    const double reals[kValueCount] = {p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re,
                                       p.index2Im, 0.0,      p.startAngle, p.endAngle};
    for (int slot = 0; slot < kValueCount; ++slot) {
        if (slot == kCountSlot || std::isfinite(reals[slot])) continue;
        // The grammar has no infinity or NaN: only a literal beyond the
        // largest double gets here, rounded to infinity.
        problem = where(fileName, texts[slot].line) + kValueNames[slot] +
                  " is too large for a double, found " + quoteValue(s, texts[slot]);
        return false;
    }
    // The grid steps by (endAngle - startAngle) / (angleCount - 1); a span
    // beyond the double range would turn every angle into NaN.
    if (p.angleCount > 1 && !std::isfinite(p.endAngle - p.startAngle)) {
        problem = where(fileName, texts[kValueCount - 1].line) +
                  "startAngle and endAngle are too far apart, found " +
                  quoteValue(s, texts[kValueCount - 2]) + " and " + quoteValue(s, texts[kValueCount - 1]);
        return false;
    }
    const int sizeSlots[2] = {0, 3};
    for (int slot : sizeSlots) {
        if (reals[slot] > 0.0) continue;
        problem = where(fileName, texts[slot].line) + kValueNames[slot] +
                  " must be greater than 0, found " + quoteValue(s, texts[slot]);
        return false;
    }
    std::string shown[kRealValueCount];
    for (int slot = 0; slot < kRealValueCount; ++slot) shown[slot] = quoteValue(s, texts[slot]);
    int slot = 0;
    if (checkSmallValues(p, shown, problem, slot)) return true;
    problem = where(fileName, texts[slot].line) + problem;
    return false;
}

}  // namespace

bool parseParameterText(const char* text, std::size_t size, const char* fileName,
                        RunParameters& parameters, std::string& problem) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (const char* encoding = wideEncodingName(bytes, size)) {
        problem = std::string(fileName) + " is " + encoding +
                  " text; save it as plain text (ASCII or UTF-8)";
        return false;
    }

    Scanner s{text, size, false, 0, 1};
    const void* mark = size > 0 ? std::memchr(text, kEndOfDataMark, size) : nullptr;
    if (mark != nullptr) {
        s.size = static_cast<std::size_t>(static_cast<const char*>(mark) - text);
        s.endsAtMark = true;
    }
    if (s.size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) s.position = 3;

    RunParameters read{};
    double* const realSlots[kValueCount] = {&read.Alpha1, &read.index1Re,   &read.index1Im,
                                            &read.Alpha2, &read.index2Re,   &read.index2Im,
                                            nullptr,      &read.startAngle, &read.endAngle};
    ValueText texts[kValueCount];
    for (int slot = 0; slot < kValueCount; ++slot) {
        skipWhiteSpace(s);
        const std::size_t length = slot == kCountSlot ? countLiteralLength(s) : realLiteralLength(s);
        if (length == 0) {
            problem = where(fileName, s.line) + "expected " + kValueNames[slot] +
                      " (a number), found " + describeFound(s);
            if (s.position < s.size && s.text[s.position] == ',') {
                problem += "; the decimal separator is \".\"";
            }
            return false;
        }
        texts[slot] = ValueText{s.position, length, s.line};
        const char* literal = text + s.position;
        if (slot == kCountSlot) {
            // The scan would read "181.0" as 181 and leave ".0" for startAngle.
            const std::size_t asReal = realLiteralLength(s);
            if (asReal > length) {
                problem = where(fileName, s.line) + kValueNames[slot] +
                          " must be a whole number, found " +
                          quoteValue(s, ValueText{s.position, asReal, s.line});
                return false;
            }
            if (!convertCountLiteral(literal, length, read.angleCount)) {
                problem = where(fileName, s.line) + kValueNames[slot] +
                          " is out of range (-2147483648 to 2147483647), found " +
                          quoteValue(s, texts[slot]);
                return false;
            }
        } else {
            *realSlots[slot] = convertRealLiteral(literal, length);
        }
        s.position += length;
    }

    if (!checkValues(s, read, texts, fileName, problem)) return false;
    parameters = read;
    return true;
}

bool checkSmallValues(const RunParameters& p, const std::string (&shown)[kRealValueCount],
                      std::string& problem, int& slot) {
    const InputCheck check = checkLayers({p.Alpha1, {p.index1Re, p.index1Im}}, {p.Alpha2, {p.index2Re, p.index2Im}});
    slot = check.value;
    switch (check.problem) {
        case InputProblem::outerSizeTooSmall:
            problem = std::string(kValueNames[slot]) + " must be at least 1e-30, found " + shown[slot] +
                      "; the intensities of a particle that small are beyond double precision";
            return false;
        case InputProblem::coreSizeTooSmall: {
            const bool firstIsOuter = slot == 3;
            problem = std::string(kValueNames[slot]) + " must be at least 1e-30, found " + shown[slot] +
                      "; a core that small changes no digit of the results: for the sphere without it give " +
                      (firstIsOuter ? "layer 2" : "layer 1") + " the size parameter and index of " +
                      (firstIsOuter ? "layer 1" : "layer 2");
            return false;
        }
        case InputProblem::indexTooSmall:
            problem = "|index" + std::to_string(slot / 3 + 1) + "| must be at least 1e-4, found " + shown[slot] +
                      " and " + shown[slot + 1] +
                      "; give the refractive index of the layer relative to the surrounding medium";
            return false;
        case InputProblem::negativeRealPart:
            problem = "the real part of index" + std::to_string(slot / 3 + 1) + " must not be negative, found " +
                      shown[slot] + "; for a non-magnetic layer such an index describes a medium with gain";
            return false;
        default:
            // Finite and positive values are the reader's own checks; capacity
            // and the continued fraction come later in the run.
            return true;
    }
}

bool checkContinuedFractionLength(const RunParameters& parameters, const char* fileName,
                                  std::string& problem) {
    const InputCheck check = checkLayers({parameters.Alpha1, {parameters.index1Re, parameters.index1Im}},
                                         {parameters.Alpha2, {parameters.index2Re, parameters.index2Im}});
    if (check.problem != InputProblem::indexTimesSizeTooLarge) return true;
    char value[32];
    std::snprintf(value, sizeof value, "%.3g", check.measured);
    // Just above the limit, three digits would print the limit itself.
    if (std::strtod(value, nullptr) <= kMaxIndexTimesSize) {
        std::snprintf(value, sizeof value, "%.17g", check.measured);
    }
    const char* const name = check.value == 1 ? "index1| * Alpha1" : "index2| * Alpha2";
    problem = std::string(fileName) + ": |" + name + " is " + value +
              ", above the limit of 1e7 that keeps a run under a few seconds";
    return false;
}

bool readParameterFile(const char* fileName, RunParameters& parameters, std::string& problem) {
    const int descriptor = open(fileName, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        problem = std::string("cannot open ") + fileName + ": " + std::strerror(errno);
        return false;
    }
    std::string contents;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(descriptor, chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            problem = std::string("cannot read ") + fileName + ": " + std::strerror(errno);
            close(descriptor);
            return false;
        }
        contents.append(chunk, static_cast<std::size_t>(got));
    }
    close(descriptor);
    return parseParameterText(contents.data(), contents.size(), fileName, parameters, problem);
}

}  // namespace coatedmie
