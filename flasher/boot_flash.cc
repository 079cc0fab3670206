// "-b" and "-biosall": validate a boot image file and merge it into the
// controller's boot region.

#include <new>
#include <vector>

#include "adapters.h"
#include "boot_image.h"
#include "commands.h"
#include "messages.h"
#include "operations.h"
#include "request_wrappers.h"

namespace {

constexpr uint8_t kUploadBootRegion = 2;

// The worker on an explicit file, so that "-biosall" keeps its own file even
// when a check on the way queues another command.
bool flash_boot_image_file(uint32_t handle, const CommandFile& source, uint16_t* ioc_status,
                           uint32_t* log_info) {
    if (!source.contents || source.size == 0) return false;
    std::vector<uint8_t> file;
    try {
        file.assign(source.contents, source.contents + source.size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!boot::validate_boot_image(file.data(), file.size())) return false;

    emitf(OUTPUT_NORMAL, "\t\tAttempting to Flash BIOS Image...\n\n");
    const bool flashed =
        boot::assemble_and_flash_boot_region(file.data(), handle, file.size(), ioc_status, log_info);
    emitf(OUTPUT_NORMAL, flashed ? "\t\tFlash BIOS Image Successful.\n\n"
                                 : "\t\tFlash BIOS Image Failed!\n\n");
    return flashed;
}

}  // namespace

namespace boot {

bool validate_boot_image(uint8_t* file, size_t size) {
    const uint16_t device_id = selected_adapter ? selected_adapter->pci_device_id : 0;
    return validate_boot_image(std::span<uint8_t>(file, size), device_id);
}

bool assemble_and_flash_boot_region(const uint8_t* file, uint32_t handle, size_t size,
                                    uint16_t* ioc_status, uint32_t* log_info) {
    try {
        std::vector<uint8_t> image;
        {
            ImageBuffer region;
            if (!upload_image_from_flash(handle, kUploadBootRegion, region, ioc_status, log_info))
                return false;
            image = assemble_boot_region(std::span<const uint8_t>(file, size), region);
        }
        return download_image(handle, kUploadBootRegion, image.data(),
                              static_cast<uint32_t>(image.size()), ioc_status, log_info);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool flash_boot_image(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info) {
    if (!current_command) return false;
    return flash_boot_image_file(handle, current_command->files[0], ioc_status, log_info);
}

}  // namespace boot

bool flash_boot_image_operation(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "\tExecuting Operation: Flash BIOS Image\n\n");
    return boot::flash_boot_image(handle, ioc_status, log_info);
}

bool flash_boot_image_all(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* log_info) {
    if (!current_command) return false;
    const CommandFile file = current_command->files[0];
    bool result = true;
    for (AdapterRecord* adapter = adapter_list; adapter && result; adapter = adapter->next) {
        selected_adapter = adapter;
        set_active_handle(adapter->handle);
        const bool operational = ensure_operational();
        const int index = static_cast<int>(adapter->index);
        emitf(OUTPUT_NORMAL, "\n\tAttempting to flash Boot Services Image to Norvane SAS %s at Index %d:\n\n",
              chip_name().c_str(), index);
        if (operational) {
            result = flash_boot_image_file(adapter->handle, file, ioc_status, log_info);
        } else {
            emitf(OUTPUT_NORMAL,
                  "\n\tSkipping Controller Norvane SAS %s at Index %d as it is not operational!\n\n",
                  chip_name().c_str(), index);
        }
    }
    return result;
}
