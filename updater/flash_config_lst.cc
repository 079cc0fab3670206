#include "flash_config_lst.h"

#include <fstream>

#include "updater.h"  // trim

namespace updater {

FlashConfigLst::FlashConfigLst() : filename("firmware.cfg") {}

FlashConfigLst::FlashConfigLst(const std::string& file) : filename(file) {}

FlashConfigLst::~FlashConfigLst() { Clean(); }

bool FlashConfigLst::Read() {
  std::ifstream in(filename);
  if (!in.is_open()) return false;
  for (;;) {
    std::string line;
    std::getline(in, line);
    // A read that failed for another reason than the end of the file stops
    // the reader instead of looping on it.
    if (in.bad() || (in.fail() && !in.eof())) break;
    line = trim(line);
    if (line.empty() || line[0] != '#') {
      FlashConfig entry;
      std::string::size_type start = 0;
      for (int field = 0;; ++field) {
        const std::string::size_type comma = line.find(',', start);
        const std::string text = trim(line.substr(
            start, comma == std::string::npos ? std::string::npos
                                              : comma - start));
        if (field == 0) entry.BoardName = text;
        else if (field == 1) entry.FWVersion = text;
        else if (field == 2) entry.FWFileName = text;
        if (comma == std::string::npos || field >= 2) break;
        start = comma + 1;
      }
      m_list.push_back(entry);
    }
    if (in.eof()) break;
  }
  return true;
}

const FlashConfig* FlashConfigLst::Get(const std::string& BoardName) const {
  const std::string name = trim(BoardName);
  for (const FlashConfig& entry : m_list)
    if (entry.BoardName == name) return &entry;
  return nullptr;
}

void FlashConfigLst::Clean() { m_list.clear(); }

}  // namespace updater
