// An "@" response file: the word scanner, the start-up step that turns
// "sasburn @FILE" into the words to parse, and what the parse does first with
// each word (the command table lookup, and the hexadecimal and decimal readers
// for integer arguments).
#include <cstdint>
#include <cstring>
#include <string>

#include "command_line.h"
#include "fuzz_support.h"

namespace {

fuzz::MemoryFile* response_file;

bool is_separator(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '#';
}

void check_word(const char* word) {
    const size_t length = strnlen(word, kResponseWordSize);
    FUZZ_CHECK(length > 0 && length < kResponseWordSize);
    FUZZ_CHECK(!is_separator(word[0]));
    for (size_t i = 0; i < length; ++i)
        FUZZ_CHECK(word[i] != ' ' && word[i] != '\n' && word[i] != '\r');
    (void)find_command(word);
    CommandInteger integer{};
    (void)parse_hex_value(word, &integer);
    uint32_t decimal = 0;
    (void)parse_decimal_value(word, &decimal);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    response_file = new fuzz::MemoryFile("response");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    response_file->hold(data, size);

    if (read_response_file(response_file->path().c_str())) {
        FUZZ_CHECK(response_word_count >= 0 && response_word_count < kResponseSlots);
        for (int i = 1; i <= response_word_count; ++i) check_word(response_words[i]);
    }

    std::string program = "sasburn";
    std::string argument = "@" + response_file->path();
    char* argv[] = {program.data(), argument.data(), nullptr};
    int count = 2;
    char** words = argv;
    if (prepare_words(&count, &words)) {
        FUZZ_CHECK(count == response_word_count + 1);
        FUZZ_CHECK(words[count] == nullptr);
        for (int i = 1; i < count; ++i) check_word(words[i]);
    }
    return 0;
}
