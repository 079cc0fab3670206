// Queued command-line commands and the process-wide flags they set.
#pragma once

#include <cstdint>

using CommandCode = uint32_t;

inline constexpr CommandCode CMD_SELECT_ADAPTER = 0x02000001;
inline constexpr CommandCode CMD_FLASH_FIRMWARE = 0x03000002;
inline constexpr CommandCode CMD_FLASH_FIRMWARE_ALL = 0x03000003;
inline constexpr CommandCode CMD_FLASH_BOOT_IMAGE = 0x03000004;
inline constexpr CommandCode CMD_FLASH_BOOT_IMAGE_ALL = 0x03000005;
inline constexpr CommandCode CMD_LIST_ADAPTERS = 0x06000006;
inline constexpr CommandCode CMD_RESET_ADAPTER = 0x03000007;
inline constexpr CommandCode CMD_RESET_ALL = 0x03000008;
inline constexpr CommandCode CMD_FORCE = 0x02000009;
inline constexpr CommandCode CMD_HELP = 0x0100000A;

// One file argument: opened (and for slots 1 and 2 opened for reading, read
// whole) while the command line is scanned.
struct CommandFile {
    int id;             // file_table id; 0 or -1 when empty
    uint32_t size;      // bytes
    uint8_t* contents;  // the whole file, or null
};

struct CommandInteger {
    uint32_t high;
    uint32_t low;
};

inline constexpr int kCommandSlots = 3;
inline constexpr int kCommandTextSize = 52;  // 51 characters and a NUL

struct Command {
    CommandCode code;
    CommandFile files[kCommandSlots];         // argument positions 1..3 at [0..2]
    CommandInteger integers[kCommandSlots];   // argument positions 1..3 at [0..2]
    char text[kCommandTextSize];
    Command* next;
};

// The command just created or taken from its queue; adapter operations take
// their image file from its file slot 1 (files[0]).
extern Command* current_command;

// Set by "-force": permits an NVDATA downgrade.
extern bool force_mode;
