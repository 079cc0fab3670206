// A temporary directory for one test, removed with everything in it when the
// object goes (kept when FMX_KEEP_TEMP is set, for looking at it afterwards).
#pragma once

#include <string>

namespace fmx_test {

class TempDir {
public:
    // Throws std::runtime_error when the directory cannot be made.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes `contents` to `path` and returns `path`; throws std::runtime_error on
// failure.
std::string write_file(const std::string& path, const std::string& contents);
std::string read_file(const std::string& path);

}  // namespace fmx_test
