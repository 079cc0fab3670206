// Flash contents of the default controllers. The firmware regions hold images
// made by the firmware image builder, so that sasburn lists, validates and
// flashes them as it would on a real board; the boot regions hold x86 BIOS
// images made by the boot image builder.
#include "default_images.h"

#include "boot_image_builder.h"
#include "firmware_image_builder.h"

namespace fmxsim {

// Even indexes carry firmware like the Q520 (device ID 69, which takes images
// built for 0x80-0x87; IR firmware), odd ones like the Q510i (device ID 71,
// which takes images built for 0x70; IT firmware). The versions agree with the
// firmware version words that the default scenario's IOC information reports.
std::vector<uint8_t> default_firmware_image(int controller) {
    const bool q520 = controller % 2 == 0;
    FirmwareImageSpec spec;
    spec.version = q520 ? std::array<uint8_t, 4>{13, 0, 1, 0} : std::array<uint8_t, 4>{12, 0, 2, 0};
    spec.product_id = q520 ? 0x0016 : 0x0011;
    spec.kind = q520 ? kKindIR : kKindIT;
    spec.devices = {{static_cast<uint16_t>(q520 ? 0x80 : 0x70), 0x00, 0xFF}};
    NvdataSpec nvdata;
    nvdata.version = 0x0E;
    nvdata.product = q520 ? "Q520" : "Q510i";
    nvdata.device_id = q520 ? 0x80 : 0x70;
    nvdata.size = 0x1000;
    spec.nvdata = {nvdata};
    spec.code_size = (320 - 32 * static_cast<uint32_t>(!q520)) * 1024;
    spec.fill = static_cast<uint8_t>(controller);
    return build_firmware_image(spec);
}

// The boot region of an even index is that of a device ID 69 board, of an odd
// one that of a device ID 71 board: one x86 BIOS image made by the boot image
// builder for the device ID that sasburn writes into a boot image file for that
// board, so that flashing a file for the same board replaces it.
std::vector<uint8_t> default_boot_region(int controller) {
    const uint16_t device_id = controller % 2 == 0 ? 69 : 71;
    return build_default_boot_region(device_id, static_cast<uint8_t>(0xB0 + controller));
}

}  // namespace fmxsim
