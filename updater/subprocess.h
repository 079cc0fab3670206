// ChildProcess: one child started without a shell, its standard output
// connected to a pipe that the wrapper reads.
//
// The child inherits standard input and standard error.  Its output is read
// through output() line by line; finish() reads whatever is left to the end,
// closes the pipe and waits for the child, so that a child is never cut off
// by a closed pipe and never left behind.  The destructor finishes a child
// that was not finished yet.
#ifndef UPDATER_SUBPROCESS_H_
#define UPDATER_SUBPROCESS_H_

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace updater {

struct ChildExit {
  bool started = false;   // false: the child could not be started
  bool exited = false;    // ended by exit(): status holds its exit status
  int status = 0;         // exit status, or the signal number if !exited
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (looked up as execvp does; a name with a '/' is taken as a
  // path) with the words of argv and no expansion of any kind.  Returns 0, or
  // the errno value that kept it from starting.
  int start(const std::vector<std::string>& argv);
  // The read end of the child's standard output; null unless started.
  std::FILE* output() const { return m_out; }
  // Reads the rest of the output, closes it and waits for the child.
  ChildExit finish();

 private:
  pid_t m_pid = -1;
  std::FILE* m_out = nullptr;
  ChildExit m_exit;
};

// Reads one piece of at most 511 characters (a line with its line feed, or
// the first 511 characters of a longer line) as fgets with a 512-character
// buffer does.  False at the end of the output.
bool read_piece(std::FILE* f, std::string& line);
inline constexpr int kLineBuffer = 512;

// The argument vector as one line of text, for traces.
std::string command_text(const std::vector<std::string>& argv);

}  // namespace updater

#endif  // UPDATER_SUBPROCESS_H_
