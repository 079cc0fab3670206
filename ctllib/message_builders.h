// Message builders: each fills one request frame and the pass-through
// descriptor that carries it, without sending anything. The operations of the
// library build a message, hand its descriptor to fmx_send_passthru and then
// read the reply, so a frame can be checked byte by byte with no controller.
//
// A message object owns its frame and the builder's reply buffer; its
// descriptor points into the object itself, so messages are neither copied nor
// moved once built.
#pragma once

#include <cstdint>

#include "library_context.h"
#include "message_frames.h"

namespace fmx {

inline constexpr uint32_t kFirmwareTransferTimeoutSeconds = 60;
inline constexpr uint32_t kToolboxCleanTimeoutSeconds = 512;
inline constexpr uint32_t kDownloadReplySize = sizeof(FirmwareDownloadReply);
inline constexpr uint32_t kUploadReplySize = sizeof(FirmwareUploadReply);

template <typename Request, typename Reply>
struct Message {
    Request request{};
    Reply reply{};
    FmxPassthru descriptor{};

    Message() = default;
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
};

using IocFactsMessage = Message<IocFactsRequest, IocFactsReply>;
using ConfigMessage = Message<ConfigRequest, ConfigReply>;
using ToolboxCleanMessage = Message<ToolboxCleanRequest, ToolboxReply>;

// Both frame forms live side by side; the descriptor points at the one built.
struct FirmwareTransferMessage {
    FirmwareTransferLongRequest long_request{};
    FirmwareTransferShortRequest short_request{};
    FirmwareUploadReply reply{};  // a download uses only its first 20 bytes
    FmxPassthru descriptor{};

    FirmwareTransferMessage() = default;
    FirmwareTransferMessage(const FirmwareTransferMessage&) = delete;
    FirmwareTransferMessage& operator=(const FirmwareTransferMessage&) = delete;
};

// Fields of one configuration request. `buffer` travels as data-in for the
// read actions, as data-out for the write actions and not at all for the
// header action.
struct ConfigRequestFields {
    uint8_t action = kConfigActionHeader;
    ConfigPageHeader header{};
    uint32_t page_address = 0;
    uint8_t ext_page_type = 0;
    uint16_t ext_page_length = 0;
    void* buffer = nullptr;
    uint32_t buffer_length = 0;
};

// One firmware segment. `last_segment` is the caller's flag as given: only the
// value 1 marks the last segment.
struct FirmwareSegment {
    uint8_t image_type = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t last_segment = 0;
};

// Fills the fields every descriptor shares and zeroes the rest.
void begin_descriptor(FmxPassthru& descriptor, uint32_t adapter_handle, uint32_t timeout);

void build_ioc_facts(uint32_t adapter_handle, IocFactsMessage& message);
void build_config_request(uint32_t adapter_handle, const ConfigRequestFields& fields,
                          ConfigMessage& message);
void build_firmware_download(uint32_t adapter_handle, bool short_form, const void* source,
                             const FirmwareSegment& segment, FirmwareTransferMessage& message);
void build_firmware_upload(uint32_t adapter_handle, bool short_form, void* destination,
                           const FirmwareSegment& segment, FirmwareTransferMessage& message);
void build_toolbox_clean(uint32_t adapter_handle, uint32_t clean_flags,
                         ToolboxCleanMessage& message);

// The message version from an adapter's copy of its IOC facts reply.
uint16_t message_version(const FmxAdapter& adapter);
bool supports_transfer_requests(const FmxAdapter& adapter);

// Copies min(capacity, reply_size) reply bytes to the caller (when it gave a
// buffer) and returns the count copied.
uint32_t copy_reply(const void* reply, uint32_t reply_size, void* caller_buffer,
                    uint32_t caller_capacity);

}  // namespace fmx
