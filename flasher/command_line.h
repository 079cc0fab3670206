// The command table, the usage texts and the scan of the command line (or of
// an "@" response file) into queued commands.
//
// Every accepted option becomes one Command. Its category (the top byte of the
// code) decides where it is filed:
//   1 informational -> info_queue            (a list; a repeated code is a duplicate)
//   2 adapter choice -> adapter_choice_slot  (one at most: "-c" and "-force" share it)
//   3 adapter operation -> operation_slot    (one at most, of any kind)
//   6 listing -> listing_queue               (a list; a repeated code is a duplicate)
// In limited mode (no controller found) only help is accepted, into limited_queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "commands.h"

// ArgSpec: bits 0-3 give the number n of arguments; for argument i (1..n) the
// nibble at bits 4i..4i+3 gives its kind (bits 0-1) and two modifiers.
using ArgSpec = uint32_t;
inline constexpr uint32_t ARG_KIND_MASK = 0x3;
inline constexpr uint32_t ARG_INTEGER = 0;
inline constexpr uint32_t ARG_FILE = 1;
inline constexpr uint32_t ARG_TEXT = 2;
inline constexpr uint32_t ARG_INVALID = 3;
inline constexpr uint32_t ARG_FILE_WRITE = 0x4;  // file opened "w" instead of "r"
inline constexpr uint32_t ARG_BINARY = 0x8;      // file: "b" appended to the mode
inline constexpr uint32_t ARG_DECIMAL = 0x8;     // integer: decimal instead of hexadecimal

inline constexpr CommandCode command_category(CommandCode code) { return code >> 24; }
inline constexpr CommandCode CATEGORY_INFO = 1;
inline constexpr CommandCode CATEGORY_ADAPTER_CHOICE = 2;
inline constexpr CommandCode CATEGORY_OPERATION = 3;
inline constexpr CommandCode CATEGORY_LISTING = 6;

inline constexpr size_t kCommandNameSize = 20;
struct CommandDef {
    CommandCode code;
    ArgSpec spec;
    char name[kCommandNameSize];
};
inline constexpr int kCommandTableRows = 13;
extern const CommandDef command_table[kCommandTableRows];

struct UsageRow {
    CommandCode code;
    const char* text;
};
extern const UsageRow usage_table[];
// The usage text of a command; "" for a code without a row (help).
const char* usage_text(CommandCode code);

// Open files of the run, named by id 1..64. An entry is free when its stream is null.
inline constexpr int kFileTableSize = 64;
struct FileTableEntry {
    int id;
    FILE* stream;
};
extern FileTableEntry file_table[kFileTableSize];
void free_file_table();
// Opens a path into the first free entry; its size comes from the file system.
// Returns the id, or -1 when no entry is free, the open fails or the size
// cannot be learnt (or does not fit 32 bits).
int open_table_file(const char* path, const char* mode, uint32_t* size);
FILE* table_file_stream(int id);

// Every block the front end allocates in a run is recorded here and released
// together at the end of the run.
void* allocate_for_run(size_t size);  // zeroed; null when memory runs out
void release_run_allocations();

// The words being scanned. The token buffer holds the word being processed.
inline constexpr size_t kTokenSize = 512;
struct ParseState {
    int count;
    char** words;
    int next_word;
    char token[kTokenSize];
};
extern ParseState parse_state;

extern Command* info_queue;
extern Command* adapter_choice_slot;
extern Command* operation_slot;
extern Command* listing_queue;
extern Command* limited_queue;
extern bool limited_mode;

// Response-file words: slot 0 is a placeholder program name, slots 1..n the words.
inline constexpr int kResponseSlots = 50;  // the placeholder and 49 words
inline constexpr size_t kResponseWordSize = 256;
inline constexpr size_t kResponsePathMax = 255;
extern char response_words[kResponseSlots][kResponseWordSize];
extern int response_word_count;

// Starts a fresh parse: empty queues, limited mode off, force_mode false, the
// operation table as the table of handlers, the next word at 1.
void reset_parse_state();

// Turns the program's own words into the words to scan: none -> false (no
// output); a single "-o..." -> false; a single "@file" -> the response file's
// words behind a placeholder word 0 (false, with its message, when the file
// cannot be used). Otherwise the words stay as given.
bool prepare_words(int* count, char*** words);

// 0 when no row matches, or the word matches the "INVALID" end row.
CommandCode find_command(const char* word);
const CommandDef* command_def(CommandCode code);

enum CreateResult : int {
    CREATE_OK = 0,
    CREATE_FAILED = 1,          // no memory, or not allowed without a controller
    CREATE_DUPLICATE = 2,
    CREATE_CHOICE_TAKEN = 3,    // adapter choice already given
};
// Allocates a command, makes it current_command and files it by category.
int create_command(CommandCode code);
// Allocates a zeroed command with the code without filing it (null: no memory).
Command* new_command(CommandCode code);

// Reads the arguments of current_command as the ArgSpec describes them.
bool parse_arguments(ArgSpec spec);
// Opens a file argument into file slot `slot` (1..3) of a command; slots 1 and
// 2 opened for reading also receive the whole contents.
bool open_file_argument(Command* command, int slot, const char* path, const char* mode);

// Hexadecimal words of up to 16 characters; see command_line.cc for the split
// of a word into the high and low halves.
bool parse_hex_value(const char* word, CommandInteger* value);
bool parse_decimal_value(const char* word, uint32_t* value);

// Fills response_words 1..n from a file; prints its own error message.
bool read_response_file(const char* path);
// Copies the next word into the token buffer; false when the words are used up.
bool next_token();
// Scans words[1..count-1] into the queues, then runs process_commands.
bool parse_command_line(int count, char** words);

void print_banner();
