// Builds firmware images: the image header with its signature, version,
// vendor and product IDs, firmware code, and a chain of extended images
// (Supported Devices, one or more NVDATA images, Initialization, BootLoader),
// sealed with the checksum word that makes the whole image sum to 0. The
// emulator's default firmware regions and the tests' firmware files are made
// with it.
//
// Images are deterministic: the same description gives the same bytes. Any
// part can be left out or broken, so a test can make the image that shows the
// fault it is after.
//
// Layout:  header (0x100 bytes) | code (code_size) | Supported Devices |
//          NVDATA ... | Initialization | BootLoader | padding to total_size
// The extended images are chained in that order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware_image.h"

namespace fmxsim {

struct SupportedDeviceSpec {
    uint16_t device_id = 0x80;
    uint8_t lowest_revision = 0x00;
    uint8_t highest_revision = 0xFF;
};

struct NvdataSpec {
    uint32_t version = 0x0E;
    std::string vendor = "NORVANE";  // cut or blank-padded to 8 bytes
    std::string product = "SAS2 HBA";  // cut or blank-padded to 16 bytes
    uint16_t device_id = 0x80;
    uint32_t size = 0x200;  // body bytes behind the extended image header
    bool bad_signature = false;
    bool bad_product_signature = false;
};

struct FirmwareImageSpec {
    // As printed by the listing: 15.02.00.11 is {15, 2, 0, 11}.
    std::array<uint8_t, 4> version = {15, 2, 0, 11};
    uint16_t vendor_id = 0x1F0A;
    uint16_t product_id = 0x0013;
    // Written into bits 8-11 of the product ID; none keeps product_id as given.
    std::optional<uint8_t> kind = kKindIR;

    bool include_supported_devices = true;
    std::vector<SupportedDeviceSpec> devices = {SupportedDeviceSpec{}};
    std::vector<NvdataSpec> nvdata = {NvdataSpec{}};
    bool include_initialization = true;
    bool include_boot_loader = true;

    uint32_t code_size = 0x1000;
    // Pads the image to exactly this many bytes (it must hold the parts).
    std::optional<uint32_t> total_size;
    uint8_t fill = 0;  // seeds the pattern of code and bodies

    bool bad_signature = false;  // the second signature word is changed
    bool bad_checksum = false;   // the sum is off by one
    bool chain_cycle = false;    // the last extended image points back at the first
};

// Throws std::invalid_argument when the description cannot be built (an NVDATA
// body too small for its records, a total size too small, too many devices).
std::vector<uint8_t> build_firmware_image(const FirmwareImageSpec& spec);

// Recomputes the checksum word after a test has edited an image, so that only
// the edit shows. Needs at least the header's checksum word.
void seal_firmware_image(std::vector<uint8_t>& image);

// Parses the fwimage program's options into a description; see fwimage.cc.
// Returns an error text, or empty when every option was understood.
std::string parse_firmware_options(const std::vector<std::string>& options,
                                   FirmwareImageSpec& spec);

}  // namespace fmxsim
