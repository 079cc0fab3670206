// Shared pieces of the fuzz programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The product prints everything on standard output; a fuzzing run would spend
// its time writing it. Points file descriptor 1 at /dev/null (libFuzzer reports
// on standard error, which stays).
void silence_standard_output();

// A file that lives only in memory, for readers that take a path. Each call of
// `hold` replaces the whole contents; `path` names it for fopen/ifstream.
class MemoryFile {
public:
    explicit MemoryFile(const char* name);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void hold(const uint8_t* data, size_t size);
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Ends the program with a message that libFuzzer reports as a crash; for the
// properties a target checks beyond what the sanitizers see.
[[noreturn]] void property_failed(const char* what);

}  // namespace fuzz

#define FUZZ_CHECK(condition)                                                \
    do {                                                                     \
        if (!(condition)) ::fuzz::property_failed(__FILE__ ": " #condition); \
    } while (0)
