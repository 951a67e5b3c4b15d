#include "parameter_file.h"

#include <algorithm>
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

// The grammar looks ahead of a value's first byte by at most the longest value
// text, then an "e", a sign and the digit that decides whether they belong to
// it; a longer value still measures longer than kLongestValueText.
constexpr std::size_t kLookAhead = kLongestValueText + 3;

constexpr int kNoByte = -1;

// The bytes arrive a chunk at a time into window, which holds the byte being
// looked at and those after it; the bytes already passed are dropped before
// the next read, so the window never holds more than kLookAhead plus a chunk.
struct Scanner {
    int descriptor;          // -1: the bytes come from memory
    const char* memory;
    std::size_t memoryLeft;
    std::size_t chunkSize;
    std::string window;
    std::size_t position;    // of the current byte in window
    bool atEnd;              // nothing more will be read
    bool endsAtMark;         // the data ends at a 0x1A byte, not at the file's end
    int readError;           // errno of a failed read, 0 when none
    long long line;          // 1-based line of position
};

bool isWhiteSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Appends up to a chunk of the file to the window; false when nothing came.
bool readChunk(Scanner& s) {
    if (s.atEnd) return false;
    const std::size_t start = s.window.size();
    s.window.resize(start + s.chunkSize);
    ssize_t got;
    if (s.descriptor < 0) {
        const std::size_t copied = std::min(s.chunkSize, s.memoryLeft);
        if (copied > 0) std::memcpy(&s.window[start], s.memory, copied);
        s.memory += copied;
        s.memoryLeft -= copied;
        got = static_cast<ssize_t>(copied);
    } else {
        do {
            got = read(s.descriptor, &s.window[start], s.chunkSize);
        } while (got < 0 && errno == EINTR);
        if (got < 0) s.readError = errno;
    }
    s.window.resize(start + static_cast<std::size_t>(got > 0 ? got : 0));
    s.atEnd = got <= 0;
    return got > 0;
}

void endDataAtMark(Scanner& s, std::size_t from) {
    const std::size_t mark = s.window.find(static_cast<char>(kEndOfDataMark), from);
    if (mark == std::string::npos) return;
    s.window.resize(mark);
    s.atEnd = s.endsAtMark = true;
}

// The byte `ahead` places after the current one; kNoByte past the end of the
// data or beyond the look-ahead.
int peek(Scanner& s, std::size_t ahead) {
    if (ahead >= kLookAhead) return kNoByte;
    while (s.position + ahead >= s.window.size()) {
        s.window.erase(0, s.position);
        s.position = 0;
        const std::size_t from = s.window.size();
        if (!readChunk(s)) return kNoByte;
        endDataAtMark(s, from);
    }
    return static_cast<unsigned char>(s.window[s.position + ahead]);
}

void skipWhiteSpace(Scanner& s) {
    for (int c; isWhiteSpace(c = peek(s, 0)); ++s.position) {
        if (c == '\n') ++s.line;
    }
}

std::size_t endOfDigits(Scanner& s, std::size_t at) {
    while (isDigit(peek(s, at))) ++at;
    return at;
}

std::size_t afterSign(Scanner& s, std::size_t at) {
    const int c = peek(s, at);
    return c == '+' || c == '-' ? at + 1 : at;
}

// Length of the real-number literal at the current byte, 0 when there is
// none. An "e" that is not followed by an exponent ends the literal before
// it, as in "2e" or "2e+".
std::size_t realLiteralLength(Scanner& s) {
    std::size_t at = afterSign(s, 0);
    const std::size_t integerEnd = endOfDigits(s, at);
    std::size_t digitCount = integerEnd - at;
    at = integerEnd;
    if (peek(s, at) == '.') {
        const std::size_t fractionEnd = endOfDigits(s, at + 1);
        digitCount += fractionEnd - (at + 1);
        at = fractionEnd;
    }
    if (digitCount == 0) return 0;
    const int e = peek(s, at);
    if (e == 'e' || e == 'E') {
        const std::size_t exponentDigits = afterSign(s, at + 1);
        const std::size_t exponentEnd = endOfDigits(s, exponentDigits);
        if (exponentEnd > exponentDigits) at = exponentEnd;
    }
    return at;
}

std::size_t countLiteralLength(Scanner& s) {
    const std::size_t digits = afterSign(s, 0);
    const std::size_t end = endOfDigits(s, digits);
    return end > digits ? end : 0;
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

// The next `length` bytes, which peek has brought into the window, quoted.
std::string quoteAhead(const Scanner& s, std::size_t length) {
    std::string found;
    appendQuoted(found, s.window.data() + s.position, std::min(length, kQuotedBytes), length > kQuotedBytes);
    return found;
}

// What stands where a value was due: the end of the data, or the quoted
// text up to the next white space.
std::string describeFound(Scanner& s) {
    if (peek(s, 0) == kNoByte) {
        return s.endsAtMark ? "the end of the data (a 0x1A byte)" : "the end of the file";
    }
    std::size_t length = 0;
    while (length <= kQuotedBytes && peek(s, length) != kNoByte && !isWhiteSpace(peek(s, length))) ++length;
    return quoteAhead(s, length);
}

std::string where(const char* fileName, long long line) {
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

bool checkValues(const RunParameters& p, const ValueText (&texts)[kValueCount],
                 const char* fileName, std::string& problem) {
    const double reals[kValueCount] = {p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re,
                                       p.index2Im, 0.0,      p.startAngle, p.endAngle};
    for (int slot = 0; slot < kValueCount; ++slot) {
        if (slot == kCountSlot || std::isfinite(reals[slot])) continue;
        // The grammar has no infinity or NaN: only a literal beyond the
        // largest double gets here, rounded to infinity.
        problem = where(fileName, texts[slot].line) + kValueNames[slot] +
                  " is too large for a double, found " + texts[slot].quoted;
        return false;
    }
    // The grid steps by (endAngle - startAngle) / (angleCount - 1); a span
    // beyond the double range would turn every angle into NaN.
    if (p.angleCount > 1 && !std::isfinite(p.endAngle - p.startAngle)) {
        problem = where(fileName, texts[kValueCount - 1].line) +
                  "startAngle and endAngle are too far apart, found " +
                  texts[kValueCount - 2].quoted + " and " + texts[kValueCount - 1].quoted;
        return false;
    }
    return true;
}

bool parseValues(Scanner& s, const char* fileName, RunParameters& parameters, std::string& problem) {
    // The encoding shows in the first four bytes, a 0x1A among them or not.
    while (s.window.size() < 4 && readChunk(s)) {
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.window.data());
    if (const char* encoding = wideEncodingName(bytes, s.window.size())) {
        problem = std::string(fileName) + " is " + encoding +
                  " text; save it as plain text (ASCII or UTF-8)";
        return false;
    }
    endDataAtMark(s, 0);
    if (peek(s, 0) == 0xEF && peek(s, 1) == 0xBB && peek(s, 2) == 0xBF) s.position = 3;

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
            if (peek(s, 0) == ',') problem += "; the decimal separator is \".\"";
            return false;
        }
        if (length > kLongestValueText) {
            problem = where(fileName, s.line) + kValueNames[slot] + " is longer than " +
                      std::to_string(kLongestValueText) + " characters, found " + quoteAhead(s, length);
            return false;
        }
        texts[slot] = ValueText{quoteAhead(s, length), s.line};
        if (slot == kCountSlot) {
            // The scan would read "181.0" as 181 and leave ".0" for startAngle.
            const std::size_t asReal = realLiteralLength(s);
            if (asReal > length) {
                problem = where(fileName, s.line) + kValueNames[slot] +
                          " must be a whole number, found " + quoteAhead(s, asReal);
                return false;
            }
        }
        const char* literal = s.window.data() + s.position;
        if (slot != kCountSlot) {
            *realSlots[slot] = convertRealLiteral(literal, length);
        } else if (!convertCountLiteral(literal, length, read.angleCount)) {
            problem = where(fileName, s.line) + kValueNames[slot] +
                      " is out of range (-2147483648 to 2147483647), found " + texts[slot].quoted;
            return false;
        }
        s.position += length;
    }

    if (!checkValues(read, texts, fileName, problem)) return false;
    for (int slot = 0; slot < kRealValueCount; ++slot) read.texts[slot] = texts[slot];
    parameters = read;
    return true;
}

// A read that failed is reported whatever the bytes before it held.
bool parseScanned(Scanner& s, const char* fileName, RunParameters& parameters, std::string& problem) {
    RunParameters read{};
    const bool accepted = parseValues(s, fileName, read, problem);
    if (s.readError != 0) {
        problem = std::string("cannot read ") + fileName + ": " + std::strerror(s.readError);
        return false;
    }
    if (accepted) parameters = read;
    return accepted;
}

}  // namespace

bool parseParameterText(const char* text, std::size_t size, const char* fileName,
                        RunParameters& parameters, std::string& problem, std::size_t chunkSize) {
    Scanner s{-1, text, size, chunkSize, {}, 0, false, false, 0, 1};
    return parseScanned(s, fileName, parameters, problem);
}

InputProblem checkRunParameters(const RunParameters& p, const char* fileName, std::string& problem) {
    const InputCheck check = checkLayers({p.Alpha1, {p.index1Re, p.index1Im}}, {p.Alpha2, {p.index2Re, p.index2Im}});
    if (check.problem == InputProblem::none || check.problem == InputProblem::beyondCapacity) return check.problem;
    static const LayerNames kLayerNames[2] = {{"Alpha1", "index1"}, {"Alpha2", "index2"}};
    std::string shown[kRealValueCount];
    for (int slot = 0; slot < kRealValueCount; ++slot) shown[slot] = p.texts[slot].quoted;
    // A rule on one value names its line; the product of two does not.
    const std::string location = check.problem == InputProblem::indexTimesSizeTooLarge
                                     ? std::string(fileName) + ": "
                                     : where(fileName, p.texts[check.value].line);
    problem = location + refusalText(check, kLayerNames, shown);
    return check.problem;
}

bool readParameterFile(const char* fileName, RunParameters& parameters, std::string& problem,
                       std::size_t chunkSize) {
    const int descriptor = open(fileName, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        problem = std::string("cannot open ") + fileName + ": " + std::strerror(errno);
        return false;
    }
    Scanner s{descriptor, nullptr, 0, chunkSize, {}, 0, false, false, 0, 1};
    const bool accepted = parseScanned(s, fileName, parameters, problem);
    close(descriptor);
    return accepted;
}

}  // namespace coatedmie
