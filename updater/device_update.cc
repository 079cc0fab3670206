#include "device_update.h"

#include <cstdint>
#include <cstdio>
#include <ostream>

#include "subprocess.h"
#include "updater.h"

namespace updater {

namespace {

constexpr std::size_t kVersionBuffer = 256;  // installed version, with NUL
constexpr std::size_t kLabelBuffer = 512;    // "Update from %s to %s"

const char* const kSuccessText =
    "\nSuccessfully updated.\n"
    "As part of the reboot process, you must power cycle the server and any "
    "external array storage devices.\n\n";

}  // namespace

std::string controller_number_for_c(const std::string& ctrlNum) {
  if (ctrlNum.empty() || ctrlNum.size() > 9) return ctrlNum;
  std::uint32_t value = 0;
  for (const char c : ctrlNum) {
    if (c < '0' || c > '9') return ctrlNum;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  char text[16];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

std::vector<std::string> split_words(const std::string& field) {
  std::vector<std::string> words;
  std::string::size_type start = field.find_first_not_of(" \t");
  while (start != std::string::npos) {
    const std::string::size_type end = field.find_first_of(" \t", start);
    words.push_back(field.substr(start, end == std::string::npos
                                            ? std::string::npos
                                            : end - start));
    start = field.find_first_not_of(" \t", end);
  }
  return words;
}

bool searchfile(std::FILE* pfp, const std::string& Tag, bool logoutput) {
  std::ostream& out = cli.out();
  if (debug > 1) out << "searchfile log: " << (logoutput ? 1 : 0) << "\n";
  if (pfp == nullptr) {
    out << "NULL file handle!!!" << "\n";
    return false;
  }
  bool found = false;
  bool stop = false;
  int lines = 0;
  std::string line;
  while (read_piece(pfp, line)) {
    if (stop) break;  // the line after the stop point is discarded
    if (logoutput) out << "Got: " << line;
    if (line.find(Tag) != std::string::npos) {
      cli.logAndPrint("match: %s", line.c_str());
      found = true;
    } else if (logoutput) {
      cli.log(" %s", line.c_str());
    }
    ++lines;
    if (!logoutput && found) stop = true;
  }
  if (debug > 1) out << "\n" << "lines: " << lines << "\n";
  return found;
}

int burnkit_do_device_update(const std::string& prog, const std::string& cnum,
                             const std::string& fcmd, const std::string& fname,
                             bool logoutput, const std::string& updname) {
  std::vector<std::string> argv = {"./" + prog, "-c",
                                   controller_number_for_c(cnum), fcmd};
  for (const std::string& word : split_words(fname)) argv.push_back(word);
  if (debug > 1) cli.out() << "Executing: " << command_text(argv) << "\n";

  ChildProcess child;
  std::FILE* output = openproc(argv, child);
  const bool found = searchfile(output, "ERROR", logoutput);
  // Read to the end and wait, so the flash is never cut off; what comes
  // after the stop point is neither echoed, logged nor judged.
  const ChildExit ended = child.finish();

  bool failed = found || !ended.started;
  if (!found && ended.started && !(ended.exited && ended.status == 0)) {
    failed = true;
    if (ended.exited)
      cli.logAndPrint("%s ended with exit status %d\n", argv[0].c_str(),
                      ended.status);
    else if (ended.status != 0)
      cli.logAndPrint("%s was ended by signal %d\n", argv[0].c_str(),
                      ended.status);
    else
      cli.logAndPrint("%s could not be waited for\n", argv[0].c_str());
  }
  if (failed) {
    cli.log("%s upgrade failed\n", updname.c_str());
    return kFlashFailed;
  }
  cli.logAndPrint("%s", kSuccessText);
  return kUpdated;
}

int flash_HBA_device(int devCount) {
  std::ostream& out = cli.out();
  out << "\n";
  if (devCount < 0 || devCount >= gblCardCltn.count) return kNoEntry;
  const burnkit_info& record = gblCardCltn.cardInfo[devCount];
  const std::string& board = record.boardName;
  const bool logfw = copt.GetLogging();
  if (debug > 1) cli.log("Update: %s\n", board.c_str());

  const FlashConfig* entry = gcf.Get(board);
  if (entry == nullptr) return kNoEntry;

  const std::string& newver = entry->FWVersion;
  std::string installed = record.fwversion.substr(0, record.fwversion.find('\n'));
  if (installed.size() > kVersionBuffer - 1) installed.resize(kVersionBuffer - 1);

  CLI::Answer answer = CLI::AnsYes;
  if (!bSilent) {
    if (debug > 1)
      out << "Old FW version: " << installed << "\tNew FW version: " << newver
          << "\n";
    answer = cli.askFlashIt(1);
  }
  if (answer != CLI::AnsYes) {
    if (answer == CLI::AnsQuit) bQuit = true;
    return kNotAnsweredYes;
  }

  if (installed == newver && !bForce) {
    cli.setLogFirst(gblLogFile,
                    "No Devices updated. Firmware versions are matching\n");
    out << "No devices updated.\n";
    return kVersionsEqual;
  }

  out << "NOTE: this takes some seconds" << "\n";
  std::string label = "Update from " + installed + " to " + newver;
  if (label.size() > kLabelBuffer - 1) label.resize(kLabelBuffer - 1);
  cli.setLogFirst(gblLogFile, label);

  return burnkit_do_device_update(burnkit_command, record.ctrlNum,
                                  firmware_command, entry->FWFileName, logfw,
                                  "Firmware");
}

}  // namespace updater
