// The adapter list, selection, the tracked controller states, chip names, the
// operational check with its firmware-file prompt, and the resets.
#include "adapters.h"

#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "fmx.h"
#include "messages.h"
#include "operations.h"

AdapterRecord* adapter_list;
AdapterRecord* selected_adapter;
AdapterStateEntry adapter_state_table[kAdapterTableSize];
HostBootEntry host_boot_attempts[kAdapterTableSize];

// The handle that library calls currently address.
static uint32_t active_adapter_handle;

void set_active_handle(uint32_t handle) { active_adapter_handle = handle; }
uint32_t active_handle() { return active_adapter_handle; }

// ---------------------------------------------------------------------------
// Adapter list

bool append_adapter(uint32_t handle, uint32_t index, uint16_t pci_device_id,
                    uint8_t hardware_revision) {
    auto* record = static_cast<AdapterRecord*>(allocate_for_run(sizeof(AdapterRecord)));
    if (record == nullptr) return false;
    *record = {handle, index, pci_device_id, hardware_revision, nullptr};
    AdapterRecord** tail = &adapter_list;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = record;
    return true;
}

AdapterRecord* find_adapter_by_index(uint32_t index) {
    for (AdapterRecord* record = adapter_list; record != nullptr; record = record->next) {
        if (record->index == index) return record;
    }
    return nullptr;
}

void forget_adapters() {
    adapter_list = nullptr;
    selected_adapter = nullptr;
}

namespace {

void select_record(AdapterRecord* record) {
    selected_adapter = record;
    set_active_handle(record->handle);
}

}  // namespace

// ---------------------------------------------------------------------------
// Chip names
//
// A revision within the chip's range is named "<chip>(<name>)<suffix>"; the two
// chips without an underscore variant carry three trailing blanks. Any other
// revision reads "<chip>(Rev <n>)", an unknown device ID the empty text.

namespace {

struct ChipRow {
    uint16_t pci_device_id;
    const char* chip;
    int named_revisions;  // revisions 0..named_revisions-1 have names
    const char* suffix;
};

const char* const kRevisionNames[] = {"A0", "B0", "B1", "B2", "B3", "B4"};

const ChipRow kChipTable[] = {
    {0x70, "KX410", 3, "   "},  {0x72, "KX420", 4, "   "},  {0x74, "KX510_1", 6, ""},
    {0x76, "KX510_2", 6, ""},   {0x77, "KX510_3", 6, ""},   {0x64, "KX520_1", 3, ""},
    {0x65, "KX520_2", 3, ""},   {0x80, "KX610_1", 4, ""},   {0x81, "KX610_2", 4, ""},
    {0x82, "KX610_3", 4, ""},   {0x83, "KX610_4", 4, ""},   {0x84, "KX610_5", 4, ""},
    {0x85, "KX610_6", 4, ""},   {0x86, "KX710_1", 4, ""},   {0x87, "KX710_2", 4, ""},
    {0x6E, "KX710_3", 4, ""},
};

}  // namespace

std::string chip_name_for(uint16_t pci_device_id, uint8_t hardware_revision) {
    for (const ChipRow& row : kChipTable) {
        if (row.pci_device_id != pci_device_id) continue;
        std::string name = row.chip;
        if (hardware_revision < row.named_revisions) {
            name += "(";
            name += kRevisionNames[hardware_revision];
            name += ")";
            name += row.suffix;
        } else {
            name += "(Rev " + std::to_string(hardware_revision) + ")";
        }
        return name;
    }
    return "";
}

std::string chip_name() {
    if (selected_adapter == nullptr) return "";
    return chip_name_for(selected_adapter->pci_device_id, selected_adapter->hardware_revision);
}

// ---------------------------------------------------------------------------
// Tracked states and host-boot counting

void clear_adapter_state_table() { memset(adapter_state_table, 0, sizeof adapter_state_table); }

void clear_host_boot_attempts() {
    for (HostBootEntry& entry : host_boot_attempts) entry = {0xFFFFFFFF, 0};
}

namespace {

// Handle 0 names no controller, so an empty (zeroed) entry never matches.
AdapterStateEntry* state_entry(uint32_t handle) {
    if (handle == 0) return nullptr;
    for (AdapterStateEntry& entry : adapter_state_table) {
        if (entry.handle == handle) return &entry;
    }
    return nullptr;
}

}  // namespace

uint32_t adapter_state(uint32_t handle) {
    const AdapterStateEntry* entry = state_entry(handle);
    return entry != nullptr ? entry->state : STATE_FAULT;
}

bool set_adapter_state(uint32_t handle, uint32_t state) {
    AdapterStateEntry* entry = state_entry(handle);
    if (entry == nullptr) return false;
    entry->state = state;
    return true;
}

// ---------------------------------------------------------------------------
// Operational check

namespace {

constexpr size_t kAnswerSize = 256;  // 255 characters and a NUL

// True when the selected controller is (now) tracked as OPERATIONAL.
bool mark_operational_if_running() {
    if (selected_adapter == nullptr) return false;
    uint32_t handle = selected_adapter->handle;
    uint32_t state = adapter_state(handle);
    switch (state & STATE_MASK) {
        case STATE_READY:
            return set_adapter_state(handle, STATE_OPERATIONAL);
        case STATE_OPERATIONAL:
            if (((state >> 24) & 0x7) == 5) return true;
            return set_adapter_state(handle, STATE_OPERATIONAL);
        default:
            return false;
    }
}

enum class Answer { LINE, END_OF_INPUT, TOO_LONG };

// One line of standard input, up to a line feed or carriage return (a line
// feed right after the carriage return goes with it). A longer line than the
// buffer holds is read to its end and refused rather than cut to another name.
Answer read_answer(char (&answer)[kAnswerSize]) {
    size_t length = 0;
    bool too_long = false;
    int c = fgetc(stdin);
    if (c == EOF) return Answer::END_OF_INPUT;
    for (; c != EOF && c != '\n' && c != '\r'; c = fgetc(stdin)) {
        if (length < kAnswerSize - 1) {
            answer[length++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    if (c == '\r') {
        int following = fgetc(stdin);
        if (following != '\n' && following != EOF) ungetc(following, stdin);
    }
    answer[length] = '\0';
    return too_long ? Answer::TOO_LONG : Answer::LINE;
}

// Asks for a firmware file and queues a flash of it as the next operation.
bool prompt_for_firmware() {
    Command* flash = new_command(CMD_FLASH_FIRMWARE);
    if (flash == nullptr) return false;
    emitf(OUTPUT_PROMPT,
          "\tController is not operational. A firmware download is required.\n"
          "Enter firmware file name or quit to exit: ");
    char answer[kAnswerSize];
    switch (read_answer(answer)) {
        case Answer::END_OF_INPUT:
            return false;  // as if the operator had answered "quit"
        case Answer::TOO_LONG:
            emitf(OUTPUT_ERROR, "\tERROR: File name is longer than %d characters.\n",
                  static_cast<int>(kAnswerSize - 1));
            return false;
        case Answer::LINE:
            break;
    }
    if (strcmp(answer, "quit") == 0) return false;
    if (!open_file_argument(flash, 1, answer, "rb")) return false;
    // Filed only now, so a refused answer leaves no flash behind to run.
    operation_slot = flash;
    return true;
}

}  // namespace

bool ensure_operational() {
    if (mark_operational_if_running()) return true;
    // A queued operation will deal with the controller itself.
    if (operation_slot != nullptr) return true;
    return prompt_for_firmware();
}

// ---------------------------------------------------------------------------
// Handlers: selection and reset of every adapter

bool select_adapter(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    *ioc_status = 0;
    *log_info = 0;
    if (current_command == nullptr) return false;
    // Only the low half is the index: "-c 0x00000005" asks for index 0.
    AdapterRecord* record = find_adapter_by_index(current_command->integers[0].low);
    if (record == nullptr) return false;
    select_record(record);
    emitf(OUTPUT_DETAIL, "\tChip status %08X:\n\n", adapter_state(record->handle));
    return ensure_operational();
}

bool reset_controller(uint32_t handle) {
    set_adapter_state(handle, STATE_READY);
    FmxHandle record{handle, handle, FMX_ADAPTER_HANDLE_KIND, 0};
    return fmx_reset_adapter(&record) == 0;
}

bool reset_all_adapters(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    *ioc_status = 0;
    *log_info = 0;
    for (AdapterRecord* record = adapter_list; record != nullptr; record = record->next) {
        select_record(record);
        emitf(OUTPUT_NORMAL, "\n\tAttempting to Reset adapter Norvane SAS %s at Index %d:\n\n",
              chip_name().c_str(), static_cast<int>(record->index));
        if (!reset_controller(record->handle)) {
            emitf(OUTPUT_NORMAL, "\t\tAdapter Reset Failed!\n\n");
            return false;
        }
        emitf(OUTPUT_NORMAL, "\t\tAdapter Successfully Reset.\n\n");
    }
    return true;
}
