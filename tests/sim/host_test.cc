// fmxsim end to end: the umockdev host, the command line, the exit statuses,
// the trace file and the saved state, with fmxsim_probe as the client.
#include <gtest/gtest.h>

#include "fmxsim_support.h"
#include "message_frames.h"
#include "run_command.h"
#include "temp_dir.h"

namespace {

using fmx_test::fmxsim_command;
using fmx_test::run_command;
using fmx_test::RunResult;

const std::string kProbe = FMXSIM_PROBE;

RunResult run_fmxsim(const fmx_test::FmxsimRun& run, const std::vector<std::string>& command) {
    return run_command(fmxsim_command(run, command), {.timeout = std::chrono::seconds(60)});
}

RunResult probe(const fmx_test::FmxsimRun& run, const std::vector<std::string>& args) {
    std::vector<std::string> command = {kProbe};
    command.insert(command.end(), args.begin(), args.end());
    return run_fmxsim(run, command);
}

TEST(Fmxsim, DefaultScenarioShowsExactlyItsControllers) {
    const RunResult result = probe({}, {"discover", "/dev/fmx2ctl"});
    EXPECT_EQ(result.exit_status, 0) << result.standard_error;
    EXPECT_EQ(result.standard_output, "ioc=0 device_id=69 revision=1\nioc=1 device_id=71 revision=0\n");
    EXPECT_EQ(result.standard_error, "");
}

TEST(Fmxsim, NodesTheScenarioDoesNotNameDoNotExist) {
    for (const char* node : {"/dev/fmx2ctl_wd", "/dev/qxvsactl", "/dev/fmx3ctl"}) {
        const RunResult result = probe({}, {"open", node});
        EXPECT_EQ(result.exit_status, 3) << node;
        EXPECT_EQ(result.standard_output, "open: ENOENT\n") << node;
    }
}

TEST(Fmxsim, NodeAndIocInformationFaults) {
    fmx_test::TempDir dir;
    const std::string scenario = fmx_test::write_file(dir.file("s.json"), R"({
      "nodes": [{"path": "/dev/fmx2ctl_wd", "open_fails": true},
                {"path": "/dev/fmx3ctl", "iocs": [{"ioc": 4, "controller": 1},
                                                  {"ioc": 9, "controller": 0, "ioc_info_fails": true},
                                                  {"ioc": 200, "controller": 0}]}]})");
    const RunResult broken = probe({.scenario = scenario}, {"open", "/dev/fmx2ctl_wd"});
    EXPECT_EQ(broken.exit_status, 3);
    EXPECT_EQ(broken.standard_output, "open: ENXIO\n");
    const RunResult found = probe({.scenario = scenario}, {"discover", "/dev/fmx3ctl"});
    EXPECT_EQ(found.exit_status, 0) << found.standard_error;
    EXPECT_EQ(found.standard_output, "ioc=4 device_id=71 revision=0\nioc=200 device_id=69 revision=1\n");
    EXPECT_EQ(probe({.scenario = scenario}, {"open", "/dev/fmx2ctl"}).standard_output, "open: ENOENT\n");
}

TEST(Fmxsim, ScenarioErrorsEndWithStatus2BeforeTheCommandRuns) {
    fmx_test::TempDir dir;
    const std::string bad = fmx_test::write_file(dir.file("bad.json"), R"({"controllers": [{"device_id": "x"}]})");
    const struct {
        std::string scenario;
        std::string message;
    } cases[] = {
        {bad, "fmxsim: " + bad + ": controllers[0].device_id: expected an integer from 0 to 65535\n"},
        {dir.file("missing.json"), "fmxsim: " + dir.file("missing.json") + ": cannot read: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        const RunResult result = probe({.scenario = c.scenario}, {"open", "/dev/fmx2ctl"});
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.standard_error, c.message);
        EXPECT_EQ(result.standard_output, "");
    }
}

TEST(Fmxsim, ExitStatusIsTheCommandsOwn) {
    EXPECT_EQ(probe({}, {"exit", "0"}).exit_status, 0);
    EXPECT_EQ(probe({}, {"exit", "7"}).exit_status, 7);
    EXPECT_EQ(run_fmxsim({}, {"/bin/sh", "-c", "kill -TERM $$"}).exit_status, 128 + 15);

    const RunResult missing = run_fmxsim({}, {"/nonexistent/program", "-x"});
    EXPECT_EQ(missing.exit_status, 127);
    EXPECT_EQ(missing.standard_error, "fmxsim: cannot run /nonexistent/program: No such file or directory\n");
}

TEST(Fmxsim, UsageErrorsAndHelp) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--"}, {"s.json"}, {"--trace"}, {"--bogus", "--", "true"}, {"a.json", "b.json", "--", "true"}}) {
        std::vector<std::string> argv = {fmx_test::fmxsim_program()};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult result = run_command(argv);
        EXPECT_EQ(result.exit_status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(result.standard_error.find("fmxsim: "), std::string::npos);
    }
    const RunResult help = run_command({fmx_test::fmxsim_program(), "--help"});
    EXPECT_EQ(help.exit_status, 0);
    for (const char* text : {"--trace FILE", "--save-state FILE", "\"controllers\"", "\"nodes\"", "\"faults\""}) {
        EXPECT_NE(help.standard_output.find(text), std::string::npos) << text;
    }
}

// A flash by one child is seen by the next child of the same run, and by a
// later run that starts from the saved state.
TEST(Fmxsim, TraceAndSavedStateFollowAFlash) {
    fmx_test::TempDir dir;
    std::string image(70000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
    const std::string in = fmx_test::write_file(dir.file("image.bin"), image);
    const std::string script = "\"$0\" download /dev/fmx2ctl 1 1 \"$1\" && \"$0\" upload /dev/fmx2ctl 1 5 \"$2\"";
    const RunResult flash =
        run_fmxsim({.trace = dir.file("trace.txt"), .save_state = dir.file("state.json")},
                   {"/bin/sh", "-c", script, kProbe, in, dir.file("backup.bin")});
    ASSERT_EQ(flash.exit_status, 0) << flash.standard_output << flash.standard_error;
    EXPECT_EQ(flash.standard_output, "ioc_status=0x0000\nioc_status=0x0000 size=70000\n");
    EXPECT_EQ(fmx_test::read_file(dir.file("backup.bin")), image);

    const auto trace = fmx_test::read_trace(dir.file("trace.txt"));
    ASSERT_EQ(trace.size(), 4u);  // the download, the probe and two segments
    EXPECT_EQ(trace[0].node, "/dev/fmx2ctl");
    EXPECT_EQ(trace[0].request, sizeof(void*) == 8 ? 0xC0484C14u : 0xC0384C14u);
    EXPECT_EQ(trace[0].ioc, 1u);
    EXPECT_EQ(trace[0].function, fmx::kFunctionFirmwareDownload);
    EXPECT_EQ(trace[0].image_type, 1);
    EXPECT_EQ(trace[0].offset, 0u);
    EXPECT_EQ(trace[0].length, 70000u);
    EXPECT_EQ(trace[0].data_out, 70000u);
    EXPECT_EQ(trace[0].timeout, 60u);
    EXPECT_EQ(trace[0].result, 0);
    EXPECT_EQ(trace[0].ioc_status, 0);
    EXPECT_EQ(trace[3].offset, 0x10000u);
    EXPECT_EQ(trace[3].length, 70000u - 0x10000u);

    const fmxsim::Scenario state = fmx_test::read_saved_state(dir.file("state.json"));
    ASSERT_EQ(state.controllers.size(), 2u);
    EXPECT_EQ(state.controllers[1].firmware, std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(state.controllers[1].backup, state.controllers[1].firmware);
    EXPECT_EQ(state.controllers[0].firmware, fmxsim::default_scenario().controllers[0].firmware);

    const RunResult later = probe({.scenario = dir.file("state.json")},
                                  {"upload", "/dev/fmx2ctl", "1", "1", dir.file("firmware.bin")});
    EXPECT_EQ(later.exit_status, 0) << later.standard_error;
    EXPECT_EQ(fmx_test::read_file(dir.file("firmware.bin")), image);
}

}  // namespace
