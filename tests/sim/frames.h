// Request frames as the controller access library builds them, for the
// emulator's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "fake_client.h"
#include "message_frames.h"

namespace sim_test {

inline std::vector<uint8_t> facts_frame() {
    fmx::IocFactsRequest request{};
    request.function = fmx::kFunctionIocFacts;
    return bytes_of(request);
}

inline std::vector<uint8_t> config_frame(uint8_t action, uint8_t type, uint8_t number, uint8_t ext_type = 0,
                                         fmx::ConfigPageHeader header = {}) {
    fmx::ConfigRequest request{};
    request.action = action;
    request.function = fmx::kFunctionConfig;
    request.ext_page_type = ext_type;
    request.header = header;
    request.header.page_type = type;
    request.header.page_number = number;
    return bytes_of(request);
}

inline std::vector<uint8_t> transfer_frame(uint8_t function, bool short_form, uint8_t image_type, uint32_t offset,
                                           uint32_t length, bool last = false) {
    const uint8_t flags = last ? fmx::kMsgFlagLastSegment : 0;
    const uint32_t total = function == fmx::kFunctionFirmwareDownload ? length : 0;
    if (short_form) {
        fmx::FirmwareTransferShortRequest request{};
        request.image_type = image_type;
        request.function = function;
        request.msg_flags = flags;
        request.total_image_size = total;
        request.image_offset = offset;
        request.image_size = length;
        return bytes_of(request);
    }
    fmx::FirmwareTransferLongRequest request{};
    request.image_type = image_type;
    request.function = function;
    request.msg_flags = flags;
    request.total_image_size = total;
    request.details_length = fmx::kTransactionDetailsLength;
    request.image_offset = offset;
    request.image_size = length;
    return bytes_of(request);
}

inline std::vector<uint8_t> upload_frame(bool short_form, uint8_t image_type, uint32_t offset, uint32_t length) {
    return transfer_frame(fmx::kFunctionFirmwareUpload, short_form, image_type, offset, length);
}

inline std::vector<uint8_t> download_frame(bool short_form, uint8_t image_type, uint32_t offset, uint32_t length,
                                           bool last = true) {
    return transfer_frame(fmx::kFunctionFirmwareDownload, short_form, image_type, offset, length, last);
}

inline std::vector<uint8_t> toolbox_frame(uint32_t flags, uint8_t tool = fmx::kToolClean) {
    fmx::ToolboxCleanRequest request{};
    request.tool = tool;
    request.function = fmx::kFunctionToolbox;
    request.flags = flags;
    return bytes_of(request);
}

inline fmx::ReplyHeader reply_header(const std::vector<uint8_t>& reply) {
    return record_from<fmx::ReplyHeader>(reply);
}

}  // namespace sim_test
