// updater: the firmware update wrapper around ./sasburn.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "updater.h"

int main(int argc, char** argv) {
  // A closed standard stream would be handed out again as a pipe end; give
  // it /dev/null instead (a closed standard input then reads as its end).
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0 && null_fd != fd) {
        ::dup2(null_fd, fd);
        ::close(null_fd);
      }
    }
  }
  return updater::updater_main(argc, argv);
}
