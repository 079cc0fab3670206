// fmxsim's command line:  fmxsim [options] [SCENARIO] -- COMMAND [ARGS...]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fmxsim {

struct Options {
    bool help = false;
    std::optional<std::string> scenario;    // none: the built-in default
    std::optional<std::string> trace;       // --trace FILE
    std::optional<std::string> save_state;  // --save-state FILE
    std::vector<std::string> command;       // after "--"
};

struct ParsedOptions {
    Options options;
    std::string error;  // a usage error; empty when the line is fine
};

ParsedOptions parse_command_line(const std::vector<std::string>& args);

// The text of --help.
const char* usage_text();

}  // namespace fmxsim
