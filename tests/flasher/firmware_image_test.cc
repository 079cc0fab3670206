// The firmware image format: the builder's images as the flasher reads them,
// the word sum, the bounded walk over extended images, the device families.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "firmware_image.h"
#include "firmware_image_builder.h"

namespace {

using fmxsim::FirmwareImageSpec;

std::vector<uint8_t> build(const FirmwareImageSpec& spec = {}) {
    return fmxsim::build_firmware_image(spec);
}

ImageView view(const std::vector<uint8_t>& image) { return ImageView(image.data(), image.size()); }

// Points the chain entry at `header_offset` to `next`.
void set_next_offset(std::vector<uint8_t>& image, uint64_t header_offset, uint32_t next) {
    ExtendedImageHeader header;
    ASSERT_TRUE(fmx::read_record(image.data(), image.size(), header_offset, header));
    header.next_image_offset = next;
    fmx::write_record(image.data() + header_offset, header);
    fmxsim::seal_firmware_image(image);
}

TEST(FirmwareImageBuilder, DefaultImageIsSignedSummedAndCarriesEveryPart) {
    FirmwareImageSpec spec;
    spec.version = {15, 2, 0, 11};
    spec.vendor_id = 0x1F0A;
    spec.product_id = 0x0013;
    spec.kind = kKindIT;
    const auto image = build(spec);
    const ImageView v = view(image);

    EXPECT_TRUE(has_valid_signature(v));
    EXPECT_EQ(image_word_sum(image.data(), image.size()), 0u);
    const auto header = read_image_header(v);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->firmware_version.bytes[0], 11);
    EXPECT_EQ(header->firmware_version.bytes[1], 0);
    EXPECT_EQ(header->firmware_version.bytes[2], 2);
    EXPECT_EQ(header->firmware_version.bytes[3], 15);
    EXPECT_EQ(header->vendor_id, 0x1F0A);
    EXPECT_EQ(header->product_id, 0x0213);
    EXPECT_EQ(firmware_kind(header->product_id), kKindIT);
    for (uint8_t type : {kExtSupportedDevices, kExtNvdata, kExtInitialization, kExtBootLoader})
        EXPECT_TRUE(find_extended_image(v, type)) << "type " << int(type);
}

TEST(FirmwareImageBuilder, LeavesOutAndBreaksParts) {
    FirmwareImageSpec spec;
    spec.include_supported_devices = false;
    spec.include_boot_loader = false;
    spec.nvdata.clear();
    auto image = build(spec);
    EXPECT_FALSE(find_extended_image(view(image), kExtSupportedDevices));
    EXPECT_FALSE(find_extended_image(view(image), kExtBootLoader));
    EXPECT_FALSE(find_extended_image(view(image), kExtNvdata));
    EXPECT_TRUE(find_extended_image(view(image), kExtInitialization));

    spec = {};
    spec.bad_checksum = true;
    image = build(spec);
    EXPECT_EQ(image_word_sum(image.data(), image.size()), 1u);

    spec = {};
    spec.bad_signature = true;
    image = build(spec);
    EXPECT_FALSE(has_valid_signature(view(image)));
    EXPECT_EQ(fmx::load_le32(image.data()), kImageSignature[0]) << "only the second word breaks";
}

TEST(FirmwareImageBuilder, PadsToAnExactSizeAndParsesItsOptions) {
    FirmwareImageSpec spec;
    const std::string error = fmxsim::parse_firmware_options(
        {"--version", "1.2.3.4", "--kind", "it", "--device", "0x72:1:2", "--device", "0x70",
         "--nvdata", "version=0x20,device=0x72,vendor=ACME", "--nvdata", "break=prodid",
         "--no-init", "--size", "0x10001"},
        spec);
    ASSERT_EQ(error, "");
    EXPECT_EQ(spec.version, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    ASSERT_EQ(spec.devices.size(), 2u);
    EXPECT_EQ(spec.devices[0].device_id, 0x72);
    EXPECT_EQ(spec.devices[0].lowest_revision, 1);
    EXPECT_EQ(spec.devices[0].highest_revision, 2);
    EXPECT_EQ(spec.devices[1].highest_revision, 0xFF);
    ASSERT_EQ(spec.nvdata.size(), 2u);
    EXPECT_EQ(spec.nvdata[0].version, 0x20u);
    EXPECT_EQ(spec.nvdata[0].vendor, "ACME");
    EXPECT_TRUE(spec.nvdata[1].bad_product_signature);
    EXPECT_FALSE(spec.include_initialization);

    const auto image = build(spec);
    EXPECT_EQ(image.size(), 0x10001u);
    EXPECT_EQ(image_word_sum(image.data(), image.size()), 0u);

    FirmwareImageSpec unused;
    EXPECT_NE(fmxsim::parse_firmware_options({"--version", "1.2.3"}, unused), "");
    EXPECT_NE(fmxsim::parse_firmware_options({"--device"}, unused), "");
    EXPECT_NE(fmxsim::parse_firmware_options({"--nvdata", "colour=red"}, unused), "");
    EXPECT_NE(fmxsim::parse_firmware_options({"--frobnicate", "1"}, unused), "");
}

TEST(ImageWordSum, CountsAPartialLastWordWithZeros) {
    const uint8_t bytes[] = {0x01, 0x00, 0x00, 0x00, 0x10, 0x20, 0x30};
    EXPECT_EQ(image_word_sum(bytes, 4), 1u);
    EXPECT_EQ(image_word_sum(bytes, 5), 0x11u);
    EXPECT_EQ(image_word_sum(bytes, 7), 0x00302011u);
    EXPECT_EQ(image_word_sum(bytes, 0), 0u);
    const uint8_t wrap[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(image_word_sum(wrap, sizeof(wrap)), 1u) << "the sum is taken modulo 2^32";
}

TEST(ExtendedImageWalk, FindsTheNthImageOfAType) {
    FirmwareImageSpec spec;
    spec.nvdata = {{.version = 1}, {.version = 2}, {.version = 3}};
    const auto image = build(spec);
    const ImageView v = view(image);
    for (unsigned n = 0; n < 3; ++n) {
        const auto found = find_extended_image(v, kExtNvdata, n);
        ASSERT_TRUE(found) << n;
        const auto nvdata = v.record_at<NvdataHeader>(found->body_offset());
        ASSERT_TRUE(nvdata);
        EXPECT_EQ(nvdata->version, n + 1);
    }
    EXPECT_FALSE(find_extended_image(v, kExtNvdata, 3));
    EXPECT_FALSE(find_extended_image(v, 0x55));
}

TEST(ExtendedImageWalk, EndsAtACycle) {
    FirmwareImageSpec spec;
    spec.chain_cycle = true;
    const auto image = build(spec);
    EXPECT_TRUE(find_extended_image(view(image), kExtBootLoader));
    EXPECT_FALSE(find_extended_image(view(image), kExtBootLoader, 1))
        << "a header is visited once however the chain loops";

    // A header that names itself as next.
    auto self = build();
    const auto nvdata = find_extended_image(view(self), kExtNvdata);
    ASSERT_TRUE(nvdata);
    set_next_offset(self, nvdata->offset, static_cast<uint32_t>(nvdata->offset));
    EXPECT_TRUE(find_extended_image(view(self), kExtNvdata, 0));
    EXPECT_FALSE(find_extended_image(view(self), kExtNvdata, 1));
    EXPECT_FALSE(find_extended_image(view(self), kExtBootLoader));
}

TEST(ExtendedImageWalk, StaysInsideTheImage) {
    auto image = build();
    const auto devices = find_extended_image(view(image), kExtSupportedDevices);
    ASSERT_TRUE(devices);
    // Next header would start 63 bytes before the end: one byte short.
    set_next_offset(image, devices->offset,
                    static_cast<uint32_t>(image.size() - sizeof(ExtendedImageHeader) + 1));
    EXPECT_FALSE(find_extended_image(view(image), kExtNvdata));
    set_next_offset(image, devices->offset, 0xFFFFFFF0);
    EXPECT_FALSE(find_extended_image(view(image), kExtNvdata));
    EXPECT_TRUE(find_extended_image(view(image), kExtSupportedDevices));

    // A header that ends exactly at the end of the image is whole.
    auto exact = build();
    exact.resize(exact.size() + sizeof(ExtendedImageHeader));
    ExtendedImageHeader tail{};
    tail.image_type = 0x09;
    fmx::write_record(exact.data() + exact.size() - sizeof(tail), tail);
    const auto last = find_extended_image(view(exact), kExtBootLoader);
    ASSERT_TRUE(last);
    set_next_offset(exact, last->offset, static_cast<uint32_t>(exact.size() - sizeof(tail)));
    EXPECT_TRUE(find_extended_image(view(exact), 0x09));

    // No walk at all without a signature or without extended images.
    FirmwareImageSpec bad;
    bad.bad_signature = true;
    EXPECT_FALSE(find_extended_image(view(build(bad)), kExtNvdata));
    FirmwareImageSpec bare;
    bare.include_supported_devices = bare.include_initialization = bare.include_boot_loader = false;
    bare.nvdata.clear();
    const auto empty = build(bare);
    EXPECT_EQ(read_image_header(view(empty))->first_extended_image_offset, 0u);
    EXPECT_FALSE(find_extended_image(view(empty), 0));
}

TEST(ImageView, RefusesRecordsPastTheEndWithoutWrapping) {
    const std::vector<uint8_t> bytes(0x40);
    const ImageView v = view(bytes);
    EXPECT_TRUE(v.record_at<ExtendedImageHeader>(0));
    EXPECT_FALSE(v.record_at<ExtendedImageHeader>(1));
    EXPECT_FALSE(v.record_at<NvdataHeader>(UINT64_MAX - 4));
    EXPECT_FALSE(v.contains(0x41, 0));
    EXPECT_TRUE(v.contains(0x40, 0));
    const std::vector<uint8_t> short_header(sizeof(FirmwareImageHeader) - 1);
    EXPECT_FALSE(read_image_header(view(short_header)));
    EXPECT_FALSE(has_valid_signature(view(short_header)));
}

TEST(DeviceIdsCompatible, FollowsTheFamilies) {
    struct Case {
        uint16_t image;
        uint16_t controller;
        bool compatible;
    };
    const Case cases[] = {
        {0x80, 0x45, true},  {0x87, 0x45, true},  {0x45, 0x45, false}, {0x88, 0x45, false},
        {0x83, 0x80, true},  {0x80, 0x87, true},  {0x7F, 0x81, false}, {0x70, 0x47, true},
        {0x47, 0x47, false}, {0x65, 0x64, true},  {0x64, 0x65, true},  {0x66, 0x64, false},
        {0x77, 0x74, true},  {0x74, 0x76, true},  {0x75, 0x77, false}, {0x72, 0x72, true},
        {0x70, 0x72, false}, {0x90, 0x90, true},  {0x91, 0x90, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(device_ids_compatible(c.image, c.controller), c.compatible)
            << std::hex << c.image << " on " << c.controller;
}

}  // namespace
