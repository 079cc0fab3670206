// Internal pieces of the platform layer that can be checked without a driver:
// the discovery family filter, the chip-name table and the building of the
// pass-through record from a descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_records.h"
#include "library_context.h"

namespace fmx {

// Control device nodes of the driver, tried in this order by discovery.
inline constexpr const char* kDeviceNodes[] = {
    "/dev/fmx2ctl_wd",
    "/dev/fmx2ctl",
    "/dev/qxvsactl",
    "/dev/fmx3ctl",
};
inline constexpr uint32_t kLastIocNumber = 254;

// Discovery flags.
inline constexpr uint32_t kDiscoverFilterByFamily = 0x80000000;
inline constexpr uint32_t kFamilySas2 = 0x10000000;
inline constexpr uint32_t kFamilyRaid = 0x02000000;
inline constexpr uint32_t kFamilyIr = 0x20000000;
inline constexpr uint32_t kFamilyGen3 = 0x04000000;

// Family bit of a PCI device ID (0 for IDs outside every family). Device ID 114
// belongs to kFamilyRaid when the flags ask for it, else to kFamilyIr.
uint32_t device_family(uint32_t pci_device_id, uint32_t discovery_flags);

// Whether discovery registers a controller with this device ID under these flags.
bool discovery_takes(uint32_t pci_device_id, uint32_t discovery_flags);

// Third-generation controllers receive the short firmware-transfer frames.
bool is_third_generation(uint32_t pci_device_id);

// Stored in the adapter record only; this program never prints it.
const char* chip_name_for(uint32_t pci_device_id);

// Size of the pass-through record for this descriptor: the fixed part, the
// frame's first word counted by the header size, and the frame.
size_t driver_command_size(const FmxPassthru& descriptor);

// Fills a zeroed record of driver_command_size() bytes for the adapter with
// this IOC number: header, timeout (0 becomes the default), buffer addresses
// and sizes, frame length in words, then the frame itself.
void fill_driver_command(const FmxPassthru& descriptor, uint32_t ioc_number, uint8_t* record);

}  // namespace fmx
