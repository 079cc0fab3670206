// Command filing, parse errors, the order in which commands run, adapter
// selection and the operational check, driven in-process. The adapter
// operations are replaced by recording handlers that print one line each.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapters.h"
#include "command_execution.h"
#include "command_line.h"
#include "messages.h"
#include "operations.h"

namespace {

constexpr uint32_t kFirstHandle = 0x01000001;

int selected_index() { return selected_adapter != nullptr ? int(selected_adapter->index) : -1; }

bool record_flash(uint32_t handle, uint16_t*, uint32_t*) {
    emitf(OUTPUT_NORMAL, "[flash index %d handle %08X size %u]\n", selected_index(), handle,
          current_command->files[0].size);
    return true;
}
// Leaves the controller tracked as FAULT, as a flash that went wrong would.
bool flash_to_fault(uint32_t handle, uint16_t*, uint32_t*) {
    emitf(OUTPUT_NORMAL, "[flash to fault index %d]\n", selected_index());
    set_adapter_state(handle, STATE_FAULT);
    return true;
}
bool record_list(uint32_t, uint16_t*, uint32_t*) {
    emitf(OUTPUT_NORMAL, "[list index %d]\n", selected_index());
    return true;
}
bool failing_boot_flash(uint32_t, uint16_t*, uint32_t*) {
    emitf(OUTPUT_NORMAL, "[boot flash fails]\n");
    return false;
}
bool reset_with_ioc_status(uint32_t, uint16_t* ioc_status, uint32_t* log_info) {
    emitf(OUTPUT_NORMAL, "[reset index %d]\n", selected_index());
    *ioc_status = 0x0004;
    *log_info = 0x31170000;
    return true;
}
bool record_fwall(uint32_t, uint16_t*, uint32_t*) {
    emitf(OUTPUT_NORMAL, "[fwall force %d]\n", force_mode ? 1 : 0);
    return true;
}

// The front end's own handlers stay real; the operations record.
const OperationRow kRecordingTable[] = {
    {CMD_SELECT_ADAPTER, select_adapter},
    {CMD_FLASH_FIRMWARE, record_flash},
    {CMD_FLASH_FIRMWARE_ALL, record_fwall},
    {CMD_FLASH_BOOT_IMAGE, failing_boot_flash},
    {CMD_LIST_ADAPTERS, record_list},
    {CMD_HELP, print_help},
    {CMD_RESET_ADAPTER, reset_with_ioc_status},
    {CMD_FORCE, set_force_mode},
    {0, nullptr},
};

const OperationRow kFlashToFaultTable[] = {
    {CMD_SELECT_ADAPTER, select_adapter},
    {CMD_FLASH_FIRMWARE, flash_to_fault},
    {CMD_LIST_ADAPTERS, record_list},
    {0, nullptr},
};

const std::string kHelpText =
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
const std::string kSuccess = "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";
const std::string kFailure =
    "\tDue to error remaining commands will not be executed.\n"
    "\tUnable to Process Commands.\n\tExiting sasburn.\n\n";
const std::string kPrompt =
    "\tController is not operational. A firmware download is required.\n"
    "Enter firmware file name or quit to exit: ";

class FrontEnd : public testing::Test {
protected:
    std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                                 ("front_end_" + std::to_string(::getpid()));
    std::string firmware_;  // a 4-byte file

    void SetUp() override {
        std::filesystem::create_directories(dir_);
        firmware_ = write_file("fw.bin", "FWIM");
        free_file_table();
        clear_adapter_state_table();
        start_another_run();
    }
    void TearDown() override {
        for (FileTableEntry& entry : file_table) {
            if (entry.stream != nullptr) fclose(entry.stream);
        }
        free_file_table();
        release_run_allocations();
        forget_adapters();
        reset_parse_state();
        if (freopen("/dev/null", "r", stdin) == nullptr) ADD_FAILURE() << "stdin not restored";
        std::filesystem::remove_all(dir_);
    }

    std::string write_file(const std::string& name, const std::string& contents) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << contents;
        return path.string();
    }
    // Controllers with indexes 0..count-1, tracked OPERATIONAL as enumeration leaves them.
    void add_adapters(int count) {
        for (int i = 0; i < count; ++i) {
            append_adapter(kFirstHandle + i, i, 114, 2);
            adapter_state_table[i] = {kFirstHandle + uint32_t(i), STATE_OPERATIONAL};
        }
    }
    // Another run in the same test: fresh queues, no adapter selected.
    void start_another_run(const OperationRow* table = kRecordingTable) {
        reset_parse_state();
        handler_table = table;
        selected_adapter = nullptr;
    }
    void answer_prompt_with(const std::string& input) {
        ASSERT_NE(freopen(write_file("stdin.txt", input).c_str(), "r", stdin), nullptr);
    }

    struct Run {
        bool result;
        std::string output;
    };
    // Scans the words behind a program name and runs them.
    Run parse(const std::vector<std::string>& words) {
        std::vector<std::string> all{"sasburn"};
        all.insert(all.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (std::string& word : all) argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        bool result = parse_command_line(int(all.size()), argv.data());
        return {result, testing::internal::GetCapturedStdout()};
    }
};

// What the message buffer keeps of a longer message.
std::string cut(const std::string& message) { return message.substr(0, kPendingMessageSize - 1); }

std::string syntax_error(const char* usage) {
    return std::string("\tSyntax Error see Command Usage below:\n\n") + usage +
           "\n\tExiting Program.\n";
}

// ---------------------------------------------------------------------------
// Parse errors: each fails before any command runs.

TEST_F(FrontEnd, ParseErrorsPrintTheirMessagesAndRunNothing) {
    add_adapters(1);
    const std::string f_usage = usage_text(CMD_FLASH_FIRMWARE);
    const std::string c_usage = usage_text(CMD_SELECT_ADAPTER);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-x"}, "\tERROR:  Invalid command -x\n\n\tExiting Program.\n"},
        {{"-listall", "-LISTALL"}, "\tERROR:  Invalid command -LISTALL\n\n\tExiting Program.\n"},
        {{"INVALID"}, "\tERROR:  Invalid command INVALID\n\n\tExiting Program.\n"},
        {{"-c", "0", "-force"},
         "\tERROR: Couldn't Create Command -force:\n\tOnly one adapter choice allowed.\n"
         "\tExiting Program.\n"},
        {{"-f", firmware_, "-b", firmware_},
         "\tERROR: Couldn't Create Command -b:\n\tDuplicate commands are not allowed.\n"
         "\tExiting Program.\n"},
        {{"-h", "-?"},
         "\tERROR: Couldn't Create Command -?:\n\tDuplicate commands are not allowed.\n"
         "\tExiting Program.\n"},
        {{"-listall", "-listall"},
         "\tERROR: Couldn't Create Command -listall:\n\tDuplicate commands are not allowed.\n"
         "\tExiting Program.\n"},
        {{"-f"}, "\tERROR: Insufficient arguments specified\n" + syntax_error(f_usage.c_str())},
        {{"-c"}, "\tERROR: Insufficient arguments specified\n" + syntax_error(c_usage.c_str())},
        {{"-f", "no-such-file.bin"},
         "\tERROR: Could not open file: no-such-file.bin:\n" + syntax_error(f_usage.c_str())},
        {{"-c", "zz"},
         "\tERROR: String zz is not a valid number\n"
         "\tERROR: Input string is not a valid integer: zz\n" +
             syntax_error(c_usage.c_str())},
        // An error after a good option still stops the run before anything runs.
        {{"-h", "-c", "0x123456789ABCDEF0"},
         "\tERROR: String 0x123456789ABCDEF0 is not a valid number\n"
         "\tERROR: Input string is not a valid integer: 0x123456789ABCDEF0\n" +
             syntax_error(c_usage.c_str())},
    };
    for (const auto& [words, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(words));
        start_another_run();
        Run run = parse(words);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.output, expected);
    }
}

TEST_F(FrontEnd, RefusesAWordLongerThanTheTokenBuffer) {
    add_adapters(1);
    Run run = parse({"-h", "-c", std::string(512, '1')});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output,
              "\tERROR: Argument 3 is longer than 511 characters.\n\tExiting Program.\n");

    start_another_run();
    // 511 characters reach the number parser whole; the messages quoting them
    // are cut at the message buffer.
    std::string fits(511, '1');
    run = parse({"-c", fits});
    EXPECT_EQ(run.output, cut("\tERROR: String " + fits + " is not a valid number\n") +
                              cut("\tERROR: Input string is not a valid integer: " + fits + "\n") +
                              syntax_error(usage_text(CMD_SELECT_ADAPTER)));
}

TEST_F(FrontEnd, CutsAMessageLongerThanThePendingBuffer) {
    add_adapters(1);
    std::string word = "-" + std::string(600 - 1, 'q');
    word.resize(511);
    Run run = parse({word});
    EXPECT_EQ(run.output, cut("\tERROR:  Invalid command " + word + "\n\n") + "\tExiting Program.\n");
}

// ---------------------------------------------------------------------------
// Filing

TEST_F(FrontEnd, CreateCommandFilesByCategory) {
    EXPECT_EQ(create_command(CMD_SELECT_ADAPTER), CREATE_OK);
    EXPECT_EQ(adapter_choice_slot, current_command);
    EXPECT_EQ(create_command(CMD_FORCE), CREATE_CHOICE_TAKEN);
    EXPECT_EQ(create_command(CMD_FLASH_FIRMWARE), CREATE_OK);
    EXPECT_EQ(operation_slot, current_command);
    EXPECT_EQ(create_command(CMD_RESET_ALL), CREATE_DUPLICATE);  // any second operation
    EXPECT_EQ(create_command(CMD_HELP), CREATE_OK);
    EXPECT_EQ(create_command(CMD_HELP), CREATE_DUPLICATE);
    EXPECT_EQ(create_command(CMD_LIST_ADAPTERS), CREATE_OK);
    EXPECT_EQ(create_command(CMD_LIST_ADAPTERS), CREATE_DUPLICATE);
    // Another category is accepted and filed nowhere.
    EXPECT_EQ(create_command(0x05000001), CREATE_OK);
    EXPECT_EQ(current_command->code, 0x05000001u);
    ASSERT_NE(listing_queue, nullptr);
    EXPECT_EQ(listing_queue->next, nullptr);
}

TEST_F(FrontEnd, LimitedModeAcceptsOnlyHelp) {
    limited_mode = true;
    Run run = parse({"-listall"});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output,
              "\tERROR: Command Not allowed without an adapter!\n"
              "\tERROR: Couldn't Create Command -listall\n\tExiting Program.\n");

    start_another_run();
    limited_mode = true;
    run = parse({"-help"});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, kHelpText + kSuccess);

    start_another_run();
    limited_mode = true;
    run = parse({"-h", "-?"});
    EXPECT_EQ(run.output,
              "\tERROR: Couldn't Create Command -?:\n\tDuplicate commands are not allowed.\n"
              "\tExiting Program.\n");
}

// ---------------------------------------------------------------------------
// The order commands run in

TEST_F(FrontEnd, RunsHelpFirstThenSelectionThenOperationThenListing) {
    add_adapters(2);
    Run run = parse({"-listall", "-f", firmware_, "-h", "-c", "1"});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, kHelpText + "[flash index 1 handle 01000002 size 4]\n"
                          "[list index 1]\n" + kSuccess);
}

TEST_F(FrontEnd, ANonZeroIocStatusOfASucceedingHandlerIsReportedAndTheRunGoesOn) {
    add_adapters(1);
    Run run = parse({"-listall", "-reset"});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "[reset index 0]\n"
                          "\tDue to Exception Command not Executed. IOCStatus=0x4, "
                          "IOCLogInfo=0x31170000\n"
                          "[list index 0]\n" + kSuccess);
}

TEST_F(FrontEnd, SelectsIndexZeroWhenNoAdapterWasChosen) {
    add_adapters(2);
    Run run = parse({"-listall", "-h"});
    EXPECT_TRUE(run.result);
    // The selection's chip-status line is not shown.
    EXPECT_EQ(run.output, kHelpText + "[list index 0]\n" + kSuccess);
    EXPECT_EQ(active_handle(), 0u);
}

TEST_F(FrontEnd, SelectsBeforeFlashingWhateverTheOrder) {
    add_adapters(2);
    Run run = parse({"-f", firmware_, "-c", "1"});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "[flash index 1 handle 01000002 size 4]\n" + kSuccess);
}

TEST_F(FrontEnd, SelectionTakesTheLowHalfOfTheHexadecimalArgument) {
    add_adapters(17);
    const std::pair<const char*, int> cases[] = {{"10", 16}, {"0x00000005", 0}, {"0xA", 10}};
    for (const auto& [argument, index] : cases) {
        SCOPED_TRACE(argument);
        start_another_run();
        Run run = parse({"-c", argument, "-listall"});
        EXPECT_EQ(run.output, "[list index " + std::to_string(index) + "]\n" + kSuccess);
    }
}

TEST_F(FrontEnd, AnIndexNoAdapterHasFailsTheRun) {
    add_adapters(2);
    Run run = parse({"-c", "5", "-listall"});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, kFailure);
}

TEST_F(FrontEnd, AFailingHandlerStopsTheRemainingCommands) {
    add_adapters(1);
    Run run = parse({"-listall", "-b", firmware_});
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, "[boot flash fails]\n" + kFailure);
}

TEST_F(FrontEnd, ForceSharesTheChoiceSlotAndSetsForceMode) {
    add_adapters(1);
    Run run = parse({"-force", "-fwall", firmware_});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "[fwall force 1]\n" + kSuccess);
}

TEST_F(FrontEnd, NoOptionsRunNothingAndSucceed) {
    add_adapters(1);
    Run run = parse({});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, kSuccess);
}

TEST_F(FrontEnd, AnOperationNotInTheTableIsReported) {
    add_adapters(1);
    static const OperationRow kWithoutListing[] = {{CMD_SELECT_ADAPTER, select_adapter}, {0, nullptr}};
    handler_table = kWithoutListing;
    Run run = parse({"-listall"});
    EXPECT_EQ(run.output, "\tOperation not found: 06000006.\n\tUnable to Process Commands.\n"
                          "\tExiting sasburn.\n\n");
    EXPECT_FALSE(run.result);
}

// ---------------------------------------------------------------------------
// Response files and the words of a run

TEST_F(FrontEnd, AResponseFileRunsLikeItsWordsOnTheCommandLine) {
    add_adapters(2);
    Run direct = parse({"-c", "1", "-listall"});

    start_another_run();
    std::string argument = "@" + write_file("run.rsp", "-c 1\n-listall\n");
    char program[] = "sasburn";
    char* argv[] = {program, argument.data(), nullptr};
    int count = 2;
    char** words = argv;
    ASSERT_TRUE(prepare_words(&count, &words));
    EXPECT_EQ(count, 4);
    testing::internal::CaptureStdout();
    bool result = parse_command_line(count, words);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), direct.output);
    EXPECT_EQ(result, direct.result);
}

TEST_F(FrontEnd, PreparingWordsRefusesEmptyAndOutputFlagRunsSilently) {
    char program[] = "sasburn";
    char o_flag[] = "-oFile";
    char h_flag[] = "-h";
    char long_name[300];
    memset(long_name, 'n', sizeof long_name - 1);
    long_name[0] = '@';
    long_name[sizeof long_name - 1] = '\0';
    struct Case {
        std::vector<char*> argv;
        bool prepared;
        std::string output;
    };
    const Case cases[] = {
        {{program}, false, ""},
        {{program, o_flag}, false, ""},
        {{program, o_flag, h_flag}, true, ""},
        {{program, long_name}, false,
         "\tERROR: Response file name is longer than 255 characters.\n"},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = c.argv;
        int count = int(argv.size());
        char** words = argv.data();
        testing::internal::CaptureStdout();
        EXPECT_EQ(prepare_words(&count, &words), c.prepared);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    }
}

// ---------------------------------------------------------------------------
// The operational check and its prompt

TEST_F(FrontEnd, ANonOperationalControllerPromptsAndQuitEndsTheRun) {
    add_adapters(1);
    adapter_state_table[0].state = STATE_FAULT;
    for (const char* input : {"quit\n", "", "quit"}) {
        SCOPED_TRACE(testing::PrintToString(input));
        start_another_run();
        answer_prompt_with(input);
        Run run = parse({"-c", "0", "-listall"});
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.output, kPrompt + kFailure);
        EXPECT_EQ(operation_slot, nullptr);
    }
}

TEST_F(FrontEnd, ThePromptedFirmwareFileIsFlashedNext) {
    add_adapters(1);
    adapter_state_table[0].state = STATE_FAULT;
    answer_prompt_with(write_file("other.bin", "0123456789") + "\r\n");
    Run run = parse({"-listall"});
    EXPECT_TRUE(run.result);
    // The controller is still tracked as FAULT after the flash, so the check
    // after it asks again; the end of input answers like "quit".
    EXPECT_EQ(run.output, kPrompt + "[flash index 0 handle 01000001 size 10]\n" + kPrompt +
                              "\tController Number 0 is not operational\n[list index 0]\n" +
                              kSuccess);
}

TEST_F(FrontEnd, APromptedFileThatCannotBeOpenedFails) {
    add_adapters(1);
    adapter_state_table[0].state = STATE_FAULT;
    answer_prompt_with("missing.bin\n");
    Run run = parse({"-listall"});
    EXPECT_EQ(run.output, kPrompt + "\tERROR: Could not open file: missing.bin:\n" + kFailure);

    start_another_run();
    answer_prompt_with(std::string(300, 'n') + "\n");
    run = parse({"-listall"});
    EXPECT_EQ(run.output,
              kPrompt + "\tERROR: File name is longer than 255 characters.\n" + kFailure);
}

TEST_F(FrontEnd, AQueuedOperationOrAReadyStateNeedsNoPrompt) {
    add_adapters(2);
    adapter_state_table[0].state = STATE_FAULT;
    adapter_state_table[1].state = STATE_READY;
    Run run = parse({"-f", firmware_});
    EXPECT_EQ(run.output, "[flash index 0 handle 01000001 size 4]\n" + kSuccess);

    start_another_run();
    run = parse({"-c", "1", "-listall"});
    EXPECT_EQ(run.output, "[list index 1]\n" + kSuccess);
    EXPECT_EQ(adapter_state(kFirstHandle + 1), STATE_OPERATIONAL);
}

TEST_F(FrontEnd, AControllerLeftNotOperationalByAFlashIsReported) {
    add_adapters(1);
    handler_table = kFlashToFaultTable;
    answer_prompt_with("quit\n");
    Run run = parse({"-listall", "-f", firmware_});
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "[flash to fault index 0]\n" + kPrompt +
                              "\tController Number 0 is not operational\n[list index 0]\n" +
                              kSuccess);
}

TEST_F(FrontEnd, ControllersBeyondTheStateTableReadAsFault) {
    add_adapters(kAdapterTableSize);
    append_adapter(kFirstHandle + kAdapterTableSize, kAdapterTableSize, 114, 2);
    EXPECT_EQ(adapter_state(kFirstHandle + kAdapterTableSize), STATE_FAULT);
    EXPECT_FALSE(set_adapter_state(kFirstHandle + kAdapterTableSize, STATE_READY));
    EXPECT_EQ(adapter_state(0), STATE_FAULT);  // handle 0 names no controller
    answer_prompt_with("quit\n");
    Run run = parse({"-c", "80", "-listall"});
    EXPECT_EQ(run.output, kPrompt + kFailure);
}

// ---------------------------------------------------------------------------
// Output classes

TEST(Emit, WritesClassesZeroToTwoAndDiscardsThreeAndFour) {
    testing::internal::CaptureStdout();
    for (int output_class : {0, 1, 2, 3, 4}) emitf(output_class, "class %d\n", output_class);
    snprintf(pending_message, kPendingMessageSize, "%s", "100%s\n");
    emit(OUTPUT_NORMAL);  // written as it stands, not used as a format
    emit(OUTPUT_NORMAL);  // emptied by the previous emit
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "class 0\nclass 1\nclass 2\n100%s\n");
    EXPECT_EQ(pending_message[0], '\0');
}

}  // namespace
