// bootimage: writes a boot image file made of the pieces named on the command
// line, for tests and demonstrations.
//
//   bootimage OUTPUT PIECE...
//     x86:DEVID[:BLOCKS]  uefi:DEVID[:BLOCKS]  fcode:DEVID[:BLOCKS]
//     trailing:CLASS:ID[:LENGTH]
//
// ROM images are placed in the order given and the last one is marked as the
// end of the chain; trailing images follow them in the order given.

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "boot_image_builder.h"

namespace {

void usage() {
    std::fputs("usage: bootimage OUTPUT PIECE...\n"
               "  x86:DEVID[:BLOCKS] uefi:DEVID[:BLOCKS] fcode:DEVID[:BLOCKS]\n"
               "  trailing:CLASS:ID[:LENGTH]\n"
               "BLOCKS counts 512-byte units (default 1); LENGTH is in bytes (default 512).\n",
               stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        usage();
        return 2;
    }
    fmxsim::PieceList pieces;
    for (int i = 2; i < argc; ++i) {
        const std::string error = fmxsim::parse_piece(argv[i], pieces);
        if (!error.empty()) {
            std::fprintf(stderr, "bootimage: %s\n", error.c_str());
            return 2;
        }
    }
    std::vector<uint8_t> image;
    try {
        image = fmxsim::build_boot_image(pieces.roms, pieces.trailing);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "bootimage: %s\n", e.what());
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "bootimage: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
