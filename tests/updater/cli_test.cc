// The console dialogue and the log file (CLI).
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "updater.h"

namespace updater_test {
namespace {

using updater::CLI;
using updater::cli;

const char kOne[] = "Flash this device? [NO, yes, quit] ";
const std::string kHelp =
    "   yes   Update this device\n"
    "   no    Do not update this device (default)\n"
    "   quit  Do not update any renmaining devices\n"
    "   help  This text\n";

struct AnswerCase {
  const char* input;
  CLI::Answer expected;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.input)) << " -> " << c.expected;
}

class AnswerTest : public WrapperTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, OneEntryGivesItsAnswerAfterOnePrompt) {
  SetInput(GetParam().input);
  EXPECT_EQ(cli.askFlashIt(1), GetParam().expected);
  EXPECT_EQ(Err(), kOne);
  EXPECT_EQ(Out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, AnswerTest,
    ::testing::Values(AnswerCase{"y\n", CLI::AnsYes}, AnswerCase{"Y\n", CLI::AnsYes},
                      AnswerCase{"ye\n", CLI::AnsYes}, AnswerCase{"yes\n", CLI::AnsYes},
                      AnswerCase{"YES\n", CLI::AnsYes}, AnswerCase{"n\n", CLI::AnsNo},
                      AnswerCase{"N\n", CLI::AnsNo}, AnswerCase{"no\n", CLI::AnsNo},
                      AnswerCase{"\n", CLI::AnsNo}, AnswerCase{"a\n", CLI::AnsAll},
                      AnswerCase{"all\n", CLI::AnsAll}, AnswerCase{"q\n", CLI::AnsQuit},
                      AnswerCase{"quit\n", CLI::AnsQuit}, AnswerCase{"Quit\n", CLI::AnsQuit}));

TEST_F(WrapperTest, SeveralDevicesAskTheOtherQuestion) {
  SetInput("yes\n");
  EXPECT_EQ(cli.askFlashIt(2), CLI::AnsYes);
  EXPECT_EQ(Err(), "Flash these devices? [NO, yes, quit] ");
}

TEST_F(WrapperTest, HelpWordsPrintTheHelpTextAndAskAgain) {
  for (const char* word : {"?", "h", "help", "HE"}) {
    m_err.str("");
    SetInput(std::string(word) + "\nyes\n");
    EXPECT_EQ(cli.askFlashIt(1), CLI::AnsYes) << word;
    EXPECT_EQ(Err(), std::string(kOne) + kHelp + kOne) << word;
  }
}

TEST_F(WrapperTest, ShowAsksAgainSilently) {
  SetInput("s\nshow\nno\n");
  EXPECT_EQ(cli.askFlashIt(1), CLI::AnsNo);
  EXPECT_EQ(Err(), std::string(kOne) + kOne + kOne);
}

TEST_F(WrapperTest, UnknownEntriesAreRefusedAndAskedAgain) {
  SetInput("yesx\nx\ny\n");
  EXPECT_EQ(cli.askFlashIt(1), CLI::AnsYes);
  EXPECT_EQ(Err(), std::string(kOne) + "Unrecognized input.\n" + kOne +
                       "Unrecognized input.\n" + kOne);
}

TEST_F(WrapperTest, EndOfInputIsAConsoleInputFailure) {
  SetInput("");
  try {
    cli.askFlashIt(1);
    FAIL() << "no exception";
  } catch (const updater::ConsoleInputFailure& failure) {
    EXPECT_STREQ(failure.what(), "console input failure");
  }
  EXPECT_EQ(Err(), kOne);
}

TEST_F(WrapperTest, ConsoleFailureIsAStandardRuntimeError) {
  SetInput("x\n");  // refused, then the input ends
  EXPECT_THROW(cli.askFlashIt(1), std::runtime_error);
}

TEST_F(WrapperTest, LastLineWithoutLineFeedIsAConsoleInputFailure) {
  SetInput("yes");
  EXPECT_THROW(cli.askFlashIt(1), updater::ConsoleInputFailure);
}

TEST_F(WrapperTest, AnswerOf249CharactersFitsAndOf250DoesNot) {
  SetInput(std::string(249, 'y') + "\nno\n");
  EXPECT_EQ(cli.askFlashIt(1), CLI::AnsNo);
  EXPECT_EQ(Err(), std::string(kOne) + "Unrecognized input.\n" + kOne);
  SetInput(std::string(250, 'y') + "\nno\n");
  EXPECT_THROW(cli.askFlashIt(1), updater::ConsoleInputFailure);
}

TEST_F(WrapperTest, LogBeforeTheFileIsNamedWritesNothing) {
  cli.log("lost %d\n", 1);
  cli.logRuler();
  EXPECT_EQ(Out(), "");
  EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(WrapperTest, SetLogFirstNamesTheFileInTheLogDirectoryAndLogsTheLabel) {
  cli.setLogFirst("Component.log", "Update from 1% to 2%s");
  EXPECT_EQ(cli.GetLogFile(), LogPath());
  EXPECT_EQ(Log(), "Update from 1% to 2%s\n");
}

TEST_F(WrapperTest, TheProductLogDirectoryIsVarQxc) {
  updater::reset_wrapper_state();  // the fixture's directory is gone again
  cli.setLogFirst("Component.log", std::string());
  EXPECT_EQ(cli.GetLogFile(), "/var/qxc/Component.log");
  cli.setLogFile(std::string());  // nothing is written there by this test
}

TEST_F(WrapperTest, LogAppendsEveryMessageAndLogAndPrintAlsoPrints) {
  NameLog();
  cli.log("one %s\n", "a");
  cli.logAndPrint("two %d\n", 2);
  cli.logRuler();
  EXPECT_EQ(Log(), "one a\ntwo 2\n" + std::string(70, '-') + "\n");
  EXPECT_EQ(Out(), "two 2\n");
  EXPECT_EQ(std::string(CLI::Ruler), std::string(70, '-'));
}

TEST_F(WrapperTest, UnopenableLogIsReportedOnceOnly) {
  const std::string path = m_dir.path() + "/missing/Component.log";
  cli.setLogFile(path);
  cli.log("first\n");
  cli.logAndPrint("second\n");
  cli.log("third\n");
  EXPECT_EQ(Out(), "Failed to open log file " + path +
                       " - No such file or directory\nsecond\n");
}

}  // namespace
}  // namespace updater_test
