// The flash operations on Linux, where host boot is not available: controllers
// in RESET or FAULT state, the host-boot limit, manufacturing page 2
// preservation, the attempt table and the operations' own refusals.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "commands.h"
#include "firmware_flash.h"
#include "firmware_test_bed.h"
#include "operations.h"

namespace {

class LinuxFlash : public FirmwareTestBed {
protected:
    void SetUp() override { start(); }
};

struct StateCase {
    uint32_t state;
    const char* name;
};
// Shows the case by its name in test listings.
void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }

class NoHostBoot : public FirmwareTestBed, public testing::WithParamInterface<StateCase> {
protected:
    void SetUp() override { start(); }
};

TEST_P(NoHostBoot, CountsTheAttemptAndFails) {
    const uint32_t handle = first_adapter().handle;
    ASSERT_TRUE(set_adapter_state(handle, GetParam().state));
    const auto image = q520_image();
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = true;
    const std::string output = captured([&] {
        ok = flash_firmware_image(first_adapter(), image.data(), static_cast<uint32_t>(image.size()),
                                  &ioc_status, &log_info);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(output, std::string(kValidatedWithoutRunningImage) + "\t\tChip is in " +
                          GetParam().name +
                          " state. Attempting Host Boot...\n"
                          "\t\tFirmware Host Boot is not Supported on this platform.\n\n");
    EXPECT_EQ(ioc_status, 1);
    EXPECT_EQ(host_boot_count(handle), 1u);
    EXPECT_TRUE(requests(fmx::kFunctionFirmwareUpload).empty()) << "no running image is read";
    EXPECT_TRUE(requests(fmx::kFunctionFirmwareDownload).empty());
}

INSTANTIATE_TEST_SUITE_P(States, NoHostBoot,
                         testing::Values(StateCase{STATE_FAULT, "FAULT"},
                                         StateCase{STATE_RESET, "RESET"},
                                         StateCase{0x4000A000, "FAULT"}),
                         [](const testing::TestParamInfo<StateCase>& param_info) {
                             return std::string(param_info.param.name) +
                                    std::to_string(param_info.index);
                         });

TEST_F(LinuxFlash, HostBootLimitIsCheckedBeforeAnAttempt) {
    const uint32_t handle = first_adapter().handle;
    ASSERT_TRUE(set_adapter_state(handle, STATE_FAULT));
    note_host_boot_attempt(handle);
    note_host_boot_attempt(handle);
    const auto image = q520_image();
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = true;
    const std::string output = captured([&] {
        ok = flash_firmware_image(first_adapter(), image.data(), static_cast<uint32_t>(image.size()),
                                  &ioc_status, &log_info);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(output, std::string(kValidatedWithoutRunningImage) +
                          "\t\tHost Boot limit reached, exiting !\n\n"
                          "\t\tERROR: Firmware Host Boot Failed !\n");
    EXPECT_EQ(host_boot_count(handle), 2u);
}

TEST_F(LinuxFlash, AttemptsAddUpPerControllerAndNeverLeaveTheTable) {
    EXPECT_EQ(host_boot_count(0x01000001), 0u);
    note_host_boot_attempt(0x01000001);
    note_host_boot_attempt(0x01000002);
    note_host_boot_attempt(0x01000001);
    EXPECT_EQ(host_boot_count(0x01000001), 2u);
    EXPECT_EQ(host_boot_count(0x01000002), 1u);
    EXPECT_EQ(host_boot_attempts[0].handle, 0x01000001u);
    EXPECT_EQ(host_boot_attempts[1].handle, 0x01000002u);

    for (uint32_t i = 2; i < kAdapterTableSize; ++i) note_host_boot_attempt(0x01000100 + i);
    note_host_boot_attempt(0x01000999);  // no entry is free any more
    EXPECT_EQ(host_boot_count(0x01000999), 0u);
    EXPECT_EQ(host_boot_count(0x01000100 + kAdapterTableSize - 1), 1u);
}

TEST_F(LinuxFlash, EqualManufacturingPage2IsLeftAlone) {
    bool updated = true;
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = false;
    const std::string output = captured(
        [&] { ok = preserve_mfg_page2(first_adapter().handle, &updated, &ioc_status, &log_info); });
    EXPECT_TRUE(ok);
    EXPECT_FALSE(updated);
    EXPECT_EQ(output, "");
    EXPECT_EQ(config_writes(), 0u);
}

struct Page2Case {
    const char* name;
    std::function<void(fmxsim::ControllerSpec&)> change;
    bool ok;
    bool updated;
    std::string output;
    bool nonvolatile_takes_current;
};
// Shows the case by its name in test listings.
void PrintTo(const Page2Case& c, std::ostream* os) { *os << c.name; }

class ManufacturingPage2 : public FirmwareTestBed, public testing::WithParamInterface<Page2Case> {};

TEST_P(ManufacturingPage2, WritesTheCurrentValuesWhenTheCopiesDiffer) {
    const Page2Case& c = GetParam();
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    c.change(scenario.controllers[0]);
    start(scenario);
    bool updated = false;
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = !c.ok;
    const std::string output = captured(
        [&] { ok = preserve_mfg_page2(first_adapter().handle, &updated, &ioc_status, &log_info); });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(updated, c.updated);
    EXPECT_EQ(output, c.output);
    const fmxsim::ControllerSpec controller = bed_->controller(0);
    const fmxsim::PageSpec* page = controller.find_page(fmx::kPageTypeManufacturing, 2, 0);
    if (c.nonvolatile_takes_current) {
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->nonvolatile, page->current);
        EXPECT_EQ(config_writes(), 1u);
    } else {
        EXPECT_EQ(config_writes(), 0u);
    }
}

fmxsim::PageSpec& page2_of(fmxsim::ControllerSpec& c) { return c.pages[1]; }

// Configuration requests per page read: the header, then the read itself.
constexpr uint32_t kCurrentRead = 3;
constexpr uint32_t kNonvolatileRead = 5;

INSTANTIATE_TEST_SUITE_P(
    Copies, ManufacturingPage2,
    testing::Values(
        Page2Case{"Differ", [](auto& c) { page2_of(c).nonvolatile.back() ^= 0x5A; }, true, true,
                  "\t\tMfgPage2 Mismatch Detected.\n"
                  "\t\tWriting Current MfgPage2 Settings to NVRam\n",
                  true},
        Page2Case{"NonvolatileUnreadable",
                  [](auto& c) {
                      c.request_faults = {{.function = fmx::kFunctionConfig,
                                           .nth = kNonvolatileRead,
                                           .ioc_status = 0x0022}};
                  },
                  true, true, "\t\tWriting Current MfgPage2 Settings to NVRam\n", true},
        Page2Case{"CurrentUnreadable",
                  [](auto& c) {
                      c.request_faults = {{.function = fmx::kFunctionConfig,
                                           .nth = kCurrentRead,
                                           .ioc_status = 0x0022}};
                  },
                  false, false, "\t\tFailed reading current MfgPage2 settings!!\n", false},
        Page2Case{"Missing", [](auto& c) { c.pages.erase(c.pages.begin() + 1); }, false, false,
                  "\t\tFailed to read MfgPage2 Header!!\n", false}),
    [](const testing::TestParamInfo<Page2Case>& param_info) { return param_info.param.name; });

TEST_F(LinuxFlash, ResetOfAControllerTheLibraryDoesNotKnowFails) {
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    bool ok = true;
    const std::string output =
        captured([&] { ok = reset_adapter_operation(0x01000099, &ioc_status, &log_info); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(output,
              "\tExecuting Operation: Reset Adapter\n\n\t\tResetting Adapter...\n"
              "\t\tAdapter Reset Failed!.\n\n");
}

TEST_F(LinuxFlash, FlashOperationNeedsAFileWithContents) {
    Command command{};
    command.code = CMD_FLASH_FIRMWARE;
    current_command = &command;
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    const std::string heading = "\tExecuting Operation: Flash Firmware Image\n\n";

    bool ok = true;
    EXPECT_EQ(captured([&] { ok = flash_firmware_operation(0, &ioc_status, &log_info); }), heading);
    EXPECT_FALSE(ok) << "no file";

    command.files[0] = {1, 0, nullptr};
    EXPECT_EQ(captured([&] { ok = flash_firmware_operation(0, &ioc_status, &log_info); }), heading);
    EXPECT_FALSE(ok) << "an empty file";

    command.files[0] = {1, 100, nullptr};
    EXPECT_EQ(captured([&] { ok = flash_firmware_operation(0, &ioc_status, &log_info); }),
              heading + "\t\tERROR: Unable to read from file.\n");
    EXPECT_FALSE(ok) << "no contents";
    current_command = nullptr;
    EXPECT_TRUE(bed_->trace().empty());
}

}  // namespace
