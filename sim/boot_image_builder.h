// Builds boot images: PCI expansion ROM images of each code type with their
// PCI data structures, indicators and checksum bytes, followed by trailing
// images with class and ID tags. The emulator's default boot regions and the
// tests' boot image files are made with it.
//
// Images are deterministic: the same description gives the same bytes, so a
// test can build the region it expects after a flash and compare byte for byte.
// Each image's body is filled with a pattern seeded by `fill`, so images that
// share a type and ID still differ.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "boot_image.h"

namespace fmxsim {

struct RomImageSpec {
    uint8_t code_type = boot::kCodeTypeX86;
    uint16_t device_id = 0x70;
    uint16_t vendor_id = 0x1F0A;
    uint16_t blocks = 1;  // image length in 512-byte units
    uint16_t pci_data_offset = 0x1C;
    // The indicator to write. Unset: build_boot_image marks the last ROM image
    // of the chain, build_rom_image marks none.
    std::optional<uint8_t> indicator;
    uint8_t fill = 0;
};

struct TrailingImageSpec {
    uint8_t image_class = boot::kTrailingClassX86;
    uint16_t id = 0x102;
    uint32_t length = 0x200;  // bytes, at least the header and one checksum byte
    uint8_t fill = 0;
};

// One ROM image, its last byte set so that its 8-bit sum is 0.
std::vector<uint8_t> build_rom_image(const RomImageSpec& spec);

// One trailing image; its last byte is a checksum byte too, so that a file made
// of checksummed images passes the whole-file checksum.
std::vector<uint8_t> build_trailing_image(const TrailingImageSpec& spec);

// The ROM images back to back, then the trailing images.
std::vector<uint8_t> build_boot_image(std::span<const RomImageSpec> roms,
                                      std::span<const TrailingImageSpec> trailing = {});

// The boot region the emulator gives a controller by default: one x86 BIOS image
// for the device ID that boot image files are rewritten to for that controller,
// 32 KiB long, its body seeded by `fill`.
std::vector<uint8_t> build_default_boot_region(uint16_t controller_device_id, uint8_t fill = 0xB1);

// Parses one piece description of the bootimage program:
//   x86:DEVID[:BLOCKS]  uefi:DEVID[:BLOCKS]  fcode:DEVID[:BLOCKS]
//   trailing:CLASS:ID[:LENGTH]
// Numbers are decimal or 0x-prefixed hex. Returns an error text or empty.
struct PieceList {
    std::vector<RomImageSpec> roms;
    std::vector<TrailingImageSpec> trailing;
};
std::string parse_piece(const std::string& text, PieceList& pieces);

}  // namespace fmxsim
