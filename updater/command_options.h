// CommandOptions: the wrapper's command line.
//
//   /t model    (or -t)  add model to the "/t" list
//   /d xmlname  (or -d)  discovery XML file; discovery mode
//   /s          (or -s)  silent: do not ask before flashing
//   /f          (or -f)  force: flash also when the versions are equal
//   /c          (or -c)  read "firmware.cfg" and flash
//   /l          (or -l)  echo and log the flash utility's output
//   /b level             debug level (decimal); no dash form
// Whole arguments, case-sensitive; anything else is ignored.  A value option
// as the last argument, or a "/d" name of kXMLFileSize characters or more,
// is an argument error (GetArgError): main prints the usage text and ends
// with 255.
#ifndef UPDATER_COMMAND_OPTIONS_H_
#define UPDATER_COMMAND_OPTIONS_H_

#include <cstddef>

namespace updater {

class CommandOptions {
 public:
  static constexpr std::size_t kXMLFileSize = 250;  // terminator included

  CommandOptions();

  // Fills the flags from argv[1..argc-1]; returns the debug level (1 unless
  // "/b" gave another).
  int parse_arguments(int argc, char** argv);
  // Writes the usage text to standard error.
  void Usage();

  bool GetFlashing() const { return Flashing; }
  bool GetDiscoveryMode() const { return DiscoveryMode; }
  bool GetSilentMode() const { return SilentMode; }
  bool GetForceMode() const { return ForceMode; }
  bool GetConfigFileMode() const { return ConfigFileMode; }
  bool GetLogging() const { return Logging; }
  int GetTagCount() const { return TagCount; }
  const char* GetXMLFile() const { return XMLFile; }
  bool GetArgError() const { return ArgError; }
  void ClearFlashing() { Flashing = false; }

 private:
  char XMLFile[kXMLFileSize];
  bool Flashing;
  bool DiscoveryMode;
  bool SilentMode;
  bool ForceMode;
  bool ConfigFileMode;
  bool Logging;
  int TagCount;
  bool ArgError;  // value missing, or "/d" name too long
};

}  // namespace updater

#endif  // UPDATER_COMMAND_OPTIONS_H_
