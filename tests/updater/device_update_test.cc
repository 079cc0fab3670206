// The update run of one controller, its child process and its judgement.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "device_update.h"
#include "subprocess.h"
#include "test_support.h"
#include "updater.h"

namespace updater_test {
namespace {

using updater::searchfile;

struct NumberCase {
  const char* table;
  const char* for_c;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << '"' << c.table << "\" -> \"" << c.for_c << '"';
}

class ControllerNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ControllerNumber, IsPassedInTheFormDashCReads) {
  EXPECT_EQ(updater::controller_number_for_c(GetParam().table), GetParam().for_c);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControllerNumber,
    ::testing::Values(NumberCase{"00", "00"}, NumberCase{"05", "05"}, NumberCase{"09", "09"},
                      NumberCase{"10", "0A"}, NumberCase{"15", "0F"}, NumberCase{"16", "10"},
                      NumberCase{"99", "63"}, NumberCase{"100", "64"}, NumberCase{"255", "FF"},
                      NumberCase{"300", "12C"}, NumberCase{"4294967295", "4294967295"},
                      NumberCase{"", ""}, NumberCase{"1x", "1x"}, NumberCase{"-1", "-1"},
                      NumberCase{"0A", "0A"}));

TEST(SplitWords, BlanksAndTabsSeparateAndNothingElseIsInterpreted) {
  EXPECT_EQ(updater::split_words("fw.bin"), (std::vector<std::string>{"fw.bin"}));
  EXPECT_EQ(updater::split_words(""), (std::vector<std::string>{}));
  EXPECT_EQ(updater::split_words(" \t "), (std::vector<std::string>{}));
  EXPECT_EQ(updater::split_words("a  b\tc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(updater::split_words("x;y $(z) 'q' *.bin\r"),
            (std::vector<std::string>{"x;y", "$(z)", "'q'", "*.bin\r"}));
}

TEST_F(WrapperTest, SearchfileWithoutLoggingStopsAtTheLineAfterTheFirstMatch) {
  NameLog();
  FilePtr f = StreamOf("a\n\tERROR: one\nb\nERROR: two\n");
  EXPECT_TRUE(searchfile(f.get(), "ERROR", false));
  EXPECT_EQ(Out(), "match: \tERROR: one\n");
  EXPECT_EQ(Log(), "match: \tERROR: one\n");
}

TEST_F(WrapperTest, SearchfileWithLoggingEchoesAndLogsEveryLine) {
  NameLog();
  FilePtr f = StreamOf("a\n\tERROR: one\nb\n");
  EXPECT_TRUE(searchfile(f.get(), "ERROR", true));
  EXPECT_EQ(Out(), "Got: a\nGot: \tERROR: one\nmatch: \tERROR: one\nGot: b\n");
  EXPECT_EQ(Log(), " a\nmatch: \tERROR: one\n b\n");
}

TEST_F(WrapperTest, SearchfileIsCaseSensitiveAndCountsLinesAtDebugLevel2) {
  updater::debug = 2;
  FilePtr f = StreamOf("error\nErRoR\n");
  EXPECT_FALSE(searchfile(f.get(), "ERROR", false));
  EXPECT_EQ(Out(), "searchfile log: 0\n\nlines: 2\n");
}

TEST_F(WrapperTest, SearchfileWithoutAStream) {
  EXPECT_FALSE(searchfile(nullptr, "ERROR", true));
  EXPECT_EQ(Out(), "NULL file handle!!!\n");
}

// flash_HBA_device paths that end before a child is started.
class UpdateRunTest : public WrapperTest {
 protected:
  void SetUp() override {
    WrapperTest::SetUp();
    updater::gblCardCltn.count = 2;
    updater::gblCardCltn.cardInfo[0] = {"00", "Q520", "15.02.00.11\n", ""};
    updater::gblCardCltn.cardInfo[1] = {"01", "Q522", "15.02.00.11\n", ""};
    WriteFile(m_dir.file("firmware.cfg"), "Q520,15.02.00.11,fw.bin\n");
    updater::gcf.setFileName(m_dir.file("firmware.cfg"));
    ASSERT_TRUE(updater::gcf.Read());
  }
};

TEST_F(UpdateRunTest, NoEntryGives0AndPrintsOnlyTheEndOfLine) {
  EXPECT_EQ(updater::flash_HBA_device(1), 0);
  EXPECT_EQ(Out(), "\n");
  EXPECT_EQ(Err(), "");
}

TEST_F(UpdateRunTest, AnythingButYesGives5AndLogsNothing) {
  for (const char* answer : {"no\n", "\n", "all\n", "quit\n"}) {
    m_err.str("");
    updater::bQuit = false;
    SetInput(answer);
    EXPECT_EQ(updater::flash_HBA_device(0), 5) << answer;
    EXPECT_EQ(Err(), "Flash this device? [NO, yes, quit] ");
    EXPECT_EQ(updater::bQuit, std::string(answer) == "quit\n") << answer;
  }
  EXPECT_EQ(updater::cli.GetLogFile(), "");
  EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(UpdateRunTest, EqualVersionsAreAskedFirstThenNotFlashed) {
  SetInput("yes\n");
  EXPECT_EQ(updater::flash_HBA_device(0), 2);
  EXPECT_EQ(Out(), "\nNo devices updated.\n");
  EXPECT_EQ(Log(), "No Devices updated. Firmware versions are matching\n\n");
}

TEST_F(UpdateRunTest, SilentModeDoesNotAsk) {
  updater::bSilent = true;
  EXPECT_EQ(updater::flash_HBA_device(0), 2);
  EXPECT_EQ(Err(), "");
}

TEST_F(UpdateRunTest, DebugLevel2ShowsBothVersions) {
  updater::debug = 2;
  SetInput("no\n");
  EXPECT_EQ(updater::flash_HBA_device(0), 5);
  EXPECT_EQ(Out(), "\nOld FW version: 15.02.00.11\tNew FW version: 15.02.00.11\n");
}

TEST_F(UpdateRunTest, ConsoleFailureLeavesTheRun) {
  SetInput("");
  EXPECT_THROW(updater::flash_HBA_device(0), updater::ConsoleInputFailure);
}

// The child process layer.
TEST(ChildProcessTest, ReadsTheOutputAndTheExitStatus) {
  updater::ChildProcess child;
  ASSERT_EQ(child.start({"/bin/sh", "-c", "echo one; echo two; exit 3"}), 0);
  std::string line;
  ASSERT_TRUE(updater::read_piece(child.output(), line));
  EXPECT_EQ(line, "one\n");
  const updater::ChildExit ended = child.finish();
  EXPECT_TRUE(ended.started);
  EXPECT_TRUE(ended.exited);
  EXPECT_EQ(ended.status, 3);
  EXPECT_EQ(child.output(), nullptr);
}

TEST(ChildProcessTest, ArgumentsAreNotExpanded) {
  TempDir dir;
  updater::ChildProcess child;
  ASSERT_EQ(child.start({"/bin/echo", "$(touch " + dir.file("x") + ")", "*", ";", "|"}), 0);
  std::string line;
  ASSERT_TRUE(updater::read_piece(child.output(), line));
  EXPECT_EQ(line, "$(touch " + dir.file("x") + ") * ; |\n");
  child.finish();
  EXPECT_FALSE(FileExists(dir.file("x")));
}

TEST(ChildProcessTest, MissingProgramIsReportedByItsErrno) {
  TempDir dir;
  updater::ChildProcess child;
  EXPECT_EQ(child.start({dir.file("none")}), ENOENT);
  EXPECT_EQ(child.output(), nullptr);
  EXPECT_FALSE(child.finish().started);
}

TEST(ChildProcessTest, SignalIsReported) {
  updater::ChildProcess child;
  ASSERT_EQ(child.start({"/bin/sh", "-c", "kill -9 $$"}), 0);
  const updater::ChildExit ended = child.finish();
  EXPECT_TRUE(ended.started);
  EXPECT_FALSE(ended.exited);
  EXPECT_EQ(ended.status, SIGKILL);
}

TEST(ChildProcessTest, FinishReadsEverythingSoTheChildRunsToItsEnd) {
  TempDir dir;
  updater::ChildProcess child;
  // 200 KiB, far more than a pipe holds, then a marker.
  ASSERT_EQ(child.start({"/bin/sh", "-c",
                         "i=0; while [ $i -lt 4000 ]; do "
                         "echo 'filler line of about fifty characters.........'; "
                         "i=$((i+1)); done; echo done > " + dir.file("end")}),
            0);
  std::string line;
  ASSERT_TRUE(updater::read_piece(child.output(), line));
  const updater::ChildExit ended = child.finish();
  EXPECT_TRUE(ended.exited);
  EXPECT_EQ(ended.status, 0);
  EXPECT_EQ(ReadFile(dir.file("end")), "done\n");
}

TEST(ChildProcessTest, DestructorWaitsForTheChild) {
  TempDir dir;
  {
    updater::ChildProcess child;
    ASSERT_EQ(child.start({"/bin/sh", "-c", "sleep 0.2; echo done > " + dir.file("end")}), 0);
  }
  EXPECT_EQ(ReadFile(dir.file("end")), "done\n");
}

TEST(ReadPiece, CutsLongLinesAt511Characters) {
  FilePtr f = StreamOf(std::string(511, 'a') + "\n" + std::string(520, 'b') + "\nc");
  std::string line;
  ASSERT_TRUE(updater::read_piece(f.get(), line));
  EXPECT_EQ(line, std::string(511, 'a'));
  ASSERT_TRUE(updater::read_piece(f.get(), line));
  EXPECT_EQ(line, "\n");
  ASSERT_TRUE(updater::read_piece(f.get(), line));
  EXPECT_EQ(line, std::string(511, 'b'));
  ASSERT_TRUE(updater::read_piece(f.get(), line));
  EXPECT_EQ(line, std::string(9, 'b') + "\n");
  ASSERT_TRUE(updater::read_piece(f.get(), line));
  EXPECT_EQ(line, "c");
  EXPECT_FALSE(updater::read_piece(f.get(), line));
}

// burnkit_do_device_update against a stand-in in a private working directory.
class DeviceUpdateTest : public WrapperTest {
 protected:
  void SetUp() override {
    WrapperTest::SetUp();
    NameLog();
  }
  int Run(const std::string& script, const std::string& fname = "fw.bin", bool log = false) {
    WriteScript(m_dir.file("sasburn"), script);
    ScopedChdir here(m_dir.path());
    return updater::burnkit_do_device_update("sasburn", "10", "-f", fname, log, "Firmware");
  }
};

const char kSuccess[] =
    "\nSuccessfully updated.\nAs part of the reboot process, you must power cycle the server "
    "and any external array storage devices.\n\n";

TEST_F(DeviceUpdateTest, CleanRunIsSuccess) {
  EXPECT_EQ(Run("printf '%s\\n' \"$@\" > args; echo '\t\tFirmware Flash Successful!'\n"), 1);
  EXPECT_EQ(ReadFile(m_dir.file("args")), "-c\n0A\n-f\nfw.bin\n");
  EXPECT_EQ(Out(), kSuccess);
  EXPECT_EQ(Log(), kSuccess);
}

TEST_F(DeviceUpdateTest, ErrorLineIsFailure) {
  EXPECT_EQ(Run("echo '\t\tERROR: Firmware Image Validation Failed!'\n"), 7);
  EXPECT_EQ(Out(), "match: \t\tERROR: Firmware Image Validation Failed!\n");
  EXPECT_EQ(Log(), "match: \t\tERROR: Firmware Image Validation Failed!\nFirmware upgrade failed\n");
}

TEST_F(DeviceUpdateTest, NonZeroExitWithoutErrorLineIsFailure) {
  EXPECT_EQ(Run("echo '\t\tUnable to Process Commands.'; exit 1\n"), 7);
  EXPECT_EQ(Out(), "./sasburn ended with exit status 1\n");
  EXPECT_EQ(Log(), "./sasburn ended with exit status 1\nFirmware upgrade failed\n");
}

TEST_F(DeviceUpdateTest, DeathBySignalIsFailure) {
  EXPECT_EQ(Run("kill -9 $$\n"), 7);
  EXPECT_EQ(Out(), "./sasburn was ended by signal 9\n");
}

TEST_F(DeviceUpdateTest, ProgramThatCannotStartIsFailure) {
  ScopedChdir here(m_dir.path());  // no ./sasburn here
  EXPECT_EQ(updater::burnkit_do_device_update("sasburn", "00", "-f", "fw.bin", false, "Firmware"),
            7);
  EXPECT_EQ(Out(), "process open failed\nNULL file handle!!!\n");
  EXPECT_EQ(Err(), "updater: cannot start ./sasburn: No such file or directory\n");
  EXPECT_EQ(Log(), "Firmware upgrade failed\n");
}

TEST_F(DeviceUpdateTest, ImageFieldIsSplitIntoWordsAndNeverExpanded) {
  EXPECT_EQ(Run("printf '<%s>\\n' \"$@\" > args\n", "a.bin;touch${IFS}p $(touch q)\t|r *"), 1);
  EXPECT_EQ(ReadFile(m_dir.file("args")),
            "<-c>\n<0A>\n<-f>\n<a.bin;touch${IFS}p>\n<$(touch>\n<q)>\n<|r>\n<*>\n");
  EXPECT_FALSE(FileExists(m_dir.file("p")));
  EXPECT_FALSE(FileExists(m_dir.file("q")));
}

TEST_F(DeviceUpdateTest, DebugTraceShowsTheCommandAsText) {
  updater::debug = 2;
  EXPECT_EQ(Run("exit 0\n", "fw.bin -force"), 1);
  EXPECT_EQ(Out().substr(0, 50), "Executing: ./sasburn -c 0A -f fw.bin -force\nsearch");
}

}  // namespace
}  // namespace updater_test
