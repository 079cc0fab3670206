// Flash contents of the default controllers. The firmware regions hold images
// made by the firmware image builder, so that sasburn lists, validates and
// flashes them as it would on a real board. The boot regions are placeholder
// byte patterns with the ROM signature in front.
#include "default_images.h"

#include <cstring>

#include "firmware_image_builder.h"

namespace fmxsim {

namespace {

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

}  // namespace

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

std::vector<uint8_t> default_boot_region(int controller) {
    constexpr size_t kBlocks = 64;  // 32 KiB in 512-byte units
    std::vector<uint8_t> region = pattern(kBlocks * 512, 0x200u + static_cast<uint32_t>(controller));
    region[0] = 0x55;
    region[1] = 0xAA;
    region[2] = static_cast<uint8_t>(kBlocks);
    return region;
}

}  // namespace fmxsim
