#include "controller.h"

#include <utility>

#include "config_pages.h"
#include "ioc_status.h"

namespace fmxsim {

Controller::Controller(ControllerSpec spec) : spec_(std::move(spec)) {}

Response Controller::handle(std::span<const uint8_t> frame, std::span<const uint8_t> data_out) {
    const auto function = request_function(frame);
    if (!function) return status_response(0, kIocStatusInvalidFunction);
    switch (*function) {
        case fmx::kFunctionIocFacts: return ioc_facts();
        case fmx::kFunctionConfig: return handle_config_request(spec_.pages, frame, data_out);
        case fmx::kFunctionFirmwareDownload:
        case fmx::kFunctionFirmwareUpload: return firmware_transfer(*function, frame, data_out);
        case fmx::kFunctionToolbox: return toolbox(frame);
        default: return status_response(*function, kIocStatusInvalidFunction);
    }
}

const RequestFault* Controller::count_request(uint8_t function) {
    const uint32_t ordinal = ++request_counts_[function];
    for (const RequestFault& fault : spec_.request_faults) {
        if (fault.matches(function, ordinal)) return &fault;
    }
    return nullptr;
}

void Controller::hard_reset() {
    ++hard_resets_;
    flash_.discard_pending();
    load_current_from_nonvolatile(spec_.pages);
}

Response Controller::ioc_facts() const {
    fmx::IocFactsReply reply{};
    reply.message_version = spec_.message_version;
    set_reply_status(reply, fmx::kFunctionIocFacts, kIocStatusSuccess);
    return Response{to_bytes(reply), {}};
}

Response Controller::firmware_transfer(uint8_t function, std::span<const uint8_t> frame,
                                       std::span<const uint8_t> data_out) {
    const auto request = parse_transfer_request(frame);
    if (!request || request->short_form != is_third_generation(spec_.device_id)) {
        // The upload reply is the longer one; a download reply is its first 20 bytes.
        if (function == fmx::kFunctionFirmwareUpload) {
            fmx::FirmwareUploadReply reply{};
            set_reply_status(reply.common, function, kIocStatusInvalidField);
            return Response{to_bytes(reply), {}};
        }
        return status_response(function, kIocStatusInvalidField);
    }
    if (function == fmx::kFunctionFirmwareUpload) return flash_.upload(spec_, *request);
    return flash_.download(spec_, *request, data_out);
}

Response Controller::toolbox(std::span<const uint8_t> frame) {
    const auto request = read_frame<fmx::ToolboxCleanRequest>(frame);
    if (!request || request->tool != fmx::kToolClean) {
        return status_response(fmx::kFunctionToolbox, kIocStatusInvalidField);
    }
    // Other clean flags name storage this model does not keep; they erase nothing.
    if ((request->flags & fmx::kCleanPersistentPages) != 0) reset_nonvolatile_pages(spec_.pages);
    return status_response(fmx::kFunctionToolbox, kIocStatusSuccess);
}

}  // namespace fmxsim
