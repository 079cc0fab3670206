// Boot image walks, file validation and the assembly of a new boot region.

#include "boot_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boot_image_builder.h"

namespace {

using boot::ImageSpan;
using boot::RomOccurrence;
using fmxsim::RomImageSpec;
using fmxsim::TrailingImageSpec;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kX86 = boot::kCodeTypeX86;
constexpr uint8_t kUefi = boot::kCodeTypeUefi;
constexpr uint8_t kFcode = boot::kCodeTypeFcode;
constexpr uint8_t kLast = 0x80;

RomImageSpec rom(uint8_t code_type, uint16_t device_id, uint8_t fill,
                 std::optional<uint8_t> indicator = std::nullopt, uint16_t blocks = 1) {
    RomImageSpec spec;
    spec.code_type = code_type;
    spec.device_id = device_id;
    spec.fill = fill;
    spec.indicator = indicator;
    spec.blocks = blocks;
    return spec;
}

TrailingImageSpec trailing(uint8_t image_class, uint16_t id, uint8_t fill, uint32_t length = 0x180) {
    return {image_class, id, length, fill};
}

Bytes build(const std::vector<RomImageSpec>& roms, const std::vector<TrailingImageSpec>& tail = {}) {
    return fmxsim::build_boot_image(roms, tail);
}

void patch_le16(Bytes& bytes, size_t offset, uint16_t value) { fmx::store_le16(&bytes[offset], value); }
void patch_le32(Bytes& bytes, size_t offset, uint32_t value) { fmx::store_le32(&bytes[offset], value); }

// Offsets inside images made by the builder (PCI data structure at 0x1C).
constexpr size_t kPciData = 0x1C;
constexpr size_t kPciDeviceId = kPciData + 0x06;
constexpr size_t kPciImageLength = kPciData + 0x10;
constexpr size_t kPciIndicator = kPciData + 0x15;
constexpr size_t kTrailingLength = 0x60;

// --- walks ------------------------------------------------------------------

TEST(BootImageWalk, FindsEachImageOfAWellFormedRegion) {
    const Bytes region = build(
        {rom(kX86, 0x72, 1, {}, 2), rom(kX86, 0x73, 2), rom(kUefi, 0x72, 3, {}, 3), rom(kFcode, 0x72, 4)},
        {trailing(1, 0x110, 5, 0x100), trailing(3, 0x102, 6, 0x200)});
    EXPECT_EQ(boot::find_rom_image(region, kX86), (ImageSpan{0, 0x400}));
    EXPECT_EQ(boot::find_rom_image(region, kX86, RomOccurrence::second), (ImageSpan{0x400, 0x200}));
    EXPECT_EQ(boot::find_rom_image(region, kUefi), (ImageSpan{0x600, 0x600}));
    EXPECT_EQ(boot::find_rom_image(region, kFcode), (ImageSpan{0xC00, 0x200}));
    EXPECT_EQ(boot::find_rom_image(region, kUefi, RomOccurrence::second), std::nullopt);
    EXPECT_EQ(boot::find_rom_image(region, 2), std::nullopt);

    EXPECT_EQ(boot::find_trailing_image(region, 1, 0x110), (ImageSpan{0xE00, 0x100}));
    EXPECT_EQ(boot::find_trailing_image(region, 3, 0x102), (ImageSpan{0xF00, 0x200}));
    EXPECT_EQ(boot::find_trailing_image(region, 3, 0x110), std::nullopt);  // class must match too
    EXPECT_EQ(boot::find_trailing_image(region, 1, 0x112), std::nullopt);
}

TEST(BootImageWalk, RomChainEndsAtTheIndicator) {
    // An image after the one marked last is not part of the chain; it is where
    // the trailing images start, so a ROM image there is none of them either.
    const Bytes region = build({rom(kX86, 0x72, 1, kLast), rom(kUefi, 0x72, 2)});
    EXPECT_EQ(boot::find_rom_image(region, kUefi), std::nullopt);
    EXPECT_EQ(boot::find_trailing_image(region, 1, 0x102), std::nullopt);
}

struct MalformedCase {
    std::string name;
    Bytes buffer;
    uint8_t code_type;                 // looked up with find_rom_image
    std::optional<ImageSpan> rom;      // its expected result
    std::optional<ImageSpan> tail;     // find_trailing_image(1, 0x102)
};

std::vector<MalformedCase> malformed_cases() {
    const Bytes chain = build({rom(kX86, 0x72, 1), rom(kUefi, 0x72, 2)}, {trailing(1, 0x102, 3)});
    std::vector<MalformedCase> cases;
    auto add = [&](std::string name, Bytes buffer, uint8_t type, std::optional<ImageSpan> rom_result,
                   std::optional<ImageSpan> tail_result) {
        cases.push_back({std::move(name), std::move(buffer), type, rom_result, tail_result});
    };
    add("empty", {}, kX86, std::nullopt, std::nullopt);
    add("intact", chain, kUefi, ImageSpan{0x200, 0x200}, ImageSpan{0x400, 0x180});

    Bytes cut_rom(chain.begin(), chain.begin() + 0x3FF);  // UEFI image one byte short
    add("rom_image_past_end", cut_rom, kUefi, std::nullopt, std::nullopt);

    Bytes pci_away = chain;
    patch_le16(pci_away, 0x200 + 0x18, 0xFFF0);
    add("pci_data_past_end", pci_away, kUefi, std::nullopt, std::nullopt);

    Bytes pci_outside_image = chain;
    patch_le16(pci_outside_image, 0x18, 0x200);  // points at the next image's header
    add("pci_data_outside_its_image", pci_outside_image, kX86, std::nullopt, std::nullopt);

    Bytes zero_length = chain;
    patch_le16(zero_length, 0x200 + kPciImageLength, 0);
    add("zero_image_length", zero_length, kUefi, std::nullopt, std::nullopt);

    Bytes huge_length = chain;
    patch_le16(huge_length, kPciImageLength, 0xFFFF);
    add("image_length_past_end", huge_length, kUefi, std::nullopt, std::nullopt);

    Bytes no_pcir = chain;
    no_pcir[kPciData] = 'X';
    add("pci_signature_broken", no_pcir, kX86, std::nullopt, std::nullopt);

    Bytes tail_past_end = chain;
    patch_le32(tail_past_end, 0x400 + kTrailingLength, 0x181);
    add("trailing_past_end", tail_past_end, kUefi, ImageSpan{0x200, 0x200}, std::nullopt);

    Bytes tail_header_cut(chain.begin(), chain.begin() + 0x400 + 0x50);
    add("trailing_header_cut", tail_header_cut, kUefi, ImageSpan{0x200, 0x200}, std::nullopt);

    // A zero-length image ends the walk, even with the wanted one behind it.
    Bytes zero_tail = build({rom(kX86, 0x72, 1)}, {trailing(1, 0x110, 2), trailing(1, 0x102, 3)});
    patch_le32(zero_tail, 0x200 + kTrailingLength, 0);
    add("trailing_zero_length", zero_tail, kX86, ImageSpan{0, 0x200}, std::nullopt);

    Bytes unterminated = build({rom(kX86, 0x72, 1, 0), rom(kUefi, 0x72, 2, 0)}, {trailing(1, 0x102, 3)});
    add("chain_without_last_image", unterminated, kFcode, std::nullopt, std::nullopt);
    return cases;
}

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class BootImageMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(BootImageMalformed, WalksStayInsideTheBuffer) {
    const auto& c = GetParam();
    EXPECT_EQ(boot::find_rom_image(c.buffer, c.code_type), c.rom);
    EXPECT_EQ(boot::find_trailing_image(c.buffer, 1, 0x102), c.tail);
}

INSTANTIATE_TEST_SUITE_P(Cases, BootImageMalformed, testing::ValuesIn(malformed_cases()),
                         [](const auto& test) { return test.param.name; });

TEST(BootImageChecksum, ChecksumByteMakesTheSumZero) {
    Bytes piece = {0x10, 0x20, 0x30, 0x99};
    boot::set_rom_checksum_byte(piece);
    EXPECT_EQ(piece.back(), 0xA0);
    EXPECT_EQ(boot::boot_image_byte_sum(piece), 0);
}

// --- validation ---------------------------------------------------------------

std::string validate(Bytes& file, uint16_t controller_device_id, bool* result = nullptr) {
    testing::internal::CaptureStdout();
    const bool ok = boot::validate_boot_image(file, controller_device_id);
    if (result) *result = ok;
    return testing::internal::GetCapturedStdout();
}

const std::string kValidating = "\t\tValidating BIOS Image...\n\n";
const std::string kSignatureValid = "\t\tBIOS Header Signature is Valid\n\n";
const std::string kChecksumValid = "\t\tBIOS Image has a Valid Checksum. \n\n";
const std::string kPciValid = "\t\tBIOS PCI Structure Signature Valid.\n\n";

TEST(BootImageValidation, AcceptsAndRewritesTheDeviceIdForTheController) {
    const struct {
        uint16_t controller;
        uint16_t written;
    } cases[] = {{0x45, 0x87}, {0x47, 0x70}, {0x72, 0x72}, {0x86, 0x86}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.controller);
        const Bytes original = build({rom(kX86, 0x64, 1)}, {trailing(1, 0x102, 2)});
        Bytes file = original;
        bool ok = false;
        EXPECT_EQ(validate(file, c.controller, &ok),
                  kValidating + kSignatureValid + kChecksumValid + kPciValid +
                      "\t\tBIOS Image Compatible with the SAS Controller.\n\n");
        EXPECT_TRUE(ok);
        EXPECT_EQ(fmx::load_le16(&file[kPciDeviceId]), c.written);
        file[kPciDeviceId] = original[kPciDeviceId];
        file[kPciDeviceId + 1] = original[kPciDeviceId + 1];
        EXPECT_EQ(file, original) << "only the device ID changes";
    }
}

TEST(BootImageValidation, RefusesBadFilesWithTheStepThatFailed) {
    const Bytes good = build({rom(kX86, 0x80, 1)});
    const std::string compatible_fail = "\t\tERROR: BIOS Image not compatible with the SAS Controller.\n\n";
    struct Case {
        const char* name;
        Bytes file;
        std::string output;
    };
    std::vector<Case> cases;

    Bytes bad_signature = good;
    bad_signature[1] = 0xAB;
    cases.push_back({"signature", bad_signature, kValidating + "\t\tBIOS Header Signature is Invalid\n\n"});
    cases.push_back({"one byte", Bytes{0x55}, kValidating + "\t\tBIOS Header Signature is Invalid\n\n"});

    Bytes bad_sum = good;
    bad_sum[0x100] = static_cast<uint8_t>(bad_sum[0x100] + 0xA3);
    cases.push_back({"checksum", bad_sum,
                     kValidating + kSignatureValid + "\t\tERROR: BIOS Image Checksum Failed: 000000A3\n\n"});

    // Bytes that sum to 0 but hold no PCI data structure where the header points.
    Bytes no_pcir = {0x55, 0xAA, 0x00, 0x01};
    cases.push_back({"no pci structure", no_pcir,
                     kValidating + kSignatureValid + kChecksumValid +
                         "\t\tBIOS PCI Structure Signature Invalid!\n\n"});

    // 0x45 names a controller, never the image it takes.
    for (const uint16_t id : {0x45, 0x47, 0x88, 0x71}) {
        cases.push_back({"device id", build({rom(kX86, id, 1)}),
                         kValidating + kSignatureValid + kChecksumValid + kPciValid + compatible_fail});
    }
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = true;
        const Bytes before = c.file;
        EXPECT_EQ(validate(c.file, 0x45, &ok), c.output);
        EXPECT_FALSE(ok);
        EXPECT_EQ(c.file, before) << "a refused file is left as it was";
    }
}

// --- assembly -------------------------------------------------------------------

// The file is the one that validation passed, so its device ID is already the
// controller's (0x72 here).
struct AssemblyCase {
    std::string name;
    Bytes file;
    Bytes region;
    Bytes expected;
};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes with_zero_sum(Bytes bytes) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes.back() = static_cast<uint8_t>(-sum);
    return bytes;
}

std::vector<AssemblyCase> assembly_cases() {
    std::vector<AssemblyCase> cases;
    // The region's own images; fill 0x4x, 0x5x for trailing images.
    const auto r_x86 = rom(kX86, 0x72, 0x41, {}, 2);
    const auto r_x86_second = rom(kX86, 0x73, 0x42);
    const auto r_uefi = rom(kUefi, 0x72, 0x43, {}, 2);
    const auto r_fcode = rom(kFcode, 0x72, 0x44);
    const auto r_t1_102 = trailing(1, 0x102, 0x51), r_t1_110 = trailing(1, 0x110, 0x52);
    const auto r_t3_102 = trailing(3, 0x102, 0x53), r_t3_112 = trailing(3, 0x112, 0x54);
    const auto r_unknown_id = trailing(1, 0x105, 0x55), r_unknown_class = trailing(2, 0x102, 0x56);
    // The file's; fill 0x1x, 0x2x.
    const auto f_x86 = rom(kX86, 0x72, 0x11, {}, 3);
    const auto f_uefi = rom(kUefi, 0x72, 0x12);
    const auto f_fcode = rom(kFcode, 0x72, 0x13, {}, 2);
    const auto f_t1_102 = trailing(1, 0x102, 0x21), f_t1_113 = trailing(1, 0x113, 0x22);
    const auto f_t3_110 = trailing(3, 0x110, 0x23), f_t3_112 = trailing(3, 0x112, 0x24);
    auto with_indicator = [](RomImageSpec spec, uint8_t indicator) {
        spec.indicator = indicator;
        return spec;
    };
    auto last = [&](RomImageSpec spec) { return with_indicator(spec, kLast); };
    auto not_last = [&](RomImageSpec spec) { return with_indicator(spec, 0); };

    const Bytes full_region = build({r_x86, r_x86_second, r_uefi, r_fcode},
                                    {r_t1_110, r_unknown_id, r_t3_102, r_t1_102, r_unknown_class});

    cases.push_back({"x86_same_id_keeps_second_x86",
                     build({f_x86}, {f_t1_102, f_t1_113}), full_region,
                     build({not_last(f_x86), not_last(r_x86_second), not_last(r_uefi), last(r_fcode)},
                           {r_t1_102, r_t1_110, r_t3_102})});

    cases.push_back({"x86_same_id_without_second_takes_file_trailing",
                     build({f_x86}, {f_t1_113, f_t1_102, f_t3_110}),
                     build({r_x86, r_uefi}, {r_t1_110, r_t3_112}),
                     build({not_last(f_x86), last(r_uefi)}, {f_t1_102, f_t1_113, r_t3_112})});

    {
        const auto r_x86_below = rom(kX86, 0x71, 0x45, {}, 2);
        const Bytes file = build({f_x86}, {f_t1_113});
        // The whole file follows as one piece: its first image is no longer the
        // last of the chain, and the piece's last byte (that of its trailing
        // image) takes the checksum.
        Bytes file_as_second = file;
        file_as_second[kPciIndicator] = 0;
        file_as_second = with_zero_sum(file_as_second);
        cases.push_back({"x86_next_id_follows_the_region_image", file,
                         build({r_x86_below, r_uefi}, {r_t1_102, r_t3_112}),
                         concat({build({not_last(r_x86_below)}), file_as_second, build({last(r_uefi)}),
                                 build({}, {r_t1_102, r_t3_112})})});
    }

    {
        const auto r_x86_other = rom(kX86, 0x64, 0x46, 0);
        cases.push_back({"x86_other_id_goes_first", build({f_x86}, {f_t1_113}),
                         build({r_x86_other, r_fcode}, {r_t1_102, r_t3_102}),
                         build({not_last(f_x86), not_last(r_x86_other), last(r_fcode)},
                               {f_t1_113, r_t3_102})});
    }

    cases.push_back({"uefi_file_keeps_first_x86_fcode_and_class1",
                     build({f_uefi}, {f_t3_110, f_t3_112, f_t1_102}), full_region,
                     build({not_last(r_x86), not_last(f_uefi), last(r_fcode)},
                           {r_t1_102, r_t1_110, f_t3_112, f_t3_110})});

    cases.push_back({"fcode_file_keeps_first_x86_and_uefi", build({f_fcode}, {f_t1_113, f_t3_112}),
                     full_region,
                     build({not_last(r_x86), not_last(r_uefi), last(f_fcode)},
                           {r_t1_102, r_t1_110, r_t3_102})});

    cases.push_back({"empty_region_x86_file", build({f_x86}, {f_t3_110, f_t1_113, f_t1_102}), {},
                     build({last(f_x86)}, {f_t1_102, f_t1_113})});
    cases.push_back({"empty_region_uefi_file", build({f_uefi}, {f_t1_102, f_t3_112, f_t3_110}), {},
                     build({last(f_uefi)}, {f_t3_112, f_t3_110})});
    cases.push_back({"empty_region_fcode_file", build({f_fcode}, {f_t1_102, f_t3_112}), {},
                     build({last(f_fcode)})});

    // Alone in the region, the primary image keeps the indicator of its source.
    cases.push_back({"lone_primary_keeps_its_indicator", build({with_indicator(f_x86, 0)}),
                     build({r_x86}), build({with_indicator(f_x86, 0)})});
    return cases;
}

void PrintTo(const AssemblyCase& c, std::ostream* os) { *os << c.name; }

class BootRegionAssembly : public testing::TestWithParam<AssemblyCase> {};

TEST_P(BootRegionAssembly, BuildsTheRegionFromTheChosenPieces) {
    const auto& c = GetParam();
    const Bytes region = boot::assemble_boot_region(c.file, c.region);
    ASSERT_EQ(region.size(), c.expected.size());
    for (size_t i = 0; i < region.size(); ++i)
        ASSERT_EQ(region[i], c.expected[i]) << "first difference at offset 0x" << std::hex << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, BootRegionAssembly, testing::ValuesIn(assembly_cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
