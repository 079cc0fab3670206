#include "fmxsim_support.h"

#include <sstream>
#include <stdexcept>

#include "scenario_file.h"

namespace fmx_test {

std::string fmxsim_program() { return FMX_FMXSIM_PROGRAM; }

std::vector<std::string> fmxsim_command(const FmxsimRun& run, const std::vector<std::string>& command) {
    std::vector<std::string> argv = {fmxsim_program()};
    if (run.trace) argv.insert(argv.end(), {"--trace", *run.trace});
    if (run.save_state) argv.insert(argv.end(), {"--save-state", *run.save_state});
    if (run.scenario) argv.push_back(*run.scenario);
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

std::string write_scenario(const TempDir& dir, const fmxsim::Scenario& scenario, const std::string& name) {
    const std::string path = dir.file(name);
    if (const std::string error = fmxsim::save_scenario_file(scenario, path); !error.empty()) {
        throw std::runtime_error(error);
    }
    return path;
}

std::vector<fmxsim::TraceRecord> read_trace(const std::string& path) {
    std::istringstream lines(read_file(path));
    std::vector<fmxsim::TraceRecord> records;
    std::string line;
    for (size_t number = 1; std::getline(lines, line); ++number) {
        auto record = fmxsim::parse_trace_line(line);
        if (!record) throw std::runtime_error(path + ":" + std::to_string(number) + ": not a trace line: " + line);
        records.push_back(std::move(*record));
    }
    return records;
}

fmxsim::Scenario read_saved_state(const std::string& path) {
    fmxsim::ScenarioLoad load = fmxsim::load_scenario_file(path);
    if (!load.scenario) throw std::runtime_error(load.error);
    return std::move(*load.scenario);
}

}  // namespace fmx_test
