// The command line of the wrapper (CommandOptions) and the checks main makes
// before discovery.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "updater.h"

namespace updater_test {
namespace {

using updater::copt;

const char kUsage[] =
    "Usage:\n"
    "   /b debug_level \tRamps up the debugging\n"
    "   /c             \tFlash controller\n"
    "   /d xmlname     \tList controllers\n"
    "   /l             \tLog utility output\n"
    "   /t model       \tSpecifies an applicable controller model\n";

TEST_F(WrapperTest, StartsWithEveryFlagClear) {
  EXPECT_EQ(Parse({}), 1);
  EXPECT_FALSE(copt.GetFlashing());
  EXPECT_FALSE(copt.GetDiscoveryMode());
  EXPECT_FALSE(copt.GetSilentMode());
  EXPECT_FALSE(copt.GetForceMode());
  EXPECT_FALSE(copt.GetConfigFileMode());
  EXPECT_FALSE(copt.GetLogging());
  EXPECT_EQ(copt.GetTagCount(), 0);
  EXPECT_STREQ(copt.GetXMLFile(), "");
  EXPECT_FALSE(copt.GetArgError());
}

TEST_F(WrapperTest, SlashAndDashFormsSetTheFlags) {
  EXPECT_EQ(Parse({"/s", "-f", "/c", "-l"}), 1);
  EXPECT_TRUE(copt.GetSilentMode());
  EXPECT_TRUE(copt.GetForceMode());
  EXPECT_TRUE(copt.GetFlashing());
  EXPECT_TRUE(copt.GetConfigFileMode());
  EXPECT_TRUE(copt.GetLogging());
  updater::reset_wrapper_state();
  EXPECT_EQ(Parse({"-s", "/f", "-c", "/l"}), 1);
  EXPECT_TRUE(copt.GetSilentMode() && copt.GetForceMode() && copt.GetFlashing() &&
              copt.GetLogging());
  copt.ClearFlashing();
  EXPECT_FALSE(copt.GetFlashing());
  EXPECT_TRUE(copt.GetConfigFileMode());
}

TEST_F(WrapperTest, UnknownArgumentsChangeNothing) {
  EXPECT_EQ(Parse({"c", "/C", "--c", "/x", "-b", "3", "/cl"}), 1);
  EXPECT_FALSE(copt.GetFlashing());
  EXPECT_FALSE(copt.GetLogging());
  EXPECT_FALSE(copt.GetArgError());
}

TEST_F(WrapperTest, DebugLevelIsDecimalAndTheLastWins) {
  EXPECT_EQ(Parse({"/b", "2"}), 2);
  EXPECT_EQ(Parse({"/b", "7", "/b", "3"}), 3);
  EXPECT_EQ(Parse({"/b", "word"}), 0);
  EXPECT_EQ(Parse({"/b", "12abc"}), 12);
  EXPECT_EQ(Parse({"/b", "0x10"}), 0);
  EXPECT_EQ(Parse({"/b", "-4"}), -4);
  EXPECT_EQ(Parse({"/b", "99999999999999999999"}), 2147483647);
}

TEST_F(WrapperTest, XmlNameSetsDiscoveryModeAndLeavesTheDebugLevel) {
  EXPECT_EQ(Parse({"/d", "12.xml"}), 1);
  EXPECT_TRUE(copt.GetDiscoveryMode());
  EXPECT_STREQ(copt.GetXMLFile(), "12.xml");
  EXPECT_EQ(Parse({"-d", "a.xml", "/d", "b.xml"}), 1);
  EXPECT_STREQ(copt.GetXMLFile(), "b.xml");
}

TEST_F(WrapperTest, ModelsGoToTheUserList) {
  Parse({"/t", "Q520", "-t", "/c"});
  EXPECT_EQ(copt.GetTagCount(), 2);
  EXPECT_EQ(updater::userlist.list(), (updater::BoardList{"Q520", "/c"}));
  EXPECT_FALSE(copt.GetFlashing());  // "/c" was the value of "-t"
}

TEST_F(WrapperTest, ValueOptionAsLastArgumentIsAnArgumentError) {
  for (const char* option : {"/t", "-t", "/d", "-d", "/b"}) {
    updater::reset_wrapper_state();
    Parse({"/c", option});
    EXPECT_TRUE(copt.GetArgError()) << option;
  }
}

TEST_F(WrapperTest, XmlNameOf250CharactersIsAnArgumentError) {
  const std::string fits(249, 'x');
  Parse({"/d", fits});
  EXPECT_FALSE(copt.GetArgError());
  EXPECT_EQ(std::string(copt.GetXMLFile()), fits);
  updater::reset_wrapper_state();
  Parse({"/d", std::string(250, 'x')});
  EXPECT_TRUE(copt.GetArgError());
}

TEST_F(WrapperTest, UsageGoesToStandardError) {
  copt.Usage();
  EXPECT_EQ(Err(), kUsage);
  EXPECT_EQ(Out(), "");
}

int Main(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return updater::updater_main(static_cast<int>(words.size()), argv.data());
}

TEST_F(WrapperTest, MainWithoutArgumentsPrintsUsageAndGives255) {
  EXPECT_EQ(Main({"updater"}), 255);
  EXPECT_EQ(Err(), kUsage);
}

TEST_F(WrapperTest, MainWithAnArgumentErrorPrintsUsageBeforeDiscovery) {
  TempDir empty;
  ScopedChdir here(empty.path());  // no ./sasburn: discovery would print
  EXPECT_EQ(Main({"updater", "/c", "/b"}), 255);
  EXPECT_EQ(Err(), kUsage);
  EXPECT_EQ(Out(), "");
}

TEST_F(WrapperTest, MainWithoutSasburnFindsNoController) {
  TempDir empty;
  ScopedChdir here(empty.path());
  EXPECT_EQ(Main({"updater", "/c"}), 3);
  EXPECT_EQ(Out(), "process open failed\n");
  EXPECT_EQ(Err(), "updater: cannot start ./sasburn: No such file or directory\n");
}

}  // namespace
}  // namespace updater_test
