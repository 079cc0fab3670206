#include "request_frames.h"

namespace fmxsim {

uint16_t Response::ioc_status() const {
    const auto header = read_frame<fmx::ReplyHeader>(reply);
    return header ? header->ioc_status.get() : 0;
}

std::optional<TransferRequest> parse_transfer_request(std::span<const uint8_t> frame) {
    TransferRequest request;
    if (frame.size() == sizeof(fmx::FirmwareTransferShortRequest)) {
        const auto record = read_frame<fmx::FirmwareTransferShortRequest>(frame);
        request.short_form = true;
        request.image_type = record->image_type;
        request.msg_flags = record->msg_flags;
        request.offset = record->image_offset;
        request.length = record->image_size;
        return request;
    }
    const auto record = read_frame<fmx::FirmwareTransferLongRequest>(frame);
    if (!record) return std::nullopt;
    request.image_type = record->image_type;
    request.msg_flags = record->msg_flags;
    request.offset = record->image_offset;
    request.length = record->image_size;
    return request;
}

std::optional<uint8_t> request_function(std::span<const uint8_t> frame) {
    if (frame.size() <= kFunctionOffset) return std::nullopt;
    return frame[kFunctionOffset];
}

FrameSummary summarize_frame(std::span<const uint8_t> frame) {
    FrameSummary summary;
    const auto function = request_function(frame);
    if (!function) return summary;
    summary.function = function;
    switch (*function) {
        case fmx::kFunctionConfig:
            if (const auto config = read_frame<fmx::ConfigRequest>(frame)) {
                summary.action = config->action;
                summary.page_type = config->header.page_type;
                summary.page_number = config->header.page_number;
                summary.ext_page_type = config->ext_page_type;
            }
            break;
        case fmx::kFunctionFirmwareDownload:
        case fmx::kFunctionFirmwareUpload:
            if (const auto transfer = parse_transfer_request(frame)) {
                summary.image_type = transfer->image_type;
                summary.offset = transfer->offset;
                summary.length = transfer->length;
            }
            break;
        default: break;
    }
    return summary;
}

Response status_response(uint8_t function, uint16_t ioc_status, std::optional<uint32_t> log_info) {
    fmx::ReplyHeader reply{};
    set_reply_status(reply, function, ioc_status, log_info);
    return Response{to_bytes(reply), {}};
}

}  // namespace fmxsim
