// Flash contents of the built-in default scenario's controllers, by controller
// index (0: the device ID 69 board "Q520", 1: the device ID 71 board "Q510i";
// other indexes get images of their own too, for scenarios that leave a
// region's contents unset).
#pragma once

#include <cstdint>
#include <vector>

namespace fmxsim {

// The firmware region: a firmware image of a few hundred KiB. The backup
// region of a default controller holds the same bytes.
std::vector<uint8_t> default_firmware_image(int controller);

// The boot region: an x86 BIOS image.
std::vector<uint8_t> default_boot_region(int controller);

}  // namespace fmxsim
