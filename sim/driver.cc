#include "driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "driver_records.h"

namespace fmxsim {

namespace {

// The largest request frame the controllers take: 128 bytes.
constexpr uint32_t kMaxFrameWords = 32;

DriverResult fail(TraceRecord& trace, int error) {
    trace.result = -1;
    trace.error = error;
    return DriverResult{-1, error};
}

// A buffer the record names: empty when its size is 0; none when it cannot be
// reached (no address, or memory the client does not have).
std::optional<std::span<uint8_t>> reach(ClientMemory& memory, uint64_t address, uint32_t size) {
    if (size == 0) return std::span<uint8_t>{};
    if (address == 0) return std::nullopt;
    std::span<uint8_t> buffer = memory.at(address, size);
    if (buffer.size() != size) return std::nullopt;
    return buffer;
}

void copy_into(std::span<uint8_t> destination, const std::vector<uint8_t>& source) {
    std::copy_n(source.begin(), std::min(source.size(), destination.size()), destination.begin());
}

void trace_frame(std::span<const uint8_t> frame, TraceRecord& trace) {
    const FrameSummary summary = summarize_frame(frame);
    trace.function = summary.function;
    trace.action = summary.action;
    trace.page_type = summary.page_type;
    trace.page_number = summary.page_number;
    trace.ext_page_type = summary.ext_page_type;
    trace.image_type = summary.image_type;
    trace.offset = summary.offset;
    trace.length = summary.length;
}

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));  // NUL-terminated
}

void fill_ioc_information(const ControllerSpec& c, fmx::DriverIocInfo& info) {
    info.adapter_type = c.adapter_type;
    info.port_number = c.port;
    info.pci_device_id = c.device_id;
    info.hardware_revision = c.revision;
    info.subsystem_device_id = c.subsystem_device_id;
    info.subsystem_vendor_id = c.subsystem_vendor_id;
    info.firmware_version = c.firmware_version;
    info.boot_image_version = c.boot_image_version;
    put_text(info.driver_version, c.driver_version);
    info.scsi_id = c.scsi_id;
    info.pci_location = c.pci_location();
    info.pci_segment = c.pci_segment;
}

}  // namespace

Driver::Driver(Scenario scenario) {
    for (ControllerSpec& controller : scenario.controllers) controllers_.emplace_back(std::move(controller));
    scenario.controllers.clear();
    layout_ = std::move(scenario);
}

void Driver::set_trace_sink(TraceSink sink) {
    std::lock_guard lock(mutex_);
    trace_sink_ = std::move(sink);
}

uint32_t Driver::hard_resets(size_t controller) const {
    std::lock_guard lock(mutex_);
    return controller < controllers_.size() ? controllers_[controller].hard_resets() : 0;
}

Scenario Driver::snapshot() const {
    std::lock_guard lock(mutex_);
    Scenario scenario = layout_;
    for (const Controller& controller : controllers_) scenario.controllers.push_back(controller.state());
    return scenario;
}

DriverResult Driver::ioctl(std::string_view node_path, unsigned long request, ClientMemory& memory) {
    std::lock_guard lock(mutex_);
    TraceRecord trace;
    trace.node = std::string(node_path);
    // The kernel passes request codes on as 32-bit values.
    trace.request = static_cast<uint32_t>(request);

    DriverResult result;
    const NodeSpec* node = layout_.find_node(node_path);
    if (node == nullptr) {
        result = fail(trace, ENODEV);
    } else if (trace.request == fmx::kIocInfoRequest) {
        result = ioc_information(*node, memory, trace);
    } else if (trace.request == fmx::kPassthruRequest32) {
        result = pass_through<fmx::DriverCommand32>(*node, memory, trace);
    } else if (trace.request == fmx::kPassthruRequest64) {
        result = pass_through<fmx::DriverCommand64>(*node, memory, trace);
    } else if (trace.request == fmx::kHardResetRequest) {
        result = hard_reset(*node, memory, trace);
    } else {
        result = fail(trace, ENOTTY);
    }
    if (trace_sink_) trace_sink_(trace);
    return result;
}

Controller* Driver::controller_on(const NodeSpec& node, uint32_t ioc) {
    const Attachment* attachment = node.find(ioc);
    if (attachment == nullptr || attachment->controller >= controllers_.size()) return nullptr;
    return &controllers_[attachment->controller];
}

DriverResult Driver::ioc_information(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace) {
    std::span<uint8_t> raw = memory.record(sizeof(fmx::DriverIocInfo));
    fmx::DriverIocInfo info{};
    if (!fmx::read_record(raw.data(), raw.size(), 0, info)) return fail(trace, EFAULT);
    trace.ioc = info.header.ioc_number;
    if (info.header.size != sizeof(fmx::DriverIocInfo)) return fail(trace, EINVAL);
    Controller* controller = controller_on(node, info.header.ioc_number);
    if (controller == nullptr) return fail(trace, ENODEV);
    if (node.find(info.header.ioc_number)->ioc_info_fails) return fail(trace, EIO);
    fill_ioc_information(controller->state(), info);
    fmx::write_record(raw.data(), info);
    return {};
}

DriverResult Driver::hard_reset(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace) {
    std::span<uint8_t> raw = memory.record(sizeof(fmx::DriverResetRequest));
    fmx::DriverResetRequest reset{};
    if (!fmx::read_record(raw.data(), raw.size(), 0, reset)) return fail(trace, EFAULT);
    trace.ioc = reset.header.ioc_number;
    // The reset record's size field is 0; its own size is taken as well.
    if (reset.header.size != 0 && reset.header.size != sizeof(reset)) return fail(trace, EINVAL);
    Controller* controller = controller_on(node, reset.header.ioc_number);
    if (controller == nullptr) return fail(trace, ENODEV);
    controller->hard_reset();
    return {};
}

template <typename Command>
DriverResult Driver::pass_through(const NodeSpec& node, ClientMemory& memory, TraceRecord& trace) {
    std::span<uint8_t> raw = memory.record(sizeof(Command));
    Command command{};
    if (!fmx::read_record(raw.data(), raw.size(), 0, command)) return fail(trace, EFAULT);
    trace.ioc = command.header.ioc_number;
    trace.timeout = command.timeout;
    trace.data_out = command.data_out_size;
    trace.data_in = command.data_in_size;
    if (command.header.size != fmx::kDriverCommandHeaderSize<Command>) return fail(trace, EINVAL);
    Controller* controller = controller_on(node, command.header.ioc_number);
    if (controller == nullptr) return fail(trace, ENODEV);
    const uint32_t frame_words = command.frame_words;
    if (frame_words == 0 || frame_words > kMaxFrameWords) return fail(trace, EINVAL);

    // The frame follows the fixed part of the record.
    const auto frame = reach(memory, memory.record_address() + sizeof(Command), frame_words * 4);
    if (!frame) return fail(trace, EFAULT);
    trace_frame(*frame, trace);
    const auto data_out = reach(memory, command.data_out_addr, command.data_out_size);
    const auto data_in = reach(memory, command.data_in_addr, command.data_in_size);
    const auto reply = reach(memory, command.reply_addr, command.reply_size);
    if (!data_out || !data_in || !reply) return fail(trace, EFAULT);

    const uint8_t function = *request_function(*frame);
    Response response;
    if (const RequestFault* fault = controller->count_request(function)) {
        if (fault->driver_error) return fail(trace, EIO);
        response = status_response(function, fault->ioc_status, fault->log_info);
    } else {
        response = controller->handle(*frame, *data_out);
    }
    copy_into(*reply, response.reply);
    copy_into(*data_in, response.data_in);
    trace.ioc_status = response.ioc_status();
    return {};
}

}  // namespace fmxsim
