// Walks over the firmware image format (see firmware_image.h).
#include "firmware_image.h"

#include <iterator>

std::optional<FirmwareImageHeader> read_image_header(const ImageView& image) {
    return image.record_at<FirmwareImageHeader>(0);
}

bool has_valid_signature(const ImageView& image) {
    const auto header = read_image_header(image);
    if (!header) return false;
    for (size_t i = 0; i < std::size(kImageSignature); ++i)
        if (header->signature[i] != kImageSignature[i]) return false;
    return true;
}

uint32_t image_word_sum(const uint8_t* image, size_t size) {
    uint32_t sum = 0;
    size_t offset = 0;
    for (; size - offset >= 4; offset += 4) sum += fmx::load_le32(image + offset);
    if (offset < size) {
        uint8_t last[4] = {};
        for (size_t i = 0; offset + i < size; ++i) last[i] = image[offset + i];
        sum += fmx::load_le32(last);
    }
    return sum;
}

ExtendedImageWalk::ExtendedImageWalk(const ImageView& image) : image_(image) {
    if (!has_valid_signature(image)) return;
    offset_ = read_image_header(image)->first_extended_image_offset;
    // Headers that do not overlap cannot form a longer chain than this.
    remaining_ = image.size() / sizeof(ExtendedImageHeader);
}

std::optional<ExtendedImage> ExtendedImageWalk::next() {
    if (offset_ == 0 || remaining_ == 0 || !visited_.insert(offset_).second) return std::nullopt;
    --remaining_;
    const auto header = image_.record_at<ExtendedImageHeader>(offset_);
    if (!header) {
        offset_ = 0;
        return std::nullopt;
    }
    const ExtendedImage found{offset_, *header};
    offset_ = header->next_image_offset;
    return found;
}

std::optional<ExtendedImage> ExtendedImageWalk::next_of_type(uint8_t type) {
    while (auto image = next())
        if (image->header.image_type == type) return image;
    return std::nullopt;
}

std::optional<ExtendedImage> find_extended_image(const ImageView& image, uint8_t type,
                                                 unsigned n) {
    ExtendedImageWalk walk(image);
    for (unsigned count = 0;; ++count) {
        auto found = walk.next_of_type(type);
        if (!found || count == n) return found;
    }
}

bool device_ids_compatible(uint16_t image_device_id, uint16_t controller_device_id) {
    const auto in_range = [](uint16_t id, uint16_t low, uint16_t high) {
        return id >= low && id <= high;
    };
    const uint16_t c = controller_device_id;
    const uint16_t d = image_device_id;
    if (c == 0x45 || in_range(c, 0x80, 0x87)) return in_range(d, 0x80, 0x87);
    if (c == 0x47) return d == 0x70;
    if (c == 0x64 || c == 0x65) return d == 0x64 || d == 0x65;
    if (c == 0x74 || c == 0x76 || c == 0x77) return d == 0x74 || d == 0x76 || d == 0x77;
    return d == c;
}
