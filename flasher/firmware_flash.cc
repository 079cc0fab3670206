// Firmware flash ("-f", "-fwall") and controller reset ("-reset").
//
// A flash runs: validate -> (host boot -> keep manufacturing page 2 -> reset ->
// host boot again) -> erase persistent pages after a forced NVDATA downgrade ->
// download -> verify. Each step can end the flash with false; nothing is
// rolled back, and the flash never resets the controller after the download.
#include "firmware_flash.h"

#include <cstring>
#include <exception>
#include <vector>

#include "commands.h"
#include "fmx.h"
#include "firmware_validation.h"
#include "message_frames.h"
#include "messages.h"
#include "operations.h"
#include "request_wrappers.h"

namespace {

constexpr uint8_t kMfgPage2Number = 2;

// What one flash has learnt so far.
struct FlashProgress {
    uint32_t handle = 0;
    uint32_t state = 0;  // the adapter state last read
    bool force_downgraded = false;
    bool mfg_page2_updated = false;
    bool host_booted = false;
};

uint32_t top_state(uint32_t state) { return state & STATE_MASK; }

bool needs_host_boot(uint32_t state) {
    return top_state(state) == STATE_RESET || top_state(state) == STATE_FAULT;
}

const char* state_name(uint32_t state) {
    return top_state(state) == STATE_RESET ? "RESET" : "FAULT";
}

HostBootEntry* host_boot_entry(uint32_t handle) {
    for (auto& entry : host_boot_attempts)
        if (entry.handle == handle) return &entry;
    return nullptr;
}

// The first host boot of a flash, for a controller found in RESET or FAULT
// state. False ends the flash.
bool first_host_boot(FlashProgress& flash, const uint8_t* image, uint32_t size,
                     uint16_t* ioc_status, uint32_t* log_info) {
    if (host_boot_count(flash.handle) > 1) {
        emitf(OUTPUT_NORMAL, "\t\tHost Boot limit reached, exiting !\n\n");
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Host Boot Failed !\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tChip is in %s state. Attempting Host Boot...\n",
          state_name(flash.state));
    const int result = platform_host_boot(flash.handle, image, size, ioc_status, log_info);
    note_host_boot_attempt(flash.handle);
    flash.host_booted = true;

    if (result == kHostBootRunning && *ioc_status == kHostBootNotAvailable) {
        emitf(OUTPUT_NORMAL, "\t\tFirmware Host Boot is not Supported on this platform.\n\n");
        return false;
    }
    if (result != kHostBootRunning) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Host Boot Failed !\n");
        return result != kHostBootFailed;
    }
    emitf(OUTPUT_NORMAL, "\t\tFirmware Host Boot Successful !\n");
    if (!preserve_mfg_page2(flash.handle, &flash.mfg_page2_updated, ioc_status, log_info)) {
        emitf(OUTPUT_NORMAL, "\t\tFailed to validate MfgPage2 !\n");
        return false;
    }
    if (flash.mfg_page2_updated) emitf(OUTPUT_NORMAL, "\t\tUpdated MfgPage2 !\n");
    return true;
}

// A new manufacturing page 2 takes effect only after a reset, which may leave
// the controller without running firmware again.
bool reset_after_mfg_page2_update(FlashProgress& flash, const uint8_t* image, uint32_t size,
                                  uint16_t* ioc_status, uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "\t\tResetting Adapter...\n");
    reset_controller(flash.handle);
    emitf(OUTPUT_NORMAL, "\t\tAdapter Reset Completed.\n");

    flash.state = adapter_state(flash.handle);
    if (!needs_host_boot(flash.state)) return true;
    if (host_boot_count(flash.handle) > 2) {
        emitf(OUTPUT_NORMAL, "\t\tHost Boot limit reached, exiting !\n");
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Host Boot Failed !\n\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tChip is in %s state. Performing Host Boot...\n",
          state_name(flash.state));
    const int result = platform_host_boot(flash.handle, image, size, ioc_status, log_info);
    note_host_boot_attempt(flash.handle);
    if (result == kHostBootRunning) {
        emitf(OUTPUT_NORMAL, "\t\tFirmware Host Boot Successful !\n\n");
    } else {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Host Boot Failed !\n\n");
        if (result == kHostBootFailed) return false;
    }
    flash.host_booted = true;
    return true;
}

bool erase_persistent_configuration(const FlashProgress& flash, uint16_t* ioc_status,
                                    uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "\t\tErasing Persistent Configuration Pages.\n\n");
    if (erase_persistent_pages(flash.handle, ioc_status, log_info)) return true;
    emitf(OUTPUT_NORMAL, "\t\tERROR: Failed Erasing Persistent Configuration Pages!\n\n");
    return false;
}

bool download(const FlashProgress& flash, const uint8_t* image, uint32_t size,
              uint16_t* ioc_status, uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "\t\tBeginning Firmware Download...\n");
    if (download_image(flash.handle, fmx::kImageTypeFirmware, image, size, ioc_status,
                       log_info)) {
        emitf(OUTPUT_NORMAL, "\t\tFirmware Download Successful.\n\n");
        return true;
    }
    emitf(OUTPUT_NORMAL, "\t\tFirmware Download Failed!\n\n");
    return false;
}

// A controller left in RESET state has no firmware running that could hand
// the image back, so it is not verified.
bool verify(const FlashProgress& flash, const uint8_t* image, uint32_t size,
            uint16_t* ioc_status, uint32_t* log_info) {
    if (top_state(flash.state) == STATE_RESET) return true;
    emitf(OUTPUT_NORMAL, "\t\tVerifying Download...\n\n");
    if (!verify_download(image, size, flash.handle, ioc_status, log_info)) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Downloaded Image corrupt.\n\t\tFirmware Flash FAILED!\n\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tFirmware Flash Successful!\n\n");
    return true;
}

}  // namespace

uint32_t host_boot_count(uint32_t handle) {
    const HostBootEntry* entry = host_boot_entry(handle);
    return entry ? entry->attempts : 0;
}

void note_host_boot_attempt(uint32_t handle) {
    HostBootEntry* entry = host_boot_entry(handle);
    if (!entry) {
        entry = host_boot_entry(0xFFFFFFFF);
        if (!entry) return;
        entry->handle = handle;
    }
    ++entry->attempts;
}

bool flash_firmware_image(const AdapterRecord& adapter, const uint8_t* image, uint32_t size,
                          uint16_t* ioc_status, uint32_t* log_info) {
    FlashProgress flash;
    flash.handle = adapter.handle;
    if (!validate_firmware_image(image, size, adapter, &flash.force_downgraded, ioc_status,
                                 log_info))
        return false;

    flash.state = adapter_state(flash.handle);
    if (needs_host_boot(flash.state) && !first_host_boot(flash, image, size, ioc_status, log_info))
        return false;
    if (flash.mfg_page2_updated &&
        !reset_after_mfg_page2_update(flash, image, size, ioc_status, log_info))
        return false;
    if (flash.force_downgraded && !erase_persistent_configuration(flash, ioc_status, log_info))
        return false;
    if (!download(flash, image, size, ioc_status, log_info)) return false;
    if (!verify(flash, image, size, ioc_status, log_info)) return false;
    if (flash.host_booted) platform_after_host_boot(flash.handle);
    return true;
}

bool preserve_mfg_page2(uint32_t handle, bool* updated, uint16_t* ioc_status, uint32_t* log_info) {
    *updated = false;
    uint32_t length = 0;
    if (!read_config_header(handle, fmx::kPageTypeManufacturing, kMfgPage2Number, &length,
                            ioc_status, log_info)) {
        emitf(OUTPUT_NORMAL, "\t\tFailed to read MfgPage2 Header!!\n");
        return false;
    }
    if (length == 0) return true;

    std::vector<uint8_t> current;
    std::vector<uint8_t> nonvolatile;
    try {
        current.resize(length);
    } catch (const std::exception&) {
        emitf(OUTPUT_NORMAL, "\t\tFailed Malloc for MfgPage2!!\n");
        return false;
    }
    uint32_t current_length = length;
    if (!read_config_page(handle, fmx::kPageTypeManufacturing, kMfgPage2Number, FMX_READ_CURRENT,
                          current.data(), &current_length, ioc_status, log_info)) {
        emitf(OUTPUT_NORMAL, "\t\tFailed reading current MfgPage2 settings!!\n");
        return false;
    }
    try {
        nonvolatile.resize(length);
    } catch (const std::exception&) {
        return false;
    }
    uint32_t nonvolatile_length = length;
    if (read_config_page(handle, fmx::kPageTypeManufacturing, kMfgPage2Number, FMX_READ_NVRAM,
                         nonvolatile.data(), &nonvolatile_length, ioc_status, log_info)) {
        if (current == nonvolatile) return true;
        emitf(OUTPUT_NORMAL, "\t\tMfgPage2 Mismatch Detected.\n");
    }
    emitf(OUTPUT_NORMAL, "\t\tWriting Current MfgPage2 Settings to NVRam\n");
    *updated = true;
    return write_config_page(handle, current.data(), length, ioc_status, log_info);
}

bool verify_download(const uint8_t* image, uint32_t size, uint32_t handle, uint16_t* ioc_status,
                     uint32_t* log_info) {
    ImageBuffer read_back;
    if (!upload_image_from_flash(handle, fmx::kImageTypeBackupFirmware, read_back, ioc_status,
                                 log_info)) {
        emitf(OUTPUT_ERROR, "\tERROR: Image Upload Failed.\n");
        return false;
    }
    return read_back.size() >= size && std::memcmp(read_back.data(), image, size) == 0;
}

// The image is validated and sent straight from the buffer the command line
// read the file into; no step writes to it, so it is not copied.
bool flash_firmware_operation(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "\tExecuting Operation: Flash Firmware Image\n\n");
    if (!current_command || !selected_adapter) return false;
    const CommandFile& file = current_command->files[0];
    if (file.id <= 0 || file.size == 0) return false;
    emitf(OUTPUT_DETAIL, "Firmware File Size: %08lX\n", static_cast<unsigned long>(file.size));
    if (!file.contents) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Unable to read from file.\n");
        return false;
    }
    return flash_firmware_image(*selected_adapter, file.contents, file.size, ioc_status, log_info);
}

bool flash_firmware_all(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    bool result = true;
    for (AdapterRecord* adapter = adapter_list; adapter; adapter = adapter->next) {
        selected_adapter = adapter;
        set_active_handle(adapter->handle);
        emitf(OUTPUT_NORMAL, "\n\tAttempting to flash firmware to Norvane SAS %s at Index %d:\n\n",
              chip_name().c_str(), static_cast<int>(adapter->index));
        result = flash_firmware_operation(adapter->handle, ioc_status, log_info);
        if (!result) break;
    }
    return result;
}

bool reset_adapter_operation(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info) {
    *ioc_status = 0;
    *log_info = 0;
    emitf(OUTPUT_NORMAL, "\tExecuting Operation: Reset Adapter\n\n");
    emitf(OUTPUT_NORMAL, "\t\tResetting Adapter...\n");
    if (reset_controller(handle)) {
        emitf(OUTPUT_NORMAL, "\t\tAdapter Successfully Reset.\n\n");
        return true;
    }
    emitf(OUTPUT_NORMAL, "\t\tAdapter Reset Failed!.\n\n");
    return false;
}
