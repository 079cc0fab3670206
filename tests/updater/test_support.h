// Shared helpers of the updater tests: temporary directories, files, text
// streams, and a fixture that gives the wrapper's process-wide objects fresh
// state, captured streams and a private log directory.
#ifndef TESTS_UPDATER_TEST_SUPPORT_H_
#define TESTS_UPDATER_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace updater_test {

// A directory under $TMPDIR (or /tmp), removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Changes the working directory for the life of the object.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  std::string m_old;
};

// Writes an executable shell script.
void WriteScript(const std::string& path, const std::string& body);

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);  // "" when missing
bool FileExists(const std::string& path);

struct FileCloser {
  void operator()(std::FILE* f) const { if (f != nullptr) std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
// A readable stream holding text, as the child's pipe would deliver it.
FilePtr StreamOf(const std::string& text);

// Text of sasburn -listall: banner, header, ruler, the given rows, the empty
// line that ends the table, the closing lines.
struct Row {
  int index;
  std::string board;
  std::string version;
};
std::string ListingRow(const Row& row);
std::string Listing(const std::vector<Row>& rows);

// Fresh wrapper state for every test; standard input from input, standard
// output and standard error captured; the log directory is dir/qxc/.
class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void SetInput(const std::string& text);
  std::string Out() const { return m_out.str(); }
  std::string Err() const { return m_err.str(); }
  std::string LogPath() const { return m_dir.path() + "/qxc/Component.log"; }
  std::string Log() const { return ReadFile(LogPath()); }
  // Names the log file in the private directory (as setLogFirst would).
  void NameLog();
  // Parses a command line through copt, as main does.
  int Parse(const std::vector<std::string>& args);

  TempDir m_dir;
  std::istringstream m_in;
  std::ostringstream m_out;
  std::ostringstream m_err;
};

}  // namespace updater_test

#endif  // TESTS_UPDATER_TEST_SUPPORT_H_
