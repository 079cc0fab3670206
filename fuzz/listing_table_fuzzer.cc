// The wrapper's parse of "sasburn -listall" output: line pieces, skip words,
// the "ERROR" stop, the row split and the model filter, into the collection of
// at most ten controllers.
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "discovery.h"
#include "fuzz_support.h"
#include "rampart_lst.h"
#include "updater.h"

namespace {

fuzz::MemoryFile* listing;

// A stream that swallows what the wrapper prints ("match: ..." lines).
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
};
NullBuffer null_buffer;
std::ostream null_stream(&null_buffer);

std::vector<updater::burnkit_info> parse(bool logging) {
    std::FILE* stream = std::fopen(listing->path().c_str(), "r");
    FUZZ_CHECK(stream != nullptr);
    const int count = updater::parse_listing(stream, logging);
    std::fclose(stream);

    FUZZ_CHECK(count >= 0 && count <= updater::kMaxCards);
    FUZZ_CHECK(updater::gblCardCltn.count == count);
    return {updater::gblCardCltn.cardInfo, updater::gblCardCltn.cardInfo + count};
}

bool same(const updater::burnkit_info& a, const updater::burnkit_info& b) {
    return a.ctrlNum == b.ctrlNum && a.boardName == b.boardName && a.fwversion == b.fwversion &&
           a.biosrivision == b.biosrivision;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    updater::cli.setStreams(nullptr, &null_stream, &null_stream);
    listing = new fuzz::MemoryFile("listing");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    listing->hold(data, size);
    const std::vector<updater::burnkit_info> quiet = parse(false);
    const std::vector<updater::burnkit_info> logged = parse(true);

    // Logging reads on past an "ERROR" line but takes no row after it, so both
    // readings record the same controllers.
    FUZZ_CHECK(quiet.size() == logged.size());
    const updater::RampartLst models;
    for (size_t i = 0; i < quiet.size(); ++i) {
        FUZZ_CHECK(same(quiet[i], logged[i]));
        FUZZ_CHECK(!quiet[i].ctrlNum.empty());
        FUZZ_CHECK(models.isMember(quiet[i].boardName));
        for (const std::string* field :
             {&quiet[i].ctrlNum, &quiet[i].boardName, &quiet[i].fwversion})
            FUZZ_CHECK(field->find(' ') == std::string::npos);
    }
    return 0;
}
