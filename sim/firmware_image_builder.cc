#include "firmware_image_builder.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace fmxsim {
namespace {

constexpr uint32_t kHeaderRegionSize = 0x100;
constexpr uint32_t kInitializationBodySize = 0x200;
constexpr uint32_t kBootLoaderBodySize = 0x800;
constexpr size_t kExtendedImageAlignment = 16;
// Far more than any firmware; keeps a mistyped size from filling the disk.
constexpr uint32_t kMaxImageSize = 0x4000000;

struct ExtendedPart {
    uint8_t type;
    std::vector<uint8_t> body;
};

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

// Copies text into a fixed-width field, blank-padded.
template <size_t N>
void put_text(uint8_t (&field)[N], const std::string& text) {
    std::memset(field, ' ', N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

// The builder keeps its own word sum, so a fault in the validator's sum cannot
// hide behind the images it is tested with.
uint32_t word_sum(const std::vector<uint8_t>& image) {
    uint32_t sum = 0;
    for (size_t i = 0; i < image.size(); ++i) sum += static_cast<uint32_t>(image[i]) << (8 * (i % 4));
    return sum;
}

uint16_t product_id_of(const FirmwareImageSpec& spec) {
    if (!spec.kind) return spec.product_id;
    return static_cast<uint16_t>((spec.product_id & ~kProductKindMask) |
                                 ((*spec.kind << kProductKindShift) & kProductKindMask));
}

ExtendedPart supported_devices_part(const FirmwareImageSpec& spec) {
    if (spec.devices.size() > 0xFF) throw std::invalid_argument("more than 255 supported devices");
    ExtendedPart part{kExtSupportedDevices,
                      std::vector<uint8_t>(sizeof(SupportedDevicesList) +
                                           spec.devices.size() * sizeof(SupportedDeviceEntry))};
    SupportedDevicesList list{};
    list.entry_count = static_cast<uint8_t>(spec.devices.size());
    fmx::write_record(part.body.data(), list);
    for (size_t i = 0; i < spec.devices.size(); ++i) {
        SupportedDeviceEntry entry{};
        entry.device_id = spec.devices[i].device_id;
        entry.lowest_revision = spec.devices[i].lowest_revision;
        entry.highest_revision = spec.devices[i].highest_revision;
        fmx::write_record(part.body.data() + sizeof(list) + i * sizeof(entry), entry);
    }
    return part;
}

ExtendedPart nvdata_part(const NvdataSpec& nvdata, uint32_t seed) {
    constexpr size_t kProductBlockAt = sizeof(NvdataHeader);
    if (nvdata.size < kProductBlockAt + sizeof(NvdataProductBlock))
        throw std::invalid_argument("NVDATA size too small for its header and product block");
    ExtendedPart part{kExtNvdata, pattern(nvdata.size, seed)};

    NvdataHeader header;
    fmx::read_record(part.body.data(), part.body.size(), 0, header);  // keeps the pattern
    header.signature = kNvdataSignature ^ (nvdata.bad_signature ? 0x00010000u : 0u);
    header.version = nvdata.version;
    header.product_block_offset = static_cast<uint16_t>(kProductBlockAt / 4);
    fmx::write_record(part.body.data(), header);

    NvdataProductBlock product;
    fmx::read_record(part.body.data(), part.body.size(), kProductBlockAt, product);
    product.signature =
        kProductBlockSignature ^ (nvdata.bad_product_signature ? 0x00010000u : 0u);
    put_text(product.vendor_id, nvdata.vendor);
    put_text(product.product_id, nvdata.product);
    product.device_id = nvdata.device_id;
    fmx::write_record(part.body.data() + kProductBlockAt, product);
    return part;
}

std::vector<ExtendedPart> extended_parts(const FirmwareImageSpec& spec) {
    std::vector<ExtendedPart> parts;
    if (spec.include_supported_devices) parts.push_back(supported_devices_part(spec));
    for (size_t i = 0; i < spec.nvdata.size(); ++i)
        parts.push_back(nvdata_part(spec.nvdata[i], spec.fill * 131u + static_cast<uint32_t>(i) + 3));
    if (spec.include_initialization)
        parts.push_back({kExtInitialization, pattern(kInitializationBodySize, spec.fill + 1u)});
    if (spec.include_boot_loader)
        parts.push_back({kExtBootLoader, pattern(kBootLoaderBodySize, spec.fill + 2u)});
    return parts;
}

// Appends the parts behind the image and links them; returns the offset of
// the first (0 when there is none).
uint32_t append_chain(std::vector<uint8_t>& image, const std::vector<ExtendedPart>& parts,
                      bool cycle) {
    std::vector<size_t> offsets;
    for (const auto& part : parts) {
        image.resize((image.size() + kExtendedImageAlignment - 1) / kExtendedImageAlignment *
                     kExtendedImageAlignment);
        offsets.push_back(image.size());
        ExtendedImageHeader header{};
        header.image_type = part.type;
        header.image_size = static_cast<uint32_t>(sizeof(header) + part.body.size());
        image.resize(image.size() + sizeof(header));
        fmx::write_record(image.data() + offsets.back(), header);
        image.insert(image.end(), part.body.begin(), part.body.end());
    }
    for (size_t i = 0; i < offsets.size(); ++i) {
        ExtendedImageHeader header;
        fmx::read_record(image.data(), image.size(), offsets[i], header);
        const bool last = i + 1 == offsets.size();
        header.next_image_offset =
            static_cast<uint32_t>(!last ? offsets[i + 1] : cycle ? offsets.front() : 0);
        fmx::write_record(image.data() + offsets[i], header);
    }
    return offsets.empty() ? 0 : static_cast<uint32_t>(offsets.front());
}

void write_header(std::vector<uint8_t>& image, const FirmwareImageSpec& spec,
                  uint32_t first_extended) {
    FirmwareImageHeader header{};
    for (size_t i = 0; i < std::size(kImageSignature); ++i) header.signature[i] = kImageSignature[i];
    if (spec.bad_signature) header.signature[1] = kImageSignature[1] ^ 0x1;
    for (size_t i = 0; i < 4; ++i) header.firmware_version.bytes[i] = spec.version[3 - i];
    header.vendor_id = spec.vendor_id;
    header.product_id = product_id_of(spec);
    header.first_extended_image_offset = first_extended;
    fmx::write_record(image.data(), header);
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

template <typename T>
bool parse_into(const std::string& text, T& out, uint32_t max) {
    const auto value = parse_number(text);
    if (!value || *value > max) return false;
    out = static_cast<T>(*value);
    return true;
}

std::string parse_version(const std::string& text, std::array<uint8_t, 4>& version) {
    const auto fields = split(text, '.');
    if (fields.size() != 4) return "version must be A.B.C.D: " + text;
    for (size_t i = 0; i < 4; ++i)
        if (!parse_into(fields[i], version[i], 0xFF)) return "bad version field: " + text;
    return {};
}

std::string parse_device(const std::string& text, SupportedDeviceSpec& device) {
    const auto fields = split(text, ':');
    if (fields.size() > 3 || !parse_into(fields[0], device.device_id, 0xFFFF) ||
        (fields.size() > 1 && !parse_into(fields[1], device.lowest_revision, 0xFF)) ||
        (fields.size() > 2 && !parse_into(fields[2], device.highest_revision, 0xFF)))
        return "device must be ID[:LOW[:HIGH]]: " + text;
    return {};
}

std::string parse_nvdata(const std::string& text, NvdataSpec& nvdata) {
    for (const auto& item : split(text, ',')) {
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) return "NVDATA item must be KEY=VALUE: " + item;
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        bool ok = true;
        if (key == "version") ok = parse_into(value, nvdata.version, 0xFFFFFFFF);
        else if (key == "vendor") nvdata.vendor = value;
        else if (key == "product") nvdata.product = value;
        else if (key == "device") ok = parse_into(value, nvdata.device_id, 0xFFFF);
        else if (key == "size") ok = parse_into(value, nvdata.size, kMaxImageSize);
        else if (key == "break" && value == "signature") nvdata.bad_signature = true;
        else if (key == "break" && value == "prodid") nvdata.bad_product_signature = true;
        else return "unknown NVDATA item: " + item;
        if (!ok) return "bad NVDATA value: " + item;
    }
    return {};
}

std::string parse_kind(const std::string& text, std::optional<uint8_t>& kind) {
    if (text == "it") kind = kKindIT;
    else if (text == "ir") kind = kKindIR;
    else if (text == "none") kind.reset();
    else return "kind must be it, ir or none: " + text;
    return {};
}

std::string parse_break(const std::string& text, FirmwareImageSpec& spec) {
    if (text == "signature") spec.bad_signature = true;
    else if (text == "checksum") spec.bad_checksum = true;
    else if (text == "chain") spec.chain_cycle = true;
    else return "break must be signature, checksum or chain: " + text;
    return {};
}

}  // namespace

std::vector<uint8_t> build_firmware_image(const FirmwareImageSpec& spec) {
    std::vector<uint8_t> image = pattern(kHeaderRegionSize + spec.code_size, spec.fill);
    const uint32_t first_extended = append_chain(image, extended_parts(spec), spec.chain_cycle);
    write_header(image, spec, first_extended);
    if (spec.total_size) {
        if (*spec.total_size < image.size())
            throw std::invalid_argument("total size too small for the image's parts");
        image.resize(*spec.total_size);
    }
    seal_firmware_image(image);
    if (spec.bad_checksum) {
        FirmwareImageHeader header;
        fmx::read_record(image.data(), image.size(), 0, header);
        header.checksum = header.checksum + 1;
        fmx::write_record(image.data(), header);
    }
    return image;
}

void seal_firmware_image(std::vector<uint8_t>& image) {
    FirmwareImageHeader header;
    if (!fmx::read_record(image.data(), image.size(), 0, header))
        throw std::invalid_argument("image too short for its header");
    header.checksum = 0;
    fmx::write_record(image.data(), header);
    header.checksum = 0u - word_sum(image);
    fmx::write_record(image.data(), header);
}

std::string parse_firmware_options(const std::vector<std::string>& options,
                                   FirmwareImageSpec& spec) {
    // The first --device and the first --nvdata replace the defaults.
    bool devices_given = false;
    bool nvdata_given = false;
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string& option = options[i];
        if (option == "--no-devices") {
            spec.include_supported_devices = false;
            continue;
        }
        if (option == "--no-nvdata") {
            spec.nvdata.clear();
            nvdata_given = true;
            continue;
        }
        if (option == "--no-init") {
            spec.include_initialization = false;
            continue;
        }
        if (option == "--no-bootloader") {
            spec.include_boot_loader = false;
            continue;
        }
        if (i + 1 == options.size()) return "missing value for " + option;
        const std::string& value = options[++i];
        std::string error;
        if (option == "--version") {
            error = parse_version(value, spec.version);
        } else if (option == "--vendor-id") {
            if (!parse_into(value, spec.vendor_id, 0xFFFF)) error = "bad vendor ID: " + value;
        } else if (option == "--product-id") {
            if (!parse_into(value, spec.product_id, 0xFFFF)) error = "bad product ID: " + value;
        } else if (option == "--kind") {
            error = parse_kind(value, spec.kind);
        } else if (option == "--device") {
            if (!devices_given) spec.devices.clear();
            devices_given = true;
            error = parse_device(value, spec.devices.emplace_back());
        } else if (option == "--nvdata") {
            if (!nvdata_given) spec.nvdata.clear();
            nvdata_given = true;
            error = parse_nvdata(value, spec.nvdata.emplace_back());
        } else if (option == "--code-size") {
            if (!parse_into(value, spec.code_size, kMaxImageSize)) error = "bad code size: " + value;
        } else if (option == "--size") {
            uint32_t size = 0;
            if (!parse_into(value, size, kMaxImageSize)) error = "bad size: " + value;
            spec.total_size = size;
        } else if (option == "--fill") {
            if (!parse_into(value, spec.fill, 0xFF)) error = "bad fill: " + value;
        } else if (option == "--break") {
            error = parse_break(value, spec);
        } else {
            return "unknown option: " + option;
        }
        if (!error.empty()) return error;
    }
    return {};
}

}  // namespace fmxsim
