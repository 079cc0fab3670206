// The fault matrix: under failing hardware the tools report the failure and
// never report success for a flash that did not happen.
//
// For each operation a clean run under fmxsim first records the requests the
// controllers receive. Then, for every request of the operation and each of two
// faults -- the driver failing the ioctl (EIO), and the controller answering
// with IOC status 0x0004 and a log info -- the operation runs again with the
// fault placed on exactly that request (its function code and its ordinal among
// the controller's requests of that function). Every run must fail the way the
// request's place in the operation says; the tests print the whole matrix and
// leave it in fault-matrix-<operation>.txt in the working directory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "boot_image.h"
#include "boot_image_builder.h"
#include "firmware_image_builder.h"
#include "fmxsim_support.h"
#include "message_frames.h"
#include "run_command.h"
#include "scenario.h"
#include "temp_dir.h"
#include "trace.h"

namespace {

using fmxsim::Scenario;
using fmxsim::TraceRecord;

const std::string kSasburn = FMX_SASBURN_PROGRAM;
const std::string kUpdater = FMX_UPDATER_PROGRAM;

const std::string kFirmwareSuccess = "Firmware Flash Successful!";
const std::string kBootSuccess = "Flash BIOS Image Successful.";
const std::string kRunFailed = "\tUnable to Process Commands.\n";
const std::string kUploadFailed = "\tERROR: Failed to Upload Image!\n";
const std::string kValidationFailed = "\t\tFirmware Image Validation Failed! \n\n";
const std::string kVerifyUploadFailed = "\tERROR: Image Upload Failed.\n";
const std::string kCorrupt = "\t\tERROR: Downloaded Image corrupt.\n\t\tFirmware Flash FAILED!\n\n";

// ---------------------------------------------------------------------------
// Faults and requests

struct Fault {
    const char* name;
    bool driver_error;
    uint16_t ioc_status;
    std::optional<uint32_t> log_info;
};
const Fault kFaults[] = {
    {"driver error (EIO)", true, 0, std::nullopt},
    {"IOC status 0x0004", false, 0x0004, 0x31170000},
};

// Where a request stands in an operation.
enum class Stage {
    kFirmwareProbe,    // size of the running firmware (image type 1)
    kFirmwareSegment,  // one 64 KiB piece of it
    kClean,            // toolbox clean after a forced NVDATA downgrade
    kDownload,
    kVerifyProbe,  // size of the backup region (image type 5), after the download
    kVerifySegment,
    kBootProbe,  // size of the boot region (image type 2)
    kBootSegment,
    kPageHeader,  // manufacturing page 0, header
    kPageRead,    // manufacturing page 0, non-volatile values
    kOther,
};

struct Step {
    std::string label;
    Stage stage;
    uint32_t ioc;
    uint8_t function;
    uint32_t nth;  // among this controller's requests of this function, from 1
};

Stage stage_of(const TraceRecord& r) {
    const bool probe = r.length.value_or(1) == 0;
    switch (r.function.value_or(0)) {
        case fmx::kFunctionFirmwareUpload:
            switch (r.image_type.value_or(0)) {
                case fmx::kImageTypeFirmware:
                    return probe ? Stage::kFirmwareProbe : Stage::kFirmwareSegment;
                case fmx::kImageTypeBackupFirmware:
                    return probe ? Stage::kVerifyProbe : Stage::kVerifySegment;
                case fmx::kImageTypeBootRegion:
                    return probe ? Stage::kBootProbe : Stage::kBootSegment;
                default:
                    return Stage::kOther;
            }
        case fmx::kFunctionFirmwareDownload:
            return Stage::kDownload;
        case fmx::kFunctionToolbox:
            return Stage::kClean;
        case fmx::kFunctionConfig:
            return r.action.value_or(0) == 0 ? Stage::kPageHeader : Stage::kPageRead;
        default:
            return Stage::kOther;
    }
}

std::string label_of(const TraceRecord& r, Stage stage) {
    const std::string span =
        " " + std::to_string(r.offset.value_or(0)) + "+" + std::to_string(r.length.value_or(0));
    switch (stage) {
        case Stage::kFirmwareProbe:
            return "firmware size probe";
        case Stage::kFirmwareSegment:
            return "firmware segment" + span;
        case Stage::kClean:
            return "toolbox clean";
        case Stage::kDownload:
            return "download" + span;
        case Stage::kVerifyProbe:
            return "verify size probe";
        case Stage::kVerifySegment:
            return "verify segment" + span;
        case Stage::kBootProbe:
            return "boot region size probe";
        case Stage::kBootSegment:
            return "boot region segment" + span;
        case Stage::kPageHeader:
            return "mfg page 0 header";
        case Stage::kPageRead:
            return "mfg page 0 read";
        case Stage::kOther:
            break;
    }
    char function[8];
    std::snprintf(function, sizeof function, "0x%02X", r.function.value_or(0));
    return std::string("function ") + function;
}

// The controller requests of a clean run from trace position `from` on, each
// with the ordinal that names it to the emulator's fault injection. Discovery's
// IOC facts requests are not part of any operation. The scenarios here carry
// controller N as IOC N of their one node, so the IOC number names the controller.
std::vector<Step> steps_of(const std::vector<TraceRecord>& trace, size_t from,
                           bool name_controller) {
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> counts;
    std::vector<Step> steps;
    for (size_t i = 0; i < trace.size(); ++i) {
        const TraceRecord& r = trace[i];
        if (!r.function || !r.ioc) continue;
        const uint32_t nth = ++counts[{*r.ioc, *r.function}];
        if (i < from || *r.function == fmx::kFunctionIocFacts) continue;
        const Stage stage = stage_of(r);
        std::string label = label_of(r, stage);
        if (name_controller) label = "c" + std::to_string(*r.ioc) + " " + label;
        steps.push_back({label, stage, *r.ioc, *r.function, nth});
    }
    return steps;
}

// The position just past the last IOC facts request: where the last sasburn
// process of a run (the flash, under updater) begins its operation.
size_t start_of_last_process(const std::vector<TraceRecord>& trace) {
    size_t start = 0;
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace[i].function == fmx::kFunctionIocFacts) start = i + 1;
    return start;
}

Scenario with_fault(Scenario scenario, const Step& step, const Fault& fault) {
    scenario.controllers.at(step.ioc).request_faults = {fmxsim::RequestFault{
        .function = step.function,
        .nth = step.nth,
        .count = 1,
        .driver_error = fault.driver_error,
        .ioc_status = fault.ioc_status,
        .log_info = fault.log_info,
    }};
    return scenario;
}

// The faulted request as the trace shows it: failed in the driver, or answered
// with the fault's IOC status (bit 15 marks the log info).
bool fault_hit(const std::vector<TraceRecord>& trace, const Step& step, const Fault& fault) {
    uint32_t seen = 0;
    for (const TraceRecord& r : trace) {
        if (r.ioc != step.ioc || r.function != step.function || ++seen != step.nth) continue;
        if (fault.driver_error) return r.result == -1 && r.error == EIO;
        const uint16_t expected = fault.ioc_status | (fault.log_info ? 0x8000 : 0);
        return r.result == 0 && r.ioc_status == expected;
    }
    return false;
}

size_t count_function(const std::vector<TraceRecord>& trace, uint32_t ioc, uint8_t function) {
    size_t n = 0;
    for (const TraceRecord& r : trace) n += r.ioc == ioc && r.function == function;
    return n;
}

// ---------------------------------------------------------------------------
// Runs

struct RunOutcome {
    fmx_test::RunResult result;
    std::vector<TraceRecord> trace;
    Scenario state;
};

// COMMAND under fmxsim on `scenario`, with the trace and the saved state.
RunOutcome run_fmxsim(const fmx_test::TempDir& dir, const Scenario& scenario,
                      const std::vector<std::string>& command, fmx_test::RunOptions options = {}) {
    const fmx_test::FmxsimRun fmxsim{.scenario = fmx_test::write_scenario(dir, scenario),
                                     .trace = dir.file("trace.txt"),
                                     .save_state = dir.file("state.json")};
    std::remove(fmxsim.trace->c_str());
    std::remove(fmxsim.save_state->c_str());
    options.timeout = std::chrono::seconds(120);
    RunOutcome run;
    run.result = fmx_test::run_command(fmx_test::fmxsim_command(fmxsim, command), options);
    run.trace = fmx_test::read_trace(*fmxsim.trace);
    run.state = fmx_test::read_saved_state(*fmxsim.save_state);
    return run;
}

std::string write_bytes(const fmx_test::TempDir& dir, const std::string& name,
                        const std::vector<uint8_t>& bytes) {
    return fmx_test::write_file(dir.file(name), std::string(bytes.begin(), bytes.end()));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The first line of the output that tells of a failure, for the matrix.
std::string failure_line(const std::string& output) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (contains(line, "ERROR") || contains(line, "Failed") || contains(line, "FAILED") ||
            contains(line, "failed") || contains(line, "ended with")) {
            const size_t start = line.find_first_not_of("\t ");
            return start == std::string::npos ? line : line.substr(start);
        }
    }
    return "(no failure line)";
}

// ---------------------------------------------------------------------------
// The printed matrix

class Matrix {
public:
    Matrix(std::string operation, std::string file)
        : operation_(std::move(operation)), file_(std::move(file)) {}

    void add(const Step& step, const Fault& fault, const std::string& outcome) {
        char line[320];
        std::snprintf(line, sizeof line, "  %-34s %-19s -> %s\n", step.label.c_str(), fault.name,
                      outcome.c_str());
        rows_ += line;
    }

    // Printed and written at the end of the test, whatever its result.
    ~Matrix() {
        const std::string text = "fault matrix: " + operation_ + "\n" + rows_;
        std::fputs(text.c_str(), stdout);
        std::ofstream(file_) << text;
    }

private:
    std::string operation_;
    std::string file_;
    std::string rows_;
};

// ---------------------------------------------------------------------------
// Firmware flash

// An update for the default scenario's controller 0 (device ID 69, board Q520):
// version 14.00.00.00, big enough that reading it back takes several segments.
fmxsim::FirmwareImageSpec q520_update() {
    fmxsim::FirmwareImageSpec spec;
    spec.version = {14, 0, 0, 0};
    spec.product_id = 0x0016;
    spec.kind = kKindIR;
    spec.devices = {{0x80, 0, 0xFF}};
    spec.nvdata = {fmxsim::NvdataSpec{.version = 0x0E, .product = "Q520", .device_id = 0x80}};
    spec.code_size = 0x24000;
    spec.fill = 0x51;
    return spec;
}

// What the output must hold after a fault at a request of this stage, on top of
// the failed run's closing line.
std::vector<std::string> firmware_failure_text(Stage stage) {
    switch (stage) {
        case Stage::kFirmwareProbe:
            return {kUploadFailed, kValidationFailed};
        case Stage::kFirmwareSegment:
            return {kValidationFailed};
        case Stage::kClean:
            return {"\t\tERROR: Failed Erasing Persistent Configuration Pages!\n\n"};
        case Stage::kDownload:
            return {"\t\tFirmware Download Failed!\n\n"};
        case Stage::kVerifyProbe:
            return {kUploadFailed, kVerifyUploadFailed, kCorrupt};
        case Stage::kVerifySegment:
            return {kVerifyUploadFailed, kCorrupt};
        default:
            return {};
    }
}

bool before_or_at_download(Stage stage) {
    return stage == Stage::kFirmwareProbe || stage == Stage::kFirmwareSegment ||
           stage == Stage::kClean || stage == Stage::kDownload;
}

struct FirmwareCase {
    const char* name;
    std::vector<std::string> options;  // before "-f FILE"
    uint32_t nvdata_version;           // the file's; the controller runs 0x0E
};

void PrintTo(const FirmwareCase& c, std::ostream* out) {
    *out << c.name;
}

class FirmwareFaults : public testing::TestWithParam<FirmwareCase> {};

TEST_P(FirmwareFaults, EveryFailedRequestFailsTheFlash) {
    const FirmwareCase& c = GetParam();
    fmx_test::TempDir dir;
    fmxsim::FirmwareImageSpec spec = q520_update();
    spec.nvdata[0].version = c.nvdata_version;
    const std::vector<uint8_t> image = fmxsim::build_firmware_image(spec);
    std::vector<std::string> command = {kSasburn};
    command.insert(command.end(), c.options.begin(), c.options.end());
    command.insert(command.end(), {"-f", write_bytes(dir, "fw.bin", image)});
    const Scenario scenario = fmxsim::default_scenario();
    const fmxsim::ControllerSpec& before = scenario.controllers[0];

    const RunOutcome clean = run_fmxsim(dir, scenario, command);
    ASSERT_EQ(clean.result.exit_status, 0) << clean.result.standard_output;
    ASSERT_TRUE(contains(clean.result.standard_output, kFirmwareSuccess));
    ASSERT_EQ(clean.state.controllers[0].firmware, image);
    const std::vector<Step> steps = steps_of(clean.trace, 0, false);
    ASSERT_FALSE(steps.empty());

    Matrix matrix(std::string("firmware flash, sasburn ") + c.name,
                  std::string("fault-matrix-firmware-") + c.name + ".txt");
    for (const Step& step : steps) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(step.label + " / " + fault.name);
            const RunOutcome run = run_fmxsim(dir, with_fault(scenario, step, fault), command);
            const std::string& out = run.result.standard_output;
            EXPECT_TRUE(fault_hit(run.trace, step, fault));
            EXPECT_EQ(run.result.exit_status, 1) << out;
            EXPECT_FALSE(contains(out, kFirmwareSuccess)) << out;
            EXPECT_TRUE(contains(out, kRunFailed)) << out;
            for (const std::string& text : firmware_failure_text(step.stage))
                EXPECT_TRUE(contains(out, text)) << "missing: " << text << "\n" << out;

            const fmxsim::ControllerSpec& after = run.state.controllers.at(0);
            std::string flash;
            if (before_or_at_download(step.stage)) {
                // The failed download is not carried out; nothing before it writes.
                EXPECT_EQ(after.firmware, before.firmware);
                EXPECT_EQ(after.backup, before.backup);
                if (step.stage != Stage::kDownload) {
                    EXPECT_EQ(count_function(run.trace, 0, fmx::kFunctionFirmwareDownload), 0u);
                }
                flash = after.firmware == before.firmware ? "flash unchanged" : "FLASH CHANGED";
            } else {
                // Written, but the read-back could not prove it.
                EXPECT_EQ(after.firmware, image);
                flash = after.firmware == image ? "new image, unverified" : "FLASH NOT WRITTEN";
            }
            matrix.add(step, fault,
                       "exit " + std::to_string(run.result.exit_status) + ", " + flash + ", \"" +
                           failure_line(out) + "\"");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flash, FirmwareFaults,
    testing::Values(FirmwareCase{"plain", {"-c", "0"}, 0x0E},
                    // The NVDATA downgrade makes the flash clean the persistent pages first.
                    FirmwareCase{"forced_downgrade", {"-force"}, 0x0D}),
    [](const testing::TestParamInfo<FirmwareCase>& param_info) {
        return std::string(param_info.param.name);
    });

// ---------------------------------------------------------------------------
// updater on top of a failing firmware flash

// updater writes its log under the fixed /var/qxc/; each run gets a private
// mount namespace with a test folder bound over /var. Empty when that works,
// else the reason.
std::string private_var_unavailable(const fmx_test::TempDir& dir) {
    const std::string var = dir.file("var");
    std::filesystem::create_directories(var + "/qxc");
    fmx_test::write_file(var + "/marker", "");
    const auto probe =
        fmx_test::run_command({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                               "mount --bind \"$0\" /var && test -e /var/marker", var});
    if (probe.exit_status == 0) return "";
    return "no private mount namespace with /var bound to a test folder (unshare/mount: " +
           probe.standard_error + probe.error + ")";
}

RunOutcome run_updater(const fmx_test::TempDir& dir, const Scenario& scenario) {
    // updater runs ./sasburn from its working directory.
    const std::string work = dir.file("work");
    std::vector<std::string> command = {"unshare",
                                        "--mount",
                                        "--propagation",
                                        "private",
                                        "sh",
                                        "-c",
                                        "mount --bind \"$0\" /var && exec \"$@\"",
                                        dir.file("var")};
    const fmx_test::FmxsimRun fmxsim{.scenario = fmx_test::write_scenario(dir, scenario),
                                     .trace = dir.file("trace.txt"),
                                     .save_state = dir.file("state.json")};
    std::remove(fmxsim.trace->c_str());
    std::remove(fmxsim.save_state->c_str());
    std::remove(dir.file("var/qxc/Component.log").c_str());
    for (const std::string& word : fmx_test::fmxsim_command(fmxsim, {kUpdater, "/c", "/s"}))
        command.push_back(word);
    RunOutcome run;
    run.result = fmx_test::run_command(
        command, {.timeout = std::chrono::seconds(120), .working_directory = work});
    run.trace = fmx_test::read_trace(*fmxsim.trace);
    run.state = fmx_test::read_saved_state(*fmxsim.save_state);
    return run;
}

TEST(UpdaterFaults, EveryFailedFlashRequestGivesStatus7AndALoggedFailure) {
    fmx_test::TempDir dir;
    if (const std::string reason = private_var_unavailable(dir); !reason.empty())
        GTEST_SKIP() << reason;
    const std::string work = dir.file("work");
    std::filesystem::create_directories(work);
    const std::vector<uint8_t> image = fmxsim::build_firmware_image(q520_update());
    write_bytes(dir, "work/fw.bin", image);
    fmx_test::write_file(work + "/firmware.cfg", "Q520, 14.00.00.00, fw.bin\n");
    ASSERT_EQ(symlink(kSasburn.c_str(), (work + "/sasburn").c_str()), 0);
    const Scenario scenario = fmxsim::default_scenario();
    const fmxsim::ControllerSpec& before = scenario.controllers[0];

    const RunOutcome clean = run_updater(dir, scenario);
    ASSERT_EQ(clean.result.exit_status, 1)
        << clean.result.standard_output << clean.result.standard_error;
    ASSERT_TRUE(contains(clean.result.standard_output, "Successfully updated."));
    ASSERT_EQ(clean.state.controllers[0].firmware, image);
    // The requests of the flash: those of the last sasburn, after the listing's.
    std::vector<Step> steps;
    for (const Step& step : steps_of(clean.trace, start_of_last_process(clean.trace), false))
        if (step.ioc == 0) steps.push_back(step);
    ASSERT_FALSE(steps.empty());

    Matrix matrix("firmware flash, updater /c /s", "fault-matrix-updater.txt");
    for (const Step& step : steps) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(step.label + " / " + fault.name);
            const RunOutcome run = run_updater(dir, with_fault(scenario, step, fault));
            const std::string& out = run.result.standard_output;
            const std::string log = fmx_test::read_file(dir.file("var/qxc/Component.log"));
            EXPECT_TRUE(fault_hit(run.trace, step, fault));
            EXPECT_EQ(run.result.exit_status, 7) << out << run.result.standard_error;
            EXPECT_FALSE(contains(out, "Successfully updated.")) << out;
            // The failure as updater tells it: the ERROR line it matched, or
            // sasburn's exit status when the failure printed no such line.
            EXPECT_TRUE(contains(out, "match: ") ||
                        contains(out, "./sasburn ended with exit status 1"))
                << out;
            EXPECT_TRUE(contains(log, "upgrade failed")) << log;
            if (before_or_at_download(step.stage)) {
                EXPECT_EQ(run.state.controllers.at(0).firmware, before.firmware);
            }
            matrix.add(step, fault,
                       "status " + std::to_string(run.result.exit_status) +
                           (contains(log, "upgrade failed") ? ", logged" : ", NOT LOGGED") +
                           ", \"" + failure_line(out) + "\"");
        }
    }
}

// ---------------------------------------------------------------------------
// Boot image flash

TEST(BootImageFaults, EveryFailedRequestFailsTheFlashAndKeepsTheRegion) {
    fmx_test::TempDir dir;
    using fmxsim::RomImageSpec;
    Scenario scenario = fmxsim::default_scenario();
    // A region of more than 64 KiB, read back in two segments: the controller's
    // x86 image (device ID 0x87 for device 69) and a UEFI image.
    scenario.controllers[0].boot =
        fmxsim::build_boot_image(std::vector<RomImageSpec>{{.code_type = boot::kCodeTypeX86,
                                                            .device_id = 0x87,
                                                            .blocks = 100,
                                                            .indicator = {},
                                                            .fill = 1},
                                                           {.code_type = boot::kCodeTypeUefi,
                                                            .device_id = 0x87,
                                                            .blocks = 40,
                                                            .indicator = {},
                                                            .fill = 2}});
    const std::vector<uint8_t> before = scenario.controllers[0].boot;
    const std::vector<uint8_t> file =
        fmxsim::build_boot_image(std::vector<RomImageSpec>{{.code_type = boot::kCodeTypeX86,
                                                            .device_id = 0x87,
                                                            .blocks = 4,
                                                            .indicator = {},
                                                            .fill = 3}});
    const std::vector<std::string> command = {kSasburn, "-c", "0", "-b",
                                              write_bytes(dir, "boot.rom", file)};

    const RunOutcome clean = run_fmxsim(dir, scenario, command);
    ASSERT_EQ(clean.result.exit_status, 0) << clean.result.standard_output;
    ASSERT_TRUE(contains(clean.result.standard_output, kBootSuccess));
    ASSERT_NE(clean.state.controllers[0].boot, before);
    const std::vector<Step> steps = steps_of(clean.trace, 0, false);
    ASSERT_GE(steps.size(), 4u);  // probe, two segments, download

    Matrix matrix("boot image flash, sasburn -c 0 -b", "fault-matrix-boot.txt");
    for (const Step& step : steps) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(step.label + " / " + fault.name);
            const RunOutcome run = run_fmxsim(dir, with_fault(scenario, step, fault), command);
            const std::string& out = run.result.standard_output;
            EXPECT_TRUE(fault_hit(run.trace, step, fault));
            EXPECT_EQ(run.result.exit_status, 1) << out;
            EXPECT_FALSE(contains(out, kBootSuccess)) << out;
            EXPECT_TRUE(contains(out, "\t\tFlash BIOS Image Failed!\n\n")) << out;
            EXPECT_TRUE(contains(out, kRunFailed)) << out;
            if (step.stage == Stage::kBootProbe) {
                EXPECT_TRUE(contains(out, kUploadFailed)) << out;
            }
            if (step.stage != Stage::kDownload) {
                EXPECT_EQ(count_function(run.trace, 0, fmx::kFunctionFirmwareDownload), 0u);
            }
            const bool kept = run.state.controllers.at(0).boot == before;
            EXPECT_TRUE(kept);
            matrix.add(step, fault,
                       "exit " + std::to_string(run.result.exit_status) +
                           (kept ? ", region unchanged" : ", REGION CHANGED") + ", \"" +
                           failure_line(out) + "\"");
        }
    }
}

// ---------------------------------------------------------------------------
// Listing

// One row of the table as sasburn prints it, and the row cut into its lines.
std::string listing_row(uint32_t index, const std::string& board_cell,
                        const std::string& version_cell) {
    char head[16];
    std::snprintf(head, sizeof head, "\t%02u ", index);
    return std::string(head) + "   " + board_cell + "   " + version_cell + "\n";
}

// Tabs and line ends written out, for the printed matrix.
std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

std::string padded(const std::string& board) {
    return board + std::string(16 - board.size(), ' ');
}

TEST(ListingFaults, AFailedRequestDashesItsCellAndTheListingGoesOn) {
    fmx_test::TempDir dir;
    const Scenario scenario = fmxsim::default_scenario();
    const std::vector<std::string> command = {kSasburn, "-listall"};
    const std::string boards[] = {"Q520", "Q510i"};

    const RunOutcome clean = run_fmxsim(dir, scenario, command);
    ASSERT_EQ(clean.result.exit_status, 0);
    const std::string& table = clean.result.standard_output;
    // The clean rows, with the versions as the controllers' images carry them.
    std::string rows[2];
    for (uint32_t i = 0; i < 2; ++i) {
        const auto& firmware = scenario.controllers[i].firmware;
        char version[16];
        std::snprintf(version, sizeof version, "%02d.%02d.%02d.%02d", firmware[0x17],
                      firmware[0x16], firmware[0x15], firmware[0x14]);
        rows[i] = listing_row(i, padded(boards[i]), version);
        ASSERT_TRUE(contains(table, rows[i])) << table;
    }
    const std::vector<Step> steps = steps_of(clean.trace, 0, true);
    ASSERT_FALSE(steps.empty());

    Matrix matrix("listing, sasburn -listall", "fault-matrix-listing.txt");
    for (const Step& step : steps) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(step.label + " / " + fault.name);
            const RunOutcome run = run_fmxsim(dir, with_fault(scenario, step, fault), command);
            const std::string& out = run.result.standard_output;
            EXPECT_TRUE(fault_hit(run.trace, step, fault));
            // The cell that could not be read: no board name; dashes for the
            // version, after the upload's error line when its first request failed.
            const uint32_t i = step.ioc;
            std::string row;
            switch (step.stage) {
                case Stage::kPageHeader:
                case Stage::kPageRead:
                    row = listing_row(i, "", rows[i].substr(rows[i].size() - 12, 11));
                    break;
                case Stage::kFirmwareProbe:
                    row = listing_row(i, padded(boards[i]), kUploadFailed + "-----------");
                    break;
                default:
                    row = listing_row(i, padded(boards[i]), "-----------");
                    break;
            }
            std::string expected = table;
            expected.replace(expected.find(rows[i]), rows[i].size(), row);
            EXPECT_EQ(out, expected);
            EXPECT_EQ(run.result.exit_status, 0);
            // Both rows are there: the other controller is listed in full.
            EXPECT_TRUE(contains(out, rows[1 - i])) << out;
            matrix.add(
                step, fault,
                "exit " + std::to_string(run.result.exit_status) + ", row \"" + escaped(row) +
                    "\"" +
                    (contains(out, rows[1 - i]) ? ", other row intact" : ", OTHER ROW LOST"));
        }
    }
}

}  // namespace
