#include "boot_image_builder.h"

#include <charconv>
#include <stdexcept>

namespace fmxsim {
namespace {

void fill_body(std::vector<uint8_t>& image, uint8_t seed) {
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 8));
}

// The last byte takes the value that makes the 8-bit sum of the image 0.
void set_checksum_byte(std::vector<uint8_t>& image) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < image.size(); ++i) sum = static_cast<uint8_t>(sum + image[i]);
    image.back() = static_cast<uint8_t>(0x100 - sum);
}

std::optional<uint32_t> parse_number(const std::string& text) {
    int base = 10;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        first += 2;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, base);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        fields.push_back(text.substr(start, at - start));
    fields.push_back(text.substr(start));
    return fields;
}

}  // namespace

std::vector<uint8_t> build_rom_image(const RomImageSpec& spec) {
    const size_t length = size_t{spec.blocks} * boot::kRomLengthUnit;
    if (length < size_t{spec.pci_data_offset} + sizeof(boot::PciDataStructure) + 1 ||
        spec.pci_data_offset < sizeof(boot::RomImageHeader))
        throw std::invalid_argument("ROM image too small for its PCI data structure");

    std::vector<uint8_t> image(length);
    fill_body(image, spec.fill);

    boot::RomImageHeader header;
    fmx::read_record(image.data(), image.size(), 0, header);  // keeps the pattern in reserved bytes
    header.signature = boot::kRomSignature;
    header.pci_data_offset = spec.pci_data_offset;
    fmx::write_record(image.data(), header);

    boot::PciDataStructure pci{};
    pci.signature = boot::kPciDataSignature;
    pci.vendor_id = spec.vendor_id;
    pci.device_id = spec.device_id;
    pci.image_length = spec.blocks;
    pci.code_type = spec.code_type;
    pci.indicator = spec.indicator.value_or(0);
    fmx::write_record(image.data() + spec.pci_data_offset, pci);

    set_checksum_byte(image);
    return image;
}

std::vector<uint8_t> build_trailing_image(const TrailingImageSpec& spec) {
    if (spec.length < sizeof(boot::TrailingImageHeader) + 1)
        throw std::invalid_argument("trailing image shorter than its header");
    std::vector<uint8_t> image(spec.length);
    fill_body(image, spec.fill);

    boot::TrailingImageHeader header;
    fmx::read_record(image.data(), image.size(), 0, header);
    header.signature = boot::kRomSignature;
    header.tag = boot::trailing_tag(spec.image_class, spec.id);
    header.length = spec.length;
    fmx::write_record(image.data(), header);

    set_checksum_byte(image);
    return image;
}

std::vector<uint8_t> build_boot_image(std::span<const RomImageSpec> roms,
                                      std::span<const TrailingImageSpec> trailing) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < roms.size(); ++i) {
        RomImageSpec spec = roms[i];
        if (!spec.indicator) spec.indicator = i + 1 == roms.size() ? 0x80 : 0;
        const auto image = build_rom_image(spec);
        out.insert(out.end(), image.begin(), image.end());
    }
    for (const auto& spec : trailing) {
        const auto image = build_trailing_image(spec);
        out.insert(out.end(), image.begin(), image.end());
    }
    return out;
}

std::vector<uint8_t> build_default_boot_region(uint16_t controller_device_id, uint8_t fill) {
    RomImageSpec bios;
    // Controllers 0x45 and 0x47 boot images built for 0x87 and 0x70; sasburn
    // writes those IDs into a file before it merges it.
    bios.device_id = controller_device_id == 0x45   ? 0x87
                     : controller_device_id == 0x47 ? 0x70
                                                    : controller_device_id;
    bios.blocks = 64;  // 32 KiB, a typical BIOS size
    bios.fill = fill;
    return build_boot_image(std::span(&bios, 1));
}

std::string parse_piece(const std::string& text, PieceList& pieces) {
    const auto fields = split(text, ':');
    std::vector<uint32_t> numbers;
    for (size_t i = 1; i < fields.size(); ++i) {
        const auto value = parse_number(fields[i]);
        if (!value) return "not a number: '" + fields[i] + "' in '" + text + "'";
        numbers.push_back(*value);
    }
    const uint8_t fill = static_cast<uint8_t>(pieces.roms.size() + pieces.trailing.size() + 1);

    const std::string& kind = fields[0];
    if (kind == "x86" || kind == "uefi" || kind == "fcode") {
        if (numbers.empty() || numbers.size() > 2) return "expected " + kind + ":DEVID[:BLOCKS]";
        RomImageSpec spec;
        spec.code_type = kind == "x86"    ? boot::kCodeTypeX86
                         : kind == "uefi" ? boot::kCodeTypeUefi
                                          : boot::kCodeTypeFcode;
        if (numbers[0] > 0xFFFF || (numbers.size() > 1 && numbers[1] > 0xFFFF))
            return "out of range in '" + text + "'";
        spec.device_id = static_cast<uint16_t>(numbers[0]);
        if (numbers.size() > 1) spec.blocks = static_cast<uint16_t>(numbers[1]);
        spec.fill = fill;
        pieces.roms.push_back(spec);
        return {};
    }
    if (kind == "trailing") {
        if (numbers.size() < 2 || numbers.size() > 3) return "expected trailing:CLASS:ID[:LENGTH]";
        TrailingImageSpec spec;
        if (numbers[0] > 0xF || numbers[1] > 0xFFFF) return "out of range in '" + text + "'";
        spec.image_class = static_cast<uint8_t>(numbers[0]);
        spec.id = static_cast<uint16_t>(numbers[1]);
        if (numbers.size() > 2) spec.length = numbers[2];
        spec.fill = fill;
        pieces.trailing.push_back(spec);
        return {};
    }
    return "unknown piece '" + text + "'";
}

}  // namespace fmxsim
