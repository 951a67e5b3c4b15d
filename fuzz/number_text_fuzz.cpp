// libFuzzer target for the number text: every 8 bytes of the input are the
// bits of one double, and the whole input, read as decimal text, is one more
// value (so the fuzzer can reach decimal ties such as 0.1234565). Both forms
// of each value must fit the buffer and equal the slow exact method's text.
#include "number_text.h"

#include "exact_oracle.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(double value) {
    char buffer[coatedmie::kMaxNumberText + 1];
    buffer[coatedmie::kMaxNumberText] = '\x7F';
    const oracle::Texts expected = oracle::texts(value);
    const std::size_t fixedLength = coatedmie::formatFixed(value, buffer);
    const bool fixedOk = fixedLength <= coatedmie::kMaxNumberText &&
                         expected.fixed == std::string(buffer, fixedLength);
    const std::size_t exponentLength = coatedmie::formatExponent(value, buffer);
    const bool exponentOk = exponentLength <= coatedmie::kMaxNumberText &&
                            expected.exponent == std::string(buffer, exponentLength);
    if (!fixedOk || !exponentOk || buffer[coatedmie::kMaxNumberText] != '\x7F') {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        std::fprintf(stderr, "number text differs for bits 0x%016llX (%.17g)\n",
                     static_cast<unsigned long long>(bits), value);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t offset = 0; offset + 8 <= size; offset += 8) {
        double value;
        std::memcpy(&value, data + offset, sizeof value);
        check(value);
    }
    const std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    check(std::strtod(text.c_str(), nullptr));
    return 0;
}
