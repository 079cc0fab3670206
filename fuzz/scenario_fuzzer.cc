// The emulator's scenario reader: JSON text to a Scenario, every field checked,
// and a scenario it accepts set up as the driver model and written back as the
// model's snapshot. Region files are looked up in a folder of this run that
// holds one small file, "region.bin".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver.h"
#include "fuzz_support.h"
#include "scenario_file.h"

namespace {

std::string base_dir;

void make_base_dir() {
    char name[] = "/tmp/fmx-scenario-fuzz.XXXXXX";
    if (mkdtemp(name) == nullptr) fuzz::property_failed("mkdtemp");
    base_dir = name;
    std::FILE* region = std::fopen((base_dir + "/region.bin").c_str(), "wb");
    if (region == nullptr) fuzz::property_failed("cannot write region.bin");
    for (int i = 0; i < 256; ++i) std::fputc(i, region);
    std::fclose(region);
}

void remove_base_dir() {
    std::remove((base_dir + "/region.bin").c_str());
    std::remove(base_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_standard_output();
    make_base_dir();
    std::atexit(remove_base_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    fmxsim::ScenarioLoad load = fmxsim::parse_scenario(text, base_dir, "fuzz.json");
    FUZZ_CHECK(load.scenario.has_value() != !load.error.empty());
    if (!load.scenario) {
        FUZZ_CHECK(load.error.starts_with("fuzz.json: "));
        return 0;
    }
    const size_t controllers = load.scenario->controllers.size();
    const size_t nodes = load.scenario->nodes.size();
    fmxsim::Driver driver(std::move(*load.scenario));
    const fmxsim::Scenario snapshot = driver.snapshot();
    FUZZ_CHECK(snapshot.controllers.size() == controllers);
    FUZZ_CHECK(snapshot.nodes.size() == nodes);
    return 0;
}
