// Configuration pages: the one configuration request, the read engine (page
// header first, then the page) and the write engine (page header first, then
// the write).
//
// A configuration request turns the reply's IOC status into its own library
// status; the IOC status and log info themselves stay in the last status.
#include <cstring>

#include "library_context.h"
#include "message_builders.h"

namespace {

constexpr uint32_t kPageUnitBytes = 4;

// IOC status values a configuration request maps to statuses of its own.
constexpr uint16_t kIocStatusInvalidFunction = 0x0001;
constexpr uint16_t kIocStatusConfigInvalidAction = 0x0020;
constexpr uint16_t kIocStatusConfigInvalidType = 0x0021;
constexpr uint16_t kIocStatusConfigInvalidPage = 0x0022;

int config_status_from_ioc_status(uint16_t ioc_status) {
    switch (ioc_status) {
    case 0:
        return FMX_OK;
    case kIocStatusConfigInvalidAction:
        return FMX_CONFIG_INVALID_ACTION;
    case kIocStatusConfigInvalidType:
        return FMX_CONFIG_INVALID_TYPE;
    case kIocStatusConfigInvalidPage:
    case kIocStatusInvalidFunction:
        return FMX_CONFIG_INVALID_PAGE;
    default:
        return FMX_FAILURE;
    }
}

bool is_read_action(uint8_t action) {
    return action == fmx::kConfigActionReadCurrent || action == fmx::kConfigActionReadDefault ||
           action == fmx::kConfigActionReadNvram;
}

bool extended_page_without_type(uint8_t page_type, uint8_t ext_page_type) {
    return page_type == fmx::kPageTypeExtended && ext_page_type == 0;
}

// Read kind to read action; 0 when the kind has none.
uint8_t read_action_for(uint32_t read_kind) {
    switch (read_kind) {
    case FMX_READ_CURRENT: return fmx::kConfigActionReadCurrent;
    case FMX_READ_DEFAULT: return fmx::kConfigActionReadDefault;
    case FMX_READ_NVRAM: return fmx::kConfigActionReadNvram;
    default: return 0;
    }
}

// Write kind to write action; 0 when the kind has none.
uint8_t write_action_for(uint32_t write_kind) {
    switch (write_kind) {
    case FMX_WRITE_CURRENT: return fmx::kConfigActionWriteCurrent;
    case FMX_WRITE_DEFAULT: return fmx::kConfigActionWriteDefault;
    case FMX_WRITE_NVRAM: return fmx::kConfigActionWriteNvram;
    default: return 0;
    }
}

uint32_t page_size_bytes(uint8_t page_type, const fmx::ConfigPageHeader& header,
                         uint16_t ext_page_length) {
    const uint32_t units = page_type == fmx::kPageTypeExtended ? ext_page_length : header.page_length;
    return units * kPageUnitBytes;
}

// The header action: learns the controller's header and extended length.
int request_page_header(FmxLibContext* ctx, const FmxHandle* handle, uint32_t page_address,
                        uint8_t page_type, uint8_t page_number, uint8_t ext_page_type,
                        fmx::ConfigPageHeader& header, uint16_t& ext_page_length) {
    header = fmx::ConfigPageHeader{0, 0, page_number, page_type};
    ext_page_length = 0;
    return fmx_config_request(ctx, handle, fmx::kConfigActionHeader, &header, page_address,
                              ext_page_type, &ext_page_length, nullptr, 0);
}

}  // namespace

namespace fmx {

void build_config_request(uint32_t adapter_handle, const ConfigRequestFields& fields,
                          ConfigMessage& message) {
    message.request = ConfigRequest{};
    message.reply = ConfigReply{};
    ConfigRequest& r = message.request;
    r.action = fields.action;
    r.function = kFunctionConfig;
    r.ext_page_length = fields.ext_page_length;
    r.ext_page_type = fields.ext_page_type;
    r.msg_flags = 0;
    r.header = fields.header;
    r.page_address = fields.page_address;

    FmxPassthru& d = message.descriptor;
    begin_descriptor(d, adapter_handle, 0);  // the transport's default timeout
    d.request_length = sizeof(r);
    d.request = &r;
    d.reply_capacity = sizeof(message.reply);
    d.reply = &message.reply;
    if (fields.action == kConfigActionHeader) return;
    if (is_read_action(fields.action)) {
        d.data_in_length = fields.buffer_length;
        d.data_in = fields.buffer;
    } else {
        d.data_out_length = fields.buffer_length;
        d.data_out = fields.buffer;
    }
}

}  // namespace fmx

int fmx_config_request(FmxLibContext* ctx, const FmxHandle* handle, uint8_t action,
                       fmx::ConfigPageHeader* header, uint32_t page_address,
                       uint8_t ext_page_type, uint16_t* ext_page_length, void* buffer,
                       uint32_t buffer_length) {
    if (header == nullptr || ext_page_length == nullptr) return FMX_INVALID_PARAMETER;
    FmxAdapter* adapter = nullptr;
    if (const int found = fmx_find_adapter(ctx, handle, &adapter); found != FMX_OK) return found;

    fmx::ConfigRequestFields fields;
    fields.action = action;
    fields.header = *header;
    fields.page_address = page_address;
    fields.ext_page_type = ext_page_type;
    fields.ext_page_length = *ext_page_length;
    fields.buffer = buffer;
    fields.buffer_length = buffer_length;
    fmx::ConfigMessage message;
    fmx::build_config_request(adapter->handle.handle, fields, message);

    if (const int sent = fmx_send_passthru(ctx, &message.descriptor); sent != FMX_OK) return sent;
    const int status = config_status_from_ioc_status(message.descriptor.status.ioc_status);
    if (status == FMX_OK) {
        *header = message.reply.header;
        *ext_page_length = message.reply.ext_page_length;
    }
    return status;
}

int fmx_config_read(FmxLibContext* ctx, const FmxHandle* handle, uint32_t page_address,
                    uint8_t page_type, uint8_t page_number, uint8_t ext_page_type,
                    uint32_t read_kind, void* buffer, uint32_t* length) {
    if (extended_page_without_type(page_type, ext_page_type)) return FMX_INVALID_PARAMETER;
    if (length == nullptr) return FMX_BUFFER_TOO_SMALL;

    fmx::ConfigPageHeader header{};
    uint16_t ext_page_length = 0;
    if (const int got = request_page_header(ctx, handle, page_address, page_type, page_number,
                                            ext_page_type, header, ext_page_length);
        got != FMX_OK) {
        return got;
    }
    const uint32_t page_size = page_size_bytes(page_type, header, ext_page_length);
    if (read_kind == FMX_READ_HEADER) {
        *length = page_size;
        return FMX_OK;
    }
    if (buffer == nullptr || *length == 0) {
        *length = page_size;
        return FMX_BUFFER_TOO_SMALL;
    }

    // The whole page is read into a buffer of its own size, so a caller buffer
    // shorter than the page still receives the page's beginning.
    auto* page = static_cast<uint8_t*>(fmx_alloc(ctx, true, page_size));
    if (page == nullptr) return FMX_NO_MEMORY;
    const uint8_t action = read_action_for(read_kind);
    int status = FMX_INVALID_PARAMETER;
    if (action != 0) {
        status = fmx_config_request(ctx, handle, action, &header, page_address, ext_page_type,
                                    &ext_page_length, page, page_size);
    }
    if (status == FMX_OK) {
        std::memcpy(buffer, page, *length < page_size ? *length : page_size);
        *length = page_size;
    }
    fmx_free(ctx, page);
    return status;
}

int fmx_config_write(FmxLibContext* ctx, const FmxHandle* handle, uint32_t page_address,
                     uint8_t page_type, uint8_t page_number, uint8_t ext_page_type,
                     uint32_t write_kind, const void* buffer, uint32_t length) {
    if (extended_page_without_type(page_type, ext_page_type)) return FMX_INVALID_PARAMETER;
    if (buffer == nullptr) return FMX_BUFFER_TOO_SMALL;

    fmx::ConfigPageHeader header{};
    uint16_t ext_page_length = 0;
    if (const int got = request_page_header(ctx, handle, page_address, page_type, page_number,
                                            ext_page_type, header, ext_page_length);
        got != FMX_OK) {
        return got;
    }
    const uint8_t action = write_action_for(write_kind);
    if (action == 0) return FMX_INVALID_PARAMETER;
    // The request carries the controller's own header; the header bytes inside
    // the caller's page travel as ordinary page data.
    return fmx_config_request(ctx, handle, action, &header, page_address, ext_page_type,
                              &ext_page_length, const_cast<void*>(buffer), length);
}

int fmx_read_config_page(const FmxHandle* handle, uint32_t page_address, uint8_t page_type,
                         uint8_t page_number, uint8_t ext_page_type, uint32_t read_kind,
                         void* buffer, uint32_t* length) {
    FmxLibContext* ctx = fmx_context();
    if (ctx == nullptr) return FMX_FAILURE;
    return fmx_config_read(ctx, handle, page_address, page_type, page_number, ext_page_type,
                           read_kind, buffer, length);
}

int fmx_write_config_page(const FmxHandle* handle, uint32_t page_address, uint8_t page_type,
                          uint8_t page_number, uint8_t ext_page_type, uint32_t write_kind,
                          const void* buffer, uint32_t length) {
    FmxLibContext* ctx = fmx_context();
    if (ctx == nullptr) return FMX_FAILURE;
    return fmx_config_write(ctx, handle, page_address, page_type, page_number, ext_page_type,
                            write_kind, buffer, length);
}
