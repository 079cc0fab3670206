#include "default_images.h"
#include "message_frames.h"
#include "scenario.h"

namespace fmxsim {

namespace {

std::vector<uint8_t> counting_body(size_t size, uint8_t first) {
    std::vector<uint8_t> body(size);
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(first + i);
    return body;
}

// Manufacturing page 2 and the SAS IO unit page carry board-specific settings;
// their bodies only need to be recognisable when read back.
void add_default_pages(ControllerSpec& controller, const Page0Text& text, uint8_t seed) {
    controller.pages.push_back(make_manufacturing_page0(text));
    controller.pages.push_back(make_page(fmx::kPageTypeManufacturing, 2, 0, 0, 36, counting_body(32, seed)));
    controller.pages.push_back(
        make_page(fmx::kPageTypeExtended, 0, fmx::kExtPageTypeSasIoUnit, 0, 40, counting_body(32, seed + 0x40)));
}

ControllerSpec default_controller(int index) {
    ControllerSpec controller;
    controller.firmware = default_firmware_image(index);
    controller.backup = controller.firmware;
    controller.boot = default_boot_region(index);
    controller.scsi_id = static_cast<uint8_t>(index);
    controller.pci_bus = 1 + static_cast<uint32_t>(index);
    return controller;
}

}  // namespace

Scenario default_scenario() {
    Scenario scenario;
    scenario.description = "two controllers on /dev/fmx2ctl: IOC 0 board Q520, IOC 1 board Q510i";

    ControllerSpec q520 = default_controller(0);
    q520.device_id = 69;
    q520.revision = 1;
    q520.subsystem_device_id = 0x3520;
    q520.firmware_version = 0x0D000100;
    add_default_pages(q520, {"FMX2108", "B2", "Q520", "QA-520-01", "TR5200000001"}, 0x10);

    ControllerSpec q510i = default_controller(1);
    q510i.device_id = 71;
    q510i.revision = 0;
    q510i.subsystem_device_id = 0x3510;
    q510i.firmware_version = 0x0C000200;
    add_default_pages(q510i, {"FMX2116", "B1", "Q510i", "QA-510-03", "TR5100000002"}, 0x20);

    scenario.controllers = {std::move(q520), std::move(q510i)};
    scenario.nodes.push_back(NodeSpec{"/dev/fmx2ctl", false, {Attachment{0, 0, false}, Attachment{1, 1, false}}});
    return scenario;
}

}  // namespace fmxsim
