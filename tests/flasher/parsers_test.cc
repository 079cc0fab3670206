// The number parsers, the command and usage tables, response-file words and
// chip names.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapters.h"
#include "command_line.h"

namespace {

struct HexCase {
    const char* word;
    bool valid;
    uint32_t high;
    uint32_t low;
};

// Every case starts from high = 0xAAAAAAAA, low = 0xBBBBBBBB, so a half the
// parser leaves alone shows.
constexpr uint32_t kHigh = 0xAAAAAAAA;
constexpr uint32_t kLow = 0xBBBBBBBB;

const HexCase kHexCases[] = {
    {"10", true, kHigh, 0x10},  // "-c 10" selects index 16
    {"0", true, kHigh, 0},
    {"", true, 0, 0},
    {"0x", true, kHigh, 0},
    {"0x1f", true, kHigh, 0x1F},
    {"0XAb", true, kHigh, 0xAB},
    {"FFFFFFFF", true, kHigh, 0xFFFFFFFF},
    {"0x123456", true, kHigh, 0x123456},
    // From 9 characters on, the first 8 digits after the prefix are the high half.
    {"0x00000005", true, 5, 0},
    {"0x1234567", true, 0x1234567, 0},
    {"123456789", true, 0x12345678, 0x9},
    {"0x123456789ABCDE", true, 0x12345678, 0x9ABCDE},
    {"0123456789abcdef", true, 0x01234567, 0x89ABCDEF},
    {"0x123456789ABCDEF", false, kHigh, kLow},  // 17 characters
    {"12345678901234567", false, kHigh, kLow},
    {"zz", false, kHigh, kLow},
    {"12g", false, kHigh, kLow},
    {"x5", false, kHigh, kLow},
    {"-1", false, kHigh, kLow},
    {"0x12 ", false, kHigh, kLow},
    {"0x0x12", false, kHigh, kLow},
};

TEST(ParseHexValue, SplitsWordsIntoHalves) {
    for (const HexCase& c : kHexCases) {
        SCOPED_TRACE(std::string("word \"") + c.word + "\"");
        CommandInteger value{kHigh, kLow};
        testing::internal::CaptureStdout();
        bool valid = parse_hex_value(c.word, &value);
        std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(valid, c.valid);
        if (c.valid) {
            EXPECT_EQ(value.high, c.high);
            EXPECT_EQ(value.low, c.low);
            EXPECT_EQ(output, "");
        } else {
            EXPECT_EQ(output, std::string("\tERROR: String ") + c.word + " is not a valid number\n");
        }
    }
}

struct DecimalCase {
    const char* word;
    bool valid;
    uint32_t value;
};

const DecimalCase kDecimalCases[] = {
    {"0", true, 0},
    {"10", true, 10},
    {"4294967295", true, 4294967295u},
    {"4294967296", true, 0},  // wraps at 32 bits
    {"a", true, 10},          // hexadecimal digits are accepted but weigh in tens
    {"1a", true, 20},
    {"F", true, 15},
    {"", false, 0},
    {"12x", false, 0},
    {"0x10", false, 0},
    {" 1", false, 0},
};

TEST(ParseDecimalValue, TakesHexDigitsWeighedInTens) {
    for (const DecimalCase& c : kDecimalCases) {
        SCOPED_TRACE(std::string("word \"") + c.word + "\"");
        uint32_t value = 0x5A5A5A5A;
        EXPECT_EQ(parse_decimal_value(c.word, &value), c.valid);
        if (c.valid) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(CommandTable, FindsOptionsExactlyAndCaseSensitively) {
    const std::pair<const char*, CommandCode> cases[] = {
        {"-f", CMD_FLASH_FIRMWARE},       {"-b", CMD_FLASH_BOOT_IMAGE},
        {"-c", CMD_SELECT_ADAPTER},       {"-fwall", CMD_FLASH_FIRMWARE_ALL},
        {"-biosall", CMD_FLASH_BOOT_IMAGE_ALL}, {"-?", CMD_HELP},
        {"-h", CMD_HELP},                 {"-help", CMD_HELP},
        {"-listall", CMD_LIST_ADAPTERS},  {"-reset", CMD_RESET_ADAPTER},
        {"-resetall", CMD_RESET_ALL},     {"-force", CMD_FORCE},
        {"INVALID", 0},                   {"-LISTALL", 0},
        {"-list", 0},                     {"-listall ", 0},
        {"", 0},                          {"f", 0},
    };
    for (const auto& [word, code] : cases) {
        SCOPED_TRACE(word);
        EXPECT_EQ(find_command(word), code);
    }
}

TEST(UsageTable, HelpHasNoUsageText) {
    EXPECT_STREQ(usage_text(CMD_HELP), "");
    EXPECT_STREQ(usage_text(CMD_RESET_ADAPTER), "\t-reset      :   Reset selected adapter\n");
}

struct ChipCase {
    uint16_t device_id;
    uint8_t revision;
    const char* name;
};

const ChipCase kChipCases[] = {
    {112, 0, "KX410(A0)   "},   {112, 2, "KX410(B1)   "},   {112, 3, "KX410(Rev 3)"},
    {114, 2, "KX420(B1)   "},   {114, 3, "KX420(B2)   "},   {114, 9, "KX420(Rev 9)"},
    {116, 5, "KX510_1(B4)"},    {116, 6, "KX510_1(Rev 6)"}, {119, 0, "KX510_3(A0)"},
    {100, 2, "KX520_1(B1)"},    {101, 3, "KX520_2(Rev 3)"}, {128, 3, "KX610_1(B2)"},
    {133, 1, "KX610_6(B0)"},    {134, 4, "KX710_1(Rev 4)"}, {110, 3, "KX710_3(B2)"},
    {130, 255, "KX610_3(Rev 255)"},
    {69, 0, ""},                {71, 1, ""},                {0, 0, ""},
};

TEST(ChipName, NamesRevisionsWithinRangeAndNumbersTheRest) {
    for (const ChipCase& c : kChipCases) {
        SCOPED_TRACE(testing::Message() << "device " << c.device_id << " revision "
                                        << int(c.revision));
        EXPECT_EQ(chip_name_for(c.device_id, c.revision), c.name);
    }
}

TEST(ChipName, FollowsTheSelectedAdapter) {
    AdapterRecord record{0x01000001, 0, 114, 2, nullptr};
    selected_adapter = &record;
    EXPECT_EQ(chip_name(), "KX420(B1)   ");
    selected_adapter = nullptr;
    EXPECT_EQ(chip_name(), "");
}

// ---------------------------------------------------------------------------
// Response files

class ResponseFile : public testing::Test {
protected:
    std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                                 ("front_end_response_" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& contents) {
        std::filesystem::path path = dir_ / "words.rsp";
        std::ofstream(path, std::ios::binary) << contents;
        return path.string();
    }
    std::vector<std::string> words() const {
        return {&response_words[1], &response_words[1] + response_word_count};
    }
    // Reads the file and returns its words, or "FAILED" and the message.
    std::vector<std::string> read(const std::string& contents) {
        std::string path = write(contents);
        testing::internal::CaptureStdout();
        bool ok = read_response_file(path.c_str());
        std::string output = testing::internal::GetCapturedStdout();
        if (!ok) return {"FAILED", output};
        EXPECT_EQ(output, "");
        return words();
    }
};

using Words = std::vector<std::string>;

TEST_F(ResponseFile, WordRules) {
    const std::pair<std::string, Words> cases[] = {
        {"-c 0\n-listall\n", {"-c", "0", "-listall"}},
        {"-c 0\r\n-listall", {"-c", "0", "-listall"}},
        {"\t \n  -h  \n\n", {"-h"}},
        {"", {}},
        {"\n\r\t ", {}},
        // A tab inside a word is kept; it only separates words at their start.
        {"-f\tfw.bin -h", {"-f\tfw.bin", "-h"}},
        // '#' is skipped where a word would start, so it begins no comment.
        {"# -c 1\n#-h a#b", {"-c", "1", "-h", "a#b"}},
        {"##\n", {}},
        // A NUL byte ends the scan.
        {std::string("-h\0-listall", 11), {"-h"}},
        {std::string("-h \0-listall", 12), {"-h"}},
    };
    for (const auto& [contents, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(contents));
        EXPECT_EQ(read(contents), expected);
    }
}

TEST_F(ResponseFile, HoldsUpTo49WordsOf255Characters) {
    std::string contents;
    for (int i = 0; i < 48; ++i) contents += "w" + std::to_string(i) + "\n";
    std::string longest(255, 'x');
    contents += longest;
    Words got = read(contents);
    ASSERT_EQ(got.size(), 49u);
    EXPECT_EQ(got[0], "w0");
    EXPECT_EQ(got[48], longest);
}

TEST_F(ResponseFile, RefusesMoreWordsOrLongerWordsThanTheSlotsHold) {
    std::string fifty;
    for (int i = 0; i < 50; ++i) fifty += "-h ";
    std::string path = write(fifty);
    EXPECT_EQ(read(fifty), (Words{"FAILED", "\tERROR: Response file " + path +
                                                " holds more than 49 words.\n"}));
    std::string long_word = "-c " + std::string(256, 'y');
    EXPECT_EQ(read(long_word),
              (Words{"FAILED", "\tERROR: Response file " + path +
                                   " holds a word longer than 255 characters.\n"}));
}

TEST_F(ResponseFile, ReportsAFileThatCannotBeOpened) {
    std::string path = (dir_ / "absent.rsp").string();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read_response_file(path.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Could not open file " + path + "\n");
}

TEST_F(ResponseFile, ReportsAFileThatCannotBeRead) {
    // A directory opens but yields no contents.
    std::string path = dir_.string();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read_response_file(path.c_str()));
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "ERROR: Could not read file " + path + "\n");
}

}  // namespace
