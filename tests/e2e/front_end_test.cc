// End-to-end tests of sasburn's start-up, command line and command loop: the
// real binary under fmxsim with 0, 1, 2 and 129 emulated controllers, checked
// by its exact output and exit code.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fmxsim_support.h"
#include "run_command.h"
#include "scenario.h"
#include "temp_dir.h"

#ifndef SASBURN_PROGRAM
#error "SASBURN_PROGRAM must name the sasburn program"
#endif

namespace {

const std::string kBanner =
    "Qexton SAS2 RAID Mode Flash Utility\n"
    "Version 0.06.00.00 (2012.08.30) \n"
    "Copyright (c) 2008-2012 Norvane Corporation. All rights reserved.\n"
    "\n";
const std::string kLimitedMode = "\tNo QX RAID Adapters found! Limited Command Set Available!\n";
const std::string kSuccess = "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";
const std::string kFailure =
    "\tDue to error remaining commands will not be executed.\n"
    "\tUnable to Process Commands.\n\tExiting sasburn.\n\n";
const std::string kHelp =
    "\t-listall    :   List information on all adapters found\n"
    "\t-c x        :   Choose adapter by index\n"
    "\t                x = index of the adapter to choose\n"
    "\t-f x        :   Flash firmware image\n"
    "\t                x = the firmware file to flash\n"
    "\t-fwall x    :   Flash firmware image to all adapters\n"
    "\t                x = the firmware file to flash\n"
    "\t-b x        :   Flash BIOS image\n"
    "\t                x = the BIOS image to flash\n"
    "\t-biosall x  :   Flash BIOS image to all adapters\n"
    "\t                x = the bios image to flash\n"
    "\t-reset      :   Reset selected adapter\n"
    "\t-resetall   :   Reset all adapters\n"
    "\t-force      :   Set force mode to enable firmware downgrade\n"
    "\n";
// The default scenario's two controllers as -listall shows them.
const std::string kListing =
    "\tNum   Board Name         Firmware Version\n"
    "\t-----------------------------------------\n"
    "\t00    Q520               13.00.01.00\n"
    "\t01    Q510i              12.00.02.00\n"
    "\n";
const std::string kPrompt =
    "\tController is not operational. A firmware download is required.\n"
    "Enter firmware file name or quit to exit: ";

fmxsim::Scenario no_controllers() {
    fmxsim::Scenario scenario;
    scenario.description = "the driver's node without controllers";
    scenario.nodes.push_back(fmxsim::NodeSpec{"/dev/fmx2ctl", false, {}});
    return scenario;
}

fmxsim::Scenario one_controller() {
    fmxsim::Scenario scenario = fmxsim::default_scenario();
    scenario.controllers.resize(1);
    scenario.nodes[0].iocs.resize(1);
    return scenario;
}

fmxsim::Scenario two_controllers() { return fmxsim::default_scenario(); }

// More controllers than the state table tracks; they need no flash contents
// for selection and reset.
fmxsim::Scenario many_controllers(size_t count) {
    fmxsim::Scenario scenario;
    scenario.description = "many controllers on one node";
    fmxsim::NodeSpec node{"/dev/fmx2ctl", false, {}};
    for (size_t i = 0; i < count; ++i) {
        fmxsim::ControllerSpec controller;
        controller.device_id = 69;
        scenario.controllers.push_back(controller);
        node.iocs.push_back(fmxsim::Attachment{static_cast<uint32_t>(i), i, false});
    }
    scenario.nodes.push_back(node);
    return scenario;
}

struct Outcome {
    int exit_status;
    std::string output;
};

class FrontEndEndToEnd : public testing::Test {
protected:
    fmx_test::TempDir dir_;

    // Runs sasburn in the test's directory under fmxsim with the scenario.
    Outcome run(const fmxsim::Scenario& scenario, const std::vector<std::string>& arguments,
                const std::optional<std::string>& input = std::nullopt,
                const std::optional<std::string>& trace = std::nullopt) {
        const std::string scenario_file = fmx_test::write_scenario(dir_, scenario);
        std::vector<std::string> command{SASBURN_PROGRAM};
        command.insert(command.end(), arguments.begin(), arguments.end());
        fmx_test::RunOptions options;
        options.working_directory = dir_.path();
        options.standard_input = input;
        const fmx_test::RunResult result = fmx_test::run_command(
            fmx_test::fmxsim_command({.scenario = scenario_file, .trace = trace}, command), options);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.error, "");
        return {result.exit_status, result.standard_output};
    }
};

TEST_F(FrontEndEndToEnd, NoArgumentsWithControllersPrintsOnlyTheBannerAndFails) {
    const Outcome outcome = run(two_controllers(), {});
    EXPECT_EQ(outcome.output, kBanner);
    EXPECT_EQ(outcome.exit_status, 1);
}

TEST_F(FrontEndEndToEnd, NoArgumentsWithoutControllersRunsInLimitedModeAndSucceeds) {
    const Outcome outcome = run(no_controllers(), {});
    EXPECT_EQ(outcome.output, kBanner + kLimitedMode + kSuccess);
    EXPECT_EQ(outcome.exit_status, 0);
}

TEST_F(FrontEndEndToEnd, HelpPrintsTheUsageTable) {
    for (const auto& scenario : {two_controllers(), no_controllers()}) {
        SCOPED_TRACE(scenario.description);
        const bool limited = scenario.controllers.empty();
        const Outcome outcome = run(scenario, {"-h"});
        EXPECT_EQ(outcome.output, kBanner + (limited ? kLimitedMode : "") + kHelp + kSuccess);
        EXPECT_EQ(outcome.exit_status, 0);
    }
}

TEST_F(FrontEndEndToEnd, HelpRunsBeforeTheListingWhateverTheOrder) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-listall", "-?"}, std::vector<std::string>{"-help", "-listall"}}) {
        SCOPED_TRACE(arguments[0]);
        const Outcome outcome = run(two_controllers(), arguments);
        EXPECT_EQ(outcome.output, kBanner + kHelp + kListing + kSuccess);
        EXPECT_EQ(outcome.exit_status, 0);
    }
}

TEST_F(FrontEndEndToEnd, ParseErrorsPrintTheirMessagesAndFail) {
    const std::string c_usage =
        "\t-c x        :   Choose adapter by index\n"
        "\t                x = index of the adapter to choose\n";
    const std::string syntax_error = "\tSyntax Error see Command Usage below:\n\n";
    struct Case {
        fmxsim::Scenario scenario;
        std::vector<std::string> arguments;
        std::string after_banner;
    };
    const Case cases[] = {
        {two_controllers(), {"-listall", "-LISTALL"},
         "\tERROR:  Invalid command -LISTALL\n\n\tExiting Program.\n"},
        {two_controllers(), {"-c", "0", "-force"},
         "\tERROR: Couldn't Create Command -force:\n\tOnly one adapter choice allowed.\n"
         "\tExiting Program.\n"},
        {two_controllers(), {"-reset", "-resetall"},
         "\tERROR: Couldn't Create Command -resetall:\n\tDuplicate commands are not allowed.\n"
         "\tExiting Program.\n"},
        {two_controllers(), {"-c"},
         "\tERROR: Insufficient arguments specified\n" + syntax_error + c_usage +
             "\n\tExiting Program.\n"},
        {two_controllers(), {"-b", "absent.rom"},
         "\tERROR: Could not open file: absent.rom:\n" + syntax_error +
             "\t-b x        :   Flash BIOS image\n\t                x = the BIOS image to flash\n"
             "\n\tExiting Program.\n"},
        {two_controllers(), {"-c", "zz"},
         "\tERROR: String zz is not a valid number\n"
         "\tERROR: Input string is not a valid integer: zz\n" +
             syntax_error + c_usage + "\n\tExiting Program.\n"},
        {two_controllers(), {"-oOutput"}, ""},
        {two_controllers(), {"@absent.rsp"}, "ERROR: Could not open file absent.rsp\n"},
        {no_controllers(), {"-listall"},
         kLimitedMode +
             "\tERROR: Command Not allowed without an adapter!\n"
             "\tERROR: Couldn't Create Command -listall\n\tExiting Program.\n"},
        {no_controllers(), {"@words.rsp"}, kLimitedMode +
                                               "\tERROR:  Invalid command @words.rsp\n\n"
                                               "\tExiting Program.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const Outcome outcome = run(c.scenario, c.arguments);
        EXPECT_EQ(outcome.output, kBanner + c.after_banner);
        EXPECT_EQ(outcome.exit_status, 1);
    }
}

TEST_F(FrontEndEndToEnd, AnIndexNoControllerHasFails) {
    const Outcome outcome = run(two_controllers(), {"-c", "5"});
    EXPECT_EQ(outcome.output, kBanner + kFailure);
    EXPECT_EQ(outcome.exit_status, 1);

    const Outcome second = run(one_controller(), {"-c", "1", "-listall"});
    EXPECT_EQ(second.output, kBanner + kFailure);
    EXPECT_EQ(second.exit_status, 1);
}

TEST_F(FrontEndEndToEnd, TheChoiceIsMadeBeforeTheFlashWhateverTheOrder) {
    // The controller's own image, so the flash passes validation unchanged.
    const std::vector<uint8_t> image = two_controllers().controllers[1].firmware;
    fmx_test::write_file(dir_.file("fw.bin"), std::string(image.begin(), image.end()));
    const std::string trace = dir_.file("trace.txt");
    const Outcome outcome = run(two_controllers(), {"-f", "fw.bin", "-c", "1"}, std::nullopt, trace);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.output.starts_with(kBanner + "\tExecuting Operation: Flash Firmware Image\n"))
        << outcome.output;
    EXPECT_TRUE(outcome.output.ends_with("\t\tFirmware Flash Successful!\n\n" + kSuccess))
        << outcome.output;

    // Discovery asks both controllers for their facts (function 0x03); every
    // request after that goes to controller 1, the download among them.
    bool downloaded = false;
    for (const fmxsim::TraceRecord& record : fmx_test::read_trace(trace)) {
        if (!record.function || *record.function == 0x03) continue;
        EXPECT_EQ(record.ioc, 1u) << fmxsim::format_trace_line(record);
        if (*record.function == 0x09) downloaded = true;
    }
    EXPECT_TRUE(downloaded);
}

TEST_F(FrontEndEndToEnd, AResponseFileRunsLikeItsWordsOnTheCommandLine) {
    fmx_test::write_file(dir_.file("words.rsp"), "-c 0\n-listall\n");
    const Outcome direct = run(two_controllers(), {"-c", "0", "-listall"});
    const Outcome from_file = run(two_controllers(), {"@words.rsp"});
    EXPECT_EQ(from_file.output, kBanner + kListing + kSuccess);
    EXPECT_EQ(from_file.output, direct.output);
    EXPECT_EQ(from_file.exit_status, 0);
}

TEST_F(FrontEndEndToEnd, ResetAllResetsEveryControllerInTurn) {
    // Device ID 69 has no chip text, hence the two blanks after "SAS".
    const std::string one_reset =
        "\n\tAttempting to Reset adapter Norvane SAS  at Index %d:\n\n"
        "\t\tAdapter Successfully Reset.\n\n";
    auto reset_of = [&](int index) {
        std::string text = one_reset;
        return text.replace(text.find("%d"), 2, std::to_string(index));
    };
    const Outcome outcome = run(two_controllers(), {"-resetall"});
    EXPECT_EQ(outcome.output, kBanner + reset_of(0) + reset_of(1) + kSuccess);
    EXPECT_EQ(outcome.exit_status, 0);
}

TEST_F(FrontEndEndToEnd, ControllersBeyondTheStateTableAreListedButReadAsFault) {
    const fmxsim::Scenario scenario = many_controllers(129);
    // Index 127 is the last one tracked: selected without a question.
    Outcome outcome = run(scenario, {"-c", "7F"});
    EXPECT_EQ(outcome.output, kBanner + kSuccess);
    EXPECT_EQ(outcome.exit_status, 0);

    // Index 128 reads as FAULT and asks for a firmware file; the end of input
    // answers like "quit".
    for (const char* input : {"quit\n", ""}) {
        SCOPED_TRACE(testing::PrintToString(input));
        outcome = run(scenario, {"-c", "80"}, input);
        EXPECT_EQ(outcome.output, kBanner + kPrompt + kFailure);
        EXPECT_EQ(outcome.exit_status, 1);
    }

    // Every controller is still reset in turn.
    outcome = run(scenario, {"-resetall"});
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.output.ends_with(
        "\n\tAttempting to Reset adapter Norvane SAS  at Index 128:\n\n"
        "\t\tAdapter Successfully Reset.\n\n" + kSuccess));
}

}  // namespace
