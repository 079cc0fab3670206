#include "command_line.h"

#include <string_view>

namespace fmxsim {

namespace {

struct ValueOption {
    std::string_view name;
    std::optional<std::string> Options::*field;
};
constexpr ValueOption kValueOptions[] = {
    {"--trace", &Options::trace},
    {"--save-state", &Options::save_state},
};

// Takes "--name VALUE" or "--name=VALUE"; returns false when `arg` is not one
// of the options that take a value.
bool take_value_option(const std::vector<std::string>& args, size_t& i, Options& options, std::string& error) {
    const std::string_view arg = args[i];
    for (const ValueOption& option : kValueOptions) {
        if (arg == option.name) {
            if (i + 1 >= args.size()) {
                error = std::string(option.name) + " needs a file name";
                return true;
            }
            options.*option.field = args[++i];
            return true;
        }
        if (arg.size() > option.name.size() && arg.substr(0, option.name.size()) == option.name &&
            arg[option.name.size()] == '=') {
            options.*option.field = std::string(arg.substr(option.name.size() + 1));
            return true;
        }
    }
    return false;
}

}  // namespace

ParsedOptions parse_command_line(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return parsed;
        }
        if (take_value_option(args, i, options, parsed.error)) {
            if (!parsed.error.empty()) return parsed;
            continue;
        }
        if (arg.starts_with("-")) {
            parsed.error = "unknown option " + arg;
            return parsed;
        }
        if (options.scenario) {
            parsed.error = "more than one scenario (" + *options.scenario + ", " + arg + "); is \"--\" missing?";
            return parsed;
        }
        options.scenario = arg;
    }
    if (i >= args.size()) {
        parsed.error = "no COMMAND: put it after \"--\"";
        return parsed;
    }
    options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (options.command.empty()) parsed.error = "no COMMAND after \"--\"";
    return parsed;
}

const char* usage_text() {
    return R"(usage: fmxsim [options] [SCENARIO] -- COMMAND [ARGS...]

Emulates the controller driver's control nodes and the controllers behind them
for COMMAND and its children (through umockdev: LD_PRELOAD and UMOCKDEV_DIR are
set in their environment), serves their requests until COMMAND ends, and exits
with COMMAND's exit status (128+N when a signal N ended it).

SCENARIO is a JSON scenario file; without it the built-in default is used: two
controllers on /dev/fmx2ctl, IOC 0 (device ID 69 rev 1, board "Q520") and IOC 1
(device ID 71 rev 0, board "Q510i"), each with a firmware image, its backup
copy and an x86 BIOS boot region.

options:
  --trace FILE       write one line per driver request to FILE:
                       node=.. request=0x.. ioc=.. function=0x.. action=0x..
                       page_type=0x.. page_number=.. ext_page_type=0x..
                       image_type=0x.. offset=.. length=.. timeout=.. data_out=..
                       data_in=.. result=.. errno=.. ioc_status=0x....
                     (all fields, in this order; "-" where a field does not apply)
  --save-state FILE  when COMMAND has ended, write the controllers' state to FILE
                     as a scenario a later run can start from; the flash regions
                     go into files beside it (FILE minus ".json", then
                     ".c<N>.<region>.bin")
  -h, --help         this text

scenario file (every field optional unless marked; numbers may be JSON integers
or strings in decimal or 0x hex; unknown fields are errors):
  { "description": "...",
    "controllers": [ {                 absent: the two default controllers
        "based_on": 0|1,               start from a default controller
        "device_id": 69,               required unless based_on
        "revision", "adapter_type", "port", "subsystem_vendor_id",
        "subsystem_device_id", "firmware_version", "boot_image_version",
        "driver_version": "text", "scsi_id", "pci_bus", "pci_device",
        "pci_function", "pci_segment",
        "message_version": "0x0200",   IOC facts
        "manufacturing_page0": { "chip_name", "chip_revision", "board_name",
                                 "board_assembly", "tracer_number", "version",
                                 "current"|"default"|"nonvolatile": "hex" },
        "manufacturing_page2": { "length": 36, "version", "current", ... },
        "sas_io_unit_page":    { "length": 40, ... },   extended page 0x0F/0x10
                               (a page given as null does not exist)
        "regions": { "firmware"|"boot"|"backup":
                     {"file": "path"} | {"hex": "..."} | {"fill": 255, "size": 4096} },
        "faults": {
          "requests": [ {"function": "0x09", "nth": 1, "count": 1,
                         "driver_error": true | "ioc_status": "0x0004",
                         "log_info": "0x1234"} ],
          "readback": [ {"region": "backup", "changed_byte": 100,
                         "size": 0, "after_download": false} ] } } ],
    "nodes": [ {                       absent: all controllers on /dev/fmx2ctl
        "path": "/dev/fmx2ctl",        required; one of the four control nodes
        "open_fails": false,
        "iocs": [ {"ioc": 0, "controller": 0, "ioc_info_fails": false} ] } ] }

exit status: COMMAND's; 2 for a usage, scenario or emulator error; 127 when
COMMAND cannot be started.
environment: FMXSIM_PRELOAD names the preload library to use instead of
libumockdev-preload.so.0.
)";
}

}  // namespace fmxsim
