// The wrapper's reader of "firmware.cfg" and the lookup of a model in it.
#include <cstdint>
#include <string>

#include "flash_config_lst.h"
#include "fuzz_support.h"
#include "updater.h"  // trim

namespace {

fuzz::MemoryFile* config;

size_t count_lines(const uint8_t* data, size_t size) {
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    config = new fuzz::MemoryFile("firmware.cfg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    config->hold(data, size);
    updater::FlashConfigLst list(config->path());
    FUZZ_CHECK(list.Read());

    // At most one entry per line, and no field reaches across a line end or a comma.
    FUZZ_CHECK(list.entries().size() <= count_lines(data, size));
    for (const updater::FlashConfig& entry : list.entries()) {
        for (const std::string* field : {&entry.BoardName, &entry.FWVersion, &entry.FWFileName})
            FUZZ_CHECK(field->find('\n') == std::string::npos);
        FUZZ_CHECK(entry.BoardName.find(',') == std::string::npos);
        FUZZ_CHECK(entry.FWVersion.find(',') == std::string::npos);
        FUZZ_CHECK(entry.FWFileName.find(',') == std::string::npos);
        // The lookup answers with an entry of the model asked for, or none.
        if (const updater::FlashConfig* found = list.Get(entry.BoardName))
            FUZZ_CHECK(found->BoardName == updater::trim(entry.BoardName));
    }
    return 0;
}
