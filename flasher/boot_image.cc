// Boot image walks, validation and the assembly of a new boot region.

#include "boot_image.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "messages.h"

namespace boot {
namespace {

// One well-formed ROM image of a chain: its place in the buffer and its PCI
// data structure.
struct RomImage {
    ImageSpan span;
    PciDataStructure pci;
};

// The ROM image at `offset`, or none when it is not one that can be used: no
// signature, no PCI data structure, a zero length, an image that reaches past
// the buffer, or a PCI data structure outside the image it describes (the
// indicator of such an image could not be fixed up in a copy of it).
std::optional<RomImage> rom_image_at(std::span<const uint8_t> buffer, size_t offset) {
    const auto located = read_pci_data(buffer, offset);
    if (!located) return std::nullopt;
    const size_t length = size_t{located->record.image_length} * kRomLengthUnit;
    if (length == 0 || length > buffer.size() - offset) return std::nullopt;
    if (located->offset - offset + sizeof(PciDataStructure) > length) return std::nullopt;
    return RomImage{{offset, length}, located->record};
}

// Offset just past the ROM image whose indicator marks the end of the chain.
std::optional<size_t> end_of_rom_chain(std::span<const uint8_t> buffer) {
    size_t offset = 0;
    for (;;) {
        const auto image = rom_image_at(buffer, offset);
        if (!image) return std::nullopt;
        offset += image->span.length;  // length > 0: the walk always moves on
        if (image->pci.indicator != 0) return offset;
    }
}

bool is_accepted_file_device_id(uint16_t id) {
    static constexpr std::array<uint16_t, 8> kSingles = {0x64, 0x65, 0x6E, 0x70,
                                                         0x72, 0x74, 0x76, 0x77};
    return std::find(kSingles.begin(), kSingles.end(), id) != kSingles.end() ||
           (id >= 0x80 && id <= 0x87);
}

bool has_rom_signature(std::span<const uint8_t> file) {
    fmx::le16 signature;
    return fmx::read_record(file.data(), file.size(), 0, signature) &&
           signature == kRomSignature;
}

}  // namespace

std::optional<LocatedPciData> read_pci_data(std::span<const uint8_t> buffer, size_t image_offset) {
    RomImageHeader header;
    if (!fmx::read_record(buffer.data(), buffer.size(), image_offset, header)) return std::nullopt;
    if (header.signature != kRomSignature) return std::nullopt;
    const size_t offset = image_offset + header.pci_data_offset;  // image_offset <= size
    PciDataStructure pci;
    if (!fmx::read_record(buffer.data(), buffer.size(), offset, pci)) return std::nullopt;
    if (pci.signature != kPciDataSignature) return std::nullopt;
    return LocatedPciData{offset, pci};
}

uint8_t boot_image_byte_sum(std::span<const uint8_t> buffer) {
    return std::accumulate(buffer.begin(), buffer.end(), uint8_t{0},
                           [](uint8_t sum, uint8_t byte) { return uint8_t(sum + byte); });
}

std::optional<ImageSpan> find_rom_image(std::span<const uint8_t> buffer, uint8_t code_type,
                                        RomOccurrence which) {
    int matches_to_skip = which == RomOccurrence::second ? 1 : 0;
    size_t offset = 0;
    for (;;) {
        const auto image = rom_image_at(buffer, offset);
        if (!image) return std::nullopt;
        if (image->pci.code_type == code_type && matches_to_skip-- == 0) return image->span;
        if (image->pci.indicator != 0) return std::nullopt;
        offset += image->span.length;
    }
}

std::optional<ImageSpan> find_trailing_image(std::span<const uint8_t> buffer, uint8_t image_class,
                                             uint16_t id) {
    const auto start = end_of_rom_chain(buffer);
    if (!start) return std::nullopt;
    for (size_t offset = *start;;) {
        TrailingImageHeader header;
        if (!fmx::read_record(buffer.data(), buffer.size(), offset, header)) return std::nullopt;
        if (header.signature != kRomSignature) return std::nullopt;
        const size_t length = header.length;
        if (length == 0 || length > buffer.size() - offset) return std::nullopt;
        if (trailing_class(header.tag) == image_class && trailing_id(header.tag) == id)
            return ImageSpan{offset, length};
        offset += length;
    }
}

void set_rom_checksum_byte(std::span<uint8_t> piece) {
    if (piece.empty()) return;
    piece.back() = 0;
    piece.back() = static_cast<uint8_t>(0x100 - boot_image_byte_sum(piece));
}

uint16_t boot_device_id_for_controller(uint16_t controller_device_id) {
    switch (controller_device_id) {
        case 0x45: return 0x87;
        case 0x47: return 0x70;
        default: return controller_device_id;
    }
}

bool validate_boot_image(std::span<uint8_t> file, uint16_t controller_device_id) {
    emitf(OUTPUT_NORMAL, "\t\tValidating BIOS Image...\n\n");

    if (!has_rom_signature(file)) {
        emitf(OUTPUT_NORMAL, "\t\tBIOS Header Signature is Invalid\n\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tBIOS Header Signature is Valid\n\n");

    const uint8_t sum = boot_image_byte_sum(file);
    if (sum != 0) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: BIOS Image Checksum Failed: %08X\n\n", unsigned{sum});
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tBIOS Image has a Valid Checksum. \n\n");

    auto located = read_pci_data(file, 0);
    if (!located) {
        emitf(OUTPUT_NORMAL, "\t\tBIOS PCI Structure Signature Invalid!\n\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tBIOS PCI Structure Signature Valid.\n\n");

    if (!is_accepted_file_device_id(located->record.device_id)) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: BIOS Image not compatible with the SAS Controller.\n\n");
        return false;
    }
    // The image's checksum byte is left stale here; the assembly recomputes it.
    located->record.device_id = boot_device_id_for_controller(controller_device_id);
    fmx::write_record(file.data() + located->offset, located->record);
    emitf(OUTPUT_NORMAL, "\t\tBIOS Image Compatible with the SAS Controller.\n\n");
    return true;
}

// ---------------------------------------------------------------------------
// Assembly of a new boot region
//
// The file F replaces the region's images of its own code type T:
//   T = 0 (x86):  the x86 images depend on how F's device ID relates to the
//                 region's first x86 image (see choose_x86_sources); UEFI and
//                 FCODE images and class-3 trailing images stay.
//   T = 3 (UEFI): F's UEFI image and class-3 trailing images; the region's first
//                 x86 image, FCODE image and class-1 trailing images stay.
//   T = 1 (FCODE): F's FCODE image; the region's first x86 image, UEFI image
//                 and trailing images of both classes stay.
// A second x86 image in the region survives only an x86 file for its first
// image's device ID. Trailing images of other classes or IDs are dropped.
// The region is laid out as: primary x86, second x86, UEFI, FCODE, class-1
// trailing images, class-3 trailing images; absent pieces are skipped.

namespace {

enum class SecondX86 { none, region_first, region_second, whole_file };

struct X86Plan {
    bool primary_from_file;
    SecondX86 second;
};

std::optional<uint16_t> device_id_at(std::span<const uint8_t> buffer, size_t image_offset) {
    const auto located = read_pci_data(buffer, image_offset);
    if (!located) return std::nullopt;
    return uint16_t{located->record.device_id};
}

// Which x86 images the new region holds. Two x86 images live side by side when
// the controller boots parts of two neighbouring device IDs: a file for the
// region's own ID replaces the first and keeps the second; a file for the next
// ID keeps the region's image first and follows it; a file for another ID goes
// first and the region's image moves behind it.
X86Plan choose_x86_sources(std::span<const uint8_t> file, std::span<const uint8_t> region,
                           uint8_t file_code_type) {
    if (file_code_type != kCodeTypeX86) return {false, SecondX86::none};
    const auto region_x86 = find_rom_image(region, kCodeTypeX86);
    if (!region_x86) return {true, SecondX86::none};

    const auto file_id = device_id_at(file, 0);
    const auto region_id = device_id_at(region, region_x86->offset);
    if (file_id && region_id && *file_id == *region_id) {
        const bool has_second = find_rom_image(region, kCodeTypeX86, RomOccurrence::second).has_value();
        return {true, has_second ? SecondX86::region_second : SecondX86::none};
    }
    if (file_id && region_id && int{*file_id} == int{*region_id} + 1)
        return {false, SecondX86::whole_file};
    return {true, SecondX86::region_first};
}

std::span<const uint8_t> slice(std::span<const uint8_t> buffer, std::optional<ImageSpan> image) {
    if (!image) return {};
    return buffer.subspan(image->offset, image->length);
}

std::span<const uint8_t> second_x86_piece(std::span<const uint8_t> file,
                                          std::span<const uint8_t> region, SecondX86 second) {
    switch (second) {
        case SecondX86::region_first: return slice(region, find_rom_image(region, kCodeTypeX86));
        case SecondX86::region_second:
            return slice(region, find_rom_image(region, kCodeTypeX86, RomOccurrence::second));
        case SecondX86::whole_file: return file;
        case SecondX86::none: break;
    }
    return {};
}

// The pieces of the new region, in region order; each slice points into the
// file or the region read back, an empty slice is an absent piece.
struct RegionPieces {
    std::span<const uint8_t> primary_x86;
    std::span<const uint8_t> second_x86;
    std::span<const uint8_t> uefi;
    std::span<const uint8_t> fcode;
    std::vector<std::span<const uint8_t>> trailing;
};

void add_trailing_images(std::vector<std::span<const uint8_t>>& out, std::span<const uint8_t> source,
                         uint8_t image_class, std::span<const uint16_t> ids) {
    for (const uint16_t id : ids) {
        const auto image = find_trailing_image(source, image_class, id);
        if (image) out.push_back(slice(source, image));
    }
}

RegionPieces choose_pieces(std::span<const uint8_t> file, std::span<const uint8_t> region) {
    const auto file_pci = read_pci_data(file, 0);
    const uint8_t code_type = file_pci ? file_pci->record.code_type : 0xFF;
    const X86Plan plan = choose_x86_sources(file, region, code_type);
    const auto source_for = [&](uint8_t type) { return code_type == type ? file : region; };

    RegionPieces pieces;
    const auto primary_source = plan.primary_from_file ? file : region;
    pieces.primary_x86 = slice(primary_source, find_rom_image(primary_source, kCodeTypeX86));
    pieces.second_x86 = second_x86_piece(file, region, plan.second);
    pieces.uefi = slice(source_for(kCodeTypeUefi), find_rom_image(source_for(kCodeTypeUefi), kCodeTypeUefi));
    pieces.fcode =
        slice(source_for(kCodeTypeFcode), find_rom_image(source_for(kCodeTypeFcode), kCodeTypeFcode));

    // The class-1 images belong with the x86 image that the file brings as the
    // region's first; when the region's own x86 images lead, so do its class-1 images.
    const bool x86_trailing_from_file =
        code_type == kCodeTypeX86 &&
        (plan.second == SecondX86::none || plan.second == SecondX86::region_first);
    add_trailing_images(pieces.trailing, x86_trailing_from_file ? file : region, kTrailingClassX86,
                        kClassX86TrailingOrder);
    add_trailing_images(pieces.trailing, source_for(kCodeTypeUefi), kTrailingClassUefi,
                        kClassUefiTrailingOrder);
    return pieces;
}

void clear_indicator(std::span<uint8_t> piece) {
    auto located = read_pci_data(piece, 0);
    if (!located) return;
    located->record.indicator = 0;
    fmx::write_record(piece.data() + located->offset, located->record);
}

}  // namespace

std::vector<uint8_t> assemble_boot_region(std::span<const uint8_t> file,
                                          std::span<const uint8_t> region) {
    const RegionPieces pieces = choose_pieces(file, region);
    const std::array<std::span<const uint8_t>, 4> roms = {pieces.primary_x86, pieces.second_x86,
                                                          pieces.uefi, pieces.fcode};

    size_t total = 0;
    for (const auto& piece : roms) total += piece.size();
    for (const auto& piece : pieces.trailing) total += piece.size();
    std::vector<uint8_t> image(total);

    // A ROM piece is no longer the last of the chain when a later ROM piece follows.
    size_t offset = 0;
    for (size_t i = 0; i < roms.size(); ++i) {
        if (roms[i].empty()) continue;
        const std::span<uint8_t> placed(image.data() + offset, roms[i].size());
        std::copy(roms[i].begin(), roms[i].end(), placed.begin());
        const bool followed = std::any_of(roms.begin() + static_cast<ptrdiff_t>(i) + 1, roms.end(),
                                          [](const auto& later) { return !later.empty(); });
        if (followed) clear_indicator(placed);
        set_rom_checksum_byte(placed);
        offset += placed.size();
    }
    for (const auto& piece : pieces.trailing) {
        std::copy(piece.begin(), piece.end(), image.begin() + static_cast<ptrdiff_t>(offset));
        offset += piece.size();
    }
    return image;
}

}  // namespace boot
