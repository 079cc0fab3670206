// Decoding of the request frames the emulated controllers receive, and the
// building of their replies. Frames are untrusted bytes: every field is read
// through fmx::read_record, so a short frame yields "absent", never a read past
// its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "byte_order.h"
#include "message_frames.h"

namespace fmxsim {

// What one request produced: the reply frame and the data-in bytes. The driver
// copies at most the caller's buffer sizes of each.
struct Response {
    std::vector<uint8_t> reply;
    std::vector<uint8_t> data_in;
    uint16_t ioc_status() const;  // 0 when the reply carries none
};

// Every request carries its function code at the same place.
inline constexpr size_t kFunctionOffset = offsetof(fmx::IocFactsRequest, function);
static_assert(kFunctionOffset == offsetof(fmx::ConfigRequest, function));
static_assert(kFunctionOffset == offsetof(fmx::FirmwareTransferLongRequest, function));
static_assert(kFunctionOffset == offsetof(fmx::FirmwareTransferShortRequest, function));
static_assert(kFunctionOffset == offsetof(fmx::ToolboxCleanRequest, function));
std::optional<uint8_t> request_function(std::span<const uint8_t> frame);

// A firmware download or upload request, long or short form.
struct TransferRequest {
    bool short_form = false;
    uint8_t image_type = 0;
    uint8_t msg_flags = 0;
    uint32_t offset = 0;
    uint32_t length = 0;  // the segment length (image size field)
    bool last_segment() const { return (msg_flags & fmx::kMsgFlagLastSegment) != 0; }
};

// The short form is exactly 32 bytes; a frame of 36 bytes or more is the long
// form. Anything else is no transfer request at all.
std::optional<TransferRequest> parse_transfer_request(std::span<const uint8_t> frame);

// The fields a trace line shows; absent where the frame has no such field.
struct FrameSummary {
    std::optional<uint8_t> function;
    std::optional<uint8_t> action;
    std::optional<uint8_t> page_type;
    std::optional<uint8_t> page_number;
    std::optional<uint8_t> ext_page_type;
    std::optional<uint8_t> image_type;
    std::optional<uint32_t> offset;
    std::optional<uint32_t> length;
};
FrameSummary summarize_frame(std::span<const uint8_t> frame);

template <typename Record>
std::optional<Record> read_frame(std::span<const uint8_t> frame) {
    Record record{};
    if (!fmx::read_record(frame.data(), frame.size(), 0, record)) return std::nullopt;
    return record;
}

template <typename Record>
std::vector<uint8_t> to_bytes(const Record& record) {
    std::vector<uint8_t> bytes(sizeof(Record));
    fmx::write_record(bytes.data(), record);
    return bytes;
}

// Sets the fields every reply shares. Bit 15 of the status is set when a log
// info is given.
template <typename Reply>
void set_reply_status(Reply& reply, uint8_t function, uint16_t ioc_status, std::optional<uint32_t> log_info = {}) {
    reply.function = function;
    reply.ioc_status = static_cast<uint16_t>(log_info ? ioc_status | fmx::kIocStatusLogInfoValid : ioc_status);
    reply.ioc_log_info = log_info.value_or(0);
}

// A reply that is only the common header.
Response status_response(uint8_t function, uint16_t ioc_status, std::optional<uint32_t> log_info = {});

}  // namespace fmxsim
