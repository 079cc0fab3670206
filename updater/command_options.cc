#include "command_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "updater.h"  // cli, userlist

namespace updater {

namespace {

bool is(const char* arg, const char* slash_form, const char* dash_form) {
  return std::strcmp(arg, slash_form) == 0 ||
         (dash_form != nullptr && std::strcmp(arg, dash_form) == 0);
}

// The value read as a decimal integer the way atoi reads it (leading blanks,
// a sign, digits; text that is not a number gives 0), but clamped to int
// instead of overflowing.
int decimal_value(const char* text) {
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

CommandOptions::CommandOptions()
    : XMLFile{},
      Flashing(false),
      DiscoveryMode(false),
      SilentMode(false),
      ForceMode(false),
      ConfigFileMode(false),
      Logging(false),
      TagCount(0),
      ArgError(false) {}

int CommandOptions::parse_arguments(int argc, char** argv) {
  int level = 1;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool takes_value =
        is(arg, "/t", "-t") || is(arg, "/d", "-d") || is(arg, "/b", nullptr);
    if (takes_value && i + 1 >= argc) {
      ArgError = true;  // never read past the argument list
      break;
    }
    if (is(arg, "/t", "-t")) {
      userlist.add(argv[++i]);
      ++TagCount;
    } else if (is(arg, "/d", "-d")) {
      const char* name = argv[++i];
      const std::size_t length = std::strlen(name);
      if (length >= kXMLFileSize) {
        ArgError = true;
        break;
      }
      std::memcpy(XMLFile, name, length + 1);
      DiscoveryMode = true;
    } else if (is(arg, "/b", nullptr)) {
      level = decimal_value(argv[++i]);
    } else if (is(arg, "/s", "-s")) {
      SilentMode = true;
    } else if (is(arg, "/f", "-f")) {
      ForceMode = true;
    } else if (is(arg, "/c", "-c")) {
      Flashing = true;
      ConfigFileMode = true;
    } else if (is(arg, "/l", "-l")) {
      Logging = true;
    }
  }
  return level;
}

void CommandOptions::Usage() {
  std::ostream& err = cli.err();
  err << "Usage:\n";
  err << "   /b debug_level \tRamps up the debugging\n";
  err << "   /c             \tFlash controller\n";
  err << "   /d xmlname     \tList controllers\n";
  err << "   /l             \tLog utility output\n";
  err << "   /t model       \tSpecifies an applicable controller model\n";
  err.flush();
}

}  // namespace updater
