// The boot region read back from a controller: the walks over it and the merge
// of sound boot image files (x86 with its trailing images, UEFI with its own,
// FCODE) into it, as "-b" does after reading the region.
#include <cstdint>
#include <span>
#include <vector>

#include "boot_image.h"
#include "boot_images.h"
#include "fuzz_support.h"

namespace {

std::vector<std::vector<uint8_t>> files;

void walk(std::span<const uint8_t> buffer) {
    for (const uint8_t type : {boot::kCodeTypeX86, boot::kCodeTypeFcode, boot::kCodeTypeUefi}) {
        for (const auto which : {boot::RomOccurrence::first, boot::RomOccurrence::second}) {
            const auto found = boot::find_rom_image(buffer, type, which);
            if (found)
                FUZZ_CHECK(found->length > 0 && found->offset + found->length <= buffer.size());
        }
    }
    for (const uint8_t image_class : {boot::kTrailingClassX86, boot::kTrailingClassUefi}) {
        for (const uint16_t id : boot::kClassUefiTrailingOrder) {
            const auto found = boot::find_trailing_image(buffer, image_class, id);
            if (found)
                FUZZ_CHECK(found->length > 0 && found->offset + found->length <= buffer.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    for (const auto& [type, trailing] :
         {std::pair{boot::kCodeTypeX86, true}, std::pair{boot::kCodeTypeUefi, true},
          std::pair{boot::kCodeTypeFcode, false}}) {
        std::vector<uint8_t> file = fuzz::boot_file(type, trailing);
        if (!boot::validate_boot_image(std::span<uint8_t>(file), fuzz::kBootController)) {
            fuzz::property_failed("a boot image made by the builder fails the validation");
        }
        files.push_back(std::move(file));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> region(data, data + size);
    walk(region);
    for (const auto& file : files) {
        const std::vector<uint8_t> merged = boot::assemble_boot_region(file, region);
        FUZZ_CHECK(merged.size() <= file.size() + region.size());
        // The file's own image always goes into the new region.
        FUZZ_CHECK(!merged.empty());
        walk(merged);
    }
    return 0;
}
