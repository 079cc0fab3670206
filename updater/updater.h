// The update wrapper's main unit: its process-wide objects, the text
// trimming shared by every reader, and the main flow.
//
// Exit statuses of updater_main (the process's exit status):
//   255  no arguments, a value option without its value, or a "/d" name of
//        250 characters or more; the usage text is printed
//     0  no discovered controller has an entry in "firmware.cfg"
//     1  last controller handled: updated
//     2  last controller handled: versions equal, "/f" not given
//     3  no supported controller found, or the discovery XML was written
//     4  the operator's console gave no answer (end of input)
//     5  last controller handled: not answered yes ("quit" also ends the loop)
//     7  last controller handled: the flash failed
//     8  the discovery XML file could not be opened
#ifndef UPDATER_UPDATER_H_
#define UPDATER_UPDATER_H_

#include <cstdio>
#include <string>

#include "cli.h"
#include "command_options.h"
#include "device_lst.h"
#include "discovery.h"
#include "flash_config_lst.h"

namespace updater {

// Process-wide objects, created in this order before main runs.
extern FlashConfigLst gcf;
extern DeviceLst userlist;
extern CLI cli;
extern CommandOptions copt;
extern burnkit_Info_cltn gblCardCltn;

extern int debug;      // debug level; traces need debug > 1
extern int cardcount;  // supported controllers found by discovery
extern bool bSilent;   // copy of "/s"
extern bool bForce;    // copy of "/f"
extern bool bQuit;     // the operator answered "quit": the loop ends
extern std::FILE* gblXMLOut;  // open discovery XML file, or null

extern const char* const burnkit_command;   // "sasburn", run as ./sasburn
extern const char* const firmware_command;  // "-f"
extern const char* const gblLogFile;        // "Component.log"

// Removes every leading and trailing delim from str.
void trim(std::string& str, char delim);
// A copy of str trimmed of spaces, then of tabs.  Line feeds, carriage
// returns and other white space stay.
std::string trim(const std::string& str);

// The whole run; returns the exit status listed above.
int updater_main(int argc, char** argv);

// Puts every process-wide object back to its start-up state (for tests that
// run several flows in one process).
void reset_wrapper_state();

}  // namespace updater

#endif  // UPDATER_UPDATER_H_
