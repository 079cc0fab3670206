// The emulator's scenario: which control nodes exist, which controllers they
// carry under which IOC numbers, what each controller reports and holds, and the
// faults it is told to show.
//
// A scenario is plain data. It is read from a file (scenario_file.h), built by
// tests, or the built-in default (default_scenario()). The running model
// (Driver, Controller) starts from one and can write its final state back into
// one, so a later run can continue where an earlier one stopped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fmxsim {

// The driver's four control nodes, in the order discovery tries them.
inline constexpr std::array<std::string_view, 4> kControlNodes = {
    "/dev/fmx2ctl_wd", "/dev/fmx2ctl", "/dev/qxvsactl", "/dev/fmx3ctl"};
bool is_control_node(std::string_view path);

// The three flash regions, named by the image type that selects them.
enum class RegionKind : uint8_t { firmware = 1, boot = 2, backup = 5 };
inline constexpr std::array<RegionKind, 3> kRegionKinds = {RegionKind::firmware, RegionKind::boot,
                                                           RegionKind::backup};
std::string_view region_name(RegionKind kind);  // "firmware", "boot", "backup"
std::optional<RegionKind> region_by_name(std::string_view name);
std::optional<RegionKind> region_by_image_type(uint8_t image_type);

// Third-generation controllers expect the short firmware-transfer frames.
inline bool is_third_generation(uint16_t device_id) { return device_id >= 144 && device_id <= 151; }

// One configuration page with its three copies. Each copy holds the whole page,
// header included; all three have the same size. The header bytes of every copy
// always describe the page itself (see make_page).
struct PageSpec {
    uint8_t type = 0;      // 0x0F for an extended page
    uint8_t number = 0;
    uint8_t ext_type = 0;  // extended pages only
    uint8_t version = 0;
    std::vector<uint8_t> current;
    std::vector<uint8_t> defaults;
    std::vector<uint8_t> nonvolatile;
    size_t size() const { return current.size(); }
    bool is_extended() const;
};

// The text fields of manufacturing page 0; each is cut to its field width.
struct Page0Text {
    std::string chip_name;
    std::string chip_revision;
    std::string board_name;
    std::string board_assembly;
    std::string tracer_number;
};

inline constexpr uint8_t kManufacturingPage0Size = 76;

// A page of `size` bytes whose three copies hold `body` behind the header
// (zero-filled or cut to fit). `size` must be a multiple of 4 and hold the header.
PageSpec make_page(uint8_t type, uint8_t number, uint8_t ext_type, uint8_t version, size_t size,
                   const std::vector<uint8_t>& body = {});
PageSpec make_manufacturing_page0(const Page0Text& text, uint8_t version = 0);
// Rewrites the header bytes of `copy` to describe `page` (type, number, length).
void stamp_page_header(const PageSpec& page, std::vector<uint8_t>& copy);

// The n-th request (1-based, counted per controller) of a function code, and
// the `count` after it (0: every one from the n-th on), fail: in the driver
// (ioctl -1 with EIO) or with an IOC status and log info from the controller.
// A failed request is not carried out.
struct RequestFault {
    uint8_t function = 0;
    uint32_t nth = 1;
    uint32_t count = 1;
    bool driver_error = false;
    uint16_t ioc_status = 0;
    std::optional<uint32_t> log_info{};  // when set, the reply's status has bit 15 set
    bool matches(uint8_t request_function, uint32_t ordinal) const;
};

// What an upload of a region returns differs from what the region holds: one
// byte changed (inverted), and/or only the first `size` bytes (0: empty).
// With `after_download`, only once the region was written during this run.
struct ReadbackFault {
    RegionKind region = RegionKind::backup;
    std::optional<uint32_t> changed_byte{};
    std::optional<uint32_t> size{};
    bool after_download = false;
};

struct ControllerSpec {
    // IOC information values.
    uint32_t adapter_type = 2;
    uint32_t port = 0;
    uint16_t device_id = 0;
    uint8_t revision = 0;
    uint16_t subsystem_vendor_id = 0x1F0A;
    uint16_t subsystem_device_id = 0;
    uint32_t firmware_version = 0;
    uint32_t boot_image_version = 0;
    std::string driver_version = "4.28.00.00";
    uint8_t scsi_id = 0;
    uint32_t pci_bus = 0;    // 24 bits
    uint8_t pci_device = 0;  // 5 bits
    uint8_t pci_function = 0;  // 3 bits
    uint32_t pci_segment = 0;
    uint32_t pci_location() const;

    uint16_t message_version = 0x0200;  // IOC facts
    std::vector<PageSpec> pages;
    std::vector<uint8_t> firmware;
    std::vector<uint8_t> boot;
    std::vector<uint8_t> backup;
    std::vector<RequestFault> request_faults;
    std::vector<ReadbackFault> readback_faults;

    std::vector<uint8_t>& region(RegionKind kind);
    const std::vector<uint8_t>& region(RegionKind kind) const;
    const PageSpec* find_page(uint8_t type, uint8_t number, uint8_t ext_type) const;
};

// A controller as one node carries it.
struct Attachment {
    uint32_t ioc = 0;
    size_t controller = 0;  // index into Scenario::controllers
    bool ioc_info_fails = false;  // IOC information for this number fails (EIO)
};

struct NodeSpec {
    std::string path;
    bool open_fails = false;  // the node exists but open() fails (ENXIO)
    std::vector<Attachment> iocs;
    const Attachment* find(uint32_t ioc) const;
};

struct Scenario {
    std::string description;
    std::vector<ControllerSpec> controllers;
    std::vector<NodeSpec> nodes;
    const NodeSpec* find_node(std::string_view path) const;
};

// Two controllers on /dev/fmx2ctl that discovery takes: IOC 0 device ID 69
// revision 1 (board "Q520"), IOC 1 device ID 71 revision 0 (board "Q510i"),
// each with a firmware image, a backup copy of it and a boot region.
Scenario default_scenario();

}  // namespace fmxsim
