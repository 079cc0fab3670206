// Request and reply frames exchanged with a controller, and the configuration
// page layouts this system reads.
//
// All frames are little-endian. Every request carries its function code in byte
// 3; every reply carries the function code it answers in byte 3, the IOC status
// at 14 (bit 15: the log info at 16 is meaningful) and the IOC log info at 16.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_order.h"

namespace fmx {

inline constexpr uint8_t kFunctionIocFacts = 0x03;
inline constexpr uint8_t kFunctionConfig = 0x04;
inline constexpr uint8_t kFunctionFirmwareDownload = 0x09;
inline constexpr uint8_t kFunctionFirmwareUpload = 0x12;
inline constexpr uint8_t kFunctionToolbox = 0x17;

inline constexpr uint16_t kIocStatusLogInfoValid = 0x8000;
inline constexpr uint16_t kIocStatusMask = 0x7FFF;

// The part every reply shares.
struct ReplyHeader {
    uint8_t rsvd0[3];
    uint8_t function;
    uint8_t rsvd4[10];
    le16 ioc_status;
    le32 ioc_log_info;
};
static_assert(sizeof(ReplyHeader) == 20);
static_assert(offsetof(ReplyHeader, function) == 3);
static_assert(offsetof(ReplyHeader, ioc_status) == 14);
static_assert(offsetof(ReplyHeader, ioc_log_info) == 16);
inline constexpr uint32_t kMinimumReplySize = sizeof(ReplyHeader);

// ---- IOC facts (function 0x03) ----
struct IocFactsRequest {
    uint8_t rsvd0[3];
    uint8_t function;
    uint8_t rsvd4[8];
};
static_assert(sizeof(IocFactsRequest) == 12);
static_assert(offsetof(IocFactsRequest, function) == 3);

struct IocFactsReply {
    le16 message_version;  // 0x0200 or higher for firmware transfer and toolbox
    uint8_t rsvd2;
    uint8_t function;
    uint8_t rsvd4[10];
    le16 ioc_status;
    le32 ioc_log_info;
    uint8_t rsvd20[44];
};
static_assert(sizeof(IocFactsReply) == 64);
static_assert(offsetof(IocFactsReply, message_version) == 0);
static_assert(offsetof(IocFactsReply, function) == 3);
static_assert(offsetof(IocFactsReply, ioc_status) == 14);
static_assert(offsetof(IocFactsReply, ioc_log_info) == 16);
inline constexpr uint16_t kMinimumTransferMessageVersion = 0x0200;

// ---- Configuration pages (function 0x04) ----
inline constexpr uint8_t kPageTypeManufacturing = 0x09;
inline constexpr uint8_t kPageTypeExtended = 0x0F;
inline constexpr uint8_t kExtPageTypeSasIoUnit = 0x10;

struct ConfigPageHeader {
    uint8_t page_version;
    uint8_t page_length;  // in 4-byte units, header included (ordinary pages)
    uint8_t page_number;
    uint8_t page_type;
};
static_assert(sizeof(ConfigPageHeader) == 4);

// What an extended page carries behind its ordinary header.
struct ExtendedPageHeader {
    ConfigPageHeader header;
    le16 ext_page_length;  // in 4-byte units
    uint8_t ext_page_type;
    uint8_t rsvd7;
};
static_assert(sizeof(ExtendedPageHeader) == 8);
static_assert(offsetof(ExtendedPageHeader, ext_page_length) == 4);
static_assert(offsetof(ExtendedPageHeader, ext_page_type) == 6);

enum ConfigAction : uint8_t {
    kConfigActionHeader = 0,
    kConfigActionReadCurrent = 1,
    kConfigActionWriteCurrent = 2,
    kConfigActionWriteDefault = 3,
    kConfigActionWriteNvram = 4,
    kConfigActionReadDefault = 5,
    kConfigActionReadNvram = 6,
};

struct ConfigRequest {
    uint8_t action;
    uint8_t rsvd1[2];
    uint8_t function;
    le16 ext_page_length;
    uint8_t ext_page_type;
    uint8_t msg_flags;
    uint8_t rsvd8[12];
    ConfigPageHeader header;
    le32 page_address;
};
static_assert(sizeof(ConfigRequest) == 28);
static_assert(offsetof(ConfigRequest, function) == 3);
static_assert(offsetof(ConfigRequest, ext_page_length) == 4);
static_assert(offsetof(ConfigRequest, ext_page_type) == 6);
static_assert(offsetof(ConfigRequest, msg_flags) == 7);
static_assert(offsetof(ConfigRequest, header) == 20);
static_assert(offsetof(ConfigRequest, page_address) == 24);

struct ConfigReply {
    uint8_t action;
    uint8_t rsvd1[2];
    uint8_t function;
    le16 ext_page_length;
    uint8_t ext_page_type;
    uint8_t msg_flags;
    uint8_t rsvd8[6];
    le16 ioc_status;
    le32 ioc_log_info;
    ConfigPageHeader header;
};
static_assert(sizeof(ConfigReply) == 24);
static_assert(offsetof(ConfigReply, ext_page_length) == 4);
static_assert(offsetof(ConfigReply, ioc_status) == 14);
static_assert(offsetof(ConfigReply, ioc_log_info) == 16);
static_assert(offsetof(ConfigReply, header) == 20);

// Manufacturing page 0 (type 0x09, number 0). Text fields are fixed-width and
// need not be NUL-terminated.
struct ManufacturingPage0 {
    ConfigPageHeader header;
    char chip_name[16];
    char chip_revision[8];
    char board_name[16];
    char board_assembly[16];
    char board_tracer_number[16];
};
static_assert(sizeof(ManufacturingPage0) == 76);
static_assert(offsetof(ManufacturingPage0, chip_name) == 4);
static_assert(offsetof(ManufacturingPage0, chip_revision) == 20);
static_assert(offsetof(ManufacturingPage0, board_name) == 28);
static_assert(offsetof(ManufacturingPage0, board_assembly) == 44);
static_assert(offsetof(ManufacturingPage0, board_tracer_number) == 60);

// ---- Firmware download (0x09) and upload (0x12) ----
inline constexpr uint8_t kImageTypeFirmware = 0x01;
inline constexpr uint8_t kImageTypeBootRegion = 0x02;
inline constexpr uint8_t kImageTypeBackupFirmware = 0x05;
inline constexpr uint8_t kMsgFlagLastSegment = 0x01;
inline constexpr uint8_t kTransactionDetailsLength = 12;

// Long form, with a transaction context element at 20. Download and upload use
// the same layout; an upload carries message flags 0 and total image size 0.
struct FirmwareTransferLongRequest {
    uint8_t image_type;
    uint8_t rsvd1[2];
    uint8_t function;
    uint8_t rsvd4[3];
    uint8_t msg_flags;
    uint8_t rsvd8[4];
    le32 total_image_size;
    le32 rsvd16;
    uint8_t rsvd20;
    uint8_t context_size;
    uint8_t details_length;
    uint8_t flags;
    le32 rsvd24;
    le32 image_offset;
    le32 image_size;
};
static_assert(sizeof(FirmwareTransferLongRequest) == 36);
static_assert(offsetof(FirmwareTransferLongRequest, function) == 3);
static_assert(offsetof(FirmwareTransferLongRequest, msg_flags) == 7);
static_assert(offsetof(FirmwareTransferLongRequest, total_image_size) == 12);
static_assert(offsetof(FirmwareTransferLongRequest, context_size) == 21);
static_assert(offsetof(FirmwareTransferLongRequest, details_length) == 22);
static_assert(offsetof(FirmwareTransferLongRequest, flags) == 23);
static_assert(offsetof(FirmwareTransferLongRequest, image_offset) == 28);
static_assert(offsetof(FirmwareTransferLongRequest, image_size) == 32);

// Short form, sent to third-generation controllers. An upload carries message
// flags 0 and total image size 0.
struct FirmwareTransferShortRequest {
    uint8_t image_type;
    uint8_t rsvd1[2];
    uint8_t function;
    uint8_t rsvd4[3];
    uint8_t msg_flags;
    uint8_t rsvd8[4];
    le32 total_image_size;  // download: the segment length
    uint8_t rsvd16[8];
    le32 image_offset;
    le32 image_size;
};
static_assert(sizeof(FirmwareTransferShortRequest) == 32);
static_assert(offsetof(FirmwareTransferShortRequest, function) == 3);
static_assert(offsetof(FirmwareTransferShortRequest, msg_flags) == 7);
static_assert(offsetof(FirmwareTransferShortRequest, total_image_size) == 12);
static_assert(offsetof(FirmwareTransferShortRequest, image_offset) == 24);
static_assert(offsetof(FirmwareTransferShortRequest, image_size) == 28);

using FirmwareDownloadReply = ReplyHeader;

struct FirmwareUploadReply {
    ReplyHeader common;
    le32 actual_image_size;  // full size of the selected image in flash
};
static_assert(sizeof(FirmwareUploadReply) == 24);
static_assert(offsetof(FirmwareUploadReply, actual_image_size) == 20);

// ---- Toolbox (0x17) ----
inline constexpr uint8_t kToolClean = 0;
inline constexpr uint32_t kCleanPersistentPages = 0x20000000;

struct ToolboxCleanRequest {
    uint8_t tool;
    uint8_t rsvd1[2];
    uint8_t function;
    uint8_t rsvd4[8];
    le32 flags;
};
static_assert(sizeof(ToolboxCleanRequest) == 16);
static_assert(offsetof(ToolboxCleanRequest, function) == 3);
static_assert(offsetof(ToolboxCleanRequest, flags) == 12);

using ToolboxReply = ReplyHeader;

}  // namespace fmx
