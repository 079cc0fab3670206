// Running sasburn under fmxsim for the firmware and listing tests: the output
// after the banner, the exit status, the request trace and the controllers'
// state after the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware_image_builder.h"
#include "run_command.h"
#include "scenario.h"
#include "temp_dir.h"
#include "trace.h"

namespace fw_e2e {

inline const std::string kSuccessEnd =
    "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";
inline const std::string kFailureEnd =
    "\tDue to error remaining commands will not be executed.\n"
    "\tUnable to Process Commands.\n\tExiting sasburn.\n\n";

struct SasburnRun {
    fmx_test::RunResult result;
    std::string body;  // standard output after the banner and its empty line
    std::vector<fmxsim::TraceRecord> trace;
    fmxsim::Scenario state;  // the controllers when sasburn had ended
};

// Runs sasburn with `args` under fmxsim, on `scenario` or the default one.
SasburnRun run_sasburn(const fmx_test::TempDir& dir, const std::vector<std::string>& args,
                       const std::optional<fmxsim::Scenario>& scenario = std::nullopt);

// Writes an image into the test's directory; returns its path.
std::string write_image(const fmx_test::TempDir& dir, const std::string& name,
                        const std::vector<uint8_t>& image);

// The firmware transfers and cleans one IOC received, one line each:
// "upload 1 0+65536", "download 1 0+7712", "clean".
std::vector<std::string> transfers(const std::vector<fmxsim::TraceRecord>& trace, uint32_t ioc);

// The lines of a whole-image upload: the size probe, then 64 KiB segments.
std::vector<std::string> upload_lines(uint8_t image_type, size_t size);

// Images that the default controllers take: version 14.00.00.00, the same
// vendor, kind and NVDATA identification as the firmware they run.
fmxsim::FirmwareImageSpec q520_update();   // controller 0, device ID 69
fmxsim::FirmwareImageSpec q510i_update();  // controller 1, device ID 71

// The default scenario's controller 0 (or 1) on IOC numbers 0..count-1 of
// /dev/fmx2ctl, to be changed by the test.
fmxsim::Scenario scenario_of(std::vector<fmxsim::ControllerSpec> controllers);

}  // namespace fw_e2e
