// A fixture for the flash operations: the emulated controllers hosted in the
// test process, the library started and the controllers enumerated as sasburn
// does at start-up, so a test can set a controller's tracked state (which no
// command line produces) and run an operation on it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapters.h"
#include "command_execution.h"
#include "command_line.h"
#include "firmware_image_builder.h"
#include "message_frames.h"
#include "scenario.h"
#include "test_bed.h"

// The default scenario with manufacturing page 2's non-volatile copy of the
// first controller differing from its current values.
inline fmxsim::Scenario page2_differs() {
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    scenario.controllers[0].pages[1].nonvolatile.back() ^= 0x5A;
    return scenario;
}

class FirmwareTestBed : public testing::Test {
protected:
    // Starts the controllers of `scenario`; call from SetUp or the test.
    void start(fmxsim::Scenario scenario = fmxsim::default_scenario()) {
        if (!fmxsim::TestBed::available())
            GTEST_SKIP() << "the emulated controllers need umockdev's preload library";
        bed_ = std::make_unique<fmxsim::TestBed>(std::move(scenario));
        forget_adapters();
        ASSERT_TRUE(start_library());
        ASSERT_TRUE(enumerate_adapters());
        clear_host_boot_attempts();
        selected_adapter = adapter_list;
        bed_->clear_trace();
    }

    void TearDown() override {
        forget_adapters();
        release_run_allocations();  // the adapter records
    }

    AdapterRecord& first_adapter() { return *adapter_list; }

    // Requests of one function code the controllers received.
    std::vector<fmxsim::TraceRecord> requests(uint8_t function) const {
        std::vector<fmxsim::TraceRecord> found;
        for (const auto& r : bed_->trace())
            if (r.function == function) found.push_back(r);
        return found;
    }
    size_t config_writes() const {
        size_t writes = 0;
        for (const auto& r : requests(fmx::kFunctionConfig))
            writes += r.action == fmx::kConfigActionWriteNvram;
        return writes;
    }

    static std::string captured(const std::function<void()>& run) {
        testing::internal::CaptureStdout();
        run();
        return testing::internal::GetCapturedStdout();
    }

    // An image the first default controller (device ID 69) takes.
    static std::vector<uint8_t> q520_image() {
        fmxsim::FirmwareImageSpec spec;
        spec.version = {14, 0, 0, 0};
        spec.product_id = 0x0016;
        spec.devices = {{0x80, 0, 0xFF}};
        spec.nvdata = {fmxsim::NvdataSpec{.product = "Q520", .device_id = 0x80}};
        return fmxsim::build_firmware_image(spec);
    }

    // The messages of a file that passes validation while no running image is
    // read (a controller in RESET or FAULT state).
    static constexpr const char* kValidatedWithoutRunningImage =
        "\t\tFirmware Image has a Valid Checksum. \n\n"
        "\t\tFirmware Image compatible with Controller. \n\n"
        "\t\tValid NVDATA Image found. \n\n"
        "\t\tValid Initialization Image verified.\n"
        "\t\tValid BootLoader Image verified.\n\n";

    std::unique_ptr<fmxsim::TestBed> bed_;
};
