// A boot image file, as "-b" and "-biosall" read it: the validation (which
// rewrites the device ID of a file it accepts), the ROM chain and trailing
// image walks over the file, and for an accepted file the merge with boot
// regions as a controller hands them back (empty, the emulator's default, and
// one holding every kind of piece, and x86 regions of other device IDs).
#include <cstdint>
#include <span>
#include <vector>

#include "boot_image.h"
#include "boot_image_builder.h"
#include "boot_images.h"
#include "fuzz_support.h"

namespace {

std::vector<std::vector<uint8_t>> regions;

void walk(std::span<const uint8_t> buffer) {
    for (const uint8_t type : {boot::kCodeTypeX86, boot::kCodeTypeFcode, boot::kCodeTypeUefi}) {
        for (const auto which : {boot::RomOccurrence::first, boot::RomOccurrence::second}) {
            const auto found = boot::find_rom_image(buffer, type, which);
            if (found)
                FUZZ_CHECK(found->length > 0 && found->offset + found->length <= buffer.size());
        }
    }
    for (const uint8_t image_class : {boot::kTrailingClassX86, boot::kTrailingClassUefi}) {
        for (const uint16_t id : boot::kClassX86TrailingOrder) {
            const auto found = boot::find_trailing_image(buffer, image_class, id);
            if (found)
                FUZZ_CHECK(found->length > 0 && found->offset + found->length <= buffer.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    regions.push_back({});
    regions.push_back(fmxsim::build_default_boot_region(fuzz::kBootController));
    regions.push_back(fuzz::full_boot_region());
    // x86 regions for the device ID before the file's and for another one: the
    // other two ways the file's x86 image joins the region's.
    regions.push_back(fuzz::x86_boot_region(0x6F));
    regions.push_back(fuzz::x86_boot_region(0x64));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    walk(file);
    if (!boot::validate_boot_image(std::span<uint8_t>(file), fuzz::kBootController)) return 0;

    // What the validation promised: a signed image whose first PCI data
    // structure now names the controller's boot device ID.
    const auto pci = boot::read_pci_data(file, 0);
    FUZZ_CHECK(pci.has_value());
    FUZZ_CHECK(pci->record.device_id == boot::boot_device_id_for_controller(fuzz::kBootController));
    walk(file);

    for (const auto& region : regions) {
        const std::vector<uint8_t> merged = boot::assemble_boot_region(file, region);
        // Every piece is a copy of one image of the file or of the region, and
        // no image is taken twice.
        FUZZ_CHECK(merged.size() <= file.size() + region.size());
        walk(merged);
    }
    return 0;
}
