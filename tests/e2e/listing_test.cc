// "-listall" end to end: the table updater reads, with the board name from
// manufacturing page 0 and the version from the firmware read back out of
// each controller's flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware_run.h"
#include "message_frames.h"

namespace {

using fw_e2e::transfers;
using fw_e2e::upload_lines;

const std::string kHeader =
    "\tNum   Board Name         Firmware Version\n"
    "\t-----------------------------------------\n";

fmxsim::ControllerSpec q520() { return fmxsim::default_scenario().controllers[0]; }

void set_board_name(fmxsim::ControllerSpec& controller, const std::string& name) {
    controller.pages[0] = fmxsim::make_manufacturing_page0({"FMX2108", "B2", name, "", ""});
}

std::vector<uint8_t> firmware(std::array<uint8_t, 4> version, uint32_t size) {
    fmxsim::FirmwareImageSpec spec;
    spec.version = version;
    spec.code_size = 0;
    spec.total_size = size;
    return fmxsim::build_firmware_image(spec);
}

TEST(Listing, DefaultControllers) {
    fmx_test::TempDir dir;
    const auto run = fw_e2e::run_sasburn(dir, {"-listall"});
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.body, kHeader +
                            "\t00    Q520               13.00.01.00\n"
                            "\t01    Q510i              12.00.02.00\n"
                            "\n" +
                            fw_e2e::kSuccessEnd);
}

// One controller per kind of row; the versions are read whole in 64 KiB
// segments, so an image of exactly 0x10000 bytes takes one segment and one of
// 0x10001 bytes two.
TEST(Listing, RowsForNamesAndVersionsThatCannotBeShown) {
    std::vector<fmxsim::ControllerSpec> controllers(6, q520());
    set_board_name(controllers[0], "TESTBOARD");
    controllers[0].firmware = firmware({15, 2, 0, 11}, 0x10000);
    set_board_name(controllers[1], std::string(16, ' '));
    controllers[1].firmware = firmware({1, 2, 3, 4}, 0x10001);
    controllers[2].pages.erase(controllers[2].pages.begin());  // no manufacturing page 0
    controllers[3].firmware.resize(23);                        // one byte short of the version
    controllers[4].request_faults = {{.function = fmx::kFunctionFirmwareUpload,
                                      .ioc_status = 0x0004}};
    controllers[5].firmware.clear();

    fmx_test::TempDir dir;
    const auto run = fw_e2e::run_sasburn(dir, {"-listall"}, fw_e2e::scenario_of(controllers));
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.body, kHeader +
                            "\t00    TESTBOARD          15.02.00.11\n"
                            "\t01    --------------   01.02.03.04\n"
                            "\t02       13.00.01.00\n"
                            "\t03    Q520               -----------\n"
                            "\t04    Q520               \tERROR: Failed to Upload Image!\n"
                            "-----------\n"
                            "\t05    Q520               -----------\n"
                            "\n" +
                            fw_e2e::kSuccessEnd);
    EXPECT_EQ(transfers(run.trace, 0), upload_lines(1, 0x10000));
    EXPECT_EQ(transfers(run.trace, 1), upload_lines(1, 0x10001));
    EXPECT_EQ(transfers(run.trace, 1).back(), "upload 1 65536+1");
    EXPECT_EQ(transfers(run.trace, 3), upload_lines(1, 23));
    EXPECT_EQ(transfers(run.trace, 4), std::vector<std::string>{"upload 1 0+0"});
    EXPECT_EQ(transfers(run.trace, 5), std::vector<std::string>{"upload 1 0+0"});
}

TEST(Listing, ShowsTheNewVersionAfterAFlash) {
    fmx_test::TempDir dir;
    const auto image = fmxsim::build_firmware_image(fw_e2e::q510i_update());
    const std::string file = fw_e2e::write_image(dir, "fw.bin", image);
    const auto flash = fw_e2e::run_sasburn(dir, {"-c", "1", "-f", file});
    ASSERT_EQ(flash.result.exit_status, 0) << flash.body;
    fmx_test::TempDir later;
    const auto run = fw_e2e::run_sasburn(later, {"-listall"}, flash.state);
    EXPECT_EQ(run.body, kHeader +
                            "\t00    Q520               13.00.01.00\n"
                            "\t01    Q510i              14.00.00.00\n"
                            "\n" +
                            fw_e2e::kSuccessEnd);
}

}  // namespace
