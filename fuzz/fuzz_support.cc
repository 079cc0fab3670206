#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void silence_standard_output() {
    std::fflush(stdout);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
        std::perror("fuzz: cannot point standard output at /dev/null");
        std::abort();
    }
    close(null_fd);
}

MemoryFile::MemoryFile(const char* name) {
    fd_ = memfd_create(name, MFD_CLOEXEC);
    if (fd_ < 0) {
        std::perror("fuzz: memfd_create");
        std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
    if (fd_ >= 0) close(fd_);
}

void MemoryFile::hold(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) std::abort();
        done += static_cast<size_t>(wrote);
    }
}

void property_failed(const char* what) {
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
}

}  // namespace fuzz
