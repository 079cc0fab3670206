// Discovery: runs "./sasburn -listall", reads its controller table and keeps
// the rows whose board name is a supported model; and the discovery XML
// report.
//
// The table rows read (printed by sasburn -listall):
//   "\t%02d " "   " "%-16s" "   " "%02d.%02d.%02d.%02d" "\n"
// i.e. controller number (decimal), board name, firmware version as the
// first three blank-separated fields.  Lines containing one of the skip words
// (banner, closing lines, header, rulers, unreadable names) are not parsed;
// a line containing "ERROR" ends the parsing.
#ifndef UPDATER_DISCOVERY_H_
#define UPDATER_DISCOVERY_H_

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"  // UPDATER_PRINTF
#include "subprocess.h"

namespace updater {

struct burnkit_info {
  std::string ctrlNum;       // first column as printed ("00")
  std::string boardName;     // second column
  std::string fwversion;     // third column, may end with the line feed
  std::string biosrivision;  // fifth column when present; not used
};

inline constexpr int kMaxCards = 10;

struct burnkit_Info_cltn {
  int count = 0;  // valid records, filled from index 0 in table order
  burnkit_info cardInfo[kMaxCards];
};

// Starts argv (no shell) in child and returns the stream of its standard
// output, or null after printing "process open failed" (and the reason, on
// standard error).
std::FILE* openproc(const std::vector<std::string>& argv, ChildProcess& child);

// Runs discovery once: only while cardcount is 0.
void do_discovery();
// Runs ./<prog> <param> and returns the number of controllers recorded.
int burnkit_do_discovery(const std::string& prog, const std::string& param);
// The table parse over the child's output (or any stream); fills
// gblCardCltn and returns the number of records.  Reading ends at the end of
// the stream or at the stop point after an "ERROR" line (without logging).
int parse_listing(std::FILE* pfp, bool logging);
// The tokens of one table line: the line split at single spaces, each token
// trimmed, empty tokens dropped.
std::vector<std::string> split_row(const std::string& line);

// Appends the report for record devCount to the "/d" file; 3 when written,
// 8 when the file cannot be opened.
int writexml(int devCount);
// printf-style write to gblXMLOut, only in discovery mode with the file open.
void PrintXML(const char* Format, ...) UPDATER_PRINTF(1, 2);
// &, <, >, " and ' as XML entities.
std::string xml_escape(const std::string& text);

}  // namespace updater

#endif  // UPDATER_DISCOVERY_H_
