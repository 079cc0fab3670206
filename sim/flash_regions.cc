#include "flash_regions.h"

#include <algorithm>

#include "ioc_status.h"

namespace fmxsim {

namespace {

Response upload_reply(uint16_t ioc_status, size_t actual_size) {
    fmx::FirmwareUploadReply reply{};
    set_reply_status(reply.common, fmx::kFunctionFirmwareUpload, ioc_status);
    reply.actual_image_size = static_cast<uint32_t>(actual_size);
    return Response{to_bytes(reply), {}};
}

Response download_reply(uint16_t ioc_status) {
    return status_response(fmx::kFunctionFirmwareDownload, ioc_status);
}

}  // namespace

size_t FlashRegions::index(RegionKind kind) {
    switch (kind) {
        case RegionKind::firmware: return 0;
        case RegionKind::boot: return 1;
        case RegionKind::backup: break;
    }
    return 2;
}

FlashRegions::ReadbackView FlashRegions::readback_view(const ControllerSpec& controller,
                                                       RegionKind kind) const {
    ReadbackView view{controller.region(kind).size(), std::nullopt};
    for (const ReadbackFault& fault : controller.readback_faults) {
        if (fault.region != kind || (fault.after_download && !written(kind))) continue;
        if (fault.size) view.size = std::min<size_t>(view.size, *fault.size);
        if (fault.changed_byte) view.changed_byte = fault.changed_byte;
    }
    return view;
}

Response FlashRegions::upload(const ControllerSpec& controller, const TransferRequest& request) const {
    const auto kind = region_by_image_type(request.image_type);
    if (!kind) return upload_reply(kIocStatusInvalidField, 0);
    const ReadbackView view = readback_view(controller, *kind);
    const uint64_t end = uint64_t{request.offset} + request.length;
    if (end > view.size) return upload_reply(kIocStatusInvalidField, view.size);

    Response response = upload_reply(kIocStatusSuccess, view.size);
    const auto& bytes = controller.region(*kind);
    response.data_in.assign(bytes.begin() + request.offset, bytes.begin() + static_cast<ptrdiff_t>(end));
    if (view.changed_byte && *view.changed_byte >= request.offset && *view.changed_byte < end) {
        response.data_in[*view.changed_byte - request.offset] ^= 0xFF;
    }
    return response;
}

Response FlashRegions::download(ControllerSpec& controller, const TransferRequest& request,
                                std::span<const uint8_t> data_out) {
    const auto kind = region_by_image_type(request.image_type);
    if (!kind || data_out.size() < request.length) return download_reply(kIocStatusInvalidField);
    if (request.offset == 0) {
        pending_kind_ = kind;
        pending_.clear();
    }
    // A segment must continue the image it belongs to.
    if (pending_kind_ != kind || request.offset != pending_.size()) {
        discard_pending();
        return download_reply(kIocStatusInvalidField);
    }
    pending_.insert(pending_.end(), data_out.begin(), data_out.begin() + request.length);
    if (request.last_segment()) commit(controller, *kind);
    return download_reply(kIocStatusSuccess);
}

void FlashRegions::commit(ControllerSpec& controller, RegionKind kind) {
    controller.region(kind) = std::move(pending_);
    written_[index(kind)] = true;
    if (kind == RegionKind::firmware) {
        controller.backup = controller.firmware;
        written_[index(RegionKind::backup)] = true;
    }
    discard_pending();
}

void FlashRegions::discard_pending() {
    pending_kind_.reset();
    pending_.clear();
}

}  // namespace fmxsim
