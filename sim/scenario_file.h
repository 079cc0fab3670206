// Scenario files: JSON, described field by field in sim/README.md.
//
// Reading checks every field; an error names the file and the field, e.g.
//   "bad.json: controllers[0].device_id: expected an integer from 0 to 65535".
// Unknown fields are errors too, so a misspelt field is not silently ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "scenario.h"

namespace fmxsim {

struct ScenarioLoad {
    std::optional<Scenario> scenario;
    std::string error;  // set when scenario is empty
};

ScenarioLoad load_scenario_file(const std::string& path);

// `text` is the file's contents; region files are looked up relative to
// `base_dir`; errors start with `name`.
ScenarioLoad parse_scenario(std::string_view text, const std::string& base_dir, const std::string& name);

// Writes `scenario` to `path`. The flash regions go into files beside it,
// "<name>.c<N>.<region>.bin" for a path "<name>.json" (or "<name>"), which the
// scenario names relative to its own directory. Returns an error text or "".
std::string save_scenario_file(const Scenario& scenario, const std::string& path);

}  // namespace fmxsim
