// DeviceLst: the models given with "/t".  Collected; the run does not
// consult them.
#ifndef UPDATER_DEVICE_LST_H_
#define UPDATER_DEVICE_LST_H_

#include <string>

#include "rampart_lst.h"  // BoardList

namespace updater {

class DeviceLst {
 public:
  DeviceLst() = default;
  ~DeviceLst();
  DeviceLst(const DeviceLst&) = delete;
  DeviceLst& operator=(const DeviceLst&) = delete;

  void add(const std::string& board);
  void Clean();
  const BoardList& list() const { return m_list; }

 private:
  BoardList m_list;
};

}  // namespace updater

#endif  // UPDATER_DEVICE_LST_H_
