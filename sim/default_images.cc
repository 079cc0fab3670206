// Placeholder contents: deterministic byte patterns of the right sizes, with
// the ROM signature in front of the boot region. They stand in until the images
// come from the firmware and boot image builders.
#include "default_images.h"

#include <cstring>

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

std::vector<uint8_t> default_firmware_image(int controller) {
    const size_t size = (320 - 32 * static_cast<size_t>(controller % 2)) * 1024;
    std::vector<uint8_t> image = pattern(size, 0x100u + static_cast<uint32_t>(controller));
    static constexpr char kMark[] = "FMXSIM PLACEHOLDER FIRMWARE";
    std::memcpy(image.data(), kMark, sizeof(kMark));
    return image;
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
