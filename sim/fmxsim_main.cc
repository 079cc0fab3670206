// fmxsim: runs a command against the emulated driver and controllers.
//
// The scenario is loaded, the test bed built and the preload library found
// before COMMAND starts; any failure there ends fmxsim with status 2 and a
// message on stderr naming what failed. fmxsim prints nothing else, so
// COMMAND's output is exactly its own.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "child_process.h"
#include "command_line.h"
#include "driver.h"
#include "preload_library.h"
#include "scenario_file.h"
#include "umockdev_host.h"

namespace {

constexpr int kEmulatorError = 2;

int report(const std::string& message) {
    std::fprintf(stderr, "fmxsim: %s\n", message.c_str());
    return kEmulatorError;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Each line is flushed, so the trace is complete even when COMMAND is killed.
void trace_into(fmxsim::Driver& driver, std::FILE* file) {
    driver.set_trace_sink([file](const fmxsim::TraceRecord& record) {
        std::fputs(fmxsim::format_trace_line(record).c_str(), file);
        std::fputc('\n', file);
        std::fflush(file);
    });
}

int run(const fmxsim::Options& options) {
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    if (options.scenario) {
        fmxsim::ScenarioLoad load = fmxsim::load_scenario_file(*options.scenario);
        if (!load.scenario) return report(load.error);
        scenario = std::move(*load.scenario);
    }
    const fmxsim::PreloadLibrary preload = fmxsim::find_preload_library();
    if (!preload.error.empty()) return report(preload.error);

    File trace;
    if (options.trace) {
        trace.reset(std::fopen(options.trace->c_str(), "w"));
        if (!trace) return report(*options.trace + ": cannot write: " + std::strerror(errno));
    }
    fmxsim::Driver driver(std::move(scenario));
    if (trace) trace_into(driver, trace.get());

    std::string error;
    auto host = fmxsim::UmockdevHost::create(driver, error);
    if (!host) return report("cannot build the test bed: " + error);

    const int status = fmxsim::run_command(
        options.command,
        {{"LD_PRELOAD", fmxsim::child_ld_preload(preload.value, std::getenv("LD_PRELOAD"))},
         {"UMOCKDEV_DIR", host->root_dir()},
         {"ASAN_OPTIONS", fmxsim::child_asan_options(std::getenv("ASAN_OPTIONS"))}},
        error);
    if (status == fmxsim::kCommandNotStarted && !error.empty()) report(error);

    if (options.save_state) {
        const std::string save_error = fmxsim::save_scenario_file(driver.snapshot(), *options.save_state);
        if (!save_error.empty()) return report("cannot save the state: " + save_error);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const fmxsim::ParsedOptions parsed = fmxsim::parse_command_line({argv + 1, argv + argc});
    if (parsed.options.help) {
        std::fputs(fmxsim::usage_text(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "fmxsim: %s\n(fmxsim --help tells more)\n", parsed.error.c_str());
        return kEmulatorError;
    }
    return run(parsed.options);
}
