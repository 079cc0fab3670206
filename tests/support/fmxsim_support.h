// Running programs under fmxsim, and reading what it leaves behind.
//
//   fmx_test::TempDir dir;
//   const std::string scenario = fmx_test::write_scenario(dir, my_scenario);
//   const auto result = fmx_test::run_command(fmx_test::fmxsim_command(
//       {.scenario = scenario, .trace = dir.file("trace.txt")}, {sasburn, "-listall"}));
//   const auto trace = fmx_test::read_trace(dir.file("trace.txt"));
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scenario.h"
#include "temp_dir.h"
#include "trace.h"

namespace fmx_test {

// The fmxsim program of this build.
std::string fmxsim_program();

struct FmxsimRun {
    std::optional<std::string> scenario{};    // none: the built-in default
    std::optional<std::string> trace{};       // --trace FILE
    std::optional<std::string> save_state{};  // --save-state FILE
};

// fmxsim [--trace T] [--save-state S] [SCENARIO] -- COMMAND...
std::vector<std::string> fmxsim_command(const FmxsimRun& run, const std::vector<std::string>& command);

// Writes `scenario` into `dir` as `name` (flash regions in files beside it) and
// returns its path. Throws std::runtime_error on failure.
std::string write_scenario(const TempDir& dir, const fmxsim::Scenario& scenario,
                           const std::string& name = "scenario.json");

// Reads a --trace file. Throws std::runtime_error naming the first line that
// is not a trace line.
std::vector<fmxsim::TraceRecord> read_trace(const std::string& path);

// Reads a --save-state file. Throws std::runtime_error with the reader's error.
fmxsim::Scenario read_saved_state(const std::string& path);

}  // namespace fmx_test
