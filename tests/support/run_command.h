// Running a program from a test: argv without a shell, output captured, with a
// time limit.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fmx_test {

struct RunOptions {
    std::chrono::milliseconds timeout{60'000};
    std::optional<std::string> working_directory{};
    // Variables set (or replaced) in the program's environment.
    std::vector<std::pair<std::string, std::string>> environment{};
    // Variables removed from it.
    std::vector<std::string> unset_environment{};
    // Standard input; without it the program reads /dev/null.
    std::optional<std::string> standard_input{};
};

struct RunResult {
    // The exit status; 128+N when signal N ended the program; 127 when it could
    // not be started (then `error` says why); -1 when it was killed for running
    // past the time limit (`timed_out`).
    int exit_status = -1;
    bool timed_out = false;
    std::string standard_output;
    std::string standard_error;
    std::string error;
};

// Runs argv[0] (looked up in PATH when it has no slash) in a process group of
// its own; at the time limit the whole group is killed.
RunResult run_command(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace fmx_test
