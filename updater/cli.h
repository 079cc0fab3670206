// CLI: the wrapper's console dialogue and its log file.
//
// Channels: prompts and dialogue go to the error stream, operator messages to
// the output stream, log messages only to the log file.  The streams and the
// log directory can be replaced (unit tests do); the program uses std::cin,
// std::cout, std::cerr and "/var/qxc/".
#ifndef UPDATER_CLI_H_
#define UPDATER_CLI_H_

#include <iosfwd>
#include <stdexcept>
#include <string>

namespace updater {

// Raised when the operator's console cannot give an answer (end of input, a
// read error or a line too long for the answer buffer).  Only main catches it.
class ConsoleInputFailure : public std::runtime_error {
 public:
  ConsoleInputFailure() : std::runtime_error("console input failure") {}
};

// The fixed log directory of the product.
inline constexpr const char* kLogDirectory = "/var/qxc/";

#if defined(__GNUC__)
#define UPDATER_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))
#else
#define UPDATER_PRINTF(fmt_index, first_arg)
#endif

class CLI {
 public:
  enum Answer {
    AnsError = 0,
    AnsEmpty = 1,
    AnsYes = 2,
    AnsNo = 3,
    AnsHelp = 4,
    AnsAll = 5,
    AnsQuit = 6,
    AnsShow = 7,
  };

  // The 70-dash line written by logRuler.
  static const char* const Ruler;
  // The help text shown for "help" and "?".
  static const char* const HelpText;
  // Size of the answer buffer, terminator included.
  static constexpr int kAnswerBuffer = 250;

  CLI();

  // Asks whether to flash one device (count 1) or several.  Throws
  // ConsoleInputFailure when the console gives no answer.
  Answer askFlashIt(int count);

  void log(const char* fmt, ...) UPDATER_PRINTF(2, 3);
  void logAndPrint(const char* fmt, ...) UPDATER_PRINTF(2, 3);
  void logRuler();
  void setLogFile(const std::string& FileName);
  void setLogFirst(const std::string& FileName, const std::string& label);
  const std::string& GetLogFile() const { return m_LogFileName; }

  // Standard output and standard error of the wrapper.
  std::ostream& out() { return *m_out; }
  std::ostream& err() { return *m_err; }

  // Test seams: other streams and another log directory (ends with '/').
  void setStreams(std::istream* in, std::ostream* out, std::ostream* err);
  void setLogDirectory(const std::string& dir) { m_LogDir = dir; }
  // Back to the start-up state: std streams, no log file, "/var/qxc/",
  // open failure not yet reported.
  void reset();

 private:
  Answer getAnswer(const std::string& Question, const std::string& Default);
  std::string getLine(const std::string& Prompt, const std::string& Default);
  static bool isPrefix(const std::string& Prefix, const std::string& Text);
  void logToFile(const std::string& text);

  std::string m_LogFileName;
  std::string m_LogDir;
  bool m_ErrorReported;  // the open failure of the log file was reported
  std::istream* m_in;
  std::ostream* m_out;
  std::ostream* m_err;
};

}  // namespace updater

#endif  // UPDATER_CLI_H_
