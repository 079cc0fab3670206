// Message builders and the pass-through record, checked byte by byte against
// the wire tables: every expected offset below is written out independently of
// the record declarations, so a declaration that drifts fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "driver_records.h"
#include "message_builders.h"
#include "platform.h"

namespace {

constexpr uint32_t kHandle = 0x01000003;

const uint8_t* bytes_of(const void* p) { return static_cast<const uint8_t*>(p); }
uint32_t u32_at(const void* frame, size_t offset) { return fmx::load_le32(bytes_of(frame) + offset); }
uint16_t u16_at(const void* frame, size_t offset) { return fmx::load_le16(bytes_of(frame) + offset); }
uint8_t u8_at(const void* frame, size_t offset) { return bytes_of(frame)[offset]; }

// Every byte of `frame` not listed in `nonzero` must be zero.
void expect_zero_except(const void* frame, size_t size, std::vector<size_t> nonzero) {
    for (size_t i = 0; i < size; ++i) {
        bool listed = false;
        for (size_t n : nonzero) listed = listed || n == i;
        if (!listed) {
            EXPECT_EQ(u8_at(frame, i), 0) << "byte " << i;
        }
    }
}

void expect_common_descriptor(const FmxPassthru& d, uint32_t timeout) {
    EXPECT_EQ(d.size, sizeof(FmxPassthru));
    EXPECT_EQ(d.adapter_handle, kHandle);
    EXPECT_EQ(d.signature, 0x392A8C9Fu);
    EXPECT_EQ(d.timeout, timeout);
    EXPECT_EQ(d.sense_length, 0u);
    EXPECT_EQ(d.sense, nullptr);
    EXPECT_EQ(d.reserved, 0u);
}

TEST(IocFactsBuilder, TwelveByteRequestWithDefaultTimeout) {
    fmx::IocFactsMessage m;
    fmx::build_ioc_facts(kHandle, m);
    ASSERT_EQ(m.descriptor.request_length, 12u);
    EXPECT_EQ(m.descriptor.request, &m.request);
    EXPECT_EQ(u8_at(&m.request, 3), 0x03);
    expect_zero_except(&m.request, 12, {3});
    EXPECT_EQ(m.descriptor.reply_capacity, 64u);
    EXPECT_EQ(m.descriptor.reply, &m.reply);
    EXPECT_EQ(m.descriptor.data_in_length + m.descriptor.data_out_length, 0u);
    expect_common_descriptor(m.descriptor, 0);
}

struct ConfigCase {
    uint8_t action;
    bool data_in;
    bool data_out;
};

class ConfigBuilder : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigBuilder, FillsFrameAndDataDirectionOfAction) {
    uint8_t page[40] = {};
    fmx::ConfigRequestFields f;
    f.action = GetParam().action;
    f.header = {0x03, 0x0A, 0x02, 0x0F};
    f.page_address = 0x11223344;
    f.ext_page_type = 0x10;
    f.ext_page_length = 0x0123;
    f.buffer = page;
    f.buffer_length = sizeof(page);
    fmx::ConfigMessage m;
    fmx::build_config_request(kHandle, f, m);

    const void* r = &m.request;
    ASSERT_EQ(m.descriptor.request_length, 28u);
    EXPECT_EQ(u8_at(r, 0), GetParam().action);
    EXPECT_EQ(u8_at(r, 3), 0x04);
    EXPECT_EQ(u16_at(r, 4), 0x0123);
    EXPECT_EQ(u8_at(r, 6), 0x10);
    EXPECT_EQ(u8_at(r, 7), 0);  // message flags
    EXPECT_EQ(u8_at(r, 20), 0x03);
    EXPECT_EQ(u8_at(r, 21), 0x0A);
    EXPECT_EQ(u8_at(r, 22), 0x02);
    EXPECT_EQ(u8_at(r, 23), 0x0F);
    EXPECT_EQ(u32_at(r, 24), 0x11223344u);
    expect_zero_except(r, 28, {0, 3, 4, 5, 6, 20, 21, 22, 23, 24, 25, 26, 27});

    EXPECT_EQ(m.descriptor.reply_capacity, 24u);
    EXPECT_EQ(m.descriptor.data_in_length, GetParam().data_in ? sizeof(page) : 0u);
    EXPECT_EQ(m.descriptor.data_in, GetParam().data_in ? page : nullptr);
    EXPECT_EQ(m.descriptor.data_out_length, GetParam().data_out ? sizeof(page) : 0u);
    EXPECT_EQ(m.descriptor.data_out, GetParam().data_out ? page : nullptr);
    expect_common_descriptor(m.descriptor, 0);
}

INSTANTIATE_TEST_SUITE_P(Actions, ConfigBuilder,
                         ::testing::Values(ConfigCase{0, false, false}, ConfigCase{1, true, false},
                                           ConfigCase{2, false, true}, ConfigCase{3, false, true},
                                           ConfigCase{4, false, true}, ConfigCase{5, true, false},
                                           ConfigCase{6, true, false}),
                         [](const auto& test) { return "action" + std::to_string(test.param.action); });

TEST(FirmwareDownloadBuilder, LongFormOf1000Bytes) {
    uint8_t image[1000] = {};
    fmx::FirmwareTransferMessage m;
    fmx::build_firmware_download(kHandle, false, image, {0x01, 0, 1000, 1}, m);

    const FmxPassthru& d = m.descriptor;
    ASSERT_EQ(d.request_length, 36u);
    const void* r = d.request;
    EXPECT_EQ(u8_at(r, 0), 0x01);   // image type
    EXPECT_EQ(u8_at(r, 3), 0x09);   // function
    EXPECT_EQ(u8_at(r, 7), 0x01);   // last segment
    EXPECT_EQ(u32_at(r, 12), 1000u);  // total image size
    EXPECT_EQ(u8_at(r, 21), 0);     // context size
    EXPECT_EQ(u8_at(r, 22), 12);    // details length
    EXPECT_EQ(u32_at(r, 28), 0u);   // image offset
    EXPECT_EQ(u32_at(r, 32), 1000u);  // image size
    expect_zero_except(r, 36, {0, 3, 7, 12, 13, 22, 32, 33});

    EXPECT_EQ(d.data_out, image);
    EXPECT_EQ(d.data_out_length, 1000u);
    EXPECT_EQ(d.data_in_length, 0u);
    EXPECT_EQ(d.reply_capacity, 20u);
    expect_common_descriptor(d, 60);
}

TEST(FirmwareDownloadBuilder, ShortFormOf1000BytesAtOffset) {
    uint8_t image[1000] = {};
    fmx::FirmwareTransferMessage m;
    fmx::build_firmware_download(kHandle, true, image, {0x02, 0x30000, 1000, 1}, m);

    ASSERT_EQ(m.descriptor.request_length, 32u);
    const void* r = m.descriptor.request;
    EXPECT_EQ(u8_at(r, 0), 0x02);
    EXPECT_EQ(u8_at(r, 3), 0x09);
    EXPECT_EQ(u8_at(r, 7), 0x01);
    EXPECT_EQ(u32_at(r, 12), 1000u);
    EXPECT_EQ(u32_at(r, 24), 0x30000u);
    EXPECT_EQ(u32_at(r, 28), 1000u);
    expect_zero_except(r, 32, {0, 3, 7, 12, 13, 26, 28, 29});
    EXPECT_EQ(m.descriptor.data_out_length, 1000u);
    expect_common_descriptor(m.descriptor, 60);
}

TEST(FirmwareDownloadBuilder, OnlyFlagOneMarksTheLastSegment) {
    const struct {
        uint32_t flag;
        uint8_t msg_flags;
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {0xFFFFFFFF, 0}};
    for (const auto& c : cases) {
        for (bool short_form : {false, true}) {
            fmx::FirmwareTransferMessage m;
            fmx::build_firmware_download(kHandle, short_form, nullptr, {1, 0, 0, c.flag}, m);
            EXPECT_EQ(u8_at(m.descriptor.request, 7), c.msg_flags)
                << "flag " << c.flag << (short_form ? " short" : " long");
        }
    }
}

TEST(FirmwareUploadBuilder, LongAndShortForms) {
    uint8_t segment[0x8000];
    fmx::FirmwareTransferMessage m;
    fmx::build_firmware_upload(kHandle, false, segment, {0x05, 0x10000, 0x8000, 0}, m);
    ASSERT_EQ(m.descriptor.request_length, 36u);
    const void* r = m.descriptor.request;
    EXPECT_EQ(u8_at(r, 0), 0x05);
    EXPECT_EQ(u8_at(r, 3), 0x12);
    EXPECT_EQ(u8_at(r, 22), 12);
    EXPECT_EQ(u32_at(r, 28), 0x10000u);
    EXPECT_EQ(u32_at(r, 32), 0x8000u);
    expect_zero_except(r, 36, {0, 3, 22, 30, 33});
    EXPECT_EQ(m.descriptor.data_in, segment);
    EXPECT_EQ(m.descriptor.data_in_length, 0x8000u);
    EXPECT_EQ(m.descriptor.data_out_length, 0u);
    EXPECT_EQ(m.descriptor.reply_capacity, 24u);
    expect_common_descriptor(m.descriptor, 60);

    fmx::FirmwareTransferMessage s;
    fmx::build_firmware_upload(kHandle, true, segment, {0x05, 0x10000, 0x8000, 0}, s);
    ASSERT_EQ(s.descriptor.request_length, 32u);
    r = s.descriptor.request;
    EXPECT_EQ(u8_at(r, 0), 0x05);
    EXPECT_EQ(u8_at(r, 3), 0x12);
    EXPECT_EQ(u32_at(r, 24), 0x10000u);
    EXPECT_EQ(u32_at(r, 28), 0x8000u);
    expect_zero_except(r, 32, {0, 3, 26, 29});
    EXPECT_EQ(s.descriptor.reply_capacity, 24u);
}

TEST(FirmwareUploadBuilder, SizeProbeCarriesNoDataBuffer) {
    fmx::FirmwareTransferMessage m;
    fmx::build_firmware_upload(kHandle, false, nullptr, {0x01, 0, 0, 0}, m);
    EXPECT_EQ(m.descriptor.data_in_length, 0u);
    EXPECT_EQ(m.descriptor.data_in, nullptr);
    EXPECT_EQ(u32_at(m.descriptor.request, 32), 0u);
}

TEST(ToolboxCleanBuilder, SixteenByteRequestWith512SecondTimeout) {
    fmx::ToolboxCleanMessage m;
    fmx::build_toolbox_clean(kHandle, 0x20000000, m);
    ASSERT_EQ(m.descriptor.request_length, 16u);
    EXPECT_EQ(u8_at(&m.request, 0), 0);  // tool: clean
    EXPECT_EQ(u8_at(&m.request, 3), 0x17);
    EXPECT_EQ(u32_at(&m.request, 12), 0x20000000u);
    expect_zero_except(&m.request, 16, {3, 15});
    EXPECT_EQ(m.descriptor.reply_capacity, 20u);
    expect_common_descriptor(m.descriptor, 512);
}

// The pass-through record in the form of this process's width.
class DriverCommandRecord : public ::testing::Test {
protected:
    static constexpr bool kWide = sizeof(void*) == 8;
    static constexpr size_t kFixed = kWide ? 68 : 52;

    std::vector<uint8_t> build(const FmxPassthru& d, uint32_t ioc_number) {
        std::vector<uint8_t> record(fmx::driver_command_size(d), 0);
        fmx::fill_driver_command(d, ioc_number, record.data());
        return record;
    }
    uint64_t address_at(const std::vector<uint8_t>& r, size_t offset) {
        return kWide ? fmx::load_le64(r.data() + offset) : fmx::load_le32(r.data() + offset);
    }
    static uint64_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }
};

TEST_F(DriverCommandRecord, HeaderSizesAndFrame) {
    fmx::ConfigMessage m;
    uint8_t page[76] = {};
    fmx::ConfigRequestFields f;
    f.action = 6;
    f.header = {1, 19, 0, 9};
    f.buffer = page;
    f.buffer_length = sizeof(page);
    fmx::build_config_request(kHandle, f, m);
    const auto r = build(m.descriptor, 7);

    ASSERT_EQ(r.size(), kFixed + 4 + 28);
    EXPECT_EQ(fmx::DriverCommand::kRequestCode, kWide ? 0xC0484C14u : 0xC0384C14u);
    EXPECT_EQ(u32_at(r.data(), 0), 7u);  // IOC number
    EXPECT_EQ(u32_at(r.data(), 4), 0u);  // port
    EXPECT_EQ(u32_at(r.data(), 8), kWide ? 72u : 56u);
    EXPECT_EQ(u32_at(r.data(), 12), 10u);  // timeout 0 becomes the default
    const size_t sizes = kWide ? 48 : 32;  // reply, data-in, data-out, sense sizes
    EXPECT_EQ(address_at(r, 16), address(&m.reply));
    EXPECT_EQ(u32_at(r.data(), sizes), 24u);
    EXPECT_EQ(address_at(r, kWide ? 24 : 20), address(page));
    EXPECT_EQ(u32_at(r.data(), sizes + 4), 76u);
    EXPECT_EQ(address_at(r, kWide ? 32 : 24), 0u);  // no data-out
    EXPECT_EQ(u32_at(r.data(), sizes + 8), 0u);
    EXPECT_EQ(address_at(r, kWide ? 40 : 28), 0u);  // no sense
    EXPECT_EQ(u32_at(r.data(), sizes + 12), 0u);
    EXPECT_EQ(u32_at(r.data(), kWide ? 64 : 48), 7u);  // 28 bytes = 7 words
    EXPECT_EQ(std::memcmp(r.data() + kFixed, &m.request, 28), 0);
    expect_zero_except(r.data() + kFixed + 28, 4, {});
}

TEST_F(DriverCommandRecord, TimeoutAndDataOut) {
    uint8_t image[1000] = {};
    fmx::FirmwareTransferMessage m;
    fmx::build_firmware_download(kHandle, false, image, {1, 0, 1000, 1}, m);
    auto r = build(m.descriptor, 3);
    EXPECT_EQ(u32_at(r.data(), 12), 60u);
    EXPECT_EQ(address_at(r, kWide ? 32 : 24), address(image));
    EXPECT_EQ(u32_at(r.data(), kWide ? 56 : 40), 1000u);
    EXPECT_EQ(address_at(r, kWide ? 24 : 20), 0u);  // no data-in
    EXPECT_EQ(u32_at(r.data(), kWide ? 64 : 48), 9u);

    m.descriptor.timeout = 30;
    r = build(m.descriptor, 3);
    EXPECT_EQ(u32_at(r.data(), 12), 30u);
}

TEST(DiscoveryFilter, FrontEndFlagsTakeDeviceIds69And71AndIdsOutsideEveryFamily) {
    const uint32_t taken[] = {69, 71, 0, 1, 68, 70, 72, 99, 102, 113, 127, 136, 143, 152, 0xFFFF};
    const uint32_t refused[] = {100, 101, 110, 112, 114, 116, 118, 119, 126,
                                128, 131, 135, 144, 147, 151};
    for (uint32_t id : taken) EXPECT_TRUE(fmx::discovery_takes(id, 0x9000000F)) << id;
    for (uint32_t id : refused) EXPECT_FALSE(fmx::discovery_takes(id, 0x9000000F)) << id;
}

TEST(DiscoveryFilter, FamiliesOfOtherFlags) {
    const struct {
        uint32_t device_id;
        uint32_t flags;
        bool taken;
    } cases[] = {
        {100, 0x0000000F, true},   // no filter bit: everything is taken
        {144, 0x0000000F, true},
        {100, 0x82000000, true},  {135, 0x82000000, true},
        {114, 0x82000000, true},   // 114 joins the RAID family when that is asked for
        {114, 0xA0000000, true},   // else it belongs to 0x20000000
        {114, 0x90000000, false}, {126, 0xA0000000, true},
        {126, 0x82000000, false}, {150, 0x84000000, true},
        {69, 0x84000000, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fmx::discovery_takes(c.device_id, c.flags), c.taken)
            << c.device_id << " flags " << std::hex << c.flags;
    }
}

TEST(DiscoveryFilter, ThirdGenerationAndChipNames) {
    EXPECT_FALSE(fmx::is_third_generation(143));
    EXPECT_TRUE(fmx::is_third_generation(144));
    EXPECT_TRUE(fmx::is_third_generation(151));
    EXPECT_FALSE(fmx::is_third_generation(152));
    EXPECT_STREQ(fmx::chip_name_for(0x1234), "Unknown");
    EXPECT_STRNE(fmx::chip_name_for(69), "Unknown");
}

}  // namespace
