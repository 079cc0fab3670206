#include "test_support.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "updater.h"

namespace updater_test {

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                      "/updater-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << templ;
    return;
  }
  m_path = buf.data();
}

TempDir::~TempDir() {
  if (!m_path.empty()) ::nftw(m_path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

ScopedChdir::ScopedChdir(const std::string& dir) {
  char buf[4096];
  if (::getcwd(buf, sizeof buf) != nullptr) m_old = buf;
  if (::chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot change to " << dir;
}

ScopedChdir::~ScopedChdir() {
  if (!m_old.empty() && ::chdir(m_old.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_old;
}

void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

FilePtr StreamOf(const std::string& text) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) {
    ADD_FAILURE() << "tmpfile failed";
    return FilePtr();
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return FilePtr(f);
}

std::string ListingRow(const Row& row) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "\t%02d    %-16s   %s\n", row.index, row.board.c_str(),
                row.version.c_str());
  return buf;
}

std::string Listing(const std::vector<Row>& rows) {
  std::string text =
      "\n\tNorvane SAS-2 Flash Utility\n\tVersion 0.6.0 (2024.01.01)\n\n"
      "\tNum   Board Name         Firmware Version\n"
      "\t-----------------------------------------\n";
  for (const Row& row : rows) text += ListingRow(row);
  text += "\n";
  text += "\tFinished Processing Commands Successfully.\n\tExiting sasburn.\n\n";
  return text;
}

void WrapperTest::SetUp() {
  updater::reset_wrapper_state();
  ASSERT_EQ(::mkdir((m_dir.path() + "/qxc").c_str(), 0755), 0);
  updater::cli.setStreams(&m_in, &m_out, &m_err);
  updater::cli.setLogDirectory(m_dir.path() + "/qxc/");
}

void WrapperTest::TearDown() { updater::reset_wrapper_state(); }

void WrapperTest::SetInput(const std::string& text) {
  m_in.clear();
  m_in.str(text);
}

void WrapperTest::NameLog() { updater::cli.setLogFile(LogPath()); }

int WrapperTest::Parse(const std::vector<std::string>& args) {
  std::vector<std::string> words = {"updater"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return updater::copt.parse_arguments(static_cast<int>(words.size()), argv.data());
}

}  // namespace updater_test
