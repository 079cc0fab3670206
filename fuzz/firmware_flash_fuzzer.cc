// The firmware image read back from a controller: what the validation takes
// from the running image (its NVDATA version, vendor and product, its header's
// vendor ID and firmware kind) and what the listing shows of it (the version
// bytes of its header). The input is the running image; the files set against
// it are sound images made by the image builder, one of each firmware kind.
#include <cstdint>
#include <vector>

#include "adapters.h"
#include "commands.h"
#include "firmware_image.h"
#include "firmware_image_builder.h"
#include "firmware_validation.h"
#include "fuzz_support.h"

namespace {

constexpr AdapterRecord kAdapter = {0x7101, 0, 0x87, 1, nullptr};

std::vector<std::vector<uint8_t>> files;

std::vector<uint8_t> file_of_kind(uint8_t kind) {
    fmxsim::FirmwareImageSpec spec;
    spec.kind = kind;
    spec.code_size = 0x400;
    return fmxsim::build_firmware_image(spec);
}

void check_against(const std::vector<uint8_t>& file_bytes, const ImageView& running) {
    const ImageView file(file_bytes.data(), file_bytes.size());
    bool force_downgraded = false;
    if (!check_nvdata_compatibility(file, &running, kAdapter, &force_downgraded)) return;
    FUZZ_CHECK(!force_downgraded || force_mode);
    // Only a signed image can hold the NVDATA image found above, so its header
    // is whole; the validation reads it for the firmware kind rule.
    const auto running_header = read_image_header(running);
    FUZZ_CHECK(running_header.has_value());
    FUZZ_CHECK(has_valid_signature(running));
    (void)check_firmware_kind(*read_image_header(file), *running_header);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    files.push_back(file_of_kind(kKindIR));
    files.push_back(file_of_kind(kKindIT));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> image(data, data + size);
    const ImageView running(image.data(), image.size());

    for (const bool force : {false, true}) {
        force_mode = force;
        for (const auto& file : files) check_against(file, running);
    }
    force_mode = false;

    // The listing's version cell.
    const auto version =
        running.record_at<FirmwareVersion>(offsetof(FirmwareImageHeader, firmware_version));
    FUZZ_CHECK(version.has_value() ==
               (size >= offsetof(FirmwareImageHeader, firmware_version) + sizeof(FirmwareVersion)));
    return 0;
}
