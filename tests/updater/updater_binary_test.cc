// End-to-end tests of the updater binary.
//
// Each test gets a working directory with a stand-in ./sasburn script that
// records its argument vector in calls.txt and prints a prepared output:
// listing.txt for "-listall", otherwise flash_<number>.txt or flash.txt;
// an optional <name>.sh is sourced after the text is printed and <name>.rc
// holds the exit status.  The binary runs in a private mount namespace in
// which the test's own directory var/ is bound over /var, so the fixed log
// path /var/qxc/Component.log lands in var/qxc/ of the test, never on the
// machine.  When no mount namespace can be made the tests are skipped.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

#ifndef UPDATER_BINARY
#error "UPDATER_BINARY must name the updater program"
#endif

namespace updater_test {
namespace {

const char kUsage[] =
    "Usage:\n"
    "   /b debug_level \tRamps up the debugging\n"
    "   /c             \tFlash controller\n"
    "   /d xmlname     \tList controllers\n"
    "   /l             \tLog utility output\n"
    "   /t model       \tSpecifies an applicable controller model\n";
const char kQuestion[] = "Flash this device? [NO, yes, quit] ";
const char kSuccess[] =
    "\nSuccessfully updated.\nAs part of the reboot process, you must power cycle the server "
    "and any external array storage devices.\n\n";
const char kFlashOk[] =
    "\n\tExecuting Operation: Flash Firmware Image\n\n"
    "\t\tFirmware Flash Successful!\n\n"
    "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";

const char kStandIn[] =
    "# Stand-in for sasburn: records its arguments, prints a prepared output.\n"
    "{ printf 'argv:'; for a in \"$@\"; do printf ' <%s>' \"$a\"; done; printf '\\n'; }"
    " >> calls.txt\n"
    "if [ \"$1\" = \"-listall\" ]; then name=listing; else\n"
    "  name=\"flash_$2\"\n"
    "  [ -e \"$name.txt\" ] || [ -e \"$name.sh\" ] || [ -e \"$name.rc\" ] || name=flash\n"
    "fi\n"
    "[ -f \"$name.txt\" ] && cat \"$name.txt\"\n"
    "[ -f \"$name.sh\" ] && . \"./$name.sh\"\n"
    "exit \"$(cat \"$name.rc\" 2>/dev/null || echo 0)\"\n";

enum class Input { kText, kDevNull, kClosed };

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Child side of a run: enter a private mount namespace, bind var over /var.
// Returns false (errno set) when that cannot be done.  Nothing is mounted
// before the whole tree is private, so nothing can reach the machine's
// namespace.
bool EnterPrivateVar(const std::string& var) {
  if (::unshare(CLONE_NEWNS) != 0) return false;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  if (::mount(var.c_str(), "/var", nullptr, MS_BIND, nullptr) != 0) return false;
  return true;
}

int WaitWithTimeout(pid_t pid, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "updater did not end within " << seconds << " s";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class UpdaterBinary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TempDir probe;
    ::mkdir(probe.file("var").c_str(), 0755);
    WriteFile(probe.file("var/probe"), "");
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (!EnterPrivateVar(probe.file("var"))) ::_exit(10 + (errno & 0x7f) % 100);
      ::_exit(::access("/var/probe", F_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    s_namespace_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!s_namespace_ok) {
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      s_reason = code >= 10 ? std::string("cannot make a private mount namespace with /var "
                                          "bound to a test directory (unshare/mount: ") +
                                  std::strerror(code - 10) + ")"
                            : "the bind mount over /var did not take effect";
    }
  }

  void SetUp() override {
    if (!s_namespace_ok) GTEST_SKIP() << s_reason << "; /var/qxc is a fixed path that the "
                                         "tests must not touch on the machine itself";
    ASSERT_EQ(::mkdir(m_dir.file("var").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(m_dir.file("var/qxc").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(m_dir.file("work").c_str(), 0755), 0);
    WriteScript(Work("sasburn"), kStandIn);
  }

  std::string Work(const std::string& name) const { return m_dir.file("work/" + name); }
  void Put(const std::string& name, const std::string& text) { WriteFile(Work(name), text); }
  void Listing(const std::vector<Row>& rows) { Put("listing.txt", updater_test::Listing(rows)); }
  void Config(const std::string& text) { Put("firmware.cfg", text); }
  std::string Log() const { return ReadFile(m_dir.file("var/qxc/Component.log")); }
  std::string Calls() const { return ReadFile(Work("calls.txt")); }

  Result Run(const std::vector<std::string>& args, const std::string& input = "",
             Input mode = Input::kText) {
    Result result;
    Put("stdin.txt", input);
    std::vector<std::string> words = {UPDATER_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string work = m_dir.file("work");
    const std::string var = m_dir.file("var");
    const std::string out = m_dir.file("stdout.txt");
    const std::string err = m_dir.file("stderr.txt");
    const std::string in = Work("stdin.txt");

    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in_fd = mode == Input::kText      ? ::open(in.c_str(), O_RDONLY)
                        : mode == Input::kDevNull ? ::open("/dev/null", O_RDONLY)
                                                  : -1;
      if (out_fd < 0 || err_fd < 0 || (mode != Input::kClosed && in_fd < 0)) ::_exit(124);
      if (::chdir(work.c_str()) != 0) ::_exit(124);
      if (!EnterPrivateVar(var)) ::_exit(125);
      if (mode == Input::kClosed)
        ::close(STDIN_FILENO);
      else
        ::dup2(in_fd, STDIN_FILENO);
      ::dup2(out_fd, STDOUT_FILENO);
      ::dup2(err_fd, STDERR_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(126);
    }
    const int status = WaitWithTimeout(pid, 60);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    EXPECT_TRUE(result.status < 124 || result.status > 126 || result.status == 255)
        << "the test could not start updater: " << result.status;
    return result;
  }

  static bool s_namespace_ok;
  static std::string s_reason;
  TempDir m_dir;
};

bool UpdaterBinary::s_namespace_ok = false;
std::string UpdaterBinary::s_reason;

const char kListall[] = "argv: <-listall>\n";

// --- status 255 ---------------------------------------------------------

TEST_F(UpdaterBinary, NoArgumentsPrintsTheUsageAndEndsWith255) {
  const Result r = Run({});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Calls(), "");
}

TEST_F(UpdaterBinary, ValueOptionAsLastArgumentEndsWith255BeforeDiscovery) {
  for (const char* option : {"/t", "/d", "/b", "-t", "-d"}) {
    const Result r = Run({"/c", option});
    EXPECT_EQ(r.status, 255) << option;
    EXPECT_EQ(r.err, kUsage) << option;
  }
  EXPECT_EQ(Calls(), "");
}

TEST_F(UpdaterBinary, XmlNameOf250CharactersEndsWith255And249IsAccepted) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c", "/d", std::string(250, 'x')});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kUsage);
  EXPECT_EQ(Calls(), "");
  const std::string name(249, 'x');
  EXPECT_EQ(Run({"/c", "/d", name}).status, 3);
  EXPECT_TRUE(FileExists(Work(name)));
}

// --- status 0 -------------------------------------------------------------

TEST_F(UpdaterBinary, WithoutConfigOptionNothingIsHandledAndTheStatusIs0) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/d", "out.xml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Calls(), kListall);
  EXPECT_FALSE(FileExists(Work("out.xml")));
}

TEST_F(UpdaterBinary, MissingConfigFileOrNoEntryGives0) {
  Listing({{0, "Q520", "15.02.00.11"}});
  EXPECT_EQ(Run({"/c"}).status, 0);
  Config("# only a comment\nQ522,1,fw.bin\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Calls(), std::string(kListall) + kListall);
}

// --- status 1 -------------------------------------------------------------

TEST_F(UpdaterBinary, SilentUpdateSucceedsWith1) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520, 15.02.00.12, fw.bin\n");
  Put("flash.txt", kFlashOk);
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("\nNOTE: this takes some seconds\n") + kSuccess);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Calls(), std::string(kListall) + "argv: <-c> <00> <-f> <fw.bin>\n");
  EXPECT_EQ(Log(), std::string("Update from 15.02.00.11 to 15.02.00.12\n") + kSuccess);
}

TEST_F(UpdaterBinary, OperatorIsAskedAndYesFlashes) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c"}, "yes\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kQuestion);
  EXPECT_EQ(Calls(), std::string(kListall) + "argv: <-c> <00> <-f> <fw.bin>\n");
}

// --- status 2 -------------------------------------------------------------

TEST_F(UpdaterBinary, EqualVersionsAreNotFlashedAndGive2) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.11,fw.bin\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "\nNo devices updated.\n");
  EXPECT_EQ(Calls(), kListall);
  EXPECT_EQ(Log(), "No Devices updated. Firmware versions are matching\n\n");
}

TEST_F(UpdaterBinary, ForceFlashesEqualVersions) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.11,fw.bin\n");
  EXPECT_EQ(Run({"/c", "/s", "/f"}).status, 1);
  EXPECT_EQ(Calls(), std::string(kListall) + "argv: <-c> <00> <-f> <fw.bin>\n");
}

// --- status 3 -------------------------------------------------------------

TEST_F(UpdaterBinary, NoSupportedControllerGives3) {
  Listing({{0, "X900", "15.02.00.11"}});
  Config("X900,1,fw.bin\n");
  EXPECT_EQ(Run({"/c", "/s"}).status, 3);
  EXPECT_EQ(Calls(), kListall);
}

TEST_F(UpdaterBinary, MissingSasburnGives3) {
  ASSERT_EQ(::unlink(Work("sasburn").c_str()), 0);
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "process open failed\n");
  EXPECT_EQ(r.err, "updater: cannot start ./sasburn: No such file or directory\n");
}

std::string Document(const std::string& board, const std::string& version) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<qx_rom_discovery version=\"2.0.0.0\">\n"
         "<alt_name value=\"Firmware Flash for Norvane controllers\"/>\n"
         "<devices>\n"
         "<Ctlr value=\"" + board + "\"/>\n"
         "<fw_item>\n"
         "<fw_version value=\"" + version + "\"/>\n"
         "</fw_item>\n"
         "</devices>\n"
         "</qx_rom_discovery>\n";
}

TEST_F(UpdaterBinary, DiscoveryXmlIsWrittenPerConfiguredControllerAndNothingIsFlashed) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "01.00.00.00"}, {2, "Q522", "02.00.00.00"}});
  Config("Q520,15.02.00.12,fw.bin\nQ522,1,fw.bin\n");
  const Result r = Run({"/c", "/s", "/d", "out.xml"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Calls(), kListall);
  EXPECT_EQ(ReadFile(Work("out.xml")),
            Document("Q520", "15.02.00.11") + Document("Q522", "02.00.00.00"));
  EXPECT_EQ(Log(), "");  // a discovery run names no log file
}

// --- status 4 -------------------------------------------------------------

TEST_F(UpdaterBinary, ConsoleInputFailureEndsWith4AndFlashesNothingAfterIt) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\n");
  struct Case {
    Input mode;
    std::string input;
  };
  for (const Case& c : {Case{Input::kClosed, ""}, Case{Input::kDevNull, ""},
                        Case{Input::kText, ""}, Case{Input::kText, "maybe\n"},
                        Case{Input::kText, "no\nyes"}, Case{Input::kText, std::string(300, 'y')}}) {
    ::unlink(Work("calls.txt").c_str());
    const Result r = Run({"/c"}, c.input, c.mode);
    EXPECT_EQ(r.status, 4) << c.input;
    const std::string tail = "updater: console input failure\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    EXPECT_EQ(Calls(), kListall) << c.input;
  }
  EXPECT_EQ(Log(), "");
}

// --- status 5 -------------------------------------------------------------

TEST_F(UpdaterBinary, AnswerNoGives5AndTheNextControllerIsStillAsked) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\n");
  Result r = Run({"/c"}, "no\nyes\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kQuestion) + kQuestion);
  EXPECT_EQ(Calls(), std::string(kListall) + "argv: <-c> <01> <-f> <fw.bin>\n");
  ::unlink(Work("calls.txt").c_str());
  r = Run({"/c"}, "yes\nn\n");
  EXPECT_EQ(r.status, 5);  // the status of the last controller handled
  EXPECT_EQ(Calls(), std::string(kListall) + "argv: <-c> <00> <-f> <fw.bin>\n");
}

TEST_F(UpdaterBinary, AllAnswersLikeNoForThisControllerOnly) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c"}, "all\nno\n");
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, std::string(kQuestion) + kQuestion);
  EXPECT_EQ(Calls(), kListall);
}

TEST_F(UpdaterBinary, QuitEndsTheControllerLoopWith5) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c"}, "quit\nyes\n");
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, kQuestion);  // the second controller is not asked
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(Calls(), kListall);
  EXPECT_EQ(Log(), "");
}

TEST_F(UpdaterBinary, HelpAtTheQuestionIsShownAndAskedAgain) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c"}, "?\nwhat\nq\n");
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, std::string(kQuestion) +
                       "   yes   Update this device\n"
                       "   no    Do not update this device (default)\n"
                       "   quit  Do not update any renmaining devices\n"
                       "   help  This text\n" +
                       kQuestion + "Unrecognized input.\n" + kQuestion);
}

// --- status 7 -------------------------------------------------------------

TEST_F(UpdaterBinary, ErrorLineGives7) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.txt",
      "\n\tExecuting Operation: Flash Firmware Image\n\n"
      "\t\tERROR: Firmware Image Validation Failed!\n\n"
      "\tDue to error remaining commands will not be executed.\n"
      "\tUnable to Process Commands.\n\tExiting sasburn.\n\n");
  Put("flash.rc", "1\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "\nNOTE: this takes some seconds\n"
                   "match: \t\tERROR: Firmware Image Validation Failed!\n");
  EXPECT_EQ(Log(), "Update from 15.02.00.11 to 15.02.00.12\n"
                   "match: \t\tERROR: Firmware Image Validation Failed!\n"
                   "Firmware upgrade failed\n");
}

// Mended fault 1: a failure without an "ERROR" line is still a failure.
TEST_F(UpdaterBinary, NonZeroExitWithoutErrorLineGives7) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.txt", "\t\tNVDATA Vendor/Product match FAILED.\n\tUnable to Process Commands.\n");
  Put("flash.rc", "1\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "\nNOTE: this takes some seconds\n./sasburn ended with exit status 1\n");
  EXPECT_EQ(r.out.find("Successfully updated."), std::string::npos);
  EXPECT_EQ(Log(), "Update from 15.02.00.11 to 15.02.00.12\n"
                   "./sasburn ended with exit status 1\n"
                   "Firmware upgrade failed\n");
}

TEST_F(UpdaterBinary, SasburnKilledBySignalGives7) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.sh", "kill -9 $$\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 7);
  EXPECT_NE(r.out.find("./sasburn was ended by signal 9\n"), std::string::npos);
}

TEST_F(UpdaterBinary, SasburnMissingAtTheFlashGives7NotSuccess) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("listing.sh", "rm -f ./sasburn\n");  // gone once the listing is printed
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "\nNOTE: this takes some seconds\nprocess open failed\nNULL file handle!!!\n");
  EXPECT_EQ(r.err, "updater: cannot start ./sasburn: No such file or directory\n");
  EXPECT_EQ(Log(), "Update from 15.02.00.11 to 15.02.00.12\nFirmware upgrade failed\n");
}

TEST_F(UpdaterBinary, StatusIsThatOfTheLastControllerHandled) {
  Listing({{0, "Q520", "15.02.00.11"}, {1, "Q521", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\n");
  Put("flash_00.txt", "\t\tERROR: Failed to Download Image!\n");
  Put("flash_01.txt", kFlashOk);
  EXPECT_EQ(Run({"/c", "/s"}).status, 1);
  ::unlink(Work("flash_00.txt").c_str());
  Put("flash_01.txt", "\t\tERROR: Failed to Download Image!\n");
  EXPECT_EQ(Run({"/c", "/s"}).status, 7);
}

// --- status 8 -------------------------------------------------------------

TEST_F(UpdaterBinary, UnopenableXmlFileGives8) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c", "/d", "no/such/dir/out.xml"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(Calls(), kListall);
}

// --- "/l" -------------------------------------------------------------------

TEST_F(UpdaterBinary, LogOptionEchoesAndLogsTheWholeFlashOutput) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.txt", "\tstep one\n\t\tERROR: Failed to Download Image!\n\tafter\n");
  const Result r = Run({"/c", "/s", "/l"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "\nNOTE: this takes some seconds\n"
                   "Got: \tstep one\n"
                   "Got: \t\tERROR: Failed to Download Image!\n"
                   "match: \t\tERROR: Failed to Download Image!\n"
                   "Got: \tafter\n");
  EXPECT_EQ(Log(), "Update from 15.02.00.11 to 15.02.00.12\n"
                   " \tstep one\n"
                   "match: \t\tERROR: Failed to Download Image!\n"
                   " \tafter\n"
                   "Firmware upgrade failed\n");
}

TEST_F(UpdaterBinary, LogOptionOnASuccessfulFlash) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.txt", "\t\tFirmware Flash Successful!\n");
  const Result r = Run({"/c", "/s", "/l"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("\nNOTE: this takes some seconds\n"
                               "Got: \t\tFirmware Flash Successful!\n") + kSuccess);
  EXPECT_EQ(Log(), std::string("Update from 15.02.00.11 to 15.02.00.12\n"
                               " \t\tFirmware Flash Successful!\n") + kSuccess);
}

TEST_F(UpdaterBinary, UnwritableLogDirectoryIsReportedOnce) {
  ASSERT_EQ(::rmdir(m_dir.file("var/qxc").c_str()), 0);
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("\nNOTE: this takes some seconds\n"
                               "Failed to open log file /var/qxc/Component.log - "
                               "No such file or directory\n") + kSuccess);
}

TEST_F(UpdaterBinary, DebugLevel2ShowsTheCommandsAsText) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin -force\n");
  const Result r = Run({"/c", "/s", "/b", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(0, 31), "Executing \"./sasburn -listall\"\n");
  EXPECT_NE(r.out.find("Executing: ./sasburn -c 00 -f fw.bin -force\n"), std::string::npos);
  EXPECT_NE(Log().find("Device update returns 1\n"), std::string::npos);
}

// Mended fault 2: no shell, the image field split into literal words.
TEST_F(UpdaterBinary, ImageFieldIsPassedAsLiteralWordsWithoutAShell) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin;touch${IFS}pwned $(touch pwned2) `touch pwned3` | *.txt\n");
  EXPECT_EQ(Run({"/c", "/s"}).status, 1);
  EXPECT_EQ(Calls(), std::string(kListall) +
                         "argv: <-c> <00> <-f> <fw.bin;touch${IFS}pwned> <$(touch> <pwned2)> "
                         "<`touch> <pwned3`> <|> <*.txt>\n");
  for (const char* name : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(FileExists(Work(name)));
}

// Mended fault 3: the output is read to its end and the child waited for.
TEST_F(UpdaterBinary, FlashRunsToItsEndAfterTheStopPoint) {
  Listing({{0, "Q520", "15.02.00.11"}});
  Config("Q520,15.02.00.12,fw.bin\n");
  Put("flash.txt", "\t\tERROR: first\n");
  // Far more than a pipe holds after the error line, then a marker.
  Put("flash.sh",
      "i=0; while [ $i -lt 4000 ]; do echo \"after $i ERROR\"; i=$((i+1)); done\n"
      "sleep 0.2; echo done > finished.txt\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(ReadFile(Work("finished.txt")), "done\n");
  EXPECT_EQ(r.out, "\nNOTE: this takes some seconds\nmatch: \t\tERROR: first\n");
  EXPECT_EQ(Log(), "Update from 15.02.00.11 to 15.02.00.12\nmatch: \t\tERROR: first\n"
                   "Firmware upgrade failed\n");
}

TEST_F(UpdaterBinary, DiscoveryWaitsForTheListingToEnd) {
  std::vector<Row> rows;
  Put("listing.txt", "\t00    Q520               15.02.00.11\n\tERROR: x\n");
  Put("listing.sh",
      "i=0; while [ $i -lt 4000 ]; do echo \"\t0$i Q521 1\"; i=$((i+1)); done\n"
      "echo done > finished.txt\n");
  Config("Q520,15.02.00.11,fw.bin\nQ521,1,fw.bin\n");
  const Result r = Run({"/c", "/s"});
  EXPECT_EQ(r.status, 2);  // only the row before the error line was taken
  EXPECT_EQ(ReadFile(Work("finished.txt")), "done\n");
  EXPECT_EQ(r.out, "match: \tERROR: x\n\nNo devices updated.\n");
}

// Mended fault 4: the controller number in the form "-c" reads.
TEST_F(UpdaterBinary, ControllerNumbersArePassedInHexadecimal) {
  std::vector<Row> rows;
  for (int i = 0; i < 10; ++i) rows.push_back({i, i == 5 ? "Q522" : "X900", "15.02.00.11"});
  rows.push_back({10, "Q520", "15.02.00.11"});
  rows.push_back({12, "Q521", "15.02.00.11"});
  Listing(rows);
  Config("Q520,15.02.00.12,fw.bin\nQ521,15.02.00.12,fw.bin\nQ522,15.02.00.12,fw.bin\n");
  EXPECT_EQ(Run({"/c", "/s"}).status, 1);
  EXPECT_EQ(Calls(), std::string(kListall) +
                         "argv: <-c> <05> <-f> <fw.bin>\n"
                         "argv: <-c> <0A> <-f> <fw.bin>\n"
                         "argv: <-c> <0C> <-f> <fw.bin>\n");
}

// Mended fault 5: values in the discovery XML are escaped.
TEST_F(UpdaterBinary, DiscoveryXmlValuesAreEscaped) {
  Put("listing.txt", "\t00    Q520<x>&\"'          15.02&<00>\n");
  Config("Q520<x>&\"',1,fw.bin\n");
  EXPECT_EQ(Run({"/c", "/d", "out.xml"}).status, 3);
  EXPECT_EQ(ReadFile(Work("out.xml")),
            Document("Q520&lt;x&gt;&amp;&quot;&apos;", "15.02&amp;&lt;00&gt;"));
}

}  // namespace
}  // namespace updater_test
