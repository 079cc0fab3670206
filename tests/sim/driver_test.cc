// The driver model: records in and out of the client, strict checks, faults
// and the trace. Runs against FakeClient, so both pass-through forms are
// exercised in every build width.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "driver.h"
#include "frames.h"
#include "ioc_status.h"

namespace {

using fmxsim::Driver;
using fmxsim::Scenario;
using namespace sim_test;

TEST(IocInformation, AnswersTheScenarioValuesForEachIocNumber) {
    Driver driver(fmxsim::default_scenario());
    const Scenario scenario = fmxsim::default_scenario();
    const fmxsim::ControllerSpec& expected = scenario.controllers[1];
    fmx::DriverIocInfo info{};
    ASSERT_EQ(ioc_information(driver, 1, info).value, 0);
    EXPECT_EQ(info.header.ioc_number.get(), 1u);
    EXPECT_EQ(info.header.size.get(), 92u);
    EXPECT_EQ(info.pci_device_id.get(), 71u);
    EXPECT_EQ(info.hardware_revision.get(), 0u);
    EXPECT_EQ(info.adapter_type.get(), expected.adapter_type);
    EXPECT_EQ(info.subsystem_vendor_id.get(), expected.subsystem_vendor_id);
    EXPECT_EQ(info.subsystem_device_id.get(), expected.subsystem_device_id);
    EXPECT_EQ(info.firmware_version.get(), expected.firmware_version);
    EXPECT_STREQ(info.driver_version, expected.driver_version.c_str());
    EXPECT_EQ(info.scsi_id, expected.scsi_id);
    EXPECT_EQ(info.pci_location.get(), expected.pci_bus << 8);

    ASSERT_EQ(ioc_information(driver, 0, info).value, 0);
    EXPECT_EQ(info.pci_device_id.get(), 69u);
    EXPECT_EQ(info.hardware_revision.get(), 1u);
}

TEST(IocInformation, FailsForNumbersNodesAndSizesTheDriverDoesNotKnow) {
    Scenario scenario = fmxsim::default_scenario();
    scenario.nodes[0].iocs[1].ioc_info_fails = true;
    scenario.nodes.push_back({"/dev/fmx3ctl", false, {{5, 0, false}}});
    Driver driver(scenario);
    const struct {
        uint32_t ioc;
        const char* node;
        uint32_t header_size;
        int error;
    } cases[] = {
        {2, "/dev/fmx2ctl", 92, ENODEV},  {254, "/dev/fmx2ctl", 92, ENODEV}, {0, "/dev/fmx3ctl", 92, ENODEV},
        {1, "/dev/fmx2ctl", 92, EIO},     {0, "/dev/fmx2ctl", 88, EINVAL},   {0, "/dev/qxvsactl", 92, ENODEV},
    };
    for (const auto& c : cases) {
        fmx::DriverIocInfo info{};
        const fmxsim::DriverResult result = ioc_information(driver, c.ioc, info, c.node, c.header_size);
        EXPECT_EQ(result.value, -1) << c.node << " " << c.ioc;
        EXPECT_EQ(result.error, c.error) << c.node << " " << c.ioc;
        EXPECT_EQ(info.pci_device_id.get(), 0u);
    }
    fmx::DriverIocInfo info{};
    EXPECT_EQ(ioc_information(driver, 5, info, "/dev/fmx3ctl").value, 0);
    EXPECT_EQ(info.pci_device_id.get(), 69u);
}

TEST(DriverRequests, UnknownRequestCodesFailWithEnotty) {
    Driver driver(fmxsim::default_scenario());
    FakeClient client;
    client.set_argument(client.place_zeros(256));
    for (uint32_t code : {0xC05C4C12u, 0xC0404C14u, 0x00004C14u, 0u}) {
        const fmxsim::DriverResult result = driver.ioctl("/dev/fmx2ctl", code, client);
        EXPECT_EQ(result.value, -1);
        EXPECT_EQ(result.error, ENOTTY) << std::hex << code;
    }
}

TEST(DriverRequests, HardResetIsRecordedAndSucceeds) {
    Driver driver(fmxsim::default_scenario());
    for (uint32_t ioc : {1u, 1u, 7u}) {
        FakeClient client;
        fmx::DriverResetRequest reset{};
        reset.header.ioc_number = ioc;
        client.set_argument(client.place(bytes_of(reset)));
        const fmxsim::DriverResult result = driver.ioctl("/dev/fmx2ctl", fmx::kHardResetRequest, client);
        EXPECT_EQ(result.value, ioc == 7 ? -1 : 0);
    }
    EXPECT_EQ(driver.hard_resets(0), 0u);
    EXPECT_EQ(driver.hard_resets(1), 2u);
}

// ---- pass-through, in both record forms ----

template <typename Command>
class PassThroughForm : public ::testing::Test {
protected:
    PassThroughResult send(Driver& driver, const PassThrough& request, const char* node = "/dev/fmx2ctl") {
        return pass_through<Command>(driver, request, node);
    }
};
using Forms = ::testing::Types<fmx::DriverCommand32, fmx::DriverCommand64>;
TYPED_TEST_SUITE(PassThroughForm, Forms);

TYPED_TEST(PassThroughForm, CarriesFrameAndDataBothWays) {
    Driver driver(fmxsim::default_scenario());
    const PassThroughResult facts = this->send(driver, {.ioc = 1, .frame = facts_frame()});
    ASSERT_EQ(facts.result.value, 0);
    EXPECT_EQ(record_from<fmx::IocFactsReply>(facts.reply).function, fmx::kFunctionIocFacts);
    EXPECT_EQ(record_from<fmx::IocFactsReply>(facts.reply).message_version.get(), 0x0200);

    const std::vector<uint8_t> image(777, 0x5A);
    const PassThroughResult download = this->send(
        driver, {.ioc = 1, .frame = download_frame(false, 2, 0, 777), .data_out = image, .reply_size = 20});
    ASSERT_EQ(download.result.value, 0);
    EXPECT_EQ(reply_header(download.reply).ioc_status.get(), 0);
    EXPECT_EQ(driver.snapshot().controllers[1].boot, image);

    const PassThroughResult upload = this->send(
        driver, {.ioc = 1, .frame = upload_frame(false, 2, 700, 77), .reply_size = 24, .data_in_size = 77});
    ASSERT_EQ(upload.result.value, 0);
    EXPECT_EQ(record_from<fmx::FirmwareUploadReply>(upload.reply).actual_image_size.get(), 777u);
    EXPECT_EQ(upload.data_in, std::vector<uint8_t>(77, 0x5A));
    EXPECT_TRUE(upload.guards_intact);
}

TYPED_TEST(PassThroughForm, CopiesNoMoreThanEachBufferHolds) {
    Driver driver(fmxsim::default_scenario());
    const std::vector<uint8_t> firmware = driver.snapshot().controllers[0].firmware;
    // A 16-byte reply buffer for a 24-byte reply; 100 bytes of data-in for a 4096-byte segment.
    const PassThroughResult result = this->send(
        driver, {.ioc = 0, .frame = upload_frame(false, 1, 0, 4096), .reply_size = 16, .data_in_size = 100});
    ASSERT_EQ(result.result.value, 0);
    EXPECT_TRUE(result.guards_intact);
    EXPECT_EQ(result.reply[3], fmx::kFunctionFirmwareUpload);
    EXPECT_EQ(result.data_in, std::vector<uint8_t>(firmware.begin(), firmware.begin() + 100));

    const PassThroughResult no_reply = this->send(driver, {.ioc = 0, .frame = facts_frame(), .reply_size = 0});
    EXPECT_EQ(no_reply.result.value, 0);
    EXPECT_TRUE(no_reply.guards_intact);
}

TYPED_TEST(PassThroughForm, StrictChecksFailTheIoctl) {
    Scenario scenario = fmxsim::default_scenario();
    scenario.nodes.push_back({"/dev/fmx3ctl", false, {}});
    Driver driver(scenario);
    const uint32_t header = fmx::kDriverCommandHeaderSize<TypeParam>;
    const struct {
        const char* what;
        PassThrough request;
        const char* node;
        int error;
    } cases[] = {
        {"header size of the other form", {.frame = facts_frame(), .header_size = header == 56 ? 72u : 56u}, "/dev/fmx2ctl", EINVAL},
        {"header size 0", {.frame = facts_frame(), .header_size = 0}, "/dev/fmx2ctl", EINVAL},
        {"no frame", {.frame = facts_frame(), .frame_words = 0}, "/dev/fmx2ctl", EINVAL},
        {"frame over 128 bytes", {.frame = std::vector<uint8_t>(132, 0), .frame_words = 33}, "/dev/fmx2ctl", EINVAL},
        {"IOC number not on the node", {.ioc = 2, .frame = facts_frame()}, "/dev/fmx2ctl", ENODEV},
        {"node without controllers", {.frame = facts_frame()}, "/dev/fmx3ctl", ENODEV},
        {"data-in without address",
         {.frame = upload_frame(false, 1, 0, 8), .data_in_size = 8, .null_data_in = true}, "/dev/fmx2ctl", EFAULT},
    };
    for (const auto& c : cases) {
        const PassThroughResult result = this->send(driver, c.request, c.node);
        EXPECT_EQ(result.result.value, -1) << c.what;
        EXPECT_EQ(result.result.error, c.error) << c.what;
        EXPECT_EQ(result.reply, std::vector<uint8_t>(c.request.reply_size, 0)) << c.what;
    }
}

// ---- faults ----

TEST(RequestFaults, NthRequestOfAFunctionFailsInTheDriverOrWithAStatus) {
    Scenario scenario = fmxsim::default_scenario();
    auto& faults = scenario.controllers[0].request_faults;
    faults.push_back({.function = fmx::kFunctionFirmwareDownload, .nth = 2, .driver_error = true});
    faults.push_back({.function = fmx::kFunctionFirmwareUpload, .nth = 2, .count = 0, .ioc_status = 0x0004,
                      .log_info = 0x31170000});
    faults.push_back({.function = fmx::kFunctionIocFacts, .nth = 1, .ioc_status = 0x0002});
    Driver driver(scenario);
    const auto send = [&](const PassThrough& request) { return pass_through<fmx::DriverCommand>(driver, request); };

    const std::vector<uint8_t> image(64, 0x77);
    const PassThrough download{.frame = download_frame(false, 2, 0, 64), .data_out = image, .reply_size = 20};
    EXPECT_EQ(send(download).result.value, 0);
    const PassThroughResult failed = send(download);
    EXPECT_EQ(failed.result.value, -1);
    EXPECT_EQ(failed.result.error, EIO);
    EXPECT_EQ(send(download).result.value, 0);

    const PassThrough upload{.frame = upload_frame(false, 1, 0, 16), .reply_size = 24, .data_in_size = 16};
    EXPECT_EQ(reply_header(send(upload).reply).ioc_status.get(), 0);
    for (int i = 0; i < 3; ++i) {
        const PassThroughResult result = send(upload);
        EXPECT_EQ(result.result.value, 0);
        EXPECT_EQ(reply_header(result.reply).function, fmx::kFunctionFirmwareUpload);
        EXPECT_EQ(reply_header(result.reply).ioc_status.get(), 0x8004);
        EXPECT_EQ(reply_header(result.reply).ioc_log_info.get(), 0x31170000u);
        EXPECT_EQ(result.data_in, std::vector<uint8_t>(16, 0));
    }

    const PassThroughResult facts = send({.frame = facts_frame()});
    EXPECT_EQ(reply_header(facts.reply).ioc_status.get(), 0x0002);
    EXPECT_EQ(reply_header(send({.frame = facts_frame()}).reply).ioc_status.get(), 0);
    // Faults count per controller.
    EXPECT_EQ(reply_header(send({.ioc = 1, .frame = upload_frame(false, 1, 0, 16), .reply_size = 24,
                                 .data_in_size = 16})
                               .reply)
                  .ioc_status.get(),
              0);
}

TEST(ReadbackFaults, UploadsSeeAChangedByteOrAShorterRegion) {
    Scenario scenario = fmxsim::default_scenario();
    fmxsim::ControllerSpec& c = scenario.controllers[0];
    c.firmware = std::vector<uint8_t>(3000, 0x10);
    c.backup = c.firmware;
    c.readback_faults = {{.region = fmxsim::RegionKind::backup, .changed_byte = 2999},
                         {.region = fmxsim::RegionKind::boot, .size = 0}};
    scenario.controllers[1].readback_faults = {
        {.region = fmxsim::RegionKind::firmware, .size = 100, .after_download = true}};
    Driver driver(scenario);
    const auto upload = [&](uint32_t ioc, uint8_t type, uint32_t offset, uint32_t length) {
        return pass_through<fmx::DriverCommand>(
            driver, {.ioc = ioc, .frame = upload_frame(false, type, offset, length), .reply_size = 24,
                     .data_in_size = length});
    };
    const auto actual_size = [](const PassThroughResult& r) {
        return record_from<fmx::FirmwareUploadReply>(r.reply).actual_image_size.get();
    };

    const PassThroughResult backup = upload(0, 5, 2990, 10);
    std::vector<uint8_t> expected(10, 0x10);
    expected[9] = 0x10 ^ 0xFF;
    EXPECT_EQ(backup.data_in, expected);
    EXPECT_EQ(upload(0, 1, 2990, 10).data_in, std::vector<uint8_t>(10, 0x10));
    EXPECT_EQ(actual_size(upload(0, 2, 0, 0)), 0u);
    EXPECT_EQ(reply_header(upload(0, 2, 0, 1).reply).ioc_status.get(), fmxsim::kIocStatusInvalidField);

    const uint32_t full = static_cast<uint32_t>(scenario.controllers[1].firmware.size());
    EXPECT_EQ(actual_size(upload(1, 1, 0, 0)), full);
    const std::vector<uint8_t> image(500, 0x42);
    pass_through<fmx::DriverCommand>(
        driver, {.ioc = 1, .frame = download_frame(false, 1, 0, 500), .data_out = image, .reply_size = 20});
    EXPECT_EQ(actual_size(upload(1, 1, 0, 0)), 100u);
    EXPECT_EQ(actual_size(upload(1, 5, 0, 0)), 500u);
    EXPECT_EQ(driver.snapshot().controllers[1].firmware, image);
}

// ---- trace ----

TEST(DriverTrace, RecordsEveryRequestWithItsFields) {
    Driver driver(fmxsim::default_scenario());
    std::vector<fmxsim::TraceRecord> trace;
    driver.set_trace_sink([&](const fmxsim::TraceRecord& r) { trace.push_back(r); });

    fmx::DriverIocInfo info{};
    ioc_information(driver, 3, info);
    pass_through<fmx::DriverCommand64>(
        driver, {.ioc = 0, .frame = upload_frame(false, 1, 0x10000, 0x8000), .reply_size = 24,
                 .data_in_size = 0x8000, .timeout = 60});
    pass_through<fmx::DriverCommand32>(
        driver, {.ioc = 1, .frame = config_frame(6, fmx::kPageTypeExtended, 0, 0x10), .reply_size = 24,
                 .data_in_size = 40});
    ASSERT_EQ(trace.size(), 3u);

    EXPECT_EQ(trace[0].node, "/dev/fmx2ctl");
    EXPECT_EQ(trace[0].request, fmx::kIocInfoRequest);
    EXPECT_EQ(trace[0].ioc, 3u);
    EXPECT_EQ(trace[0].result, -1);
    EXPECT_EQ(trace[0].error, ENODEV);
    EXPECT_FALSE(trace[0].function);

    const fmxsim::TraceRecord& upload = trace[1];
    EXPECT_EQ(upload.request, fmx::kPassthruRequest64);
    EXPECT_EQ(upload.function, fmx::kFunctionFirmwareUpload);
    EXPECT_EQ(upload.image_type, 1);
    EXPECT_EQ(upload.offset, 0x10000u);
    EXPECT_EQ(upload.length, 0x8000u);
    EXPECT_EQ(upload.timeout, 60u);
    EXPECT_EQ(upload.data_in, 0x8000u);
    EXPECT_EQ(upload.data_out, 0u);
    EXPECT_EQ(upload.result, 0);
    EXPECT_EQ(upload.ioc_status, 0);
    EXPECT_FALSE(upload.action);

    const fmxsim::TraceRecord& config = trace[2];
    EXPECT_EQ(config.request, fmx::kPassthruRequest32);
    EXPECT_EQ(config.ioc, 1u);
    EXPECT_EQ(config.action, 6);
    EXPECT_EQ(config.page_type, fmx::kPageTypeExtended);
    EXPECT_EQ(config.page_number, 0);
    EXPECT_EQ(config.ext_page_type, 0x10);
    EXPECT_FALSE(config.image_type);
}

}  // namespace
