#include "firmware_run.h"

#include <stdexcept>

#include "fmxsim_support.h"
#include "message_frames.h"

namespace fw_e2e {

namespace {

const std::string kSasburn = FMX_SASBURN_PROGRAM;

std::string after_banner(const std::string& output) {
    const size_t end = output.find("\n\n");
    return end == std::string::npos ? output : output.substr(end + 2);
}

std::string transfer_line(const fmxsim::TraceRecord& r) {
    const std::string span = std::to_string(r.offset.value_or(0)) + "+" +
                             std::to_string(r.length.value_or(0));
    const std::string type = std::to_string(r.image_type.value_or(0));
    if (r.function == fmx::kFunctionFirmwareUpload) return "upload " + type + " " + span;
    if (r.function == fmx::kFunctionFirmwareDownload) return "download " + type + " " + span;
    return "clean";
}

}  // namespace

SasburnRun run_sasburn(const fmx_test::TempDir& dir, const std::vector<std::string>& args,
                       const std::optional<fmxsim::Scenario>& scenario) {
    fmx_test::FmxsimRun run{.trace = dir.file("trace.txt"), .save_state = dir.file("state.json")};
    if (scenario) run.scenario = fmx_test::write_scenario(dir, *scenario);
    std::vector<std::string> command = {kSasburn};
    command.insert(command.end(), args.begin(), args.end());
    SasburnRun out;
    out.result = fmx_test::run_command(fmx_test::fmxsim_command(run, command),
                                       {.timeout = std::chrono::seconds(120)});
    out.body = after_banner(out.result.standard_output);
    out.trace = fmx_test::read_trace(dir.file("trace.txt"));
    out.state = fmx_test::read_saved_state(dir.file("state.json"));
    return out;
}

std::string write_image(const fmx_test::TempDir& dir, const std::string& name,
                        const std::vector<uint8_t>& image) {
    return fmx_test::write_file(dir.file(name), std::string(image.begin(), image.end()));
}

std::vector<std::string> transfers(const std::vector<fmxsim::TraceRecord>& trace, uint32_t ioc) {
    std::vector<std::string> lines;
    for (const auto& r : trace) {
        if (r.ioc != ioc) continue;
        if (r.function == fmx::kFunctionFirmwareUpload ||
            r.function == fmx::kFunctionFirmwareDownload || r.function == fmx::kFunctionToolbox)
            lines.push_back(transfer_line(r));
    }
    return lines;
}

std::vector<std::string> upload_lines(uint8_t image_type, size_t size) {
    const std::string type = std::to_string(image_type);
    std::vector<std::string> lines = {"upload " + type + " 0+0"};
    for (size_t offset = 0; offset < size; offset += 0x10000)
        lines.push_back("upload " + type + " " + std::to_string(offset) + "+" +
                        std::to_string(std::min<size_t>(0x10000, size - offset)));
    return lines;
}

fmxsim::FirmwareImageSpec q520_update() {
    fmxsim::FirmwareImageSpec spec;
    spec.version = {14, 0, 0, 0};
    spec.product_id = 0x0016;
    spec.kind = kKindIR;
    spec.devices = {{0x80, 0, 0xFF}};
    spec.nvdata = {fmxsim::NvdataSpec{.version = 0x0E, .product = "Q520", .device_id = 0x80}};
    spec.fill = 0x40;
    return spec;
}

fmxsim::FirmwareImageSpec q510i_update() {
    fmxsim::FirmwareImageSpec spec = q520_update();
    spec.product_id = 0x0011;
    spec.kind = kKindIT;
    spec.devices = {{0x70, 0, 0xFF}};
    spec.nvdata = {fmxsim::NvdataSpec{.version = 0x0E, .product = "Q510i", .device_id = 0x70}};
    spec.fill = 0x41;
    return spec;
}

fmxsim::Scenario scenario_of(std::vector<fmxsim::ControllerSpec> controllers) {
    fmxsim::Scenario scenario;
    scenario.description = "firmware tests";
    fmxsim::NodeSpec node{"/dev/fmx2ctl", false, {}};
    for (size_t i = 0; i < controllers.size(); ++i)
        node.iocs.push_back(fmxsim::Attachment{static_cast<uint32_t>(i), i, false});
    scenario.controllers = std::move(controllers);
    scenario.nodes = {node};
    return scenario;
}

}  // namespace fw_e2e
