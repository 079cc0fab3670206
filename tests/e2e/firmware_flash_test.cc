// "-f", "-fwall" and "-reset" end to end: sasburn under fmxsim on emulated
// controllers, checking the exact output, the exit status, the firmware
// requests each controller received and its flash afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "firmware_run.h"
#include "message_frames.h"
#include "run_command.h"

namespace {

using fmxsim::ControllerSpec;
using fmxsim::FirmwareImageSpec;
using fmxsim::NvdataSpec;
using fw_e2e::kFailureEnd;
using fw_e2e::kSuccessEnd;
using fw_e2e::q510i_update;
using fw_e2e::q520_update;
using fw_e2e::run_sasburn;
using fw_e2e::transfers;
using fw_e2e::upload_lines;
using fw_e2e::write_image;
using Lines = std::vector<std::string>;

const std::string kHeading = "\tExecuting Operation: Flash Firmware Image\n\n";
const std::string kFileChecks =
    "\t\tFirmware Image has a Valid Checksum. \n\n"
    "\t\tFirmware Image compatible with Controller. \n\n"
    "\t\tValid NVDATA Image found. \n\n";
const std::string kNvdataOk =
    "\t\tNVDATA Versions Compatible.\n"
    "\t\tNVDATA Product ID and Vendor ID match verified.\n\n";
const std::string kPartsOk =
    "\t\tValid Initialization Image verified.\n"
    "\t\tValid BootLoader Image verified.\n\n";
const std::string kValidated = kFileChecks + kNvdataOk + kPartsOk;
const std::string kDownloadOk =
    "\t\tBeginning Firmware Download...\n\t\tFirmware Download Successful.\n\n";
const std::string kVerifiedOk = "\t\tVerifying Download...\n\n\t\tFirmware Flash Successful!\n\n";
const std::string kValidationFailed = "\t\tFirmware Image Validation Failed! \n\n";

const ControllerSpec& default_controller(size_t index) {
    static const fmxsim::Scenario scenario = fmxsim::default_scenario();
    return scenario.controllers[index];
}

Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines download_line(const std::vector<uint8_t>& image) {
    return {"download 1 0+" + std::to_string(image.size())};
}

bool has_error_word(const std::string& text) { return text.find("ERROR") != std::string::npos; }

TEST(FirmwareFlash, OperationalControllerWithAMatchingImage) {
    fmx_test::TempDir dir;
    // The image file comes from the fwimage program, as an operator's would.
    const std::string file = dir.file("q520-14.bin");
    const auto made = fmx_test::run_command(
        {FMX_FWIMAGE_PROGRAM, file, "--version", "14.00.00.00", "--kind", "ir", "--product-id",
         "0x16", "--device", "0x80", "--nvdata", "version=0x0E,product=Q520,device=0x80"});
    ASSERT_EQ(made.exit_status, 0) << made.standard_error;
    const std::string contents = fmx_test::read_file(file);
    const std::vector<uint8_t> image(contents.begin(), contents.end());

    const auto run = run_sasburn(dir, {"-c", "0", "-f", file});
    EXPECT_EQ(run.result.exit_status, 0) << run.result.standard_error;
    EXPECT_EQ(run.body, kHeading + kValidated + kDownloadOk + kVerifiedOk + kSuccessEnd);
    // The running image is read in 64 KiB segments, the new one goes as one
    // request, and the backup region is read back once.
    EXPECT_EQ(transfers(run.trace, 0),
              concat(concat(upload_lines(1, default_controller(0).firmware.size()),
                            download_line(image)),
                     upload_lines(5, image.size())));
    EXPECT_TRUE(transfers(run.trace, 1).empty());
    ASSERT_EQ(run.state.controllers.size(), 2u);
    EXPECT_EQ(run.state.controllers[0].firmware, image);
    EXPECT_EQ(run.state.controllers[1].firmware, default_controller(1).firmware);
}

TEST(FirmwareFlash, SelectsTheNvdataBuiltForTheController) {
    fmx_test::TempDir dir;
    FirmwareImageSpec spec = q520_update();
    spec.nvdata.insert(spec.nvdata.begin(),
                       NvdataSpec{.version = 0x0E, .product = "Q520", .device_id = 0x70});
    const auto image = fmxsim::build_firmware_image(spec);
    const auto run = run_sasburn(dir, {"-f", write_image(dir, "fw.bin", image)});
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.body, kHeading + kFileChecks +
                            "\t\tERROR: NVDATA Image does not match Controller Device ID! \n"
                            "\t\t       Device ID - NVDATA:0x70 Controller:0x45 \n\n"
                            "\t\tChecking Next NVDATA image\n\n" +
                            kNvdataOk + kPartsOk + kDownloadOk + kVerifiedOk + kSuccessEnd);
    EXPECT_EQ(run.state.controllers[0].firmware, image);
}

// Each refusal stops the flash before anything is written.
struct RefusalCase {
    const char* name;
    std::string index;
    std::function<void(FirmwareImageSpec&)> change_image;
    std::function<void(ControllerSpec&)> change_controller;
    std::string messages;  // between the heading and the validation-failed line
};
// Shows the case by its name in test listings.
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class FirmwareRefused : public testing::TestWithParam<RefusalCase> {};

TEST_P(FirmwareRefused, PrintsWhyAndLeavesTheFlashAlone) {
    const RefusalCase& c = GetParam();
    fmx_test::TempDir dir;
    const size_t index = std::stoul(c.index);
    FirmwareImageSpec spec = index == 0 ? q520_update() : q510i_update();
    if (c.change_image) c.change_image(spec);
    const auto image = fmxsim::build_firmware_image(spec);
    auto scenario = fmxsim::default_scenario();
    if (c.change_controller) c.change_controller(scenario.controllers[index]);

    const auto run = run_sasburn(dir, {"-c", c.index, "-f", write_image(dir, "fw.bin", image)},
                                 scenario);
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(run.body, kHeading + c.messages + kValidationFailed + kFailureEnd);
    for (const auto& line : transfers(run.trace, static_cast<uint32_t>(index)))
        EXPECT_EQ(line.rfind("upload", 0), 0u) << line;
    EXPECT_EQ(run.state.controllers[index].firmware, default_controller(index).firmware);
}

const std::string kKindChecked = kFileChecks + kNvdataOk + kPartsOk;

INSTANTIATE_TEST_SUITE_P(
    Validation, FirmwareRefused,
    testing::Values(
        RefusalCase{"Checksum", "0", [](auto& s) { s.bad_checksum = true; }, nullptr,
                    "\t\tERROR: Firmware Image Checksum Failed: 00000001\n\n"},
        RefusalCase{"OtherDevice", "1", [](auto& s) { s.devices = {{0x80, 0, 0xFF}}; }, nullptr,
                    "\t\tFirmware Image has a Valid Checksum. \n\n"
                    "\t\tERROR: Firmware image does not support Target \n"
                    "\t\tAdapter Device ID (47) \n\n"},
        RefusalCase{"RunningImageUnreadable", "0", nullptr,
                    [](auto& c) {
                        c.request_faults = {{.function = fmx::kFunctionFirmwareUpload,
                                             .ioc_status = 0x0004}};
                    },
                    kFileChecks + "\tERROR: Failed to Upload Image!\n"},
        RefusalCase{"NvdataDowngrade", "0", [](auto& s) { s.nvdata[0].version = 0x0D; }, nullptr,
                    kFileChecks + "\t\tERROR: Cannot downgrade NVDATA Version 0xe to 0xd.\n\n"},
        RefusalCase{"NvdataProduct", "0", [](auto& s) { s.nvdata[0].product = "Q521"; }, nullptr,
                    kFileChecks + "\t\tNVDATA Versions Compatible.\n"
                                  "\t\tNVDATA Product ID and Vendor ID match FAILED!.\n\n"},
        RefusalCase{"ItOverIr", "0", [](auto& s) { s.kind = kKindIT; }, nullptr,
                    kKindChecked + "\t\tERROR: Cannot Flash IT Firmware over IR Firmware!\n\n"},
        RefusalCase{"IrOverIt", "1", [](auto& s) { s.kind = kKindIR; }, nullptr,
                    kKindChecked + "\t\tERROR: Cannot Flash IR Firmware over IT Firmware!\n\n"},
        RefusalCase{"OtherVendor", "0", [](auto& s) { s.vendor_id = 0x1F0B; }, nullptr,
                    kKindChecked + "\t\tERROR: Product ID and Vendor ID match FAILED.\n\n"}),
    [](const testing::TestParamInfo<RefusalCase>& param_info) { return param_info.param.name; });

// updater judges a flash by the word ERROR; this refusal prints none.
TEST(FirmwareFlash, NvdataIdentificationMismatchPrintsNoErrorWord) {
    fmx_test::TempDir dir;
    FirmwareImageSpec spec = q520_update();
    spec.nvdata[0].vendor = "OTHERCO";
    const auto run =
        run_sasburn(dir, {"-f", write_image(dir, "fw.bin", fmxsim::build_firmware_image(spec))});
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_FALSE(has_error_word(run.result.standard_output)) << run.result.standard_output;
}

TEST(FirmwareFlash, ForcedNvdataDowngradeErasesPersistentPagesBeforeTheDownload) {
    fmx_test::TempDir dir;
    FirmwareImageSpec spec = q520_update();
    spec.nvdata[0].version = 0x0D;
    const auto image = fmxsim::build_firmware_image(spec);
    // Manufacturing page 2 carries non-volatile settings that the erase resets.
    auto scenario = fmxsim::default_scenario();
    fmxsim::PageSpec& page2 = scenario.controllers[0].pages[1];
    ASSERT_EQ(page2.number, 2);
    page2.nonvolatile.back() ^= 0xFF;

    const auto run = run_sasburn(dir, {"-force", "-f", write_image(dir, "fw.bin", image)}, scenario);
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.body, kHeading + kFileChecks + "\t\tNVDATA Version Downgraded in Force Mode.\n" +
                            "\t\tNVDATA Product ID and Vendor ID match verified.\n\n" + kPartsOk +
                            "\t\tErasing Persistent Configuration Pages.\n\n" + kDownloadOk +
                            kVerifiedOk + kSuccessEnd);
    EXPECT_EQ(transfers(run.trace, 0),
              concat(concat(concat(upload_lines(1, default_controller(0).firmware.size()),
                                   {"clean"}),
                            download_line(image)),
                     upload_lines(5, image.size())));
    const fmxsim::PageSpec& after = run.state.controllers[0].pages[1];
    EXPECT_EQ(after.nonvolatile, after.defaults);
    EXPECT_EQ(run.state.controllers[0].firmware, image);
}

TEST(FirmwareFlash, ReadBackDifferingInOneByteIsACorruptDownload) {
    fmx_test::TempDir dir;
    const auto image = fmxsim::build_firmware_image(q520_update());
    auto scenario = fmxsim::default_scenario();
    scenario.controllers[0].readback_faults = {
        {.region = fmxsim::RegionKind::backup, .changed_byte = 0x1234, .after_download = true}};
    const auto run = run_sasburn(dir, {"-f", write_image(dir, "fw.bin", image)}, scenario);
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(run.body, kHeading + kValidated + kDownloadOk +
                            "\t\tVerifying Download...\n\n"
                            "\t\tERROR: Downloaded Image corrupt.\n\t\tFirmware Flash FAILED!\n\n" +
                            kFailureEnd);
}

TEST(FirmwareFlash, ReadBackShorterThanTheImageIsACorruptDownload) {
    fmx_test::TempDir dir;
    const auto image = fmxsim::build_firmware_image(q520_update());
    auto scenario = fmxsim::default_scenario();
    scenario.controllers[0].readback_faults = {
        {.region = fmxsim::RegionKind::backup,
         .size = static_cast<uint32_t>(image.size() - 1),
         .after_download = true}};
    const auto run = run_sasburn(dir, {"-f", write_image(dir, "fw.bin", image)}, scenario);
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_NE(run.body.find("\t\tERROR: Downloaded Image corrupt.\n"), std::string::npos)
        << run.body;
}

TEST(FirmwareFlash, FailedDownloadPrintsItsOwnLineWithoutTheErrorWord) {
    for (const bool driver_error : {false, true}) {
        SCOPED_TRACE(driver_error ? "driver error" : "IOC status");
        fmx_test::TempDir dir;
        const auto image = fmxsim::build_firmware_image(q520_update());
        auto scenario = fmxsim::default_scenario();
        scenario.controllers[0].request_faults = {{.function = fmx::kFunctionFirmwareDownload,
                                                   .driver_error = driver_error,
                                                   .ioc_status = 0x0004,
                                                   .log_info = 0x31170000}};
        const auto run = run_sasburn(dir, {"-f", write_image(dir, "fw.bin", image)}, scenario);
        EXPECT_EQ(run.result.exit_status, 1);
        EXPECT_EQ(run.body, kHeading + kValidated +
                                "\t\tBeginning Firmware Download...\n"
                                "\t\tFirmware Download Failed!\n\n" +
                                kFailureEnd);
        EXPECT_FALSE(has_error_word(run.result.standard_output));
        EXPECT_EQ(transfers(run.trace, 0).back(), download_line(image).front())
            << "no read-back after a failed download";
        EXPECT_EQ(run.state.controllers[0].firmware, default_controller(0).firmware);
    }
}

TEST(FirmwareFlash, FlashAllStopsAtTheFirstFailure) {
    fmx_test::TempDir dir;
    const auto image = fmxsim::build_firmware_image(q520_update());
    // Index 0 and 2 take the image, index 1 (device ID 71) does not.
    auto scenario = fw_e2e::scenario_of(
        {default_controller(0), default_controller(1), default_controller(0)});
    const auto run = run_sasburn(dir, {"-fwall", write_image(dir, "fw.bin", image)}, scenario);
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(run.body,
              "\n\tAttempting to flash firmware to Norvane SAS  at Index 0:\n\n" + kHeading +
                  kValidated + kDownloadOk + kVerifiedOk +
                  "\n\tAttempting to flash firmware to Norvane SAS  at Index 1:\n\n" + kHeading +
                  "\t\tFirmware Image has a Valid Checksum. \n\n"
                  "\t\tERROR: Firmware image does not support Target \n"
                  "\t\tAdapter Device ID (47) \n\n" +
                  kValidationFailed + kFailureEnd);
    EXPECT_TRUE(transfers(run.trace, 2).empty()) << "the third controller is not attempted";
    ASSERT_EQ(run.state.controllers.size(), 3u);
    EXPECT_EQ(run.state.controllers[0].firmware, image);
    EXPECT_EQ(run.state.controllers[1].firmware, default_controller(1).firmware);
    EXPECT_EQ(run.state.controllers[2].firmware, default_controller(0).firmware);
}

TEST(FirmwareFlash, FlashAllFlashesEveryController) {
    fmx_test::TempDir dir;
    const auto image = fmxsim::build_firmware_image(q520_update());
    auto scenario = fw_e2e::scenario_of({default_controller(0), default_controller(0)});
    const auto run = run_sasburn(dir, {"-fwall", write_image(dir, "fw.bin", image)}, scenario);
    EXPECT_EQ(run.result.exit_status, 0);
    const std::string one = kHeading + kValidated + kDownloadOk + kVerifiedOk;
    EXPECT_EQ(run.body, "\n\tAttempting to flash firmware to Norvane SAS  at Index 0:\n\n" + one +
                            "\n\tAttempting to flash firmware to Norvane SAS  at Index 1:\n\n" +
                            one + kSuccessEnd);
    EXPECT_EQ(run.state.controllers[0].firmware, image);
    EXPECT_EQ(run.state.controllers[1].firmware, image);
}

TEST(ResetAdapter, ResetsTheSelectedController) {
    fmx_test::TempDir dir;
    const auto run = run_sasburn(dir, {"-c", "1", "-reset"});
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.body,
              "\tExecuting Operation: Reset Adapter\n\n\t\tResetting Adapter...\n"
              "\t\tAdapter Successfully Reset.\n\n" +
                  kSuccessEnd);
    std::vector<uint32_t> reset_iocs;
    for (const auto& r : run.trace)
        if (r.request == 0xC00C4C18) reset_iocs.push_back(r.ioc.value_or(99));
    EXPECT_EQ(reset_iocs, std::vector<uint32_t>{1});
}

}  // namespace
