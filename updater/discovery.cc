#include "discovery.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ostream>

#include "rampart_lst.h"
#include "subprocess.h"
#include "updater.h"

namespace updater {

namespace {

// Lines holding one of these are not table rows: the utility's banner and
// closing lines, the header and rulers, rows with an unreadable board name.
const char* const kSkipWords[] = {
    "Norvane", "Finished", "Exiting",   "Version", "Num",
    "------------", "DEVELOPER", ">>>>>", "NVDATA",
};

bool is_skipped(const std::string& line) {
  if (line.size() <= 1) return true;
  for (const char* word : kSkipWords)
    if (line.find(word) != std::string::npos) return true;
  return false;
}

std::string cut_at_line_feed(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

}  // namespace

std::FILE* openproc(const std::vector<std::string>& argv, ChildProcess& child) {
  // Whatever the wrapper has written so far comes before the child's output.
  cli.out().flush();
  cli.err().flush();
  std::fflush(nullptr);
  const int error = child.start(argv);
  if (error != 0) {
    cli.out() << "process open failed" << std::endl;
    cli.err() << "updater: cannot start " << argv.front() << ": "
              << std::strerror(error) << std::endl;
    return nullptr;
  }
  return child.output();
}

void do_discovery() {
  if (cardcount == 0) cardcount = burnkit_do_discovery(burnkit_command, "-listall");
}

std::vector<std::string> split_row(const std::string& line) {
  std::vector<std::string> tokens;
  // The first token ends at the first space at or after the second
  // character; each further one at the next space.
  std::string::size_type start = 0;
  std::string::size_type space = line.find(' ', 1);
  for (;;) {
    const std::string token = trim(line.substr(
        start, space == std::string::npos ? std::string::npos : space - start));
    if (!token.empty()) tokens.push_back(token);
    if (space == std::string::npos) break;
    start = space + 1;
    space = line.find(' ', start);
  }
  return tokens;
}

int parse_listing(std::FILE* pfp, bool logging) {
  gblCardCltn = burnkit_Info_cltn();
  const RampartLst models;
  bool found = false;
  bool stop = false;
  int line_count = 0;
  std::string line;
  while (read_piece(pfp, line)) {
    if (stop) break;
    if (line.find("ERROR") != std::string::npos) {
      cli.logAndPrint("match: %s", line.c_str());
      found = true;
    } else if (logging) {
      cli.log(" %s", line.c_str());
    }
    if (!logging && found) stop = true;
    if (found || is_skipped(line)) continue;
    // Rows beyond the tenth are not stored.
    if (line_count >= kMaxCards) continue;

    burnkit_info& record = gblCardCltn.cardInfo[line_count];
    bool valid = false;
    const std::vector<std::string> tokens = split_row(line);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (i == 0) {
        gblCardCltn.count = line_count + 1;
        record = burnkit_info();
        record.ctrlNum = tokens[i];
      } else if (i == 1) {
        if (models.isMember(tokens[i])) {
          record.boardName = tokens[i];
          valid = true;
        }
      } else if (i == 2 && valid) {
        record.fwversion = tokens[i];
      } else if (i == 4 && valid) {
        record.biosrivision = tokens[i];
      }
    }
    if (valid)
      ++line_count;
    else
      gblCardCltn.count = line_count;  // withdraw the record token 0 began
  }
  return line_count;
}

int burnkit_do_discovery(const std::string& prog, const std::string& param) {
  const bool logging = copt.GetLogging();
  if (debug > 1) cli.log("Do Discovery\n");
  const std::vector<std::string> argv = {"./" + prog, param};
  if (debug > 1) cli.out() << "Executing \"" << command_text(argv) << "\"\n";

  ChildProcess child;
  std::FILE* output = openproc(argv, child);
  int line_count = 0;
  if (output != nullptr) line_count = parse_listing(output, logging);
  child.finish();  // the rest is read and discarded; the child is waited for

  if (debug > 1) cli.log("cardcount: %d\n", line_count);
  return line_count;
}

std::string xml_escape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

void PrintXML(const char* Format, ...) {
  if (!copt.GetDiscoveryMode() || gblXMLOut == nullptr) return;
  va_list args;
  va_start(args, Format);
  std::vfprintf(gblXMLOut, Format, args);
  va_end(args);
}

int writexml(int devCount) {
  if (devCount < 0 || devCount >= gblCardCltn.count) return 0;
  const burnkit_info& record = gblCardCltn.cardInfo[devCount];
  const char* path = copt.GetXMLFile();
  gblXMLOut = std::fopen(path, "a");
  if (gblXMLOut == nullptr) {
    const int error = errno;
    cli.log("Failed to open XML output file %s - %s\n", path,
            std::strerror(error));
    cli.logRuler();
    return 8;
  }
  cli.log("Writing Discovery XML to %s\n", path);

  std::string version = cut_at_line_feed(record.fwversion);
  const std::size_t max_length = static_cast<std::size_t>(kLineBuffer - 1);
  if (version.size() > max_length) version.resize(max_length);
  const std::string board = xml_escape(record.boardName);
  version = xml_escape(version);

  PrintXML("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  PrintXML("<qx_rom_discovery version=\"2.0.0.0\">\n");
  PrintXML("<alt_name value=\"Firmware Flash for Norvane controllers\"/>\n");
  PrintXML("<devices>\n");
  PrintXML("<Ctlr value=\"%s\"/>\n", board.c_str());
  PrintXML("<fw_item>\n");
  PrintXML("<fw_version value=\"%s\"/>\n", version.c_str());
  PrintXML("</fw_item>\n");
  PrintXML("</devices>\n");
  PrintXML("</qx_rom_discovery>\n");

  std::fclose(gblXMLOut);
  gblXMLOut = nullptr;
  return 3;
}

}  // namespace updater
