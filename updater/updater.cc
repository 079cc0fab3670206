#include "updater.h"

#include <ostream>

#include "device_update.h"

namespace updater {

// Definition order is construction order.
FlashConfigLst gcf;
DeviceLst userlist;
CLI cli;
CommandOptions copt;
burnkit_Info_cltn gblCardCltn;

int debug = 1;
int cardcount = 0;
bool bSilent = false;
bool bForce = false;
bool bQuit = false;
std::FILE* gblXMLOut = nullptr;

const char* const burnkit_command = "sasburn";
const char* const firmware_command = "-f";
const char* const gblLogFile = "Component.log";

void trim(std::string& str, char delim) {
  const std::string::size_type first = str.find_first_not_of(delim);
  if (first == std::string::npos) {
    str.clear();
    return;
  }
  const std::string::size_type last = str.find_last_not_of(delim);
  str = str.substr(first, last - first + 1);
}

std::string trim(const std::string& str) {
  std::string text = str;
  trim(text, ' ');
  trim(text, '\t');
  return text;
}

namespace {

int run(int argc, char** argv) {
  if (argc <= 1) {
    copt.Usage();
    return 255;
  }
  debug = copt.parse_arguments(argc, argv);
  if (copt.GetArgError()) {
    copt.Usage();
    return 255;
  }

  do_discovery();
  if (cardcount == 0) return 3;

  if (copt.GetConfigFileMode()) gcf.Read();  // a missing file leaves it empty

  bSilent = copt.GetSilentMode();
  bForce = copt.GetForceMode();

  int status = 0;
  for (int index = 0; index < gblCardCltn.count; ++index) {
    if (gcf.Get(gblCardCltn.cardInfo[index].boardName) == nullptr) continue;
    if (copt.GetDiscoveryMode()) {
      status = writexml(index);
      copt.ClearFlashing();  // a run never both reports and flashes
    }
    if (copt.GetFlashing()) {
      status = flash_HBA_device(index);
      if (debug > 1) cli.log("Device update returns %d\n", status);
      if (bQuit) break;  // "quit": no further controller is asked or flashed
    }
  }
  return status;
}

}  // namespace

int updater_main(int argc, char** argv) {
  int status;
  try {
    status = run(argc, argv);
  } catch (const ConsoleInputFailure& failure) {
    cli.out().flush();
    cli.err() << "updater: " << failure.what() << std::endl;
    status = 4;
  }
  cli.out().flush();
  return status;
}

void reset_wrapper_state() {
  gcf.Clean();
  gcf.setFileName("firmware.cfg");
  userlist.Clean();
  cli.reset();
  copt = CommandOptions();
  gblCardCltn = burnkit_Info_cltn();
  debug = 1;
  cardcount = 0;
  bSilent = false;
  bForce = false;
  bQuit = false;
  if (gblXMLOut != nullptr) std::fclose(gblXMLOut);
  gblXMLOut = nullptr;
}

}  // namespace updater
