// Writing scenario files: the saved state of a run. Every field is written out
// (nothing is left to defaults), so a saved file does not change meaning when
// the defaults do.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "message_frames.h"
#include "scenario_file.h"

namespace fmxsim {

namespace {

using nlohmann::ordered_json;

std::string hex_text(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::string write_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (out) out.close();
    if (!out) return path + ": cannot write: " + std::strerror(errno);
    return {};
}

ordered_json page_json(const ControllerSpec& c, uint8_t type, uint8_t number, uint8_t ext_type) {
    const PageSpec* page = c.find_page(type, number, ext_type);
    if (page == nullptr) return nullptr;
    ordered_json j;
    j["version"] = page->version;
    if (!(type == fmx::kPageTypeManufacturing && number == 0)) j["length"] = page->size();
    j["current"] = hex_bytes(page->current);
    j["default"] = hex_bytes(page->defaults);
    j["nonvolatile"] = hex_bytes(page->nonvolatile);
    return j;
}

ordered_json faults_json(const ControllerSpec& c) {
    ordered_json requests = ordered_json::array();
    for (const RequestFault& f : c.request_faults) {
        ordered_json j;
        j["function"] = hex_text(f.function, 2);
        j["nth"] = f.nth;
        j["count"] = f.count;
        if (f.driver_error) {
            j["driver_error"] = true;
        } else {
            j["ioc_status"] = hex_text(f.ioc_status, 4);
            if (f.log_info) j["log_info"] = hex_text(*f.log_info, 8);
        }
        requests.push_back(j);
    }
    ordered_json readback = ordered_json::array();
    for (const ReadbackFault& f : c.readback_faults) {
        ordered_json j;
        j["region"] = std::string(region_name(f.region));
        if (f.changed_byte) j["changed_byte"] = *f.changed_byte;
        if (f.size) j["size"] = *f.size;
        j["after_download"] = f.after_download;
        readback.push_back(j);
    }
    return ordered_json{{"requests", requests}, {"readback", readback}};
}

class StateWriter {
public:
    explicit StateWriter(const std::string& path) {
        const size_t slash = path.rfind('/');
        dir_ = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        stem_ = slash == std::string::npos ? path : path.substr(slash + 1);
        if (stem_.ends_with(".json")) stem_.resize(stem_.size() - 5);
    }

    std::string write(const Scenario& scenario, std::string& contents) {
        ordered_json top;
        top["description"] = scenario.description;
        top["controllers"] = ordered_json::array();
        for (size_t i = 0; i < scenario.controllers.size(); ++i) {
            ordered_json controller;
            if (std::string error = controller_json(scenario.controllers[i], i, controller); !error.empty()) {
                return error;
            }
            top["controllers"].push_back(controller);
        }
        top["nodes"] = ordered_json::array();
        for (const NodeSpec& node : scenario.nodes) top["nodes"].push_back(node_json(node));
        contents = top.dump(2) + "\n";
        return {};
    }

private:
    std::string controller_json(const ControllerSpec& c, size_t index, ordered_json& j) {
        j["device_id"] = c.device_id;
        j["revision"] = c.revision;
        j["adapter_type"] = c.adapter_type;
        j["port"] = c.port;
        j["subsystem_vendor_id"] = hex_text(c.subsystem_vendor_id, 4);
        j["subsystem_device_id"] = hex_text(c.subsystem_device_id, 4);
        j["firmware_version"] = hex_text(c.firmware_version, 8);
        j["boot_image_version"] = hex_text(c.boot_image_version, 8);
        j["driver_version"] = c.driver_version;
        j["scsi_id"] = c.scsi_id;
        j["pci_bus"] = c.pci_bus;
        j["pci_device"] = c.pci_device;
        j["pci_function"] = c.pci_function;
        j["pci_segment"] = c.pci_segment;
        j["message_version"] = hex_text(c.message_version, 4);
        j["manufacturing_page0"] = page_json(c, fmx::kPageTypeManufacturing, 0, 0);
        j["manufacturing_page2"] = page_json(c, fmx::kPageTypeManufacturing, 2, 0);
        j["sas_io_unit_page"] = page_json(c, fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit);
        ordered_json regions;
        for (RegionKind kind : kRegionKinds) {
            const std::string name = stem_ + ".c" + std::to_string(index) + "." + std::string(region_name(kind)) + ".bin";
            const auto& bytes = c.region(kind);
            if (std::string error = write_file(dir_ + name, std::string(bytes.begin(), bytes.end())); !error.empty()) {
                return error;
            }
            regions[std::string(region_name(kind))] = ordered_json{{"file", name}};
        }
        j["regions"] = regions;
        j["faults"] = faults_json(c);
        return {};
    }

    static ordered_json node_json(const NodeSpec& node) {
        ordered_json j;
        j["path"] = node.path;
        j["open_fails"] = node.open_fails;
        j["iocs"] = ordered_json::array();
        for (const Attachment& a : node.iocs) {
            j["iocs"].push_back({{"ioc", a.ioc}, {"controller", a.controller}, {"ioc_info_fails", a.ioc_info_fails}});
        }
        return j;
    }

    std::string dir_;
    std::string stem_;
};

}  // namespace

std::string save_scenario_file(const Scenario& scenario, const std::string& path) {
    std::string contents;
    StateWriter writer(path);
    if (std::string error = writer.write(scenario, contents); !error.empty()) return error;
    return write_file(path, contents);
}

}  // namespace fmxsim
