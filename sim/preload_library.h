// Where fmxsim's COMMAND gets umockdev's preload library from.
#pragma once

#include <string>

namespace fmxsim {

inline constexpr const char kPreloadName[] = "libumockdev-preload.so.0";
inline constexpr const char kPreloadOverride[] = "FMXSIM_PRELOAD";

struct PreloadLibrary {
    std::string value;  // what goes in front of LD_PRELOAD; empty when not found
    std::string error;
};

// FMXSIM_PRELOAD, when set and not empty, is used as it is. Otherwise the
// library must exist in the library folder of this build's architecture
// (x86_64-linux-gnu or i386-linux-gnu, by pointer width), and the value is its
// bare name: the dynamic loader of each child looks it up in that child's own
// library path, so 64-bit and 32-bit children (and their children) all load
// the copy of their own width.
PreloadLibrary find_preload_library();

// LD_PRELOAD for the COMMAND: the library in front of what is already there,
// unless it is already there.
std::string child_ld_preload(const std::string& library, const char* current);

// ASAN_OPTIONS for the COMMAND. AddressSanitizer refuses to start in a
// program whose first loaded library is not its runtime, which the preload
// library always is under fmxsim; verify_asan_link_order=0 lets sanitizer
// builds run. Programs without the sanitizer ignore the variable.
std::string child_asan_options(const char* current);

}  // namespace fmxsim
