// The table parse of sasburn -listall and the discovery XML.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery.h"
#include "test_support.h"
#include "updater.h"

namespace updater_test {
namespace {

using updater::gblCardCltn;
using updater::parse_listing;

int ParseTable(const std::string& text, bool logging = false) {
  FilePtr f = StreamOf(text);
  return parse_listing(f.get(), logging);
}

TEST(SplitRow, TableRowGivesNumberBoardAndVersionWithItsLineFeed) {
  EXPECT_EQ(updater::split_row("\t00    Q520               15.02.00.11\n"),
            (std::vector<std::string>{"00", "Q520", "15.02.00.11\n"}));
}

TEST(SplitRow, FirstTokenEndsAtTheFirstSpaceFromTheSecondCharacter) {
  EXPECT_EQ(updater::split_row(" a b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(updater::split_row("ab"), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(updater::split_row("\t \tx"), (std::vector<std::string>{"x"}));
  EXPECT_EQ(updater::split_row("   "), (std::vector<std::string>{}));
}

TEST_F(WrapperTest, ListingRecordsOnlySupportedModelsInTableOrder) {
  EXPECT_EQ(ParseTable(Listing({{0, "Q520", "15.02.00.11"},
                           {1, "X900", "01.00.00.00"},
                           {2, "Q521-8i", "15.02.00.12"}})),
            2);
  ASSERT_EQ(gblCardCltn.count, 2);
  EXPECT_EQ(gblCardCltn.cardInfo[0].ctrlNum, "00");
  EXPECT_EQ(gblCardCltn.cardInfo[0].boardName, "Q520");
  EXPECT_EQ(gblCardCltn.cardInfo[0].fwversion, "15.02.00.11\n");
  EXPECT_EQ(gblCardCltn.cardInfo[1].ctrlNum, "02");
  EXPECT_EQ(gblCardCltn.cardInfo[1].boardName, "Q521-8i");  // prefix rule
  EXPECT_EQ(gblCardCltn.cardInfo[1].fwversion, "15.02.00.12\n");
  EXPECT_EQ(Out(), "");
}

TEST_F(WrapperTest, HeaderRulersBannerAndBlankLinesRecordNothing) {
  EXPECT_EQ(ParseTable("\tNum   Board Name         Firmware Version\n"
                  "\t-----------------------------------------\n"
                  "\t00    --------------   15.02.00.11\n"
                  "\n"
                  " \n"
                  "Norvane Q520 x\n"
                  "Version Q520 x\n"
                  "DEVELOPER Q520 x\n"
                  ">>>>> Q520 x\n"
                  "NVDATA Q520 x\n"
                  "\tFinished Q520\n"
                  "\tExiting Q520\n"),
            0);
  EXPECT_EQ(gblCardCltn.count, 0);
}

TEST_F(WrapperTest, RowWithoutVersionRecordsAnEmptyVersionAndAFifthColumnIsKept) {
  EXPECT_EQ(ParseTable("\t00    Q520\n\t01 Q522 1.0 x 2.3\n"), 2);
  EXPECT_EQ(gblCardCltn.cardInfo[0].boardName, "Q520\n");
  EXPECT_EQ(gblCardCltn.cardInfo[0].fwversion, "");
  EXPECT_EQ(gblCardCltn.cardInfo[1].fwversion, "1.0");
  EXPECT_EQ(gblCardCltn.cardInfo[1].biosrivision, "2.3\n");
}

TEST_F(WrapperTest, RowWithAnUnreadableNameHasTheVersionSecondAndIsNotTaken) {
  // The two gaps meet: index, seven blanks, version.
  EXPECT_EQ(ParseTable("\t00       15.02.00.11\n"), 0);
  EXPECT_EQ(gblCardCltn.count, 0);
}

TEST_F(WrapperTest, ErrorLineEndsTheParseAtTheNextLineWithoutLogging) {
  NameLog();
  EXPECT_EQ(ParseTable("\t00    Q520               15.02.00.11\n"
                  "\tERROR: Failed to Upload Image!\n"
                  "\t01    Q521               15.02.00.11\n"
                  "\tERROR: second\n"),
            1);
  EXPECT_EQ(gblCardCltn.count, 1);
  EXPECT_EQ(Out(), "match: \tERROR: Failed to Upload Image!\n");
  EXPECT_EQ(Log(), "match: \tERROR: Failed to Upload Image!\n");
}

TEST_F(WrapperTest, ErrorLineWithLoggingLogsTheRestButParsesNoMore) {
  NameLog();
  EXPECT_EQ(ParseTable("\t00    Q520   1\n"
                  "x ERROR y\n"
                  "\t01    Q521   2\n"
                  "ERROR again\n",
                  true),
            1);
  EXPECT_EQ(Out(), "match: x ERROR y\nmatch: ERROR again\n");
  EXPECT_EQ(Log(), " \t00    Q520   1\nmatch: x ERROR y\n \t01    Q521   2\nmatch: ERROR again\n");
}

TEST_F(WrapperTest, AtMostTenRowsAreStored) {
  std::vector<Row> rows;
  for (int i = 0; i < 14; ++i) rows.push_back({i, "Q520", "15.02.00.11"});
  EXPECT_EQ(ParseTable(Listing(rows)), 10);
  EXPECT_EQ(gblCardCltn.count, 10);
  EXPECT_EQ(gblCardCltn.cardInfo[9].ctrlNum, "09");
}

TEST_F(WrapperTest, LongLinesArriveInPiecesOfAtMost511Characters) {
  // Each piece is taken as a line; rows before and after still count, and
  // nothing is stored past the ten records.
  std::string text = "\t00    Q520   1\n";
  text += "\t01 Q521 " + std::string(600, 'v') + "\n";
  for (int i = 0; i < 12; ++i) text += "\t02 Q522 " + std::string(1200, 'w') + "\n";
  EXPECT_EQ(ParseTable(text), 10);
  EXPECT_EQ(gblCardCltn.cardInfo[0].fwversion, "1\n");
  EXPECT_EQ(gblCardCltn.cardInfo[1].fwversion, std::string(502, 'v'));
  for (int i = 0; i < 10; ++i) EXPECT_LE(gblCardCltn.cardInfo[i].fwversion.size(), 511u);
}

TEST_F(WrapperTest, InvalidRowWithdrawsOnlyItsOwnRecord) {
  // The last line is made of blanks and has no line feed: it yields no token.
  EXPECT_EQ(ParseTable("\t00 Q520 1\n\t01 X 2\n   \t\t\n\t02 Q521 3\n \t \t"), 2);
  EXPECT_EQ(gblCardCltn.count, 2);
  EXPECT_EQ(gblCardCltn.cardInfo[1].ctrlNum, "02");
  EXPECT_EQ(gblCardCltn.cardInfo[1].fwversion, "3\n");
}

TEST_F(WrapperTest, ParseStartsFromAnEmptyCollection) {
  EXPECT_EQ(ParseTable("\t00 Q520 1\n\t01 Q520 2\n"), 2);
  EXPECT_EQ(ParseTable("\t00 X 1\n"), 0);
  EXPECT_EQ(gblCardCltn.count, 0);
}

TEST(XmlEscape, EscapesTheFiveCharacters) {
  EXPECT_EQ(updater::xml_escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  EXPECT_EQ(updater::xml_escape("15.02.00.11"), "15.02.00.11");
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

TEST_F(WrapperTest, WriteXmlAppendsOneDocumentPerCall) {
  const std::string xml = m_dir.file("out.xml");
  ParseTable(Listing({{0, "Q520", "15.02.00.11"}, {1, "Q522", "01.02.03.04"}}));
  Parse({"/d", xml});
  NameLog();
  EXPECT_EQ(updater::writexml(0), 3);
  EXPECT_EQ(updater::writexml(1), 3);
  EXPECT_EQ(ReadFile(xml), Document("Q520", "15.02.00.11") + Document("Q522", "01.02.03.04"));
  EXPECT_EQ(Log(), "Writing Discovery XML to " + xml + "\nWriting Discovery XML to " + xml + "\n");
  EXPECT_EQ(updater::gblXMLOut, nullptr);
}

TEST_F(WrapperTest, WriteXmlEscapesTheValues) {
  const std::string xml = m_dir.file("out.xml");
  ParseTable("\t00 Q520<&>\"' 1.0&<x>\n");
  Parse({"/d", xml});
  EXPECT_EQ(updater::writexml(0), 3);
  EXPECT_EQ(ReadFile(xml), Document("Q520&lt;&amp;&gt;&quot;&apos;", "1.0&amp;&lt;x&gt;"));
}

TEST_F(WrapperTest, WriteXmlToAnUnopenableFileGives8AndLogsWhy) {
  const std::string xml = m_dir.file("no/such/dir/out.xml");
  ParseTable("\t00 Q520 1\n");
  Parse({"/d", xml});
  NameLog();
  EXPECT_EQ(updater::writexml(0), 8);
  EXPECT_EQ(Log(), "Failed to open XML output file " + xml + " - No such file or directory\n" +
                       std::string(70, '-') + "\n");
  EXPECT_EQ(Out(), "");
}

TEST_F(WrapperTest, PrintXmlWritesNothingOutsideDiscoveryMode) {
  updater::PrintXML("x");  // no stream, no mode: nothing happens
  EXPECT_EQ(updater::gblXMLOut, nullptr);
}

}  // namespace
}  // namespace updater_test
