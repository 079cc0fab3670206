// A firmware image file, as "-f" and "-fwall" read it, through the whole
// validation sequence. The controllers here run no firmware (their tracked
// state is FAULT), so the validation sends no request and checks the file side
// only: signature, checksum, Supported Devices, NVDATA selection,
// Initialization and BootLoader images.
#include <cstdint>
#include <vector>

#include "adapters.h"
#include "firmware_image.h"
#include "firmware_validation.h"
#include "fuzz_support.h"

namespace {

// Controllers of three device-ID families, with chip revisions inside and at
// the edge of the usual ranges. Handles outside the state table read as FAULT.
constexpr AdapterRecord kAdapters[] = {
    {0x7001, 0, 0x87, 1, nullptr},
    {0x7002, 1, 0x47, 0, nullptr},
    {0x7003, 2, 0x64, 0xFF, nullptr},
};

bool is_present(const ImageView& image, uint8_t type) {
    return find_extended_image(image, type).has_value();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    clear_adapter_state_table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An owned copy, so a read past the end is caught at the exact byte.
    const std::vector<uint8_t> image(data, data + size);
    const ImageView view(image.data(), image.size());
    for (const AdapterRecord& adapter : kAdapters) {
        bool force_downgraded = false;
        uint16_t ioc_status = 0;
        uint32_t log_info = 0;
        const bool valid = validate_firmware_image(image.data(), image.size(), adapter,
                                                   &force_downgraded, &ioc_status, &log_info);
        // Without a running image there is nothing to downgrade and no request.
        FUZZ_CHECK(!force_downgraded);
        FUZZ_CHECK(ioc_status == 0 && log_info == 0);
        if (valid) {
            // A file that passes is sound in every part the flash relies on.
            FUZZ_CHECK(has_valid_signature(view));
            FUZZ_CHECK(image_word_sum(image.data(), image.size()) == 0);
            FUZZ_CHECK(is_present(view, kExtSupportedDevices));
            FUZZ_CHECK(is_present(view, kExtNvdata));
            FUZZ_CHECK(is_present(view, kExtInitialization));
            FUZZ_CHECK(is_present(view, kExtBootLoader));
        }
    }
    // The walk on its own, for every type: each call must end.
    for (unsigned type = 0; type < 8; ++type)
        for (unsigned n = 0; n < 3; ++n)
            (void)find_extended_image(view, static_cast<uint8_t>(type), n);
    return 0;
}
