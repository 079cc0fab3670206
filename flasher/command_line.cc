// Command table, usage texts, file table and the scan of the command line.
#include "command_line.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "adapters.h"
#include "command_execution.h"
#include "messages.h"
#include "operations.h"

// ---------------------------------------------------------------------------
// Tables

// Searched in this order with an exact, case-sensitive comparison. 0x91: one
// argument, a file read in binary mode; 0x01: one hexadecimal integer.
const CommandDef command_table[kCommandTableRows] = {
    {CMD_FLASH_FIRMWARE, 0x91, "-f"},
    {CMD_FLASH_BOOT_IMAGE, 0x91, "-b"},
    {CMD_SELECT_ADAPTER, 0x01, "-c"},
    {CMD_FLASH_FIRMWARE_ALL, 0x91, "-fwall"},
    {CMD_FLASH_BOOT_IMAGE_ALL, 0x91, "-biosall"},
    {CMD_HELP, 0, "-?"},
    {CMD_HELP, 0, "-h"},
    {CMD_HELP, 0, "-help"},
    {CMD_LIST_ADAPTERS, 0, "-listall"},
    {CMD_RESET_ADAPTER, 0, "-reset"},
    {CMD_RESET_ALL, 0, "-resetall"},
    {CMD_FORCE, 0, "-force"},
    {0, 0, "INVALID"},
};

// Help prints these in this order; help itself has no row.
const UsageRow usage_table[] = {
    {CMD_LIST_ADAPTERS, "\t-listall    :   List information on all adapters found\n"},
    {CMD_SELECT_ADAPTER,
     "\t-c x        :   Choose adapter by index\n"
     "\t                x = index of the adapter to choose\n"},
    {CMD_FLASH_FIRMWARE,
     "\t-f x        :   Flash firmware image\n"
     "\t                x = the firmware file to flash\n"},
    {CMD_FLASH_FIRMWARE_ALL,
     "\t-fwall x    :   Flash firmware image to all adapters\n"
     "\t                x = the firmware file to flash\n"},
    {CMD_FLASH_BOOT_IMAGE,
     "\t-b x        :   Flash BIOS image\n"
     "\t                x = the BIOS image to flash\n"},
    {CMD_FLASH_BOOT_IMAGE_ALL,
     "\t-biosall x  :   Flash BIOS image to all adapters\n"
     "\t                x = the bios image to flash\n"},
    {CMD_RESET_ADAPTER, "\t-reset      :   Reset selected adapter\n"},
    {CMD_RESET_ALL, "\t-resetall   :   Reset all adapters\n"},
    {CMD_FORCE, "\t-force      :   Set force mode to enable firmware downgrade\n"},
    {0, ""},
};

const char* usage_text(CommandCode code) {
    for (const UsageRow* row = usage_table; row->code != 0; ++row) {
        if (row->code == code) return row->text;
    }
    return "";
}

CommandCode find_command(const char* word) {
    for (const CommandDef& row : command_table) {
        if (row.code == 0) break;
        if (strcmp(row.name, word) == 0) return row.code;
    }
    return 0;
}

const CommandDef* command_def(CommandCode code) {
    for (const CommandDef& row : command_table) {
        if (row.code == 0) break;
        if (row.code == code) return &row;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Process-wide front-end state

Command* current_command;
bool force_mode;

ParseState parse_state;
Command* info_queue;
Command* adapter_choice_slot;
Command* operation_slot;
Command* listing_queue;
Command* limited_queue;
bool limited_mode;

char response_words[kResponseSlots][kResponseWordSize];
int response_word_count;
// The vector handed to the scan in place of the program's own words.
static char* response_vector[kResponseSlots + 1];

FileTableEntry file_table[kFileTableSize];
static std::vector<void*> run_allocations;

namespace {

constexpr const char* kProgramPlaceholder = "sasburn";
constexpr const char* kNotice = "Copyright (c) 2008-2012 Norvane Corporation. All rights reserved.";

// Copies at most capacity-1 characters and always terminates the copy.
void copy_text(char* destination, size_t capacity, const char* source) {
    size_t length = strnlen(source, capacity - 1);
    memcpy(destination, source, length);
    destination[length] = '\0';
}

}  // namespace

void reset_parse_state() {
    parse_state.count = 0;
    parse_state.words = nullptr;
    parse_state.next_word = 1;
    parse_state.token[0] = '\0';
    info_queue = nullptr;
    adapter_choice_slot = nullptr;
    operation_slot = nullptr;
    listing_queue = nullptr;
    limited_queue = nullptr;
    limited_mode = false;
    current_command = nullptr;
    force_mode = false;
    handler_table = operation_table;
}

// ---------------------------------------------------------------------------
// Allocation list and file table

void* allocate_for_run(size_t size) {
    void* block = calloc(1, size);
    if (block == nullptr) return nullptr;
    try {
        run_allocations.push_back(block);
    } catch (const std::bad_alloc&) {
        free(block);
        return nullptr;
    }
    return block;
}

void release_run_allocations() {
    for (void* block : run_allocations) free(block);
    run_allocations.clear();
}

void free_file_table() {
    for (int i = 0; i < kFileTableSize; ++i) file_table[i] = {i + 1, nullptr};
}

int open_table_file(const char* path, const char* mode, uint32_t* size) {
    for (int i = 0; i < kFileTableSize; ++i) {
        if (file_table[i].stream != nullptr) continue;
        FILE* stream = fopen(path, mode);
        if (stream == nullptr) return -1;
        struct stat status {};
        if (stat(path, &status) != 0 || status.st_size < 0 ||
            static_cast<uint64_t>(status.st_size) > UINT32_MAX) {
            fclose(stream);
            return -1;
        }
        file_table[i] = {i + 1, stream};
        *size = static_cast<uint32_t>(status.st_size);
        return i + 1;
    }
    return -1;
}

FILE* table_file_stream(int id) {
    if (id < 1 || id > kFileTableSize) return nullptr;
    return file_table[id - 1].stream;
}

// ---------------------------------------------------------------------------
// Commands and their queues

Command* new_command(CommandCode code) {
    auto* command = static_cast<Command*>(allocate_for_run(sizeof(Command)));
    if (command != nullptr) command->code = code;
    return command;
}

namespace {

bool queue_holds(const Command* queue, CommandCode code) {
    for (; queue != nullptr; queue = queue->next) {
        if (queue->code == code) return true;
    }
    return false;
}

int append_unless_queued(Command** queue, Command* command) {
    if (queue_holds(*queue, command->code)) return CREATE_DUPLICATE;
    Command** tail = queue;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = command;
    return CREATE_OK;
}

int fill_slot(Command** slot, Command* command, int taken_result) {
    if (*slot != nullptr) return taken_result;
    *slot = command;
    return CREATE_OK;
}

int file_in_limited_mode(Command* command) {
    if (command->code != CMD_HELP) {
        emitf(OUTPUT_ERROR, "\tERROR: Command Not allowed without an adapter!\n");
        return CREATE_FAILED;
    }
    return append_unless_queued(&limited_queue, command);
}

}  // namespace

int create_command(CommandCode code) {
    Command* command = new_command(code);
    if (command == nullptr) return CREATE_FAILED;
    current_command = command;
    if (limited_mode) return file_in_limited_mode(command);
    switch (command_category(code)) {
        case CATEGORY_INFO:
            return append_unless_queued(&info_queue, command);
        case CATEGORY_ADAPTER_CHOICE:
            return fill_slot(&adapter_choice_slot, command, CREATE_CHOICE_TAKEN);
        case CATEGORY_OPERATION:
            return fill_slot(&operation_slot, command, CREATE_DUPLICATE);
        case CATEGORY_LISTING:
            return append_unless_queued(&listing_queue, command);
        default:
            return CREATE_OK;  // accepted, filed nowhere, never runs
    }
}

// ---------------------------------------------------------------------------
// Arguments

namespace {

constexpr size_t kHexWordMax = 16;
constexpr size_t kHexHalfDigits = 8;

bool is_hex_digit(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }

uint32_t hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    return static_cast<uint32_t>(tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

// The value of `count` hexadecimal digits; at most 8 are ever passed.
uint32_t hex_run(const char* digits, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 4) | hex_digit_value(digits[i]);
    return value;
}

bool all_hex_digits(const char* digits, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!is_hex_digit(digits[i])) return false;
    }
    return true;
}

bool has_hex_prefix(const char* word) { return word[0] == '0' && (word[1] == 'x' || word[1] == 'X'); }

bool report_not_a_number(const char* word) {
    emitf(OUTPUT_ERROR, "\tERROR: String %s is not a valid number\n", word);
    return false;
}

}  // namespace

// The length limits count the whole word, prefix included. Up to 8 characters
// the digits form the low half and the high half is left as it is. From 9 to 16
// characters the first (up to) 8 digits after the prefix form the high half and
// the rest the low half, each right-aligned: so "0x00000005" is high 5, low 0,
// and only a prefix-less 16-digit word splits like a plain 64-bit number.
bool parse_hex_value(const char* word, CommandInteger* value) {
    size_t length = strnlen(word, kHexWordMax + 1);
    if (length == 0) {
        *value = {0, 0};
        return true;
    }
    if (length > kHexWordMax) return report_not_a_number(word);
    const char* digits = has_hex_prefix(word) ? word + 2 : word;
    size_t digit_count = length - static_cast<size_t>(digits - word);
    if (!all_hex_digits(digits, digit_count)) return report_not_a_number(word);
    if (length <= kHexHalfDigits) {
        value->low = hex_run(digits, digit_count);
        return true;
    }
    size_t high_digits = digit_count < kHexHalfDigits ? digit_count : kHexHalfDigits;
    value->high = hex_run(digits, high_digits);
    value->low = hex_run(digits + high_digits, digit_count - high_digits);
    return true;
}

// Accepts every hexadecimal digit but weighs it in tens, so "a" counts 10.
// Arithmetic wraps at 32 bits.
bool parse_decimal_value(const char* word, uint32_t* value) {
    if (word[0] == '\0') return false;
    uint32_t result = 0;
    size_t i = 0;
    for (; is_hex_digit(word[i]); ++i) result = result * 10 + hex_digit_value(word[i]);
    if (word[i] != '\0') return false;
    *value = result;
    return true;
}

namespace {

void report_insufficient_arguments() {
    emitf(OUTPUT_ERROR, "\tERROR: Insufficient arguments specified\n");
}

bool parse_integer_argument(int position, uint32_t kind) {
    if (!next_token()) {
        report_insufficient_arguments();
        return false;
    }
    CommandInteger& integer = current_command->integers[position - 1];
    bool valid = (kind & ARG_DECIMAL) != 0 ? parse_decimal_value(parse_state.token, &integer.low)
                                           : parse_hex_value(parse_state.token, &integer);
    if (!valid) {
        emitf(OUTPUT_ERROR, "\tERROR: Input string is not a valid integer: %s\n", parse_state.token);
    }
    return valid;
}

bool parse_file_argument(int position, uint32_t kind) {
    char mode[3] = {(kind & ARG_FILE_WRITE) != 0 ? 'w' : 'r', '\0', '\0'};
    if ((kind & ARG_BINARY) != 0) mode[1] = 'b';
    if (!next_token()) {
        report_insufficient_arguments();
        return false;
    }
    return open_file_argument(current_command, position, parse_state.token, mode);
}

bool parse_text_argument() {
    if (!next_token()) {
        report_insufficient_arguments();
        return false;
    }
    copy_text(current_command->text, kCommandTextSize, parse_state.token);
    return true;
}

bool parse_one_argument(int position, uint32_t kind) {
    // Integer and file arguments have a slot per position; an ArgSpec naming more
    // positions than there are slots cannot be satisfied.
    bool has_slot = position <= kCommandSlots;
    switch (kind & ARG_KIND_MASK) {
        case ARG_INTEGER:
            return has_slot && parse_integer_argument(position, kind);
        case ARG_FILE:
            return has_slot && parse_file_argument(position, kind);
        case ARG_TEXT:
            return parse_text_argument();
        default:
            return false;  // invalid kind: fails without a message
    }
}

bool read_whole_stream(FILE* stream, uint8_t* buffer, uint32_t size) {
    if (fseek(stream, 0, SEEK_SET) != 0) return false;
    return fread(buffer, 1, size, stream) == size;
}

}  // namespace

bool parse_arguments(ArgSpec spec) {
    if (current_command == nullptr) return false;
    // Seven argument nibbles fit above the count nibble.
    constexpr int kMaxPositions = 7;
    int count = static_cast<int>(spec & 0xF);
    for (int position = 1; position <= count; ++position) {
        if (position > kMaxPositions) return false;
        uint32_t kind = (spec >> (4 * position)) & 0xF;
        if (!parse_one_argument(position, kind)) return false;
    }
    return true;
}

bool open_file_argument(Command* command, int slot, const char* path, const char* mode) {
    if (slot < 1 || slot > kCommandSlots) return false;
    CommandFile& file = command->files[slot - 1];
    uint32_t size = 0;
    int id = open_table_file(path, mode, &size);
    if (id < 0) {
        emitf(OUTPUT_ERROR, "\tERROR: Could not open file: %s:\n", path);
        return false;
    }
    file.id = id;
    file.size = size;
    // Slot 3 is only opened; files opened for writing have nothing to read.
    if (slot > 2 || mode[0] != 'r') return true;
    // One byte more keeps an empty file's buffer a real allocation.
    auto* contents = static_cast<uint8_t*>(allocate_for_run(static_cast<size_t>(size) + 1));
    if (contents == nullptr) return false;
    if (!read_whole_stream(table_file_stream(id), contents, size)) return false;
    file.contents = contents;
    return true;
}

// ---------------------------------------------------------------------------
// Response files
//
// The whole file is read and NUL-terminated. A word starts after any run of
// tab, line feed, carriage return, space and '#', and runs up to the next NUL,
// line feed, carriage return or space; a tab inside a word is kept, and '#' is
// skipped only where a word would start, so it does not begin a comment. An
// empty word ends the scan.

namespace {

bool separates_words(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '#'; }
bool ends_word(char c) { return c == '\0' || c == '\n' || c == '\r' || c == ' '; }

struct FileCloser {
    void operator()(FILE* stream) const { fclose(stream); }
};

// The file's contents, read to its end, and a terminating NUL; false (with a
// message) when the file cannot be opened or read whole.
bool load_response_file(const char* path, std::vector<char>* contents) {
    std::unique_ptr<FILE, FileCloser> stream(fopen(path, "rb"));
    if (!stream) {
        emitf(OUTPUT_ERROR, "ERROR: Could not open file %s\n", path);
        return false;
    }
    try {
        char chunk[4096];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, stream.get())) > 0) {
            contents->insert(contents->end(), chunk, chunk + got);
        }
        contents->push_back('\0');
    } catch (const std::bad_alloc&) {
        contents->clear();
    }
    if (ferror(stream.get()) || contents->empty()) {
        emitf(OUTPUT_ERROR, "ERROR: Could not read file %s\n", path);
        return false;
    }
    return true;
}

}  // namespace

bool read_response_file(const char* path) {
    response_word_count = 0;
    std::vector<char> contents;
    if (!load_response_file(path, &contents)) return false;
    const char* cursor = contents.data();
    const char* const end = cursor + contents.size() - 1;  // at the terminating NUL
    while (true) {
        while (cursor < end && separates_words(*cursor)) ++cursor;
        size_t length = 0;
        while (cursor + length < end && !ends_word(cursor[length])) ++length;
        if (length == 0) break;
        if (response_word_count == kResponseSlots - 1) {
            emitf(OUTPUT_ERROR, "\tERROR: Response file %s holds more than %d words.\n", path,
                  kResponseSlots - 1);
            return false;
        }
        if (length >= kResponseWordSize) {
            emitf(OUTPUT_ERROR,
                  "\tERROR: Response file %s holds a word longer than %d characters.\n", path,
                  static_cast<int>(kResponseWordSize - 1));
            return false;
        }
        ++response_word_count;
        memcpy(response_words[response_word_count], cursor, length);
        response_words[response_word_count][length] = '\0';
        cursor += length;
    }
    return true;
}

bool prepare_words(int* count, char*** words) {
    if (*count <= 1) return false;
    if (*count != 2) return true;
    const char* word = (*words)[1];
    if (strncmp(word, "-o", 2) == 0) return false;
    if (word[0] != '@') return true;
    const char* path = word + 1;
    if (strnlen(path, kResponsePathMax + 1) > kResponsePathMax) {
        emitf(OUTPUT_ERROR, "\tERROR: Response file name is longer than %d characters.\n",
              static_cast<int>(kResponsePathMax));
        return false;
    }
    if (!read_response_file(path)) return false;
    copy_text(response_words[0], kResponseWordSize, kProgramPlaceholder);
    for (int i = 0; i <= response_word_count; ++i) response_vector[i] = response_words[i];
    response_vector[response_word_count + 1] = nullptr;
    *count = response_word_count + 1;
    *words = response_vector;
    return true;
}

// ---------------------------------------------------------------------------
// The scan

bool next_token() {
    if (parse_state.next_word >= parse_state.count) return false;
    const char* word = parse_state.words[parse_state.next_word++];
    copy_text(parse_state.token, kTokenSize, word != nullptr ? word : "");
    return true;
}

namespace {

// A word that does not fit the token buffer is refused before anything is
// scanned, so no command is cut to a different meaning.
bool words_fit_token_buffer(int count, char** words) {
    for (int i = 1; i < count; ++i) {
        if (words[i] != nullptr && strnlen(words[i], kTokenSize) == kTokenSize) {
            emitf(OUTPUT_ERROR, "\tERROR: Argument %d is longer than %d characters.\n", i,
                  static_cast<int>(kTokenSize - 1));
            return false;
        }
    }
    return true;
}

void report_create_failure(int result, const char* option) {
    switch (result) {
        case CREATE_DUPLICATE:
            emitf(OUTPUT_ERROR,
                  "\tERROR: Couldn't Create Command %s:\n\tDuplicate commands are not allowed.\n",
                  option);
            break;
        case CREATE_CHOICE_TAKEN:
            emitf(OUTPUT_ERROR,
                  "\tERROR: Couldn't Create Command %s:\n\tOnly one adapter choice allowed.\n",
                  option);
            break;
        default:
            emitf(OUTPUT_ERROR, "\tERROR: Couldn't Create Command %s\n", option);
            break;
    }
}

void report_syntax_error(CommandCode code) {
    emitf(OUTPUT_ERROR, "\tSyntax Error see Command Usage below:\n\n");
    emitf(OUTPUT_ERROR, "%s\n", usage_text(code));
}

// Takes the option in the token buffer and its arguments; prints the error.
bool scan_option() {
    CommandCode code = find_command(parse_state.token);
    if (code == 0) {
        emitf(OUTPUT_ERROR, "\tERROR:  Invalid command %s\n\n", parse_state.token);
        return false;
    }
    int created = create_command(code);
    if (created != CREATE_OK) {
        report_create_failure(created, parse_state.token);
        return false;
    }
    const CommandDef* def = command_def(code);
    if (!parse_arguments(def->spec)) {
        report_syntax_error(code);
        return false;
    }
    return true;
}

}  // namespace

bool parse_command_line(int count, char** words) {
    parse_state.count = count;
    parse_state.words = words;
    parse_state.next_word = 1;
    if (!words_fit_token_buffer(count, words)) {
        emitf(OUTPUT_ERROR, "\tExiting Program.\n");
        return false;
    }
    while (next_token()) {
        if (!scan_option()) {
            emitf(OUTPUT_ERROR, "\tExiting Program.\n");
            return false;
        }
    }
    return process_commands();
}

// ---------------------------------------------------------------------------
// Banner and the front end's own handlers

void print_banner() {
    emitf(OUTPUT_NORMAL, "Qexton SAS2 RAID Mode Flash Utility\n");
    emitf(OUTPUT_NORMAL, "Version %s (%s) \n", "0.06.00.00", "2012.08.30");
    emitf(OUTPUT_NORMAL, "%s\n", kNotice);
    emitf(OUTPUT_NORMAL, "\n");
}

bool print_help(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    for (const UsageRow* row = usage_table; row->code != 0; ++row) {
        emitf(OUTPUT_NORMAL, "%s", row->text);
    }
    emitf(OUTPUT_NORMAL, "\n");
    *ioc_status = 0;
    *log_info = 0;
    return true;
}

bool set_force_mode(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    force_mode = true;
    *ioc_status = 0;
    *log_info = 0;
    return true;
}
