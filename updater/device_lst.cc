#include "device_lst.h"

namespace updater {

DeviceLst::~DeviceLst() { Clean(); }

void DeviceLst::add(const std::string& board) { m_list.push_back(board); }

void DeviceLst::Clean() { m_list.clear(); }

}  // namespace updater
