// trim, the model lists and "firmware.cfg".
#include <gtest/gtest.h>

#include <string>

#include "flash_config_lst.h"
#include "rampart_lst.h"
#include "test_support.h"
#include "updater.h"

namespace updater_test {
namespace {

using updater::FlashConfig;
using updater::FlashConfigLst;
using updater::RampartLst;

struct TrimCase {
  std::string in;
  std::string out;
};

void PrintTo(const TrimCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.in) << " -> " << ::testing::PrintToString(c.out);
}

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, SpacesThenTabs) { EXPECT_EQ(updater::trim(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimTest,
    ::testing::Values(TrimCase{"", ""}, TrimCase{"    ", ""}, TrimCase{"\t\t", ""},
                      TrimCase{"  Q520  ", "Q520"}, TrimCase{"\tQ520\t", "Q520"},
                      TrimCase{" \tQ520\t ", "Q520"},
                      // The space under the tab becomes outermost only after
                      // the tab pass, and stays.
                      TrimCase{"\t word", " word"}, TrimCase{"word \t", "word "},
                      TrimCase{" a b ", "a b"}, TrimCase{"x\r", "x\r"},
                      TrimCase{"15.02.00.11\n", "15.02.00.11\n"},
                      TrimCase{"\n ", "\n"}));

TEST(TrimDelim, RemovesOnlyThatCharacter) {
  std::string text = "xxabcxx";
  updater::trim(text, 'x');
  EXPECT_EQ(text, "abc");
  text = "xxxx";
  updater::trim(text, 'x');
  EXPECT_EQ(text, "");
  text = " a ";
  updater::trim(text, '\t');
  EXPECT_EQ(text, " a ");
}

TEST(RampartLstTest, PrefixRule) {
  const RampartLst models;
  for (const char* yes : {"Q520", "Q521", "Q522", "Q510i", "Q520i", "Q521-8e", "Q520XYZ"})
    EXPECT_TRUE(models.isMember(yes)) << yes;
  for (const char* no : {"", "Q51", "Q510", "Q52", "q520", "Q523", "XQ520", " Q520"})
    EXPECT_FALSE(models.isMember(no)) << no;
}

TEST(RampartLstTest, CleanEmptiesTheList) {
  RampartLst models;
  models.Clean();
  EXPECT_FALSE(models.isMember("Q520"));
}

TEST(DeviceLstTest, KeepsInsertionOrder) {
  updater::DeviceLst list;
  list.add("Q522");
  list.add("Q510i");
  EXPECT_EQ(list.list(), (updater::BoardList{"Q522", "Q510i"}));
  list.Clean();
  EXPECT_TRUE(list.list().empty());
}

class FlashConfigTest : public ::testing::Test {
 protected:
  FlashConfigLst& Load(const std::string& content) {
    WriteFile(m_dir.file("firmware.cfg"), content);
    m_cfg.setFileName(m_dir.file("firmware.cfg"));
    EXPECT_TRUE(m_cfg.Read());
    return m_cfg;
  }
  std::vector<FlashConfig> Entries() const {
    return std::vector<FlashConfig>(m_cfg.entries().begin(), m_cfg.entries().end());
  }
  TempDir m_dir;
  FlashConfigLst m_cfg;
};

void ExpectEntry(const FlashConfig& e, const std::string& board, const std::string& version,
                 const std::string& file) {
  EXPECT_EQ(e.BoardName, board);
  EXPECT_EQ(e.FWVersion, version);
  EXPECT_EQ(e.FWFileName, file);
}

TEST_F(FlashConfigTest, DefaultFileNameIsFirmwareCfgInTheWorkingDirectory) {
  FlashConfigLst cfg;
  {
    ScopedChdir here(m_dir.path());
    EXPECT_FALSE(cfg.Read());
    WriteFile("firmware.cfg", "Q520,1,fw.bin");
    EXPECT_TRUE(cfg.Read());
  }
  ASSERT_NE(cfg.Get("Q520"), nullptr);
  EXPECT_EQ(cfg.Get("Q520")->FWFileName, "fw.bin");
}

TEST_F(FlashConfigTest, MissingFileReadsFalseAndLeavesTheListEmpty) {
  m_cfg.setFileName(m_dir.file("none.cfg"));
  EXPECT_FALSE(m_cfg.Read());
  EXPECT_TRUE(m_cfg.entries().empty());
  EXPECT_EQ(m_cfg.Get("Q520"), nullptr);
}

TEST_F(FlashConfigTest, FieldsAreTrimmedCommentsSkippedLastEmptyLineIsAnEntry) {
  Load("# comment\n"
       "  \t# indented comment\n"
       " Q520 ,\t15.02.00.12\t, fw 520.bin \n"
       "Q521\n"
       "Q522,1.2.3.4,a.bin,extra,more\n"
       ",,\n"
       "Q510i,01.00.00.00,fw.bin\r\n");
  const auto e = Entries();
  ASSERT_EQ(e.size(), 6u);
  ExpectEntry(e[0], "Q520", "15.02.00.12", "fw 520.bin");
  ExpectEntry(e[1], "Q521", "", "");
  ExpectEntry(e[2], "Q522", "1.2.3.4", "a.bin");
  ExpectEntry(e[3], "", "", "");
  ExpectEntry(e[4], "Q510i", "01.00.00.00", "fw.bin\r");  // carriage return kept
  ExpectEntry(e[5], "", "", "");                          // after the last line feed
}

TEST_F(FlashConfigTest, NoLineFeedAtTheEndGivesNoEmptyEntry) {
  Load("Q520,1,a");
  const auto e = Entries();
  ASSERT_EQ(e.size(), 1u);
  ExpectEntry(e[0], "Q520", "1", "a");
}

TEST_F(FlashConfigTest, EmptyFileGivesOneEmptyEntry) {
  Load("");
  ASSERT_EQ(Entries().size(), 1u);
  ExpectEntry(Entries()[0], "", "", "");
}

TEST_F(FlashConfigTest, GetTrimsTheNameAndTheFirstLineWins) {
  Load("Q520,1,first.bin\nQ520,2,second.bin\nQ520i,3,i.bin\n");
  const FlashConfig* e = m_cfg.Get(" \tQ520\t ");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->FWFileName, "first.bin");
  ASSERT_NE(m_cfg.Get("Q520i"), nullptr);
  EXPECT_EQ(m_cfg.Get("Q520i")->FWVersion, "3");
  EXPECT_EQ(m_cfg.Get("q520"), nullptr);  // case-sensitive
  EXPECT_EQ(m_cfg.Get("Q52"), nullptr);   // whole string
  EXPECT_EQ(m_cfg.Get("Q521"), nullptr);
}

TEST_F(FlashConfigTest, ReadingADirectoryEndsInsteadOfLooping) {
  m_cfg.setFileName(m_dir.path());
  m_cfg.Read();  // whatever it returns, it returns
  EXPECT_LE(m_cfg.entries().size(), 1u);
}

TEST_F(FlashConfigTest, CleanRemovesAllEntries) {
  Load("Q520,1,a\n");
  m_cfg.Clean();
  EXPECT_TRUE(m_cfg.entries().empty());
}

}  // namespace
}  // namespace updater_test
