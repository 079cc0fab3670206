// The library context, the adapter registry and handles, the library version,
// the IOC facts request and the helpers every message builder shares.
#include <cstdlib>
#include <cstring>

#include "library_context.h"
#include "message_builders.h"

namespace {

// The one process-wide context. Replaced by every fmx_lib_init; never torn down.
FmxLibContext* g_context = nullptr;

constexpr uint32_t kHandleKindMask = 0xFF000000;
constexpr uint32_t kAdapterHandleKind = FMX_ADAPTER_HANDLE_KIND & kHandleKindMask;
constexpr uint8_t kLibVersionMajor = 14;
constexpr uint8_t kLibVersionMinor = 8;
constexpr uint8_t kLibVersionBuild = 4;
constexpr uint32_t kLibVersionMinimumSize = 8;

void free_adapters(FmxLibContext* ctx) {
    FmxAdapter* adapter = ctx->first_adapter;
    while (adapter != nullptr) {
        FmxAdapter* next = adapter->next;
        fmx_free(ctx, adapter);
        adapter = next;
    }
    ctx->first_adapter = nullptr;
    ctx->adapter_count = 0;
}

}  // namespace

FmxLibContext* fmx_context() { return g_context; }

void* fmx_alloc(FmxLibContext*, bool zero, uint32_t size) {
    // A zero-sized request still yields a distinct block, so null always means
    // that memory ran out.
    const size_t bytes = size == 0 ? 1 : size;
    return zero ? std::calloc(1, bytes) : std::malloc(bytes);
}

void fmx_free(FmxLibContext*, void* block) { std::free(block); }

int fmx_lib_init() {
    auto* fresh = static_cast<FmxLibContext*>(fmx_alloc(nullptr, true, sizeof(FmxLibContext)));
    if (fresh == nullptr) return FMX_NO_MEMORY;
    fresh->next_serial = 1;
    if (g_context != nullptr) {
        free_adapters(g_context);
        fmx_free(g_context, g_context);
    }
    g_context = fresh;
    return FMX_OK;
}

int fmx_get_lib_version(FmxLibVersion* version) {
    if (version == nullptr) return FMX_FAILURE;
    if (version->size >= kLibVersionMinimumSize) {
        version->major = kLibVersionMajor;
        version->minor = kLibVersionMinor;
        version->build = kLibVersionBuild;
    }
    return FMX_OK;
}

int fmx_find_adapter(FmxLibContext* ctx, const FmxHandle* handle, FmxAdapter** adapter) {
    if (handle == nullptr) return FMX_UNKNOWN_HANDLE;
    if ((handle->handle & kHandleKindMask) != kAdapterHandleKind) return FMX_WRONG_HANDLE_KIND;
    FmxAdapter* found = nullptr;
    if (ctx != nullptr) {
        for (FmxAdapter* a = ctx->first_adapter; a != nullptr; a = a->next) {
            if (a->handle.handle == handle->handle) {
                found = a;
                break;
            }
        }
    }
    if (adapter != nullptr) *adapter = found;
    return found != nullptr ? FMX_OK : FMX_UNKNOWN_HANDLE;
}

int fmx_add_adapter(FmxLibContext* ctx, FmxAdapter** adapter) {
    if (ctx == nullptr || adapter == nullptr) return FMX_FAILURE;
    auto* fresh = static_cast<FmxAdapter*>(fmx_alloc(ctx, true, sizeof(FmxAdapter)));
    if (fresh == nullptr) return FMX_NO_MEMORY;
    if (ctx->first_adapter == nullptr) {
        ctx->first_adapter = fresh;
    } else {
        FmxAdapter* tail = ctx->first_adapter;
        while (tail->next != nullptr) tail = tail->next;
        tail->next = fresh;
    }
    ++ctx->adapter_count;
    *adapter = fresh;
    return FMX_OK;
}

int fmx_assign_handle(FmxLibContext* ctx, FmxAdapter* object, uint32_t kind,
                      uint32_t driver_adapter_number, uint32_t value1, uint32_t value2,
                      uint8_t value3) {
    if (ctx == nullptr || object == nullptr) return FMX_FAILURE;
    const uint32_t value = (kind & kHandleKindMask) + ctx->next_serial;
    ++ctx->next_serial;
    object->handle.handle = value;
    object->handle.handle_again = value;
    object->handle.kind = (kind | 0x1u) & ~0x100u;
    object->handle.driver_adapter_number = driver_adapter_number;
    object->assigned_value1 = value1;
    object->assigned_value2 = value2;
    object->assigned_value3 = value3;
    return FMX_OK;
}

int fmx_discover_adapters(uint32_t* adapter_count, uint32_t flags) {
    FmxLibContext* ctx = g_context;
    if (ctx == nullptr) return FMX_FAILURE;
    ctx->discovery_flags = flags;
    const int status = fmx_discover(ctx);
    if (adapter_count != nullptr) *adapter_count = ctx->adapter_count;
    return status;
}

int fmx_get_adapter_info(uint32_t index, const FmxHandle* handle, FmxAdapterInfo* info) {
    if (g_context == nullptr) return FMX_FAILURE;
    return fmx_adapter_info_by_index(g_context, index, handle, info);
}

int fmx_get_last_status(FmxStatusBlock* status) {
    if (g_context != nullptr && status != nullptr) *status = g_context->last_status;
    return FMX_OK;
}

int fmx_reset_adapter(const FmxHandle* handle) {
    if (g_context == nullptr) return FMX_FAILURE;
    return fmx_hard_reset(g_context, handle);
}

int fmx_get_ioc_facts(const FmxHandle* handle, void* buffer, uint32_t* length,
                      FmxStatusBlock* status) {
    if (g_context == nullptr) return FMX_FAILURE;
    return fmx_request_ioc_facts(g_context, handle, buffer, length, status);
}

int fmx_request_ioc_facts(FmxLibContext* ctx, const FmxHandle* handle, void* buffer,
                          uint32_t* length, FmxStatusBlock* status) {
    FmxAdapter* adapter = nullptr;
    if (const int found = fmx_find_adapter(ctx, handle, &adapter); found != FMX_OK) return found;

    fmx::IocFactsMessage message;
    fmx::build_ioc_facts(adapter->handle.handle, message);
    if (const int sent = fmx_send_passthru(ctx, &message.descriptor); sent != FMX_OK) {
        if (length != nullptr) *length = 0;
        return sent;
    }
    const uint32_t copied = fmx::copy_reply(&message.reply, sizeof(message.reply), buffer,
                                            length != nullptr ? *length : 0);
    if (length != nullptr) *length = copied;
    if (status != nullptr) *status = message.descriptor.status;
    return FMX_OK;
}

namespace fmx {

void begin_descriptor(FmxPassthru& descriptor, uint32_t adapter_handle, uint32_t timeout) {
    descriptor = FmxPassthru{};
    descriptor.size = sizeof(FmxPassthru);
    descriptor.adapter_handle = adapter_handle;
    descriptor.signature = FMX_PASSTHRU_SIGNATURE;
    descriptor.timeout = timeout;
}

void build_ioc_facts(uint32_t adapter_handle, IocFactsMessage& message) {
    message.request = IocFactsRequest{};
    message.reply = IocFactsReply{};
    message.request.function = kFunctionIocFacts;

    FmxPassthru& d = message.descriptor;
    begin_descriptor(d, adapter_handle, 0);  // the transport's default timeout
    d.request_length = sizeof(message.request);
    d.request = &message.request;
    d.reply_capacity = sizeof(message.reply);
    d.reply = &message.reply;
}

uint16_t message_version(const FmxAdapter& adapter) {
    IocFactsReply facts{};
    if (!read_record(adapter.ioc_facts, sizeof(adapter.ioc_facts), 0, facts)) return 0;
    return facts.message_version;
}

bool supports_transfer_requests(const FmxAdapter& adapter) {
    return message_version(adapter) >= kMinimumTransferMessageVersion;
}

uint32_t copy_reply(const void* reply, uint32_t reply_size, void* caller_buffer,
                    uint32_t caller_capacity) {
    if (caller_buffer == nullptr) return 0;
    const uint32_t count = caller_capacity < reply_size ? caller_capacity : reply_size;
    if (count != 0) std::memcpy(caller_buffer, reply, count);
    return count;
}

}  // namespace fmx
