// FlashConfigLst: the firmware configuration file "firmware.cfg".
//
// Format: a text file of lines.  A line whose first non-blank character is
// '#' is a comment.  Every other line is an entry "model, version, image
// file": fields separated by ',', empty fields count, spaces and then tabs
// trimmed around each field (a carriage return is kept).  Missing fields stay
// empty, fields after the third are ignored.  A file that ends with a line
// feed yields one last entry with three empty fields.
#ifndef UPDATER_FLASH_CONFIG_LST_H_
#define UPDATER_FLASH_CONFIG_LST_H_

#include <list>
#include <string>

namespace updater {

struct FlashConfig {
  std::string BoardName;   // model, compared exactly with the discovered one
  std::string FWVersion;   // version to install, as the utility prints it
  std::string FWFileName;  // image file field, passed to the utility
};

// The entries in file order; std::list keeps the pointers Get hands out
// valid while entries are appended.
using FlashConfigList = std::list<FlashConfig>;

class FlashConfigLst {
 public:
  FlashConfigLst();  // filename "firmware.cfg"
  explicit FlashConfigLst(const std::string& file);
  ~FlashConfigLst();
  FlashConfigLst(const FlashConfigLst&) = delete;
  FlashConfigLst& operator=(const FlashConfigLst&) = delete;

  // Reads the file, appending its entries; false (no message) when it cannot
  // be opened.
  bool Read();
  // The first entry for the trimmed model name, or null.
  const FlashConfig* Get(const std::string& BoardName) const;
  void Clean();

  const FlashConfigList& entries() const { return m_list; }
  void setFileName(const std::string& file) { filename = file; }

 private:
  std::string filename;
  FlashConfigList m_list;
};

}  // namespace updater

#endif  // UPDATER_FLASH_CONFIG_LST_H_
