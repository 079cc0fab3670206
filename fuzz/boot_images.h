// Sound boot images that the boot image targets set against their input, made
// by the emulator's boot image builder.
#pragma once

#include <cstdint>
#include <vector>

#include "boot_image.h"
#include "boot_image_builder.h"

namespace fuzz {

// The controller the boot image targets flash: device ID 0x47, whose files are
// rewritten to device ID 0x70.
inline constexpr uint16_t kBootController = 0x47;

inline std::vector<uint8_t> boot_file(uint8_t code_type, bool with_trailing) {
    using namespace fmxsim;
    const RomImageSpec rom{.code_type = code_type, .device_id = 0x70, .blocks = 2, .fill = 7};
    std::vector<TrailingImageSpec> trailing;
    if (with_trailing) {
        const uint8_t image_class =
            code_type == boot::kCodeTypeUefi ? boot::kTrailingClassUefi : boot::kTrailingClassX86;
        trailing = {{.image_class = image_class, .id = 0x102, .fill = 1},
                    {.image_class = image_class, .id = 0x113, .fill = 2}};
    }
    return build_boot_image(std::vector<RomImageSpec>{rom}, trailing);
}

// A region with every kind of piece: two x86 images, UEFI, FCODE, the trailing
// images of both classes that a flash carries over, and one it drops.
inline std::vector<uint8_t> full_boot_region() {
    using namespace fmxsim;
    const std::vector<RomImageSpec> roms = {
        {.code_type = boot::kCodeTypeX86, .device_id = 0x70, .fill = 0x10},
        {.code_type = boot::kCodeTypeX86, .device_id = 0x71, .fill = 0x11},
        {.code_type = boot::kCodeTypeUefi, .device_id = 0x70, .fill = 0x12},
        {.code_type = boot::kCodeTypeFcode, .device_id = 0x70, .fill = 0x13},
    };
    std::vector<TrailingImageSpec> trailing;
    for (const uint8_t image_class : {boot::kTrailingClassX86, boot::kTrailingClassUefi})
        for (const uint16_t id : {0x102, 0x110, 0x112, 0x113})
            trailing.push_back({.image_class = image_class, .id = id, .fill = uint8_t(id)});
    trailing.push_back({.image_class = 2, .id = 0x999, .fill = 0x20});
    return build_boot_image(roms, trailing);
}

// A region holding one x86 image for `device_id`, with a trailing image.
inline std::vector<uint8_t> x86_boot_region(uint16_t device_id) {
    using namespace fmxsim;
    const RomImageSpec rom{.code_type = boot::kCodeTypeX86, .device_id = device_id, .fill = 0x30};
    const TrailingImageSpec trailing{
        .image_class = boot::kTrailingClassX86, .id = 0x110, .fill = 0x31};
    return build_boot_image(std::vector<RomImageSpec>{rom},
                            std::vector<TrailingImageSpec>{trailing});
}

}  // namespace fuzz
