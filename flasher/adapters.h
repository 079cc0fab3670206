// The front end's view of each controller, the one operations act on, and the
// tracked controller states.
#pragma once

#include <cstdint>
#include <string>

struct AdapterRecord {
    uint32_t handle;  // the library's handle value
    uint32_t index;   // position in adapter_list; printed by -listall, read by -c
    uint16_t pci_device_id;
    uint8_t hardware_revision;
    AdapterRecord* next;
};

extern AdapterRecord* adapter_list;
extern AdapterRecord* selected_adapter;

// Records the handle that library calls address (0 for none).
void set_active_handle(uint32_t handle);
uint32_t active_handle();

// Chip-and-revision text of selected_adapter ("" when the device ID is unknown).
std::string chip_name();
// The same text for any device ID and revision.
std::string chip_name_for(uint16_t pci_device_id, uint8_t hardware_revision);

// Appends a record (on the run's allocations) to adapter_list; false when
// memory runs out.
bool append_adapter(uint32_t handle, uint32_t index, uint16_t pci_device_id,
                    uint8_t hardware_revision);
AdapterRecord* find_adapter_by_index(uint32_t index);
// Drops adapter_list and selected_adapter once the run's allocations are released.
void forget_adapters();

// Tracked controller states: top nibble of the state word.
inline constexpr uint32_t STATE_RESET = 0x00000000;
inline constexpr uint32_t STATE_READY = 0x10000000;
inline constexpr uint32_t STATE_OPERATIONAL = 0x20000000;
inline constexpr uint32_t STATE_FAULT = 0x40000000;
inline constexpr uint32_t STATE_MASK = 0xF0000000;
inline constexpr int kAdapterTableSize = 128;

struct AdapterStateEntry {
    uint32_t handle;
    uint32_t state;
};
extern AdapterStateEntry adapter_state_table[kAdapterTableSize];
void clear_adapter_state_table();

// The tracked state of a handle; STATE_FAULT for a handle not in the table.
uint32_t adapter_state(uint32_t handle);
// Stores a state for a handle in the table; false when the handle is not there.
bool set_adapter_state(uint32_t handle, uint32_t state);

bool ensure_operational();
bool reset_controller(uint32_t handle);

struct HostBootEntry {
    uint32_t handle;  // 0xFFFFFFFF when free
    uint32_t attempts;
};
extern HostBootEntry host_boot_attempts[kAdapterTableSize];
// Every entry free (handle 0xFFFFFFFF) with 0 attempts.
void clear_host_boot_attempts();
