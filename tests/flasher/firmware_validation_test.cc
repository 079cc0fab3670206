// The validation of a firmware image file, step by step with its exact
// messages. The controller here is in FAULT state (its handle is not in the
// tracked state table), so the sequence reads no running image and only the
// file side applies; the running-image rules are driven directly with images
// built here.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "adapters.h"
#include "commands.h"
#include "firmware_image_builder.h"
#include "firmware_validation.h"

namespace {

using fmxsim::FirmwareImageSpec;
using fmxsim::NvdataSpec;
using fmxsim::SupportedDeviceSpec;
using Image = std::vector<uint8_t>;

constexpr uint32_t kUntrackedHandle = 0x01000077;

const std::string kChecksumOk = "\t\tFirmware Image has a Valid Checksum. \n\n";
const std::string kCompatible = "\t\tFirmware Image compatible with Controller. \n\n";
const std::string kNvdataFound = "\t\tValid NVDATA Image found. \n\n";
const std::string kThroughNvdata = kChecksumOk + kCompatible + kNvdataFound;
const std::string kInitOk = "\t\tValid Initialization Image verified.\n";
const std::string kBootLoaderOk = "\t\tValid BootLoader Image verified.\n\n";
const std::string kFailed = "\t\tFirmware Image Validation Failed! \n\n";
const std::string kSignature = "\t\tERROR: Firmware Image does not have a Valid Signature.\n\n";
const std::string kRevision =
    "\t\tERROR: Firmware image does not support Target \n\t\tAdapter Chip Revision (1) \n\n";
const std::string kDevice =
    "\t\tERROR: Firmware image does not support Target \n\t\tAdapter Device ID (45) \n\n";
const std::string kNoNvdataImage =
    "\t\tERROR: Firmware Image does not have a valid NVDATA image! \n\n";
const std::string kNoCompatibleNvdata = "\t\tERROR: No compatible NVDATA image found! \n\n";
const std::string kNextNvdata = "\t\tChecking Next NVDATA image\n\n";
const std::string kFileSignature =
    "\t\tERROR: Invalid NVDATA Signature in Firmware image from File \n\n";
const std::string kFileProductSignature =
    "\t\tERROR: Invalid NVDATA PROD_ID Signature in Firmware image from File \n\n";
const std::string kMatchVerified = "\t\tNVDATA Product ID and Vendor ID match verified.\n\n";
const std::string kVersionsCompatible = "\t\tNVDATA Versions Compatible.\n";

// Device ID 0x45 revision 1, as the first controller of the default scenario.
const AdapterRecord kAdapter{kUntrackedHandle, 0, 0x45, 1, nullptr};

// Names each instance of a parameterised test after its case.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& param_info) const {
        return param_info.param.name;
    }
};

template <typename Check>
std::string captured(Check check) {
    testing::internal::CaptureStdout();
    check();
    return testing::internal::GetCapturedStdout();
}

Image build(const std::function<void(FirmwareImageSpec&)>& change) {
    FirmwareImageSpec spec;
    change(spec);
    return fmxsim::build_firmware_image(spec);
}

// The last extended image loses `cut` bytes at its end, and the checksum is
// made good again, so the walk itself meets the end of the image.
Image cut_short(const std::function<void(FirmwareImageSpec&)>& change, size_t cut) {
    Image image = build(change);
    image.resize(image.size() - cut);
    fmxsim::seal_firmware_image(image);
    return image;
}

// Only a Supported Devices list, so that it ends the image.
void devices_only(FirmwareImageSpec& s, std::vector<SupportedDeviceSpec> devices) {
    s.devices = std::move(devices);
    s.nvdata.clear();
    s.include_initialization = s.include_boot_loader = false;
}

// One NVDATA image of exactly its two records, ending the image.
constexpr uint32_t kBareNvdataSize = sizeof(NvdataHeader) + sizeof(NvdataProductBlock);
void nvdata_last(FirmwareImageSpec& s) {
    s.nvdata = {NvdataSpec{.size = kBareNvdataSize}};
    s.include_initialization = s.include_boot_loader = false;
}

NvdataSpec nvdata_for(uint16_t device_id) { return NvdataSpec{.device_id = device_id}; }

struct FileCase {
    const char* name;
    Image image;
    bool ok;
    std::string output;
};
// Shows the case by its name in test listings.
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FileValidation : public testing::TestWithParam<FileCase> {};

TEST_P(FileValidation, PrintsEachStepAndStopsAtTheFirstFailure) {
    const FileCase& c = GetParam();
    bool force_downgraded = false;
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = false;
    const std::string output = captured([&] {
        ok = validate_firmware_image(c.image.data(), c.image.size(), kAdapter, &force_downgraded,
                                     &ioc_status, &log_info);
    });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(output, c.output);
    EXPECT_FALSE(force_downgraded);
}

Image first_bytes(Image image, size_t size) {
    image.resize(size);
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FileValidation,
    testing::Values(
        FileCase{"Valid", build([](auto&) {}), true,
                 kThroughNvdata + kInitOk + kBootLoaderOk},
        FileCase{"SecondSignatureWordWrongFailsBeforeTheChecksum",
                 build([](auto& s) { s.bad_signature = s.bad_checksum = true; }), false,
                 kSignature + kFailed},
        FileCase{"ShorterThanItsHeader",
                 first_bytes(build([](auto&) {}), sizeof(FirmwareImageHeader) - 1), false,
                 kSignature + kFailed},
        FileCase{"Checksum", build([](auto& s) { s.bad_checksum = true; }), false,
                 "\t\tERROR: Firmware Image Checksum Failed: 00000001\n\n" + kFailed},
        FileCase{"NoSupportedDevices",
                 build([](auto& s) { s.include_supported_devices = false; }), false,
                 kChecksumOk + "\t\tERROR: Failed to find Supported Devices Extended Image \n\n" +
                     kFailed},
        FileCase{"OtherDeviceOnly", build([](auto& s) { s.devices = {{0x72, 0, 0xFF}}; }), false,
                 kChecksumOk + kDevice + kFailed},
        FileCase{"EmptyDeviceList", build([](auto& s) { s.devices.clear(); }), false,
                 kChecksumOk + kDevice + kFailed},
        FileCase{"RevisionOutOfRange", build([](auto& s) { s.devices = {{0x80, 2, 3}}; }), false,
                 kChecksumOk + kRevision + kFailed},
        FileCase{"OneEntryOfTheFamilyCoversTheRevision",
                 build([](auto& s) { s.devices = {{0x80, 2, 3}, {0x86, 0, 1}}; }), true,
                 kChecksumOk + kRevision + kCompatible + kNvdataFound + kInitOk + kBootLoaderOk},
        FileCase{"DeviceEntryReachingPastTheEndIsMissing",
                 cut_short([](auto& s) { devices_only(s, {{0x72, 0, 0xFF}, {0x80, 0, 0xFF}}); }, 1),
                 false, kChecksumOk + kDevice + kFailed},
        FileCase{"DeviceEntryEndingAtTheEndCounts",
                 build([](auto& s) { devices_only(s, {{0x72, 0, 0xFF}, {0x80, 0, 0xFF}}); }),
                 false, kChecksumOk + kCompatible + kNoNvdataImage + kFailed},
        FileCase{"NoNvdata", build([](auto& s) { s.nvdata.clear(); }), false,
                 kChecksumOk + kCompatible + kNoNvdataImage + kFailed},
        FileCase{"FirstNvdataForAnotherDevice",
                 build([](auto& s) { s.nvdata = {nvdata_for(0x72), nvdata_for(0x81)}; }), true,
                 kThroughNvdata +
                     "\t\tERROR: NVDATA Image does not match Controller Device ID! \n"
                     "\t\t       Device ID - NVDATA:0x72 Controller:0x45 \n\n" +
                     kNextNvdata + kInitOk + kBootLoaderOk},
        FileCase{"OnlyNvdataForAnotherDevice",
                 build([](auto& s) { s.nvdata = {nvdata_for(0x47)}; }), false,
                 kThroughNvdata +
                     "\t\tERROR: NVDATA Image does not match Controller Device ID! \n"
                     "\t\t       Device ID - NVDATA:0x47 Controller:0x45 \n\n" +
                     kNoCompatibleNvdata + kFailed},
        FileCase{"BrokenNvdataImagesArePassedOver",
                 build([](auto& s) {
                     s.nvdata = {NvdataSpec{.bad_signature = true},
                                 NvdataSpec{.bad_product_signature = true}, NvdataSpec{}};
                 }),
                 true,
                 kThroughNvdata + kFileSignature + kNextNvdata + kFileProductSignature +
                     kNextNvdata + kInitOk + kBootLoaderOk},
        FileCase{"ProductBlockReachingPastTheEnd", cut_short(nvdata_last, 1), false,
                 kThroughNvdata + kFileProductSignature + kNoCompatibleNvdata + kFailed},
        FileCase{"NvdataHeaderReachingPastTheEnd",
                 cut_short(nvdata_last, sizeof(NvdataProductBlock) + 1), false,
                 kThroughNvdata + kFileSignature + kNoCompatibleNvdata + kFailed},
        FileCase{"NvdataExtendedHeaderReachingPastTheEnd",
                 cut_short(nvdata_last, kBareNvdataSize + 1), false,
                 kChecksumOk + kCompatible + kNoNvdataImage + kFailed},
        FileCase{"NoInitialization", build([](auto& s) { s.include_initialization = false; }),
                 false,
                 kThroughNvdata +
                     "\t\tERROR: Firmware Image does not have a valid Initialization image.\n" +
                     kFailed},
        FileCase{"NoBootLoader", build([](auto& s) { s.include_boot_loader = false; }), false,
                 kThroughNvdata + kInitOk +
                     "\t\tERROR: Firmware Image does not have a valid BootLoader image.\n" +
                     kFailed}),
    CaseName());

// ---- the running-image side of the NVDATA rule ----

struct NvdataCase {
    const char* name;
    std::vector<NvdataSpec> file;
    std::vector<NvdataSpec> running;
    bool force;
    bool ok;
    bool force_downgraded;
    std::string output;
};
// Shows the case by its name in test listings.
void PrintTo(const NvdataCase& c, std::ostream* os) { *os << c.name; }

class RunningNvdata : public testing::TestWithParam<NvdataCase> {
protected:
    void TearDown() override { force_mode = false; }
};

TEST_P(RunningNvdata, ComparesVersionVendorAndProduct) {
    const NvdataCase& c = GetParam();
    const Image file = build([&](auto& s) { s.nvdata = c.file; });
    const Image running = build([&](auto& s) { s.nvdata = c.running; });
    const ImageView file_view(file.data(), file.size());
    const ImageView running_view(running.data(), running.size());
    force_mode = c.force;
    bool force_downgraded = false;
    bool ok = false;
    const std::string output = captured([&] {
        ok = check_nvdata_compatibility(file_view, &running_view, kAdapter, &force_downgraded);
    });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(force_downgraded, c.force_downgraded);
    EXPECT_EQ(output, c.output);
}

NvdataSpec version(uint32_t v) { return NvdataSpec{.version = v}; }

INSTANTIATE_TEST_SUITE_P(
    Rules, RunningNvdata,
    testing::Values(
        NvdataCase{"EqualVersions", {version(0x0E)}, {version(0x0E)}, false, true, false,
                   kVersionsCompatible + kMatchVerified},
        NvdataCase{"Upgrade", {version(0x0F)}, {version(0x0E)}, false, true, false,
                   kVersionsCompatible + kMatchVerified},
        NvdataCase{"DowngradeRefused", {version(0x0E)}, {version(0x0F)}, false, false, false,
                   "\t\tERROR: Cannot downgrade NVDATA Version 0xf to 0xe.\n\n"},
        NvdataCase{"DowngradeForced", {version(0x0E)}, {version(0x0F)}, true, true, true,
                   "\t\tNVDATA Version Downgraded in Force Mode.\n" + kMatchVerified},
        NvdataCase{"VersionsCompareUnsigned", {version(0x7FFFFFFF)}, {version(0x80000000)}, false,
                   false, false,
                   "\t\tERROR: Cannot downgrade NVDATA Version 0x80000000 to 0x7fffffff.\n\n"},
        NvdataCase{"DowngradeOfTheSelectedImageTriesNoOther",
                   {version(0x01), version(0x20)}, {version(0x10)}, false, false, false,
                   "\t\tERROR: Cannot downgrade NVDATA Version 0x10 to 0x1.\n\n"},
        NvdataCase{"VendorDiffers", {NvdataSpec{.vendor = "OTHERCO"}}, {NvdataSpec{}}, false,
                   false, false,
                   kVersionsCompatible + "\t\tNVDATA Product ID and Vendor ID match FAILED!.\n\n"},
        NvdataCase{"ProductDiffers", {NvdataSpec{.product = "Q510i"}}, {NvdataSpec{}}, false,
                   false, false,
                   kVersionsCompatible + "\t\tNVDATA Product ID and Vendor ID match FAILED!.\n\n"},
        NvdataCase{"RunningHasNone", {NvdataSpec{}}, {}, false, false, false,
                   "\t\tERROR: Failed to get valid NVDATA image from Flash! \n\n"},
        NvdataCase{"RunningSignature", {NvdataSpec{}}, {NvdataSpec{.bad_signature = true}},
                   false, false, false,
                   "\t\tERROR: Invalid NVDATA Signature in Firmware image from Flash \n\n"},
        NvdataCase{"RunningProductSignature", {NvdataSpec{}},
                   {NvdataSpec{.bad_product_signature = true}}, false, false, false,
                   "\t\tERROR: Invalid NVDATA PROD_ID Signature in Firmware image from Flash \n\n"},
        NvdataCase{"FileHasNone", {}, {NvdataSpec{}}, false, false, false,
                   "\t\tERROR: Failed to get valid NVDATA image from File! \n\n"}),
    CaseName());

// ---- vendor ID and firmware kind ----

struct KindCase {
    const char* name;
    uint16_t file_vendor, file_product;
    uint16_t running_vendor, running_product;
    bool ok;
    std::string output;
};
// Shows the case by its name in test listings.
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class FirmwareKind : public testing::TestWithParam<KindCase> {};

TEST_P(FirmwareKind, RefusesAnotherKindOrVendor) {
    const KindCase& c = GetParam();
    FirmwareImageHeader file{};
    file.vendor_id = c.file_vendor;
    file.product_id = c.file_product;
    FirmwareImageHeader running{};
    running.vendor_id = c.running_vendor;
    running.product_id = c.running_product;
    bool ok = false;
    const std::string output = captured([&] { ok = check_firmware_kind(file, running); });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(output, c.output);
}

const std::string kItOverIr = "\t\tERROR: Cannot Flash IT Firmware over IR Firmware!\n\n";
const std::string kIrOverIt = "\t\tERROR: Cannot Flash IR Firmware over IT Firmware!\n\n";
const std::string kVendor = "\t\tERROR: Product ID and Vendor ID match FAILED.\n\n";

INSTANTIATE_TEST_SUITE_P(
    Pairs, FirmwareKind,
    testing::Values(KindCase{"ItOverIt", 0x1F0A, 0x0213, 0x1F0A, 0x0216, true, ""},
                    KindCase{"IrOverIr", 0x1F0A, 0x0713, 0x1F0A, 0x0713, true, ""},
                    KindCase{"ItOverIr", 0x1F0A, 0x0213, 0x1F0A, 0x0713, false, kItOverIr},
                    KindCase{"IrOverIt", 0x1F0A, 0x0713, 0x1F0A, 0x0213, false, kIrOverIt},
                    KindCase{"OtherKindOverIt", 0x1F0A, 0x0013, 0x1F0A, 0x0213, false, kIrOverIt},
                    KindCase{"ItOverOtherKind", 0x1F0A, 0x0213, 0x1F0A, 0x0313, true, ""},
                    KindCase{"RunningProductZero", 0x1F0A, 0x0213, 0x1F0A, 0x0000, true, ""},
                    KindCase{"VendorDiffers", 0x1F0B, 0x0713, 0x1F0A, 0x0713, false, kVendor},
                    KindCase{"VendorDiffersRunningProductZero", 0x1F0B, 0x0713, 0x1F0A, 0, false,
                             kVendor},
                    KindCase{"VendorAndKindDiffer", 0x1F0B, 0x0213, 0x1F0A, 0x0713, false,
                             kVendor + kItOverIr}),
    CaseName());

}  // namespace
