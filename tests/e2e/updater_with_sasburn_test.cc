// The real updater driving the real sasburn under one fmxsim run: discovery
// through "./sasburn -listall", the configured controller flashed with
// "./sasburn -c 00 -f FILE", and a listing afterwards showing the new version.
//
// updater writes its log to the fixed path /var/qxc/Component.log, so it runs
// in a private mount namespace with a test directory bound over /var; where no
// such namespace can be made the test is skipped rather than touch the machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "firmware_image_builder.h"
#include "fmxsim_support.h"
#include "run_command.h"
#include "temp_dir.h"

namespace {

using fmx_test::run_command;

// Runs argv with `var` bound over /var in a mount namespace of its own.
std::vector<std::string> with_private_var(const std::string& var, std::vector<std::string> argv) {
    std::vector<std::string> wrapped = {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                        "mount --bind \"$0\" /var && exec \"$@\"", var};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

bool private_var_available(const fmx_test::TempDir& dir) {
    const auto probe = run_command(with_private_var(dir.path(), {"true"}));
    return probe.exit_status == 0;
}

// A firmware image the default scenario's Q520 (controller 0) accepts.
std::vector<uint8_t> q520_image(std::array<uint8_t, 4> version) {
    fmxsim::FirmwareImageSpec spec;
    spec.version = version;
    spec.product_id = 0x0016;
    spec.kind = kKindIR;
    spec.devices = {{0x80, 0x00, 0xFF}};
    fmxsim::NvdataSpec nvdata;
    nvdata.product = "Q520";
    nvdata.device_id = 0x80;
    spec.nvdata = {nvdata};
    spec.code_size = 0x20000;
    return fmxsim::build_firmware_image(spec);
}

TEST(UpdaterWithSasburn, FlashesTheConfiguredControllerAndTheListingShowsTheNewVersion) {
    fmx_test::TempDir dir;
    if (!private_var_available(dir)) GTEST_SKIP() << "no private mount namespace for /var";
    ASSERT_EQ(::mkdir(dir.file("var").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("var/qxc").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("work").c_str(), 0755), 0);
    const std::string work = dir.file("work");
    ASSERT_EQ(::symlink(SASBURN_PROGRAM, (work + "/sasburn").c_str()), 0);
    const auto image = q520_image({13, 0, 2, 0});
    fmx_test::write_file(work + "/q520.bin", std::string(image.begin(), image.end()));
    fmx_test::write_file(work + "/firmware.cfg", "Q520, 13.00.02.00, q520.bin\n");

    fmx_test::RunOptions in_work;
    in_work.working_directory = work;
    const auto update = run_command(
        with_private_var(dir.file("var"),
                         fmx_test::fmxsim_command({.save_state = dir.file("after.json")},
                                                  {UPDATER_PROGRAM, "/c", "/s"})),
        in_work);
    ASSERT_EQ(update.exit_status, 1) << update.standard_output << update.standard_error;
    EXPECT_NE(update.standard_output.find("Successfully updated."), std::string::npos)
        << update.standard_output;
    EXPECT_NE(fmx_test::read_file(dir.file("var/qxc/Component.log")).find("13.00.02.00"),
              std::string::npos);

    const auto listing = run_command(
        fmx_test::fmxsim_command({.scenario = dir.file("after.json")}, {SASBURN_PROGRAM, "-listall"}));
    ASSERT_EQ(listing.exit_status, 0) << listing.standard_output;
    EXPECT_NE(listing.standard_output.find("\t00    Q520               13.00.02.00\n"), std::string::npos)
        << listing.standard_output;
    // The Q510i has no configuration entry and keeps its firmware.
    EXPECT_NE(listing.standard_output.find("\t01    Q510i              12.00.02.00\n"), std::string::npos)
        << listing.standard_output;
}

}  // namespace
