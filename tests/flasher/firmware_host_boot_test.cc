// The flash of a controller that is not running firmware, on a platform that
// can host-boot one. This test program is such a platform: it supplies
// platform_host_boot and platform_after_host_boot itself (in place of the
// Linux ones, which always refuse), answering with scripted results.
#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>

#include "firmware_flash.h"
#include "firmware_test_bed.h"

namespace {

std::deque<int> scripted_boot_results;
int boots = 0;
int after_boots = 0;

}  // namespace

int platform_host_boot(uint32_t, const uint8_t*, uint32_t, uint16_t* ioc_status,
                       uint32_t* log_info) {
    *ioc_status = 0;
    *log_info = 0;
    ++boots;
    if (scripted_boot_results.empty()) return kHostBootFailed;
    const int result = scripted_boot_results.front();
    scripted_boot_results.pop_front();
    return result;
}

void platform_after_host_boot(uint32_t) { ++after_boots; }

namespace {

const std::string kFaultBoot = "\t\tChip is in FAULT state. Attempting Host Boot...\n";
const std::string kBooted = "\t\tFirmware Host Boot Successful !\n";
const std::string kPage2Updated =
    "\t\tMfgPage2 Mismatch Detected.\n"
    "\t\tWriting Current MfgPage2 Settings to NVRam\n"
    "\t\tUpdated MfgPage2 !\n"
    "\t\tResetting Adapter...\n"
    "\t\tAdapter Reset Completed.\n";
const std::string kDownloaded =
    "\t\tBeginning Firmware Download...\n\t\tFirmware Download Successful.\n\n";
const std::string kVerified = "\t\tVerifying Download...\n\n\t\tFirmware Flash Successful!\n\n";

struct HostBootCase {
    const char* name;
    fmxsim::Scenario scenario;
    uint32_t state;
    // Forget every tracked state after start-up, so the reset cannot mark the
    // controller READY and it reads as FAULT again.
    bool untracked;
    std::deque<int> boot_results;
    bool ok;
    std::string output;
    int boots;
    int after_boots;
    uint32_t hard_resets;
    bool downloaded;
};
// Shows the case by its name in test listings.
void PrintTo(const HostBootCase& c, std::ostream* os) { *os << c.name; }

class HostBoot : public FirmwareTestBed, public testing::WithParamInterface<HostBootCase> {
protected:
    void SetUp() override {
        scripted_boot_results.clear();
        boots = after_boots = 0;
    }
};

TEST_P(HostBoot, BootsKeepsManufacturingPage2AndFlashes) {
    const HostBootCase& c = GetParam();
    start(c.scenario);
    if (IsSkipped()) return;
    const uint32_t handle = first_adapter().handle;
    ASSERT_TRUE(set_adapter_state(handle, c.state));
    if (c.untracked) clear_adapter_state_table();
    scripted_boot_results = c.boot_results;
    const auto image = q520_image();
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = !c.ok;
    const std::string output = captured([&] {
        ok = flash_firmware_image(first_adapter(), image.data(), static_cast<uint32_t>(image.size()),
                                  &ioc_status, &log_info);
    });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(output, kValidatedWithoutRunningImage + c.output);
    EXPECT_EQ(boots, c.boots);
    EXPECT_EQ(host_boot_count(handle), static_cast<uint32_t>(c.boots));
    EXPECT_EQ(after_boots, c.after_boots);
    EXPECT_EQ(bed_->hard_resets(0), c.hard_resets);
    const fmxsim::ControllerSpec controller = bed_->controller(0);
    EXPECT_EQ(controller.firmware == image, c.downloaded);
    const fmxsim::PageSpec* page2 = controller.find_page(fmx::kPageTypeManufacturing, 2, 0);
    ASSERT_NE(page2, nullptr);
    EXPECT_EQ(page2->nonvolatile, page2->current) << "page 2 is kept whenever the boot worked";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HostBoot,
    testing::Values(
        HostBootCase{"PageEqualNoReset", fmxsim::default_scenario(), STATE_FAULT, false, {1}, true,
                     kFaultBoot + kBooted + kDownloaded + kVerified, 1, 1, 0, true},
        HostBootCase{"PageDiffersResetThenReady", page2_differs(), STATE_FAULT,
                     false, {1}, true, kFaultBoot + kBooted + kPage2Updated + kDownloaded + kVerified,
                     1, 1, 1, true},
        HostBootCase{"ResetStateIsNotVerified", fmxsim::default_scenario(), STATE_RESET, false, {1},
                     true,
                     "\t\tChip is in RESET state. Attempting Host Boot...\n" + kBooted + kDownloaded,
                     1, 1, 0, true},
        HostBootCase{"FailedButMayGoOn", fmxsim::default_scenario(), STATE_FAULT, false, {2}, true,
                     kFaultBoot + "\t\tERROR: Firmware Host Boot Failed !\n" + kDownloaded +
                         kVerified,
                     1, 1, 0, true},
        HostBootCase{"Failed", fmxsim::default_scenario(), STATE_FAULT, false, {0}, false,
                     kFaultBoot + "\t\tERROR: Firmware Host Boot Failed !\n", 1, 0, 0, false},
        HostBootCase{"StillFaultAfterTheResetBootsAgain", page2_differs(),
                     STATE_FAULT, true, {1, 1}, true,
                     kFaultBoot + kBooted + kPage2Updated +
                         "\t\tChip is in FAULT state. Performing Host Boot...\n"
                         "\t\tFirmware Host Boot Successful !\n\n" +
                         kDownloaded + kVerified,
                     2, 1, 1, true},
        HostBootCase{"SecondBootFails", page2_differs(), STATE_FAULT, true, {1, 0},
                     false,
                     kFaultBoot + kBooted + kPage2Updated +
                         "\t\tChip is in FAULT state. Performing Host Boot...\n"
                         "\t\tERROR: Firmware Host Boot Failed !\n\n",
                     2, 0, 1, false}),
    [](const testing::TestParamInfo<HostBootCase>& param_info) { return param_info.param.name; });

TEST_F(HostBoot, ManufacturingPage2ThatCannotBeReadEndsTheFlash) {
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    auto& pages = scenario.controllers[0].pages;
    pages.erase(pages.begin() + 1);
    start(scenario);
    if (IsSkipped()) return;
    ASSERT_TRUE(set_adapter_state(first_adapter().handle, STATE_FAULT));
    scripted_boot_results = {1};
    const auto image = q520_image();
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = true;
    const std::string output = captured([&] {
        ok = flash_firmware_image(first_adapter(), image.data(), static_cast<uint32_t>(image.size()),
                                  &ioc_status, &log_info);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(output, kValidatedWithoutRunningImage + kFaultBoot + kBooted +
                          "\t\tFailed to read MfgPage2 Header!!\n"
                          "\t\tFailed to validate MfgPage2 !\n");
    EXPECT_EQ(after_boots, 0);
    EXPECT_TRUE(requests(fmx::kFunctionFirmwareDownload).empty());
}

}  // namespace
