// fuzz_seeds OUTPUT: writes the seed corpus of every fuzz target into
// OUTPUT/<target>/. Images come from the emulator's image builders, sound ones
// and ones broken in each way the validation knows of; the text inputs are
// what sasburn, updater and fmxsim are normally given, plus their edge cases.
// The build runs it, so no seed is kept in the repository.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "boot_image.h"
#include "boot_image_builder.h"
#include "firmware_image_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string output_root;
int written = 0;

void make_dir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "fuzz_seeds: cannot make %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
}

void write_seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    make_dir(output_root + "/" + target);
    const std::string path = output_root + "/" + target + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    ++written;
}

void write_text(const std::string& target, const std::string& name, const std::string& text) {
    write_seed(target, name, Bytes(text.begin(), text.end()));
}

// ---------------------------------------------------------------------------
// Firmware images

using fmxsim::FirmwareImageSpec;
using fmxsim::NvdataSpec;
using fmxsim::SupportedDeviceSpec;

// Small images keep the executions fast; the layout is the same at any size.
FirmwareImageSpec small_image() {
    FirmwareImageSpec spec;
    spec.code_size = 0x100;
    spec.nvdata[0].size = 0x80;
    return spec;
}

struct FirmwareSeed {
    const char* name;
    std::function<void(FirmwareImageSpec&)> edit;
};

const std::vector<FirmwareSeed>& firmware_seeds() {
    static const std::vector<FirmwareSeed> seeds = {
        {"sound-ir", [](FirmwareImageSpec&) {}},
        {"sound-it", [](FirmwareImageSpec& s) { s.kind = kKindIT; }},
        {"product-id-0",
         [](FirmwareImageSpec& s) {
             s.kind.reset();
             s.product_id = 0;
         }},
        {"vendor-other", [](FirmwareImageSpec& s) { s.vendor_id = 0x1000; }},
        {"device-0x70",
         [](FirmwareImageSpec& s) {
             s.devices = {{0x70, 0, 0xFF}};
             s.nvdata[0].device_id = 0x70;
         }},
        {"device-0x64-rev-1-only",
         [](FirmwareImageSpec& s) {
             s.devices = {{0x65, 1, 1}};
             s.nvdata[0].device_id = 0x64;
         }},
        {"two-devices-one-revision-off",
         [](FirmwareImageSpec& s) {
             s.devices = {{0x80, 2, 3}, {0x87, 0, 1}};
         }},
        {"no-device-entries", [](FirmwareImageSpec& s) { s.devices.clear(); }},
        {"two-nvdata-first-other-device",
         [](FirmwareImageSpec& s) {
             NvdataSpec other = s.nvdata[0];
             other.device_id = 0x64;
             s.nvdata.insert(s.nvdata.begin(), other);
         }},
        {"three-nvdata-broken-then-sound",
         [](FirmwareImageSpec& s) {
             NvdataSpec bad = s.nvdata[0];
             bad.bad_signature = true;
             NvdataSpec bad_product = s.nvdata[0];
             bad_product.bad_product_signature = true;
             s.nvdata.insert(s.nvdata.begin(), {bad, bad_product});
         }},
        {"nvdata-newer", [](FirmwareImageSpec& s) { s.nvdata[0].version = 0x0F; }},
        {"nvdata-older", [](FirmwareImageSpec& s) { s.nvdata[0].version = 0x0D; }},
        {"nvdata-other-product", [](FirmwareImageSpec& s) { s.nvdata[0].product = "SAS2 RAID"; }},
        {"nvdata-bad-signature", [](FirmwareImageSpec& s) { s.nvdata[0].bad_signature = true; }},
        {"nvdata-bad-product-signature",
         [](FirmwareImageSpec& s) { s.nvdata[0].bad_product_signature = true; }},
        {"no-supported-devices", [](FirmwareImageSpec& s) { s.include_supported_devices = false; }},
        {"no-nvdata", [](FirmwareImageSpec& s) { s.nvdata.clear(); }},
        {"no-initialization", [](FirmwareImageSpec& s) { s.include_initialization = false; }},
        {"no-boot-loader", [](FirmwareImageSpec& s) { s.include_boot_loader = false; }},
        {"bad-signature", [](FirmwareImageSpec& s) { s.bad_signature = true; }},
        {"bad-checksum", [](FirmwareImageSpec& s) { s.bad_checksum = true; }},
        {"chain-cycle", [](FirmwareImageSpec& s) { s.chain_cycle = true; }},
        {"padded-odd-size", [](FirmwareImageSpec& s) { s.total_size = 0x1003; }},
    };
    return seeds;
}

void firmware_corpora() {
    for (const FirmwareSeed& seed : firmware_seeds()) {
        FirmwareImageSpec spec = small_image();
        seed.edit(spec);
        const Bytes image = fmxsim::build_firmware_image(spec);
        write_seed("firmware_file", seed.name, image);
        write_seed("firmware_flash", seed.name, image);
    }
    // What the listing meets: images cut short before and inside the header.
    const Bytes sound = fmxsim::build_firmware_image(small_image());
    for (const size_t cut : {size_t{0}, size_t{0x17}, size_t{0x18}, size_t{0x34}}) {
        write_seed("firmware_flash", "cut-" + std::to_string(cut),
                   Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(cut)));
    }
}

// ---------------------------------------------------------------------------
// Boot images

using fmxsim::RomImageSpec;
using fmxsim::TrailingImageSpec;

Bytes boot(std::vector<RomImageSpec> roms, std::vector<TrailingImageSpec> trailing = {}) {
    return fmxsim::build_boot_image(roms, trailing);
}

RomImageSpec rom(uint8_t code_type, uint16_t device_id, uint8_t fill, uint16_t blocks = 1) {
    return {.code_type = code_type, .device_id = device_id, .blocks = blocks, .fill = fill};
}

TrailingImageSpec trailing(uint8_t image_class, uint16_t id, uint8_t fill) {
    return {.image_class = image_class, .id = id, .fill = fill};
}

void boot_corpora() {
    using namespace boot;
    const auto x86 = [](uint16_t device, uint8_t fill) { return rom(kCodeTypeX86, device, fill); };
    const auto uefi = [](uint16_t device, uint8_t fill) {
        return rom(kCodeTypeUefi, device, fill);
    };
    const auto fcode = [](uint16_t device, uint8_t fill) {
        return rom(kCodeTypeFcode, device, fill);
    };

    // Files as -b reads them.
    write_seed("boot_file", "x86", boot({x86(0x70, 1)}));
    write_seed("boot_file", "x86-0x87-two-blocks", boot({rom(kCodeTypeX86, 0x87, 2, 2)}));
    write_seed("boot_file", "x86-0x45-refused", boot({x86(0x45, 3)}));
    write_seed(
        "boot_file", "x86-trailing",
        boot({x86(0x70, 4)},
             {trailing(kTrailingClassX86, 0x102, 5), trailing(kTrailingClassX86, 0x110, 6),
              trailing(kTrailingClassX86, 0x112, 7), trailing(kTrailingClassX86, 0x113, 8)}));
    write_seed("boot_file", "uefi-trailing",
               boot({uefi(0x70, 9)}, {trailing(kTrailingClassUefi, 0x102, 10),
                                      trailing(kTrailingClassUefi, 0x112, 11)}));
    write_seed("boot_file", "fcode", boot({fcode(0x70, 12)}));
    write_seed("boot_file", "x86-uefi-fcode",
               boot({x86(0x70, 13), uefi(0x70, 14), fcode(0x70, 15)}));
    write_seed("boot_file", "unknown-trailing", boot({x86(0x70, 16)}, {trailing(2, 0x999, 17)}));
    Bytes bad_sum = boot({x86(0x70, 18)});
    bad_sum[0x40] ^= 0x01;
    write_seed("boot_file", "bad-checksum", bad_sum);
    Bytes bad_pcir = boot({x86(0x70, 19)});
    bad_pcir[0x1C] = 'X';
    write_seed("boot_file", "bad-pci-signature", bad_pcir);

    // Regions as a controller hands them back.
    write_seed("boot_region", "empty", {});
    write_seed("boot_region", "default-0x47", fmxsim::build_default_boot_region(0x47));
    write_seed("boot_region", "default-0x45", fmxsim::build_default_boot_region(0x45));
    write_seed("boot_region", "two-x86", boot({x86(0x70, 20), x86(0x71, 21)}));
    write_seed("boot_region", "x86-for-previous-id", boot({x86(0x6F, 22)}));
    write_seed("boot_region", "x86-other-id", boot({x86(0x64, 23)}));
    std::vector<TrailingImageSpec> all_trailing;
    for (const uint8_t image_class : {kTrailingClassX86, kTrailingClassUefi})
        for (const uint16_t id : kClassX86TrailingOrder)
            all_trailing.push_back(trailing(image_class, id, static_cast<uint8_t>(id)));
    all_trailing.push_back(trailing(2, 0x999, 24));
    write_seed("boot_region", "full",
               boot({x86(0x70, 25), x86(0x71, 26), uefi(0x70, 27), fcode(0x70, 28)}, all_trailing));
    write_seed("boot_region", "uefi-only",
               boot({uefi(0x70, 29)}, {trailing(kTrailingClassUefi, 0x113, 30)}));
}

// ---------------------------------------------------------------------------
// Text inputs

void response_corpora() {
    const std::vector<std::pair<const char*, std::string>> seeds = {
        {"select-and-list", "-c 0\n-listall\n"},
        {"flash-forced", "-c 0x00000001 -f fw.bin\r\n-force\r\n"},
        {"hashes-and-tabs", "#-c\t0\n\t# -b\tbios.rom #\n"},
        {"help", "-?"},
        {"reset-all", "   -resetall   \n\n\n"},
        {"long-word", std::string(300, 'w') + "\n-listall"},
        {"many-words",
         [] {
             std::string text;
             for (int i = 0; i < 60; ++i) text += "-h ";
             return text;
         }()},
        {"nul-inside", std::string("-c\0 1\n", 6)},
        {"empty", ""},
    };
    for (const auto& [name, text] : seeds) write_text("response_file", name, text);
}

void number_corpora() {
    const std::vector<std::pair<const char*, std::string>> seeds = {
        {"zero", "0"},
        {"ten", "10"},
        {"prefixed-8", "0x00000005"},
        {"upper-prefix", "0X1f"},
        {"sixteen", "ffffffffffffffff"},
        {"prefixed-16", "0x123456789abcde"},
        {"seventeen", "12345678901234567"},
        {"not-hex", "zz"},
        {"decimal-a", "a"},
        {"empty", ""},
        {"prefix-only", "0x"},
        {"decimal-wrap", "99999999999"},
    };
    for (const auto& [name, text] : seeds) write_text("numbers", name, text);
}

// What "sasburn -listall" prints, with the lines updater must pass over.
const char kListing[] =
    "Qexton SAS2 RAID Mode Flash Utility\n"
    "Version 0.06.00.00 (2012.08.30) \n"
    "Copyright (c) 2008-2012 Norvane Corporation. All rights reserved.\n"
    "\n"
    "\tAdapter Selected is a Norvane SAS: SAS2008(B2)\n"
    "\n"
    "\tNum   Board Name         Firmware Version\n"
    "\t-----------------------------------------\n"
    "\t00    Q520               15.02.00.11\n"
    "\t01    Q510i              14.00.01.00\n"
    "\t02    --------------   -----------\n"
    "\t03    Q999               15.02.00.11\n"
    "\n"
    "\tFinished Processing Commands Successfully.\n"
    "\tExiting SAS2Flash.\n";

void listing_corpora() {
    write_text("listing_table", "listing", kListing);
    write_text("listing_table", "error-in-row",
               "\tNum   Board Name         Firmware Version\n"
               "\t00    Q520   \tERROR: Failed to Upload Image!\n"
               "-----------\n"
               "\t01    Q521               15.02.00.11\n");
    std::string eleven;
    for (int i = 0; i < 11; ++i) {
        char row[64];
        std::snprintf(row, sizeof row, "\t%02d    Q522x              15.02.00.%02d\n", i, i);
        eleven += row;
    }
    write_text("listing_table", "eleven-rows", eleven);
    write_text("listing_table", "long-line", "\t00    Q520 " + std::string(600, 'v') + "\n");
    write_text("listing_table", "five-columns", "\t00 Q520i 15.02.00.11 x 07.11.00.00");
    write_text("listing_table", "empty", "");
}

void config_corpora() {
    const std::vector<std::pair<const char*, std::string>> seeds = {
        {"entries",
         "# model, version, image\nQ520, 15.02.00.11, fw-q520.bin\n"
         "  Q510i\t,\t14.00.01.00 ,fw-q510i.bin -force\n"},
        {"crlf", "Q520,15.02.00.11,fw.bin\r\nQ521,15.02.00.11,fw.bin\r\n"},
        {"short-and-long", "Q522\nQ520i,1,2,3,4\n,,\n"},
        {"tab-space", "\t Q520 ,\t 15 , fw\n"},
        {"duplicate", "Q520,1,a\nQ520,2,b"},
        {"empty", ""},
    };
    for (const auto& [name, text] : seeds) write_text("firmware_cfg", name, text);
}

void scenario_corpora() {
    const std::vector<std::pair<const char*, std::string>> seeds = {
        {"empty-object", "{}"},
        {"no-controllers", R"({"controllers": []})"},
        {"based-on", R"({"description": "one default controller",
          "controllers": [{"based_on": 1, "revision": "0x02"}]})"},
        {"full-controller", R"({"controllers": [{
            "device_id": "0x87", "revision": 1, "adapter_type": 2, "port": 0,
            "subsystem_vendor_id": "0x1F0A", "subsystem_device_id": 0,
            "firmware_version": "0x0F02000B", "boot_image_version": 0,
            "driver_version": "4.28.00.00", "scsi_id": 7, "pci_bus": 3,
            "pci_device": 0, "pci_function": 0, "pci_segment": 0,
            "message_version": "0x0200",
            "manufacturing_page0": {"chip_name": "SAS2008", "chip_revision": "B2",
                                    "board_name": "Q520", "board_assembly": "A1",
                                    "tracer_number": "T1", "version": 2},
            "manufacturing_page2": {"length": 36, "version": 1,
                                    "current": ")" +
                                std::string(70, '0') + R"(aa"},
            "sas_io_unit_page": null,
            "regions": {"firmware": {"fill": 255, "size": 64},
                        "boot": {"hex": "55 aa 00"},
                        "backup": {"file": "region.bin"}},
            "faults": {
              "requests": [{"function": "0x09", "nth": 2, "count": 1, "ioc_status": "0x0004",
                            "log_info": "0x1234"},
                           {"function": "0x12", "driver_error": true}],
              "readback": [{"region": "backup", "changed_byte": 100, "after_download": true},
                           {"region": "firmware", "size": 0}]}}],
          "nodes": [{"path": "/dev/fmx2ctl", "open_fails": false,
                     "iocs": [{"ioc": 0, "controller": 0, "ioc_info_fails": false}]},
                    {"path": "/dev/fmx3ctl", "open_fails": true}]})"},
        {"bad-field", R"({"controllers": [{"device_id": 70000}]})"},
        {"unknown-field", R"({"controlers": []})"},
        {"not-json", "{\"controllers\": [}"},
    };
    for (const auto& [name, text] : seeds) write_text("scenario", name, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTPUT\n");
        return 2;
    }
    output_root = argv[1];
    make_dir(output_root);
    try {
        firmware_corpora();
        boot_corpora();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    response_corpora();
    number_corpora();
    listing_corpora();
    config_corpora();
    scenario_corpora();
    std::printf("fuzz_seeds: %d seeds in %s\n", written, output_root.c_str());
    return 0;
}
