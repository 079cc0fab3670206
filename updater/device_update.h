// The update run for one discovered controller: the question, the version
// comparison, the run of "./sasburn -c NN -f <image>" and its judgement.
#ifndef UPDATER_DEVICE_UPDATE_H_
#define UPDATER_DEVICE_UPDATE_H_

#include <cstdio>
#include <string>
#include <vector>

namespace updater {

// Results of flash_HBA_device.
enum UpdateResult {
  kNoEntry = 0,        // the board name has no configuration entry
  kUpdated = 1,        // the flash utility ran, succeeded, printed no ERROR
  kVersionsEqual = 2,  // installed equals configured, "/f" not given
  kNotAnsweredYes = 5, // the operator did not answer yes
  kFlashFailed = 7,    // ERROR line, non-zero exit, or not started
};

// The whole run for record devCount of gblCardCltn.
int flash_HBA_device(int devCount);

// Runs ./<prog> -c <number> <fcmd> <words of fname> and judges it: 7 when an
// output line contains "ERROR", when the child exits with a non-zero status
// or by a signal, or when it cannot be started; 1 otherwise.
int burnkit_do_device_update(const std::string& prog, const std::string& cnum,
                             const std::string& fcmd, const std::string& fname,
                             bool logoutput, const std::string& updname);

// Reads the child's output and tells whether a line contains Tag.  Without
// logoutput, reading stops at the line after the first match.
bool searchfile(std::FILE* pfp, const std::string& Tag, bool logoutput);

// The controller number in the form "-c" reads: the table prints it in
// decimal, "-c" takes hexadecimal, so 10 becomes "0A" (at least two
// upper-case digits).  Text that is not a decimal number stays unchanged.
std::string controller_number_for_c(const std::string& ctrlNum);

// The image-file field split at blanks and tabs into words, with no other
// interpretation.
std::vector<std::string> split_words(const std::string& field);

}  // namespace updater

#endif  // UPDATER_DEVICE_UPDATE_H_
