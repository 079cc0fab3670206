// Reading scenario files. Every field is read through ObjectReader, which knows
// the field's path for error messages and rejects fields it was not asked for.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "default_images.h"
#include "message_frames.h"
#include "scenario_file.h"

namespace fmxsim {

namespace {

using nlohmann::json;

// Regions larger than this are taken for a mistake in the file.
constexpr uint64_t kMaxRegionSize = 64u << 20;
// So are regions that add up to more than this over the whole scenario: the
// emulator holds them several times over (the model, its saved state), and a
// few lines of "fill" could otherwise ask for gigabytes.
constexpr uint64_t kMaxScenarioRegionBytes = 256u << 20;

struct FieldError {
    std::string field;
    std::string message;
};

[[noreturn]] void fail(const std::string& field, const std::string& message) {
    throw FieldError{field, message};
}

std::string join(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string at_index(const std::string& path, size_t index) { return path + "[" + std::to_string(index) + "]"; }

bool parse_integer_text(const std::string& text, uint64_t& out) {
    if (text.empty()) return false;
    const bool is_hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (is_hex ? 2 : 0);
    if (*digits == '\0' || *digits == '-' || *digits == '+' || std::isspace(static_cast<unsigned char>(*digits))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(digits, &end, is_hex ? 16 : 10);
    if (errno != 0 || *end != '\0') return false;
    out = value;
    return true;
}

// A JSON integer, or a string holding a decimal or 0x-prefixed hex number.
uint64_t read_integer(const json& value, const std::string& field, uint64_t min, uint64_t max) {
    uint64_t number = 0;
    bool ok = false;
    if (value.is_number_unsigned()) {
        number = value.get<uint64_t>();
        ok = true;
    } else if (value.is_string()) {
        ok = parse_integer_text(value.get<std::string>(), number);
    }
    if (!ok || number < min || number > max) {
        fail(field, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return number;
}

std::vector<uint8_t> read_hex(const json& value, const std::string& field) {
    if (!value.is_string()) fail(field, "expected a string of hex digits");
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : value.get<std::string>()) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) fail(field, "expected a string of hex digits");
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) fail(field, "odd number of hex digits");
    return bytes;
}

class ObjectReader {
public:
    ObjectReader(const json& value, std::string path) : value_(value), path_(std::move(path)) {
        if (!value_.is_object()) fail(path_.empty() ? "(top level)" : path_, "expected an object");
    }

    const std::string& path() const { return path_; }
    std::string field(std::string_view key) const { return join(path_, key); }

    const json* get(std::string_view key) {
        const auto it = value_.find(key);
        if (it == value_.end()) return nullptr;
        used_.insert(std::string(key));
        return &*it;
    }
    bool has(std::string_view key) const { return value_.contains(key); }

    template <typename T>
    void integer(std::string_view key, T& out, uint64_t min = 0,
                 uint64_t max = std::numeric_limits<T>::max()) {
        if (const json* value = get(key)) out = static_cast<T>(read_integer(*value, field(key), min, max));
    }
    template <typename T>
    T required_integer(std::string_view key, uint64_t min = 0, uint64_t max = std::numeric_limits<T>::max()) {
        const json* value = get(key);
        if (value == nullptr) fail(field(key), "missing");
        return static_cast<T>(read_integer(*value, field(key), min, max));
    }
    void text(std::string_view key, std::string& out) {
        const json* value = get(key);
        if (value == nullptr) return;
        if (!value->is_string()) fail(field(key), "expected a string");
        out = value->get<std::string>();
    }
    void boolean(std::string_view key, bool& out) {
        const json* value = get(key);
        if (value == nullptr) return;
        if (!value->is_boolean()) fail(field(key), "expected true or false");
        out = value->get<bool>();
    }
    const json* array(std::string_view key) {
        const json* value = get(key);
        if (value != nullptr && !value->is_array()) fail(field(key), "expected an array");
        return value;
    }

    // Every field of the object must have been read.
    void finish() const {
        for (const auto& [key, value] : value_.items()) {
            if (!used_.contains(key)) fail(field(key), "unknown field");
        }
    }

private:
    const json& value_;
    std::string path_;
    std::set<std::string> used_;
};

std::string read_file(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return {};
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) error = "read error";
    return contents.str();
}

class ScenarioReader {
public:
    explicit ScenarioReader(std::string base_dir) : base_dir_(std::move(base_dir)) {}

    Scenario read(const json& document) {
        ObjectReader top(document, "");
        Scenario scenario;
        top.text("description", scenario.description);
        if (const json* controllers = top.array("controllers")) {
            for (size_t i = 0; i < controllers->size(); ++i) {
                scenario.controllers.push_back(read_controller((*controllers)[i], at_index("controllers", i), i));
            }
        } else {
            scenario.controllers = default_scenario().controllers;
        }
        if (const json* nodes = top.array("nodes")) {
            for (size_t i = 0; i < nodes->size(); ++i) {
                scenario.nodes.push_back(read_node((*nodes)[i], at_index("nodes", i), scenario));
            }
        } else {
            scenario.nodes = nodes_for_all(scenario.controllers.size());
        }
        top.finish();
        return scenario;
    }

private:
    // Without a node list every controller sits on /dev/fmx2ctl under its index.
    static std::vector<NodeSpec> nodes_for_all(size_t controllers) {
        NodeSpec node{"/dev/fmx2ctl", false, {}};
        for (size_t i = 0; i < controllers; ++i) node.iocs.push_back({static_cast<uint32_t>(i), i, false});
        return {node};
    }

    ControllerSpec read_controller(const json& value, const std::string& path, size_t index) {
        ObjectReader r(value, path);
        ControllerSpec c = base_controller(r, index);
        if (r.has("device_id") || !r.has("based_on")) c.device_id = r.required_integer<uint16_t>("device_id");
        r.integer("revision", c.revision);
        r.integer("adapter_type", c.adapter_type);
        r.integer("port", c.port);
        r.integer("subsystem_vendor_id", c.subsystem_vendor_id);
        r.integer("subsystem_device_id", c.subsystem_device_id);
        r.integer("firmware_version", c.firmware_version);
        r.integer("boot_image_version", c.boot_image_version);
        r.text("driver_version", c.driver_version);
        if (c.driver_version.size() > 31) fail(r.field("driver_version"), "longer than 31 characters");
        r.integer("scsi_id", c.scsi_id);
        r.integer("pci_bus", c.pci_bus, 0, 0xFFFFFF);
        r.integer("pci_device", c.pci_device, 0, 31);
        r.integer("pci_function", c.pci_function, 0, 7);
        r.integer("pci_segment", c.pci_segment);
        r.integer("message_version", c.message_version);
        read_pages(r, c);
        read_regions(r, c);
        read_faults(r, c);
        r.finish();
        return c;
    }

    // A controller starts from a default controller ("based_on") or from plain
    // defaults with its own default flash contents.
    ControllerSpec base_controller(ObjectReader& r, size_t index) {
        ControllerSpec c;
        size_t base = 0;
        if (r.has("based_on")) {
            const Scenario defaults = default_scenario();
            r.integer("based_on", base, 0, defaults.controllers.size() - 1);
            return defaults.controllers[base];
        }
        const int image_index = static_cast<int>(index);
        c.firmware = default_firmware_image(image_index);
        c.backup = c.firmware;
        c.boot = default_boot_region(image_index);
        c.pages.push_back(make_manufacturing_page0({}));
        c.pages.push_back(make_page(fmx::kPageTypeManufacturing, 2, 0, 0, 36));
        c.pages.push_back(make_page(fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit, 0, 40));
        return c;
    }

    // ---- configuration pages ----

    struct PageSlot {
        std::string_view key;
        uint8_t type;
        uint8_t number;
        uint8_t ext_type;
    };
    static constexpr PageSlot kPageSlots[] = {
        {"manufacturing_page0", fmx::kPageTypeManufacturing, 0, 0},
        {"manufacturing_page2", fmx::kPageTypeManufacturing, 2, 0},
        {"sas_io_unit_page", fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit},
    };

    static void read_pages(ObjectReader& r, ControllerSpec& c) {
        for (const PageSlot& slot : kPageSlots) {
            const json* value = r.get(slot.key);
            if (value == nullptr) continue;
            auto it = std::find_if(c.pages.begin(), c.pages.end(), [&](const PageSpec& p) {
                return p.type == slot.type && p.number == slot.number && p.ext_type == slot.ext_type;
            });
            if (value->is_null()) {
                if (it != c.pages.end()) c.pages.erase(it);
                continue;
            }
            const PageSpec* base = it != c.pages.end() ? &*it : nullptr;
            PageSpec page = read_page(*value, r.field(slot.key), slot, base);
            if (it != c.pages.end()) {
                *it = std::move(page);
            } else {
                c.pages.push_back(std::move(page));
            }
        }
    }

    static std::string page0_text(const PageSpec* base, size_t offset, size_t width) {
        if (base == nullptr || base->defaults.size() < offset + width) return {};
        const char* start = reinterpret_cast<const char*>(base->defaults.data() + offset);
        return std::string(start, strnlen(start, width));
    }

    static PageSpec read_page(const json& value, const std::string& path, const PageSlot& slot,
                              const PageSpec* base) {
        ObjectReader r(value, path);
        uint8_t version = base ? base->version : 0;
        r.integer("version", version);
        PageSpec page;
        if (slot.type == fmx::kPageTypeManufacturing && slot.number == 0) {
            page = make_manufacturing_page0(read_page0_text(r, base), version);
        } else {
            const bool extended = slot.type == fmx::kPageTypeExtended;
            const size_t header = extended ? sizeof(fmx::ExtendedPageHeader) : sizeof(fmx::ConfigPageHeader);
            const uint64_t max = extended ? 0xFFFFu * 4 : 0xFFu * 4;
            uint64_t length = base ? base->size() : (extended ? 40 : 36);
            r.integer("length", length, header, max);
            if (length % 4 != 0) fail(r.field("length"), "expected a multiple of 4");
            std::vector<uint8_t> body;
            if (base && base->size() == length) body.assign(base->defaults.begin() + header, base->defaults.end());
            page = make_page(slot.type, slot.number, slot.ext_type, version, length, body);
            if (base && base->size() == length) {
                page.current = base->current;
                page.nonvolatile = base->nonvolatile;
                for (auto* copy : {&page.current, &page.defaults, &page.nonvolatile}) stamp_page_header(page, *copy);
            }
        }
        read_page_copy(r, "current", page, page.current);
        read_page_copy(r, "default", page, page.defaults);
        read_page_copy(r, "nonvolatile", page, page.nonvolatile);
        r.finish();
        return page;
    }

    static Page0Text read_page0_text(ObjectReader& r, const PageSpec* base) {
        Page0Text text{page0_text(base, offsetof(fmx::ManufacturingPage0, chip_name), 16),
                       page0_text(base, offsetof(fmx::ManufacturingPage0, chip_revision), 8),
                       page0_text(base, offsetof(fmx::ManufacturingPage0, board_name), 16),
                       page0_text(base, offsetof(fmx::ManufacturingPage0, board_assembly), 16),
                       page0_text(base, offsetof(fmx::ManufacturingPage0, board_tracer_number), 16)};
        const struct {
            std::string_view key;
            std::string* out;
            size_t width;
        } fields[] = {{"chip_name", &text.chip_name, 16},
                      {"chip_revision", &text.chip_revision, 8},
                      {"board_name", &text.board_name, 16},
                      {"board_assembly", &text.board_assembly, 16},
                      {"tracer_number", &text.tracer_number, 16}};
        for (const auto& f : fields) {
            r.text(f.key, *f.out);
            if (f.out->size() > f.width) {
                fail(r.field(f.key), "longer than " + std::to_string(f.width) + " characters");
            }
        }
        return text;
    }

    static void read_page_copy(ObjectReader& r, std::string_view key, const PageSpec& page,
                               std::vector<uint8_t>& copy) {
        const json* value = r.get(key);
        if (value == nullptr) return;
        std::vector<uint8_t> bytes = read_hex(*value, r.field(key));
        if (bytes.size() != page.size()) {
            fail(r.field(key), "expected " + std::to_string(page.size()) + " bytes, the page's length");
        }
        stamp_page_header(page, bytes);
        copy = std::move(bytes);
    }

    // ---- flash regions ----

    void read_regions(ObjectReader& r, ControllerSpec& c) {
        const json* value = r.get("regions");
        if (value == nullptr) return;
        ObjectReader regions(*value, r.field("regions"));
        bool backup_given = regions.has("backup");
        for (RegionKind kind : kRegionKinds) {
            if (const json* source = regions.get(region_name(kind))) {
                c.region(kind) = read_region(*source, regions.field(region_name(kind)));
            }
        }
        // A backup region not named holds the firmware the scenario gives.
        if (!backup_given && regions.has("firmware")) c.backup = c.firmware;
        regions.finish();
    }

    std::vector<uint8_t> read_region(const json& value, const std::string& path) {
        ObjectReader r(value, path);
        const int sources = r.has("file") + r.has("hex") + r.has("fill");
        if (sources != 1) fail(path, "expected exactly one of \"file\", \"hex\" or \"fill\"");
        std::vector<uint8_t> bytes;
        if (r.has("file")) {
            std::string name;
            r.text("file", name);
            bytes = read_region_file(name, r.field("file"));
        } else if (r.has("hex")) {
            bytes = read_hex(*r.get("hex"), r.field("hex"));
        } else {
            const uint8_t fill = r.required_integer<uint8_t>("fill");
            const size_t size = r.required_integer<size_t>("size", 0, kMaxRegionSize);
            count_region_bytes(size, path);
            bytes.assign(size, fill);
        }
        if (bytes.size() > kMaxRegionSize) fail(path, "larger than 64 MiB");
        if (!r.has("fill")) count_region_bytes(bytes.size(), path);
        r.finish();
        return bytes;
    }

    void count_region_bytes(uint64_t size, const std::string& path) {
        region_bytes_ += size;
        if (region_bytes_ > kMaxScenarioRegionBytes) fail(path, "the scenario's regions add up to more than 256 MiB");
    }

    std::vector<uint8_t> read_region_file(const std::string& name, const std::string& field) const {
        const std::string path = name.starts_with('/') || base_dir_.empty() ? name : base_dir_ + "/" + name;
        // Only a file of known size is read: a device or a pipe (/dev/zero, a FIFO)
        // would be read without end.
        std::error_code status_error;
        const auto status = std::filesystem::status(path, status_error);
        if (!status_error && !std::filesystem::is_regular_file(status)) {
            fail(field, "\"" + path + "\" is not a regular file");
        }
        if (!status_error && std::filesystem::file_size(path, status_error) > kMaxRegionSize) {
            fail(field, "\"" + path + "\" is larger than 64 MiB");
        }
        std::string error;
        const std::string contents = read_file(path, error);
        if (!error.empty()) fail(field, "cannot read \"" + path + "\": " + error);
        return std::vector<uint8_t>(contents.begin(), contents.end());
    }

    // ---- faults ----

    static void read_faults(ObjectReader& r, ControllerSpec& c) {
        const json* value = r.get("faults");
        if (value == nullptr) return;
        ObjectReader faults(*value, r.field("faults"));
        if (const json* list = faults.array("requests")) {
            c.request_faults.clear();
            for (size_t i = 0; i < list->size(); ++i) {
                c.request_faults.push_back(read_request_fault((*list)[i], at_index(faults.field("requests"), i)));
            }
        }
        if (const json* list = faults.array("readback")) {
            c.readback_faults.clear();
            for (size_t i = 0; i < list->size(); ++i) {
                c.readback_faults.push_back(read_readback_fault((*list)[i], at_index(faults.field("readback"), i)));
            }
        }
        faults.finish();
    }

    static RequestFault read_request_fault(const json& value, const std::string& path) {
        ObjectReader r(value, path);
        RequestFault fault;
        fault.function = r.required_integer<uint8_t>("function");
        r.integer("nth", fault.nth, 1);
        r.integer("count", fault.count);
        r.boolean("driver_error", fault.driver_error);
        const bool has_status = r.has("ioc_status");
        r.integer("ioc_status", fault.ioc_status);
        if (r.has("log_info")) fault.log_info = r.required_integer<uint32_t>("log_info");
        if (fault.driver_error == has_status) {
            fail(path, "expected either \"driver_error\": true or an \"ioc_status\"");
        }
        if (fault.driver_error && fault.log_info) fail(r.field("log_info"), "a driver error has no log info");
        r.finish();
        return fault;
    }

    static ReadbackFault read_readback_fault(const json& value, const std::string& path) {
        ObjectReader r(value, path);
        ReadbackFault fault;
        std::string region;
        r.text("region", region);
        const auto kind = region_by_name(region);
        if (!kind) fail(r.field("region"), "expected \"firmware\", \"boot\" or \"backup\"");
        fault.region = *kind;
        if (r.has("changed_byte")) fault.changed_byte = r.required_integer<uint32_t>("changed_byte");
        if (r.has("size")) fault.size = r.required_integer<uint32_t>("size");
        r.boolean("after_download", fault.after_download);
        if (!fault.changed_byte && !fault.size) fail(path, "expected \"changed_byte\" or \"size\"");
        r.finish();
        return fault;
    }

    // ---- nodes ----

    static NodeSpec read_node(const json& value, const std::string& path, const Scenario& scenario) {
        ObjectReader r(value, path);
        NodeSpec node;
        r.text("path", node.path);
        if (!is_control_node(node.path)) {
            fail(r.field("path"), "expected one of /dev/fmx2ctl_wd, /dev/fmx2ctl, /dev/qxvsactl, /dev/fmx3ctl");
        }
        if (scenario.find_node(node.path) != nullptr) fail(r.field("path"), "node named twice");
        r.boolean("open_fails", node.open_fails);
        if (const json* list = r.array("iocs")) {
            for (size_t i = 0; i < list->size(); ++i) {
                const std::string item = at_index(r.field("iocs"), i);
                ObjectReader a((*list)[i], item);
                Attachment attachment;
                attachment.ioc = a.required_integer<uint32_t>("ioc");
                if (node.find(attachment.ioc) != nullptr) fail(a.field("ioc"), "IOC number used twice on this node");
                if (scenario.controllers.empty()) fail(a.field("controller"), "the scenario has no controllers");
                attachment.controller = a.required_integer<size_t>("controller", 0, scenario.controllers.size() - 1);
                a.boolean("ioc_info_fails", attachment.ioc_info_fails);
                a.finish();
                node.iocs.push_back(attachment);
            }
        }
        r.finish();
        return node;
    }

    std::string base_dir_;
    uint64_t region_bytes_ = 0;  // of the regions the file gives, so far
};

}  // namespace

ScenarioLoad parse_scenario(std::string_view text, const std::string& base_dir, const std::string& name) {
    ScenarioLoad load;
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        // parse_error for the syntax; out_of_range for a number no double can hold.
        load.error = name + ": not valid JSON: " + e.what();
        return load;
    }
    try {
        load.scenario = ScenarioReader(base_dir).read(document);
    } catch (const FieldError& e) {
        load.error = name + ": " + e.field + ": " + e.message;
    }
    return load;
}

ScenarioLoad load_scenario_file(const std::string& path) {
    std::string error;
    const std::string text = read_file(path, error);
    if (!error.empty()) return ScenarioLoad{std::nullopt, path + ": cannot read: " + error};
    const size_t slash = path.rfind('/');
    const std::string base_dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    return parse_scenario(text, base_dir, path);
}

}  // namespace fmxsim
