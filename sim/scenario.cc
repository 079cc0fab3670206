#include "scenario.h"

#include <algorithm>
#include <cstring>

#include "message_frames.h"

namespace fmxsim {

bool is_control_node(std::string_view path) {
    return std::find(kControlNodes.begin(), kControlNodes.end(), path) != kControlNodes.end();
}

std::string_view region_name(RegionKind kind) {
    switch (kind) {
        case RegionKind::firmware: return "firmware";
        case RegionKind::boot: return "boot";
        case RegionKind::backup: return "backup";
    }
    return "?";
}

std::optional<RegionKind> region_by_name(std::string_view name) {
    for (RegionKind kind : kRegionKinds) {
        if (region_name(kind) == name) return kind;
    }
    return std::nullopt;
}

std::optional<RegionKind> region_by_image_type(uint8_t image_type) {
    for (RegionKind kind : kRegionKinds) {
        if (static_cast<uint8_t>(kind) == image_type) return kind;
    }
    return std::nullopt;
}

bool PageSpec::is_extended() const { return type == fmx::kPageTypeExtended; }

void stamp_page_header(const PageSpec& page, std::vector<uint8_t>& copy) {
    if (page.is_extended()) {
        fmx::ExtendedPageHeader header{};
        header.header = {page.version, 0, page.number, page.type};
        header.ext_page_length = static_cast<uint16_t>(copy.size() / 4);
        header.ext_page_type = page.ext_type;
        if (copy.size() >= sizeof(header)) fmx::write_record(copy.data(), header);
        return;
    }
    const fmx::ConfigPageHeader header{page.version, static_cast<uint8_t>(copy.size() / 4), page.number,
                                       page.type};
    if (copy.size() >= sizeof(header)) fmx::write_record(copy.data(), header);
}

PageSpec make_page(uint8_t type, uint8_t number, uint8_t ext_type, uint8_t version, size_t size,
                   const std::vector<uint8_t>& body) {
    PageSpec page;
    page.type = type;
    page.number = number;
    page.ext_type = type == fmx::kPageTypeExtended ? ext_type : 0;
    page.version = version;
    const size_t header_size =
        page.is_extended() ? sizeof(fmx::ExtendedPageHeader) : sizeof(fmx::ConfigPageHeader);
    std::vector<uint8_t> bytes(size, 0);
    if (size > header_size) {
        std::copy_n(body.begin(), std::min(body.size(), size - header_size), bytes.begin() + header_size);
    }
    stamp_page_header(page, bytes);
    page.current = bytes;
    page.defaults = bytes;
    page.nonvolatile = std::move(bytes);
    return page;
}

namespace {

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

}  // namespace

PageSpec make_manufacturing_page0(const Page0Text& text, uint8_t version) {
    fmx::ManufacturingPage0 record{};
    put_text(record.chip_name, text.chip_name);
    put_text(record.chip_revision, text.chip_revision);
    put_text(record.board_name, text.board_name);
    put_text(record.board_assembly, text.board_assembly);
    put_text(record.board_tracer_number, text.tracer_number);
    std::vector<uint8_t> bytes(sizeof(record));
    fmx::write_record(bytes.data(), record);
    const std::vector<uint8_t> body(bytes.begin() + sizeof(fmx::ConfigPageHeader), bytes.end());
    return make_page(fmx::kPageTypeManufacturing, 0, 0, version, sizeof(record), body);
}

bool RequestFault::matches(uint8_t request_function, uint32_t ordinal) const {
    if (request_function != function || ordinal < nth) return false;
    return count == 0 || ordinal - nth < count;
}

uint32_t ControllerSpec::pci_location() const {
    return (pci_device & 0x1Fu) | ((pci_function & 0x07u) << 5) | ((pci_bus & 0xFFFFFFu) << 8);
}

std::vector<uint8_t>& ControllerSpec::region(RegionKind kind) {
    switch (kind) {
        case RegionKind::firmware: return firmware;
        case RegionKind::boot: return boot;
        case RegionKind::backup: break;
    }
    return backup;
}

const std::vector<uint8_t>& ControllerSpec::region(RegionKind kind) const {
    return const_cast<ControllerSpec*>(this)->region(kind);
}

const PageSpec* ControllerSpec::find_page(uint8_t type, uint8_t number, uint8_t ext_type) const {
    for (const PageSpec& page : pages) {
        if (page.type != type || page.number != number) continue;
        if (page.is_extended() && page.ext_type != ext_type) continue;
        return &page;
    }
    return nullptr;
}

const Attachment* NodeSpec::find(uint32_t ioc_number) const {
    for (const Attachment& attachment : iocs) {
        if (attachment.ioc == ioc_number) return &attachment;
    }
    return nullptr;
}

const NodeSpec* Scenario::find_node(std::string_view path) const {
    for (const NodeSpec& node : nodes) {
        if (node.path == path) return &node;
    }
    return nullptr;
}

}  // namespace fmxsim
