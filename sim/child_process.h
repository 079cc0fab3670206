// Running fmxsim's COMMAND.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fmxsim {

inline constexpr int kCommandNotStarted = 127;

// Starts `argv` (looked up in PATH) with this process's environment plus
// `environment` (which replaces variables of the same name), waits for it and
// returns its exit status, or 128+N when signal N ended it. SIGTERM and SIGHUP
// sent to this process are passed on to it; SIGINT and SIGQUIT are left to it
// alone, as the terminal sends them to it too. Returns kCommandNotStarted and
// sets `error` when it cannot be started.
int run_command(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& environment, std::string& error);

}  // namespace fmxsim
