#include "preload_library.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace fmxsim {

PreloadLibrary find_preload_library() {
    if (const char* chosen = std::getenv(kPreloadOverride); chosen != nullptr && *chosen != '\0') {
        return {chosen, {}};
    }
    const std::string_view triplet = sizeof(void*) == 8 ? "x86_64-linux-gnu" : "i386-linux-gnu";
    for (std::string_view root : {"/usr/lib/", "/lib/"}) {
        const std::string path = std::string(root) + std::string(triplet) + "/" + kPreloadName;
        if (::access(path.c_str(), R_OK) == 0) return {kPreloadName, {}};
    }
    return {{},
            std::string("umockdev's preload library ") + kPreloadName + " is not in /usr/lib/" +
                std::string(triplet) + " (install umockdev, or name the library in " + kPreloadOverride + ")"};
}

std::string child_ld_preload(const std::string& library, const char* current) {
    if (current == nullptr || *current == '\0') return library;
    const std::string existing = current;
    if (existing.find("libumockdev-preload") != std::string::npos) return existing;
    return library + ":" + existing;
}

std::string child_asan_options(const char* current) {
    static constexpr char kLinkOrder[] = "verify_asan_link_order=0";
    if (current == nullptr || *current == '\0') return kLinkOrder;
    const std::string existing = current;
    if (existing.find("verify_asan_link_order") != std::string::npos) return existing;
    return existing + ":" + kLinkOrder;
}

}  // namespace fmxsim
