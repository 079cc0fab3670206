// The controller model: request frames in, replies and data out.
#include <gtest/gtest.h>

#include "controller.h"
#include "frames.h"
#include "ioc_status.h"

namespace {

using fmxsim::Controller;
using fmxsim::ControllerSpec;
using fmxsim::RegionKind;
using namespace sim_test;

ControllerSpec small_controller(uint16_t device_id = 69) {
    ControllerSpec spec = fmxsim::default_scenario().controllers[0];
    spec.device_id = device_id;
    spec.firmware = std::vector<uint8_t>(1000, 0x11);
    spec.backup = spec.firmware;
    spec.boot = std::vector<uint8_t>(300, 0x22);
    return spec;
}

std::vector<uint8_t> counting(size_t size, uint8_t first = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TEST(ControllerReply, CarriesTheFunctionCodeAndStatusOfEveryRequest) {
    Controller controller(small_controller());
    const struct {
        std::vector<uint8_t> frame;
        uint8_t function;
        uint16_t status;
    } cases[] = {
        {facts_frame(), fmx::kFunctionIocFacts, fmxsim::kIocStatusSuccess},
        {config_frame(fmx::kConfigActionHeader, fmx::kPageTypeManufacturing, 0), fmx::kFunctionConfig, 0},
        {upload_frame(false, 1, 0, 0), fmx::kFunctionFirmwareUpload, 0},
        {toolbox_frame(fmx::kCleanPersistentPages), fmx::kFunctionToolbox, 0},
        {{0, 0, 0, 0x7E}, 0x7E, fmxsim::kIocStatusInvalidFunction},
        {{0, 0, 0, 0x02, 0, 0, 0, 0}, 0x02, fmxsim::kIocStatusInvalidFunction},
    };
    for (const auto& c : cases) {
        const fmxsim::Response response = controller.handle(c.frame, {});
        ASSERT_GE(response.reply.size(), sizeof(fmx::ReplyHeader));
        const fmx::ReplyHeader header = reply_header(response.reply);
        EXPECT_EQ(header.function, c.function);
        EXPECT_EQ(header.ioc_status.get(), c.status) << "function " << int(c.function);
        EXPECT_EQ(header.ioc_log_info.get(), 0u);
    }
}

TEST(ControllerReply, IocFactsReportTheMessageVersion) {
    ControllerSpec spec = small_controller();
    const fmxsim::Response standard = Controller(spec).handle(facts_frame(), {});
    spec.message_version = 0x0105;
    const fmxsim::Response old = Controller(spec).handle(facts_frame(), {});
    ASSERT_EQ(standard.reply.size(), sizeof(fmx::IocFactsReply));
    EXPECT_EQ(record_from<fmx::IocFactsReply>(standard.reply).message_version.get(), 0x0200);
    EXPECT_EQ(record_from<fmx::IocFactsReply>(old.reply).message_version.get(), 0x0105);
}

// ---- configuration pages ----

fmx::ConfigReply config_reply(const fmxsim::Response& response) {
    EXPECT_EQ(response.reply.size(), sizeof(fmx::ConfigReply));
    return record_from<fmx::ConfigReply>(response.reply);
}

TEST(ConfigPages, HeaderActionDescribesOrdinaryAndExtendedPages) {
    Controller controller(small_controller());
    const fmx::ConfigReply page0 =
        config_reply(controller.handle(config_frame(0, fmx::kPageTypeManufacturing, 0), {}));
    EXPECT_EQ(page0.ioc_status.get(), 0);
    EXPECT_EQ(page0.header.page_length, 76 / 4);
    EXPECT_EQ(page0.header.page_type, fmx::kPageTypeManufacturing);
    EXPECT_EQ(page0.header.page_number, 0);

    const fmx::ConfigReply page2 =
        config_reply(controller.handle(config_frame(0, fmx::kPageTypeManufacturing, 2), {}));
    EXPECT_EQ(page2.header.page_length, 36 / 4);
    EXPECT_EQ(page2.header.page_number, 2);

    const fmx::ConfigReply extended = config_reply(
        controller.handle(config_frame(0, fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit), {}));
    EXPECT_EQ(extended.ioc_status.get(), 0);
    EXPECT_EQ(extended.header.page_type, fmx::kPageTypeExtended);
    EXPECT_EQ(extended.header.page_length, 0);
    EXPECT_EQ(extended.ext_page_length.get(), 40 / 4);
    EXPECT_EQ(extended.ext_page_type, fmx::kExtPageTypeSasIoUnit);
}

TEST(ConfigPages, MissingPagesAndUnknownActionsAreRefused) {
    ControllerSpec spec = small_controller();
    spec.pages.erase(spec.pages.begin() + 1);  // manufacturing page 2
    Controller controller(spec);
    const struct {
        std::vector<uint8_t> frame;
        uint16_t status;
    } cases[] = {
        {config_frame(0, fmx::kPageTypeManufacturing, 2), fmxsim::kIocStatusConfigInvalidPage},
        {config_frame(1, fmx::kPageTypeManufacturing, 7), fmxsim::kIocStatusConfigInvalidPage},
        {config_frame(0, fmx::kPageTypeExtended, 0, 0), fmxsim::kIocStatusConfigInvalidPage},
        {config_frame(0, fmx::kPageTypeExtended, 0, 0x11), fmxsim::kIocStatusConfigInvalidPage},
        {config_frame(7, fmx::kPageTypeManufacturing, 0), fmxsim::kIocStatusConfigInvalidAction},
        {{0, 0, 0, fmx::kFunctionConfig, 0, 0, 0, 0}, fmxsim::kIocStatusInvalidField},  // a short frame
    };
    for (const auto& c : cases) {
        const fmxsim::Response response = controller.handle(c.frame, {});
        EXPECT_EQ(reply_header(response.reply).ioc_status.get(), c.status);
        EXPECT_EQ(reply_header(response.reply).function, fmx::kFunctionConfig);
        EXPECT_TRUE(response.data_in.empty());
    }
}

// Each write action stores into its own copy; each read action returns its own.
TEST(ConfigPages, ReadAndWriteActionsUseTheChosenCopy) {
    const struct {
        uint8_t write;
        uint8_t read;
    } copies[] = {
        {fmx::kConfigActionWriteCurrent, fmx::kConfigActionReadCurrent},
        {fmx::kConfigActionWriteDefault, fmx::kConfigActionReadDefault},
        {fmx::kConfigActionWriteNvram, fmx::kConfigActionReadNvram},
    };
    for (const auto& copy : copies) {
        Controller controller(small_controller());
        const std::vector<uint8_t> before =
            controller.handle(config_frame(copy.read, fmx::kPageTypeManufacturing, 2), {}).data_in;
        ASSERT_EQ(before.size(), 36u);

        std::vector<uint8_t> page = counting(36, 0x80);
        const fmxsim::Response written =
            controller.handle(config_frame(copy.write, fmx::kPageTypeManufacturing, 2), page);
        EXPECT_EQ(reply_header(written.reply).ioc_status.get(), 0);

        // The header bytes always describe the page; the rest is what was written.
        std::vector<uint8_t> expected = page;
        std::copy_n(before.begin(), 4, expected.begin());
        for (uint8_t read : {fmx::kConfigActionReadCurrent, fmx::kConfigActionReadDefault,
                             fmx::kConfigActionReadNvram}) {
            const std::vector<uint8_t> now =
                controller.handle(config_frame(read, fmx::kPageTypeManufacturing, 2), {}).data_in;
            EXPECT_EQ(now, read == copy.read ? expected : before) << "write " << int(copy.write) << " read " << int(read);
        }
    }
}

TEST(ConfigPages, WriteShorterThanThePageIsRefused) {
    Controller controller(small_controller());
    const fmxsim::Response response =
        controller.handle(config_frame(fmx::kConfigActionWriteNvram, fmx::kPageTypeManufacturing, 2),
                          counting(20));
    EXPECT_EQ(reply_header(response.reply).ioc_status.get(), fmxsim::kIocStatusConfigInvalidData);
    EXPECT_EQ(controller.state().pages[1].nonvolatile, small_controller().pages[1].nonvolatile);
}

TEST(ConfigPages, ToolboxCleanResetsNonVolatileCopiesAndResetLoadsThem) {
    Controller controller(small_controller());
    const auto read_page2 = [&](uint8_t action) {
        return controller.handle(config_frame(action, fmx::kPageTypeManufacturing, 2), {}).data_in;
    };
    const std::vector<uint8_t> defaults = read_page2(fmx::kConfigActionReadDefault);
    controller.handle(config_frame(fmx::kConfigActionWriteNvram, fmx::kPageTypeManufacturing, 2), counting(36, 9));
    const std::vector<uint8_t> written = read_page2(fmx::kConfigActionReadNvram);
    ASSERT_NE(written, defaults);

    // A clean with other flags erases nothing this model keeps.
    controller.handle(toolbox_frame(0x02000000), {});
    EXPECT_EQ(read_page2(fmx::kConfigActionReadNvram), written);

    controller.hard_reset();
    EXPECT_EQ(read_page2(fmx::kConfigActionReadCurrent), written);

    const fmxsim::Response clean = controller.handle(toolbox_frame(fmx::kCleanPersistentPages), {});
    EXPECT_EQ(reply_header(clean.reply).ioc_status.get(), 0);
    EXPECT_EQ(read_page2(fmx::kConfigActionReadNvram), defaults);
    EXPECT_EQ(read_page2(fmx::kConfigActionReadCurrent), written);

    EXPECT_EQ(reply_header(controller.handle(toolbox_frame(fmx::kCleanPersistentPages, 3), {}).reply).ioc_status.get(),
              fmxsim::kIocStatusInvalidField);
}

// ---- firmware upload and download ----

fmx::FirmwareUploadReply upload_reply(const fmxsim::Response& response) {
    EXPECT_EQ(response.reply.size(), sizeof(fmx::FirmwareUploadReply));
    return record_from<fmx::FirmwareUploadReply>(response.reply);
}

TEST(FirmwareUpload, ReportsTheRegionSizeAndCopiesTheSegment) {
    ControllerSpec spec = small_controller();
    spec.firmware = counting(1000);
    Controller controller(spec);

    const fmxsim::Response probe = controller.handle(upload_frame(false, 1, 0, 0), {});
    EXPECT_EQ(upload_reply(probe).actual_image_size.get(), 1000u);
    EXPECT_TRUE(probe.data_in.empty());

    const fmxsim::Response segment = controller.handle(upload_frame(false, 1, 990, 10), {});
    EXPECT_EQ(upload_reply(segment).common.ioc_status.get(), 0);
    EXPECT_EQ(upload_reply(segment).actual_image_size.get(), 1000u);
    EXPECT_EQ(segment.data_in, std::vector<uint8_t>(spec.firmware.begin() + 990, spec.firmware.end()));

    EXPECT_EQ(upload_reply(controller.handle(upload_frame(false, 2, 0, 0), {})).actual_image_size.get(), 300u);
    EXPECT_EQ(upload_reply(controller.handle(upload_frame(false, 5, 0, 0), {})).actual_image_size.get(), 1000u);
}

TEST(FirmwareUpload, SegmentPastTheRegionOrUnknownTypeIsAnInvalidField) {
    Controller controller(small_controller());
    const struct {
        uint8_t type;
        uint32_t offset;
        uint32_t length;
    } cases[] = {{1, 990, 11}, {1, 1001, 0}, {2, 0, 301}, {1, 0xFFFFFFFF, 2}, {3, 0, 0}};
    for (const auto& c : cases) {
        const fmxsim::Response response = controller.handle(upload_frame(false, c.type, c.offset, c.length), {});
        EXPECT_EQ(upload_reply(response).common.ioc_status.get(), fmxsim::kIocStatusInvalidField)
            << int(c.type) << " " << c.offset << "+" << c.length;
        EXPECT_TRUE(response.data_in.empty());
    }
}

// Third-generation controllers take the short frames only, the others the long.
TEST(FirmwareTransfer, FrameFormMustFitTheControllerGeneration) {
    for (uint16_t device_id : {69, 71, 143, 144, 151, 152}) {
        const bool third = device_id >= 144 && device_id <= 151;
        Controller controller(small_controller(device_id));
        for (bool short_form : {false, true}) {
            const uint16_t expected = short_form == third ? 0 : fmxsim::kIocStatusInvalidField;
            const fmxsim::Response up = controller.handle(upload_frame(short_form, 1, 0, 4), {});
            EXPECT_EQ(upload_reply(up).common.ioc_status.get(), expected) << device_id << " short " << short_form;
            EXPECT_EQ(up.data_in.size(), expected == 0 ? 4u : 0u);
            const fmxsim::Response down = controller.handle(download_frame(short_form, 2, 0, 4), counting(4));
            EXPECT_EQ(reply_header(down.reply).ioc_status.get(), expected) << device_id << " short " << short_form;
        }
    }
}

TEST(FirmwareDownload, ReplacesTheRegionAndFirmwareAlsoTheBackup) {
    Controller controller(small_controller());
    const std::vector<uint8_t> boot = counting(600, 3);
    const fmxsim::Response response = controller.handle(download_frame(false, 2, 0, 600), boot);
    ASSERT_EQ(response.reply.size(), sizeof(fmx::ReplyHeader));
    EXPECT_EQ(reply_header(response.reply).ioc_status.get(), 0);
    EXPECT_EQ(controller.state().boot, boot);
    EXPECT_EQ(controller.state().firmware, small_controller().firmware);

    const std::vector<uint8_t> image = counting(5000, 7);
    controller.handle(download_frame(false, 1, 0, 5000), image);
    EXPECT_EQ(controller.state().firmware, image);
    EXPECT_EQ(controller.state().backup, image);
    const fmxsim::Response backup = controller.handle(upload_frame(false, 5, 4990, 10), {});
    EXPECT_EQ(backup.data_in, std::vector<uint8_t>(image.end() - 10, image.end()));
}

TEST(FirmwareDownload, SegmentsCommitOnlyWithTheLastAndMustFollowEachOther) {
    Controller controller(small_controller());
    const std::vector<uint8_t> image = counting(300, 1);
    const std::vector<uint8_t> first(image.begin(), image.begin() + 200);
    const std::vector<uint8_t> rest(image.begin() + 200, image.end());

    controller.handle(download_frame(false, 2, 0, 200, false), first);
    EXPECT_EQ(controller.state().boot, small_controller().boot);
    controller.handle(download_frame(false, 2, 200, 100, true), rest);
    EXPECT_EQ(controller.state().boot, image);

    // A gap, a segment longer than its data, or a reset between segments.
    controller.handle(download_frame(false, 2, 0, 200, false), first);
    EXPECT_EQ(reply_header(controller.handle(download_frame(false, 2, 300, 100, true), rest).reply).ioc_status.get(),
              fmxsim::kIocStatusInvalidField);
    EXPECT_EQ(reply_header(controller.handle(download_frame(false, 2, 0, 101, true), rest).reply).ioc_status.get(),
              fmxsim::kIocStatusInvalidField);
    controller.handle(download_frame(false, 2, 0, 200, false), first);
    controller.hard_reset();
    EXPECT_EQ(reply_header(controller.handle(download_frame(false, 2, 200, 100, true), rest).reply).ioc_status.get(),
              fmxsim::kIocStatusInvalidField);
    EXPECT_EQ(controller.state().boot, image);
}

}  // namespace
