// Start-up, enumeration, the fixed order in which queued commands run, and
// the end-of-run lines.
#include "command_execution.h"

#include "adapters.h"
#include "command_line.h"
#include "fmx.h"
#include "messages.h"

const OperationRow operation_table[] = {
    {CMD_SELECT_ADAPTER, select_adapter},
    {CMD_FLASH_FIRMWARE, flash_firmware_operation},
    {CMD_FLASH_FIRMWARE_ALL, flash_firmware_all},
    {CMD_FLASH_BOOT_IMAGE, flash_boot_image_operation},
    {CMD_FLASH_BOOT_IMAGE_ALL, flash_boot_image_all},
    {CMD_LIST_ADAPTERS, list_adapters},
    {CMD_HELP, print_help},
    {CMD_RESET_ADAPTER, reset_adapter_operation},
    {CMD_RESET_ALL, reset_all_adapters},
    {CMD_FORCE, set_force_mode},
    {0, nullptr},
};

const OperationRow* handler_table = operation_table;

namespace {

constexpr const char* kProgramName = "sasburn";
constexpr uint32_t kLibraryVersionRecordSize = 8;

}  // namespace

// ---------------------------------------------------------------------------
// Start-up

bool start_library() {
    free_file_table();
    clear_adapter_state_table();
    if (fmx_lib_init() != 0) return false;
    FmxLibVersion version{};
    version.size = kLibraryVersionRecordSize;
    return fmx_get_lib_version(&version) == 0;
}

// Records past the state table's end are still listed and selectable; their
// tracked state reads as FAULT, as for any handle not in the table.
bool enumerate_adapters() {
    for (uint32_t number = 0;; ++number) {
        uint32_t adapter_count = 0;
        if (fmx_discover_adapters(&adapter_count, FMX_DISCOVERY_FLAGS) != 0) break;
        FmxAdapterInfo info{};
        if (fmx_get_adapter_info(number, nullptr, &info) != 0) break;
        if (!append_adapter(info.handle, number, static_cast<uint16_t>(info.pci_device_id),
                            static_cast<uint8_t>(info.hardware_revision))) {
            break;
        }
        if (number < static_cast<uint32_t>(kAdapterTableSize)) {
            adapter_state_table[number] = {info.handle, STATE_OPERATIONAL};
        }
    }
    return adapter_list != nullptr;
}

bool run_front_end(int count, char** words, bool library_usable, bool adapters_found) {
    reset_parse_state();
    if (!library_usable) {
        emitf(OUTPUT_ERROR, "\tERROR: Failed to initialize PAL.  Exiting Program.\n");
        return false;
    }
    bool result = false;
    if (!adapters_found) {
        emitf(OUTPUT_ERROR, "\tNo QX RAID Adapters found! Limited Command Set Available!\n");
        limited_mode = true;
        result = parse_command_line(count, words);
    } else if (prepare_words(&count, &words)) {
        result = parse_command_line(count, words);
    }
    release_run_allocations();
    forget_adapters();
    reset_parse_state();
    return result;
}

// ---------------------------------------------------------------------------
// The command loop

namespace {

Command* take_head(Command** queue) {
    Command* command = *queue;
    if (command != nullptr) {
        *queue = command->next;
        command->next = nullptr;
    }
    return command;
}

// Operations and listings act on the selected adapter; without "-c" that is
// the adapter with index 0, chosen by a selection handed out first.
Command* automatic_selection() {
    return new_command(CMD_SELECT_ADAPTER);  // zeroed: integer argument 0
}

Command* take_next_command() {
    if (limited_mode) return take_head(&limited_queue);
    if (info_queue != nullptr) return take_head(&info_queue);
    if (adapter_choice_slot != nullptr) return take_head(&adapter_choice_slot);
    if (operation_slot == nullptr && listing_queue == nullptr) return nullptr;
    if (selected_adapter == nullptr) return automatic_selection();
    if (operation_slot != nullptr) return take_head(&operation_slot);
    return take_head(&listing_queue);
}

bool commands_left() {
    if (limited_mode) return limited_queue != nullptr;
    return info_queue != nullptr || adapter_choice_slot != nullptr || operation_slot != nullptr ||
           listing_queue != nullptr;
}

const OperationRow* find_operation(CommandCode code) {
    for (const OperationRow* row = handler_table; row->code != 0; ++row) {
        if (row->code == code) return row;
    }
    return nullptr;
}

bool is_firmware_flash(CommandCode code) {
    return code == CMD_FLASH_FIRMWARE || code == CMD_FLASH_FIRMWARE_ALL;
}

// A flash may leave the controller without running firmware; say so, and go on.
void check_operational_after_flash() {
    if (ensure_operational()) return;
    int index = selected_adapter != nullptr ? static_cast<int>(selected_adapter->index) : 0;
    emitf(OUTPUT_NORMAL, "\tController Number %d is not operational\n", index);
}

void print_end_of_run(bool result) {
    emitf(OUTPUT_NORMAL, "%s",
          result ? "\tFinished Processing Commands Successfully.\n" : "\tUnable to Process Commands.\n");
    emitf(OUTPUT_NORMAL, "\tExiting %s.\n\n", kProgramName);
}

}  // namespace

bool next_command() {
    current_command = take_next_command();
    return current_command != nullptr;
}

bool process_commands() {
    set_active_handle(0);
    bool result = true;
    bool any_run = false;
    CommandCode last_code = 0;
    while (next_command()) {
        if (any_run && is_firmware_flash(last_code)) check_operational_after_flash();
        CommandCode code = current_command->code;
        const OperationRow* row = find_operation(code);
        if (row == nullptr) {
            emitf(OUTPUT_NORMAL, "\tOperation not found: %08X.\n", code);
            result = false;
            continue;
        }
        uint16_t ioc_status = 0;
        uint32_t log_info = 0;
        uint32_t handle = selected_adapter != nullptr ? selected_adapter->handle : 0;
        result = row->handler(handle, &ioc_status, &log_info);
        any_run = true;
        last_code = code;
        if (!result) {
            emitf(OUTPUT_NORMAL, "\tDue to error remaining commands will not be executed.\n");
            break;
        }
        if (ioc_status != 0) {
            emitf(OUTPUT_NORMAL,
                  "\tDue to Exception Command not Executed. IOCStatus=0x%x, IOCLogInfo=0x%x\n",
                  ioc_status, log_info);
        }
    }
    // Commands still queued after a clean stop mean the automatic selection
    // could not be allocated; they never ran.
    if (result && commands_left()) {
        emitf(OUTPUT_ERROR, "\tERROR: Out of memory.\n");
        result = false;
    }
    print_end_of_run(result);
    set_active_handle(0);
    return result;
}
