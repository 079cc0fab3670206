#include "cli.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace updater {

namespace {

struct QAEntry {
  const char* word;
  CLI::Answer answer;
};

// Answer words, searched in this order; the row with no word ends the table.
const QAEntry QA_Map[] = {
    {"all", CLI::AnsAll},   {"help", CLI::AnsHelp}, {"?", CLI::AnsHelp},
    {"no", CLI::AnsNo},     {"quit", CLI::AnsQuit}, {"show", CLI::AnsShow},
    {"yes", CLI::AnsYes},   {nullptr, CLI::AnsError},
};

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::vector<char> buf(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  return std::string(buf.data(), static_cast<std::size_t>(needed));
}

}  // namespace

const char* const CLI::Ruler =
    "----------------------------------------------------------------------";

const char* const CLI::HelpText =
    "   yes   Update this device\n"
    "   no    Do not update this device (default)\n"
    "   quit  Do not update any renmaining devices\n"
    "   help  This text";

CLI::CLI()
    : m_LogDir(kLogDirectory),
      m_ErrorReported(false),
      m_in(&std::cin),
      m_out(&std::cout),
      m_err(&std::cerr) {}

void CLI::setStreams(std::istream* in, std::ostream* out, std::ostream* err) {
  m_in = in;
  m_out = out;
  m_err = err;
}

void CLI::reset() {
  m_LogFileName.clear();
  m_LogDir = kLogDirectory;
  m_ErrorReported = false;
  setStreams(&std::cin, &std::cout, &std::cerr);
}

bool CLI::isPrefix(const std::string& Prefix, const std::string& Text) {
  return Text.size() >= Prefix.size() &&
         Text.compare(0, Prefix.size(), Prefix) == 0;
}

std::string CLI::getLine(const std::string& Prompt,
                         const std::string& Default) {
  for (;;) {
    *m_err << Prompt;
    m_err->flush();
    char buf[kAnswerBuffer];
    m_in->getline(buf, sizeof buf);
    // End of input, a read error and a line too long for the buffer all
    // leave the stream not good.
    if (!m_in->good()) throw ConsoleInputFailure();
    std::string line(buf);
    if (!line.empty()) {
      for (char& c : line)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return line;
    }
    if (!Default.empty()) return Default;
  }
}

CLI::Answer CLI::getAnswer(const std::string& Question,
                           const std::string& Default) {
  for (;;) {
    const std::string entered = getLine(Question, Default);
    int matches = 0;
    Answer answer = AnsError;
    for (const QAEntry* row = QA_Map; row->word != nullptr; ++row) {
      if (isPrefix(entered, row->word)) {
        ++matches;
        answer = row->answer;
      }
    }
    if (matches == 1) return answer;
    if (matches > 1)
      *m_err << "Ambiguous entry.  Please enter more characters." << std::endl;
    else
      *m_err << "Unrecognized input." << std::endl;
  }
}

CLI::Answer CLI::askFlashIt(int count) {
  m_err->flush();
  const std::string question = count == 1
                                   ? "Flash this device? [NO, yes, quit] "
                                   : "Flash these devices? [NO, yes, quit] ";
  for (;;) {
    const Answer answer = getAnswer(question, "no");
    if (answer == AnsHelp) {
      *m_err << HelpText << std::endl;
      continue;
    }
    if (answer == AnsShow) continue;
    return answer;
  }
}

void CLI::logToFile(const std::string& text) {
  if (m_LogFileName.empty()) return;  // no log file named yet: dropped
  std::FILE* f = std::fopen(m_LogFileName.c_str(), "a+");
  if (f == nullptr) {
    const int error = errno;
    if (!m_ErrorReported) {
      m_ErrorReported = true;
      *m_out << "Failed to open log file " << m_LogFileName << " - "
             << std::strerror(error) << "\n";
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void CLI::log(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  logToFile(text);
}

void CLI::logAndPrint(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  logToFile(text);
  *m_out << text;
}

void CLI::logRuler() { log("%s\n", Ruler); }

void CLI::setLogFile(const std::string& FileName) { m_LogFileName = FileName; }

void CLI::setLogFirst(const std::string& FileName, const std::string& label) {
  m_LogFileName = m_LogDir + FileName;
  log("%s", label.c_str());
  log("\n");
}

}  // namespace updater
