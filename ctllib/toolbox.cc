// Toolbox clean: erases a region of the controller's persistent storage. Only
// the persistent configuration pages are ever cleaned by this program.
#include "library_context.h"
#include "message_builders.h"

namespace fmx {

void build_toolbox_clean(uint32_t adapter_handle, uint32_t clean_flags,
                         ToolboxCleanMessage& message) {
    message.request = ToolboxCleanRequest{};
    message.reply = ToolboxReply{};
    message.request.tool = kToolClean;
    message.request.function = kFunctionToolbox;
    message.request.flags = clean_flags;

    FmxPassthru& d = message.descriptor;
    // Erasing flash takes long; the default 10 seconds would cut it short.
    begin_descriptor(d, adapter_handle, kToolboxCleanTimeoutSeconds);
    d.request_length = sizeof(message.request);
    d.request = &message.request;
    d.reply_capacity = sizeof(message.reply);
    d.reply = &message.reply;
}

}  // namespace fmx

int fmx_toolbox_clean(const FmxHandle* handle, uint32_t clean_flags, void* reply,
                      FmxStatusBlock* status) {
    FmxLibContext* ctx = fmx_context();
    if (ctx == nullptr) return FMX_FAILURE;
    FmxAdapter* adapter = nullptr;
    if (const int found = fmx_find_adapter(ctx, handle, &adapter); found != FMX_OK) return found;
    if (!fmx::supports_transfer_requests(*adapter)) return FMX_MESSAGE_VERSION_TOO_OLD;
    if (clean_flags != fmx::kCleanPersistentPages) return FMX_BAD_CLEAN_FLAGS;

    fmx::ToolboxCleanMessage message;
    fmx::build_toolbox_clean(adapter->handle.handle, clean_flags, message);
    const int sent = fmx_send_passthru(ctx, &message.descriptor);
    // The reply and the status block go back whatever the transport said; after
    // a transport failure they hold zeros and a cleared block.
    fmx::copy_reply(&message.reply, sizeof(message.reply), reply, sizeof(message.reply));
    if (status != nullptr) *status = message.descriptor.status;
    return sent;
}
