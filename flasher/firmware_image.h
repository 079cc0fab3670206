// Firmware image format: one layout for image files and for images read back
// out of a controller's flash.
//
//   offset 0     FirmwareImageHeader (signature, version, vendor/product IDs,
//                offset of the first extended image)
//   ...          firmware code and data, carried unchanged
//   header.first_extended_image_offset
//                ExtendedImageHeader (64 bytes) + body   --next-->  ...  --> 0
//
// Extended images form a chain through their next offsets, each counted from
// the start of the whole image. The bodies this system examines:
//   type 7 Supported Devices: SupportedDevicesList, then SupportedDeviceEntry[]
//   type 3 NVDATA:            NvdataHeader; NvdataProductBlock at
//                             NvdataHeader + 4 * product_block_offset
//   type 4 BootLoader, type 5 Initialization: only their presence counts.
//
// All fields are little-endian. The image is untrusted input whether it comes
// from a file or from a controller: every record is read through ImageView,
// which refuses a record that would reach past the end of the image. A record
// that does not fit counts as missing (for a walk) or as carrying a bad
// signature (for a signature check).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>

#include "byte_order.h"

inline constexpr uint32_t kImageSignature[4] = {0xEA000000, 0x5AFAA55A, 0xA55AFAA5, 0x5AA55AFA};
inline constexpr uint32_t kNvdataSignature = 0x4E69636B;
inline constexpr uint32_t kProductBlockSignature = 0x4672617A;

// Bits 8-11 of the product ID give the kind of firmware.
inline constexpr uint16_t kProductKindMask = 0x0F00;
inline constexpr unsigned kProductKindShift = 8;
inline constexpr uint8_t kKindIT = 0x2;
inline constexpr uint8_t kKindIR = 0x7;

enum ExtendedImageType : uint8_t {
    kExtNvdata = 3,
    kExtBootLoader = 4,
    kExtInitialization = 5,
    kExtSupportedDevices = 7,
};

// Bytes 0x14..0x17; printed most significant byte first: [3].[2].[1].[0].
struct FirmwareVersion {
    uint8_t bytes[4];
};
static_assert(sizeof(FirmwareVersion) == 4);

struct FirmwareImageHeader {
    fmx::le32 signature[4];  // 0x00, kImageSignature
    fmx::le32 checksum;  // 0x10, balances the whole-image word sum to 0
    FirmwareVersion firmware_version;  // 0x14
    uint8_t rsvd18[8];
    fmx::le16 vendor_id;  // 0x20
    fmx::le16 product_id;  // 0x22, bits 8-11: kKindIT / kKindIR
    uint8_t rsvd24[12];
    fmx::le32 first_extended_image_offset;  // 0x30, from the image start; 0 = none
};
static_assert(sizeof(FirmwareImageHeader) == 0x34);
static_assert(offsetof(FirmwareImageHeader, signature) == 0x00);
static_assert(offsetof(FirmwareImageHeader, checksum) == 0x10);
static_assert(offsetof(FirmwareImageHeader, firmware_version) == 0x14);
static_assert(offsetof(FirmwareImageHeader, vendor_id) == 0x20);
static_assert(offsetof(FirmwareImageHeader, product_id) == 0x22);
static_assert(offsetof(FirmwareImageHeader, first_extended_image_offset) == 0x30);

struct ExtendedImageHeader {
    uint8_t image_type;  // 0x00, ExtendedImageType
    uint8_t rsvd1[7];
    fmx::le32 image_size;  // 0x08, bytes, header included
    fmx::le32 next_image_offset;  // 0x0C, from the image start; 0 = last
    uint8_t rsvd10[0x30];
};
static_assert(sizeof(ExtendedImageHeader) == 0x40);
static_assert(offsetof(ExtendedImageHeader, image_type) == 0x00);
static_assert(offsetof(ExtendedImageHeader, image_size) == 0x08);
static_assert(offsetof(ExtendedImageHeader, next_image_offset) == 0x0C);

struct NvdataHeader {
    fmx::le32 signature;  // 0x00, kNvdataSignature
    fmx::le32 rsvd4;
    fmx::le32 version;  // 0x08
    uint8_t rsvdC[0x10];
    fmx::le16 product_block_offset;  // 0x1C, in 32-bit words from this header
    fmx::le16 rsvd1E;
};
static_assert(sizeof(NvdataHeader) == 0x20);
static_assert(offsetof(NvdataHeader, signature) == 0x00);
static_assert(offsetof(NvdataHeader, version) == 0x08);
static_assert(offsetof(NvdataHeader, product_block_offset) == 0x1C);

inline constexpr size_t kNvdataVendorSize = 8;
inline constexpr size_t kNvdataProductSize = 16;

struct NvdataProductBlock {
    fmx::le32 signature;  // 0x00, kProductBlockSignature
    uint8_t vendor_id[kNvdataVendorSize];  // 0x04
    uint8_t product_id[kNvdataProductSize];  // 0x0C
    uint8_t rsvd1C[14];
    fmx::le16 device_id;  // 0x2A, PCI device ID the NVDATA was built for
};
static_assert(sizeof(NvdataProductBlock) == 0x2C);
static_assert(offsetof(NvdataProductBlock, signature) == 0x00);
static_assert(offsetof(NvdataProductBlock, vendor_id) == 0x04);
static_assert(offsetof(NvdataProductBlock, product_id) == 0x0C);
static_assert(offsetof(NvdataProductBlock, device_id) == 0x2A);

struct SupportedDevicesList {
    uint8_t rsvd0[2];
    uint8_t entry_count;  // 0x02
    uint8_t rsvd3[5];
    // SupportedDeviceEntry[entry_count] follows at 0x08.
};
static_assert(sizeof(SupportedDevicesList) == 0x08);
static_assert(offsetof(SupportedDevicesList, entry_count) == 0x02);

struct SupportedDeviceEntry {
    fmx::le16 device_id;  // 0x00
    uint8_t rsvd2[6];
    uint8_t lowest_revision;  // 0x08
    uint8_t highest_revision;  // 0x09
    uint8_t rsvdA[6];
};
static_assert(sizeof(SupportedDeviceEntry) == 0x10);
static_assert(offsetof(SupportedDeviceEntry, device_id) == 0x00);
static_assert(offsetof(SupportedDeviceEntry, lowest_revision) == 0x08);
static_assert(offsetof(SupportedDeviceEntry, highest_revision) == 0x09);

// A read-only view of an image that hands out records only when they lie
// wholly inside it. Offsets are 64-bit so that sums of offsets taken from the
// image cannot wrap in a 32-bit build.
class ImageView {
public:
    ImageView(const uint8_t* data, size_t size) : bytes_(data, size) {}
    explicit ImageView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

    bool contains(uint64_t offset, uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    template <typename T>
    std::optional<T> record_at(uint64_t offset) const {
        T record;
        if (!contains(offset, sizeof(T))) return std::nullopt;
        fmx::read_record(bytes_.data(), bytes_.size(), static_cast<size_t>(offset), record);
        return record;
    }

private:
    std::span<const uint8_t> bytes_;
};

// One extended image found by a walk: where its header is, and the header.
struct ExtendedImage {
    uint64_t offset;  // of the header, from the image start
    ExtendedImageHeader header;
    uint64_t body_offset() const { return offset + sizeof(ExtendedImageHeader); }
};

// Follows the chain of extended images from the image header, one header at a
// time. The walk ends at a next offset of 0, at a header that would reach past
// the end of the image, at a header it has visited before (a cycle), and after
// as many headers as the image could hold side by side.
class ExtendedImageWalk {
public:
    explicit ExtendedImageWalk(const ImageView& image);

    // The next header of the chain, or none at its end.
    std::optional<ExtendedImage> next();
    // The next header of the chain with this type, or none.
    std::optional<ExtendedImage> next_of_type(uint8_t type);

private:
    ImageView image_;
    uint64_t offset_ = 0;
    size_t remaining_ = 0;
    std::set<uint64_t> visited_;
};

// The image header, or none when the image is too short to hold one.
std::optional<FirmwareImageHeader> read_image_header(const ImageView& image);

// True when the image holds a whole header with the four signature words.
bool has_valid_signature(const ImageView& image);

// 32-bit sum (mod 2^32) of the image as little-endian words; a final partial
// word counts with its missing bytes as zero. A valid image sums to 0.
uint32_t image_word_sum(const uint8_t* image, size_t size);

// The n-th (from 0) extended image of `type`, or none. None at once when the
// signature is wrong or the image has no extended images; the walk ends as
// ExtendedImageWalk describes.
std::optional<ExtendedImage> find_extended_image(const ImageView& image, uint8_t type,
                                                 unsigned n = 0);

// Whether NVDATA or firmware built for `image_device_id` may go onto a
// controller with `controller_device_id` (controllers of one family share
// images).
bool device_ids_compatible(uint16_t image_device_id, uint16_t controller_device_id);

// The firmware kind of a product ID (bits 8-11).
inline uint8_t firmware_kind(uint16_t product_id) {
    return static_cast<uint8_t>((product_id & kProductKindMask) >> kProductKindShift);
}
