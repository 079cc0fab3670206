// The hexadecimal and decimal readers of integer arguments ("-c" and any
// option with an integer argument), on any word.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "fuzz_support.h"

namespace {

bool all_of(const std::string& text, int (*accept)(int)) {
    for (const char c : text)
        if (!accept(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A command-line word ends at its NUL.
    const std::string word(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));

    CommandInteger value{0xA5A5A5A5, 0x5A5A5A5A};
    const bool hex_ok = parse_hex_value(word.c_str(), &value);
    // Plain hexadecimal words up to 8 digits read as the usual number, into
    // the low half only.
    if (!word.empty() && word.size() <= 8 && all_of(word, isxdigit)) {
        FUZZ_CHECK(hex_ok);
        FUZZ_CHECK(value.low == std::strtoul(word.c_str(), nullptr, 16));
        FUZZ_CHECK(value.high == 0xA5A5A5A5);
    }
    if (word.size() > 16) FUZZ_CHECK(!hex_ok);

    uint32_t decimal = 0x12345678;
    const bool decimal_ok = parse_decimal_value(word.c_str(), &decimal);
    FUZZ_CHECK(decimal_ok == (!word.empty() && all_of(word, isxdigit)));
    if (!word.empty() && word.size() <= 9 && all_of(word, isdigit)) {
        FUZZ_CHECK(decimal == std::strtoul(word.c_str(), nullptr, 10));
    }
    return 0;
}
