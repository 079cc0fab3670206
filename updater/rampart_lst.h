// RampartLst: the fixed list of controller models the wrapper recognises in
// the flash utility's listing.
#ifndef UPDATER_RAMPART_LST_H_
#define UPDATER_RAMPART_LST_H_

#include <string>
#include <vector>

namespace updater {

using BoardList = std::vector<std::string>;

class RampartLst {
 public:
  RampartLst();  // "Q520", "Q521", "Q522", "Q510i", "Q520i"
  ~RampartLst();
  RampartLst(const RampartLst&) = delete;
  RampartLst& operator=(const RampartLst&) = delete;

  // True when board begins with one of the model names (prefix rule).
  bool isMember(const std::string& board) const;
  void Clean();

 private:
  BoardList m_list;
};

}  // namespace updater

#endif  // UPDATER_RAMPART_LST_H_
