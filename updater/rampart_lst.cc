#include "rampart_lst.h"

namespace updater {

RampartLst::RampartLst() : m_list{"Q520", "Q521", "Q522", "Q510i", "Q520i"} {}

RampartLst::~RampartLst() { Clean(); }

bool RampartLst::isMember(const std::string& board) const {
  for (const std::string& name : m_list) {
    // The leading name.size() characters of board against the name; a board
    // shorter than the name cannot match.
    if (board.size() >= name.size() && board.compare(0, name.size(), name) == 0)
      return true;
  }
  return false;
}

void RampartLst::Clean() { m_list.clear(); }

}  // namespace updater
