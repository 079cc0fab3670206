// Boot images: PCI expansion ROM chains with trailing images.
//
// A boot image file and a controller's boot region have the same layout:
//
//   +---------------------+  offset 0
//   | ROM image 0         |  RomImageHeader at its start, PciDataStructure at
//   |   ...               |  start + pci_data_offset; image_length x 512 bytes;
//   |   checksum byte     |  its last byte makes the 8-bit sum of the image 0
//   +---------------------+
//   | ROM image 1 ...     |  the chain ends with the image whose indicator is
//   +---------------------+  non-zero
//   | trailing image 0    |  TrailingImageHeader; `length` bytes long
//   | trailing image 1 ...|  back to back while they start with 0xAA55
//   +---------------------+
//
// Everything here reads its buffer through fmx::read_record, so a chain whose
// offsets or lengths point past the end ends its walk instead of reading on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "byte_order.h"

namespace boot {

inline constexpr uint16_t kRomSignature = 0xAA55;
inline constexpr uint32_t kPciDataSignature = 0x52494350;  // "PCIR"
inline constexpr size_t kRomLengthUnit = 512;

// Code types of a ROM image.
inline constexpr uint8_t kCodeTypeX86 = 0;
inline constexpr uint8_t kCodeTypeFcode = 1;
inline constexpr uint8_t kCodeTypeUefi = 3;

// Classes of a trailing image: which ROM image it travels with.
inline constexpr uint8_t kTrailingClassX86 = 1;
inline constexpr uint8_t kTrailingClassUefi = 3;

// At the start of every ROM image.
struct RomImageHeader {
    fmx::le16 signature;  // kRomSignature
    uint8_t rsvd02[0x16];
    fmx::le16 pci_data_offset;  // from the image start
};
static_assert(sizeof(RomImageHeader) == 0x1A);
static_assert(offsetof(RomImageHeader, signature) == 0x00);
static_assert(offsetof(RomImageHeader, pci_data_offset) == 0x18);

// The PCI data structure of a ROM image (the 0x18-byte form).
struct PciDataStructure {
    fmx::le32 signature;  // kPciDataSignature
    fmx::le16 vendor_id;
    fmx::le16 device_id;
    uint8_t rsvd08[0x08];
    fmx::le16 image_length;  // in kRomLengthUnit
    uint8_t rsvd12[0x02];
    uint8_t code_type;
    uint8_t indicator;  // non-zero: last ROM image of the chain
    uint8_t rsvd16[0x02];
};
static_assert(sizeof(PciDataStructure) == 0x18);
static_assert(offsetof(PciDataStructure, signature) == 0x00);
static_assert(offsetof(PciDataStructure, vendor_id) == 0x04);
static_assert(offsetof(PciDataStructure, device_id) == 0x06);
static_assert(offsetof(PciDataStructure, image_length) == 0x10);
static_assert(offsetof(PciDataStructure, code_type) == 0x14);
static_assert(offsetof(PciDataStructure, indicator) == 0x15);

// At the start of every trailing image.
struct TrailingImageHeader {
    fmx::le16 signature;  // kRomSignature
    uint8_t rsvd02[0x36];
    fmx::le32 tag;  // bits 28-31: class, bits 0-15: ID
    uint8_t rsvd3c[0x24];
    fmx::le32 length;  // bytes, header included; the next one follows
};
static_assert(sizeof(TrailingImageHeader) == 0x64);
static_assert(offsetof(TrailingImageHeader, signature) == 0x00);
static_assert(offsetof(TrailingImageHeader, tag) == 0x38);
static_assert(offsetof(TrailingImageHeader, length) == 0x60);

inline constexpr uint32_t trailing_tag(uint8_t image_class, uint16_t id) {
    return (static_cast<uint32_t>(image_class) << 28) | id;
}
inline constexpr uint8_t trailing_class(uint32_t tag) { return static_cast<uint8_t>(tag >> 28); }
inline constexpr uint16_t trailing_id(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }

// The trailing images a flash carries over, in the order they are placed.
inline constexpr uint16_t kClassX86TrailingOrder[] = {0x102, 0x110, 0x112, 0x113};
inline constexpr uint16_t kClassUefiTrailingOrder[] = {0x102, 0x112, 0x110, 0x113};

// Where an image lies inside a buffer; offset + length never exceeds its size.
struct ImageSpan {
    size_t offset;
    size_t length;
    bool operator==(const ImageSpan&) const = default;
};

// Which image of a code type find_rom_image looks for: the first, or the second
// (the second x86 BIOS image of a region that holds two).
enum class RomOccurrence { first, second };

// The PCI data structure of the ROM image at `image_offset`, with its offset in
// the buffer; none when the image signature, the structure's place or its
// "PCIR" signature does not hold.
struct LocatedPciData {
    size_t offset;
    PciDataStructure record;
};
std::optional<LocatedPciData> read_pci_data(std::span<const uint8_t> buffer, size_t image_offset);

// The 8-bit sum of all bytes.
uint8_t boot_image_byte_sum(std::span<const uint8_t> buffer);

// Walks the ROM chain from offset 0 for an image of `code_type`.
std::optional<ImageSpan> find_rom_image(std::span<const uint8_t> buffer, uint8_t code_type,
                                        RomOccurrence which = RomOccurrence::first);

// Walks past the ROM chain, then through the trailing images, for the one with
// this class and ID.
std::optional<ImageSpan> find_trailing_image(std::span<const uint8_t> buffer, uint8_t image_class,
                                             uint16_t id);

// Sets the last byte of `piece` so that the 8-bit sum of the whole piece is 0.
void set_rom_checksum_byte(std::span<uint8_t> piece);

// The PCI device ID a boot image file is rewritten to for a controller: its own,
// except that 0x45 parts take 0x87 images and 0x47 parts 0x70 images.
uint16_t boot_device_id_for_controller(uint16_t controller_device_id);

// Checks a boot image file, printing each step, and on success rewrites the
// device ID of its first PCI data structure for the controller.
bool validate_boot_image(std::span<uint8_t> file, uint16_t controller_device_id);

// Builds the new boot region from a validated file and the region read back
// from the controller: the file's images of its own kind replace the region's,
// everything else the region holds is kept (see boot_image.cc for the rules).
std::vector<uint8_t> assemble_boot_region(std::span<const uint8_t> file,
                                          std::span<const uint8_t> region);

// The flash side (boot_flash.cc). Each takes the controller handle and the two
// out-words of the request that decided the outcome.

// validate_boot_image for selected_adapter.
bool validate_boot_image(uint8_t* file, size_t size);

// Validates the boot image file of the current command and merges it into the
// controller's boot region; the worker behind "-b" and "-biosall".
bool flash_boot_image(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);

// Reads the controller's boot region, assembles the new one from it and the
// validated file, and downloads it.
bool assemble_and_flash_boot_region(const uint8_t* file, uint32_t handle, size_t size,
                                    uint16_t* ioc_status, uint32_t* log_info);

}  // namespace boot
