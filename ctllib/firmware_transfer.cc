// Firmware download and upload: one segment of one image per call, in the long
// frame form with a transaction context element, or in the short form that
// third-generation controllers take instead.
#include "library_context.h"
#include "message_builders.h"

namespace {

uint8_t download_message_flags(uint32_t last_segment) {
    // Only the value 1 marks the last segment; any other value is "more follow".
    return last_segment == 1 ? fmx::kMsgFlagLastSegment : 0;
}

void point_at_request(FmxPassthru& d, const void* request, uint32_t length) {
    d.request = request;
    d.request_length = length;
}

void fill_long_form(fmx::FirmwareTransferLongRequest& r, uint8_t function,
                    const fmx::FirmwareSegment& segment) {
    r.image_type = segment.image_type;
    r.function = function;
    r.context_size = 0;
    r.details_length = fmx::kTransactionDetailsLength;
    r.flags = 0;
    r.image_offset = segment.offset;
    r.image_size = segment.length;
}

void fill_short_form(fmx::FirmwareTransferShortRequest& r, uint8_t function,
                     const fmx::FirmwareSegment& segment) {
    r.image_type = segment.image_type;
    r.function = function;
    r.image_offset = segment.offset;
    r.image_size = segment.length;
}

void clear_frames(fmx::FirmwareTransferMessage& message) {
    message.long_request = fmx::FirmwareTransferLongRequest{};
    message.short_request = fmx::FirmwareTransferShortRequest{};
    message.reply = fmx::FirmwareUploadReply{};
}

// Resolves the adapter and checks that it takes firmware-transfer requests.
int resolve_transfer_adapter(FmxLibContext* ctx, const FmxHandle* handle, FmxAdapter** adapter) {
    if (ctx == nullptr) return FMX_FAILURE;
    if (const int found = fmx_find_adapter(ctx, handle, adapter); found != FMX_OK) return found;
    if (!fmx::supports_transfer_requests(**adapter)) return FMX_MESSAGE_VERSION_TOO_OLD;
    return FMX_OK;
}

// Sends a built transfer message and hands its reply back to the caller.
int send_transfer(FmxLibContext* ctx, fmx::FirmwareTransferMessage& message, void* reply,
                  uint32_t* reply_length, FmxStatusBlock* status) {
    if (const int sent = fmx_send_passthru(ctx, &message.descriptor); sent != FMX_OK) {
        if (reply_length != nullptr) *reply_length = 0;
        return sent;
    }
    const uint32_t copied =
        fmx::copy_reply(&message.reply, message.descriptor.reply_capacity, reply,
                        reply_length != nullptr ? *reply_length : 0);
    if (reply_length != nullptr) *reply_length = copied;
    if (status != nullptr) *status = message.descriptor.status;
    return FMX_OK;
}

}  // namespace

namespace fmx {

void build_firmware_download(uint32_t adapter_handle, bool short_form, const void* source,
                             const FirmwareSegment& segment, FirmwareTransferMessage& message) {
    clear_frames(message);
    FmxPassthru& d = message.descriptor;
    begin_descriptor(d, adapter_handle, kFirmwareTransferTimeoutSeconds);
    const uint8_t msg_flags = download_message_flags(segment.last_segment);
    if (short_form) {
        FirmwareTransferShortRequest& r = message.short_request;
        fill_short_form(r, kFunctionFirmwareDownload, segment);
        r.msg_flags = msg_flags;
        r.total_image_size = segment.length;
        point_at_request(d, &r, sizeof(r));
    } else {
        FirmwareTransferLongRequest& r = message.long_request;
        fill_long_form(r, kFunctionFirmwareDownload, segment);
        r.msg_flags = msg_flags;
        r.total_image_size = segment.length;
        point_at_request(d, &r, sizeof(r));
    }
    d.data_out_length = segment.length;
    d.data_out = source;
    d.reply_capacity = kDownloadReplySize;
    d.reply = &message.reply;
}

void build_firmware_upload(uint32_t adapter_handle, bool short_form, void* destination,
                           const FirmwareSegment& segment, FirmwareTransferMessage& message) {
    clear_frames(message);
    FmxPassthru& d = message.descriptor;
    begin_descriptor(d, adapter_handle, kFirmwareTransferTimeoutSeconds);
    if (short_form) {
        fill_short_form(message.short_request, kFunctionFirmwareUpload, segment);
        point_at_request(d, &message.short_request, sizeof(message.short_request));
    } else {
        fill_long_form(message.long_request, kFunctionFirmwareUpload, segment);
        point_at_request(d, &message.long_request, sizeof(message.long_request));
    }
    d.data_in_length = segment.length;
    d.data_in = destination;
    d.reply_capacity = kUploadReplySize;
    d.reply = &message.reply;
}

}  // namespace fmx

int fmx_download_firmware(const FmxHandle* handle, const void* source, uint32_t segment_length,
                          uint32_t image_offset, uint8_t image_type, uint32_t last_segment,
                          void* reply, uint32_t* reply_length, FmxStatusBlock* status) {
    FmxLibContext* ctx = fmx_context();
    FmxAdapter* adapter = nullptr;
    if (const int ready = resolve_transfer_adapter(ctx, handle, &adapter); ready != FMX_OK) {
        return ready;
    }
    if (source == nullptr && segment_length != 0) return FMX_BUFFER_TOO_SMALL;

    const fmx::FirmwareSegment segment{image_type, image_offset, segment_length, last_segment};
    fmx::FirmwareTransferMessage message;
    fmx::build_firmware_download(adapter->handle.handle, adapter->third_generation != 0, source,
                                 segment, message);
    return send_transfer(ctx, message, reply, reply_length, status);
}

int fmx_upload_firmware(const FmxHandle* handle, void* destination, uint32_t segment_length,
                        uint32_t image_offset, uint8_t image_type, void* reply,
                        uint32_t* reply_length, FmxStatusBlock* status) {
    FmxLibContext* ctx = fmx_context();
    FmxAdapter* adapter = nullptr;
    if (const int ready = resolve_transfer_adapter(ctx, handle, &adapter); ready != FMX_OK) {
        return ready;
    }
    if (destination == nullptr && segment_length != 0) return FMX_BUFFER_TOO_SMALL;

    const fmx::FirmwareSegment segment{image_type, image_offset, segment_length, 0};
    fmx::FirmwareTransferMessage message;
    fmx::build_firmware_upload(adapter->handle.handle, adapter->third_generation != 0,
                               destination, segment, message);
    return send_transfer(ctx, message, reply, reply_length, status);
}
