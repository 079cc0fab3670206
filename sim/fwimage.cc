// fwimage: writes a firmware image file for tests and demonstrations.
//
//   fwimage OUTPUT [OPTION...]
//
// Without options it writes a valid, checksummed IR image, version 15.02.00.11,
// for device IDs 0x80-0x87 (any revision) with one NVDATA image. Numbers are
// decimal or 0x-prefixed hex.
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "firmware_image_builder.h"

namespace {

void usage() {
    std::fputs(
        "usage: fwimage OUTPUT [OPTION...]\n"
        "  --version A.B.C.D       firmware version as the listing prints it\n"
        "  --vendor-id N           vendor ID of the image header\n"
        "  --product-id N          product ID (bits 8-11 are set by --kind)\n"
        "  --kind it|ir|none       firmware kind; none keeps --product-id as given\n"
        "  --device ID[:LOW[:HIGH]]  a Supported Devices entry with its revision range;\n"
        "                          repeat for more (the first replaces the default)\n"
        "  --nvdata KEY=VALUE,...  an NVDATA image; repeat for more (the first replaces\n"
        "                          the default). Keys: version, vendor, product, device,\n"
        "                          size (body bytes), break=signature, break=prodid\n"
        "  --no-devices --no-nvdata --no-init --no-bootloader   leave a part out\n"
        "  --code-size N           bytes of firmware code behind the header\n"
        "  --size N                pad the image to exactly N bytes\n"
        "  --fill N                seed of the byte pattern\n"
        "  --break signature|checksum|chain   break the header signature, the checksum,\n"
        "                          or close the extended image chain into a cycle\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        usage();
        return 2;
    }
    fmxsim::FirmwareImageSpec spec;
    const std::string error =
        fmxsim::parse_firmware_options(std::vector<std::string>(argv + 2, argv + argc), spec);
    if (!error.empty()) {
        std::fprintf(stderr, "fwimage: %s\n", error.c_str());
        return 2;
    }
    std::vector<uint8_t> image;
    try {
        image = fmxsim::build_firmware_image(spec);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "fwimage: %s\n", e.what());
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "fwimage: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
