// Validation of a firmware image file against the selected controller, before
// anything is written to its flash. Every check prints its own messages; the
// sequence stops at the first failed step.
#pragma once

#include <cstddef>
#include <cstdint>

#include "adapters.h"
#include "firmware_image.h"

// Whether the Supported Devices list of the image names the adapter's device
// (by family) and chip revision.
bool check_supported_devices(const ImageView& image, const AdapterRecord& adapter);

// Selects the first NVDATA image of the file built for the adapter's device
// and, when the running image is given, checks it against the running NVDATA:
// version (a downgrade only under force_mode, which sets *force_downgraded),
// vendor and product identification.
bool check_nvdata_compatibility(const ImageView& file, const ImageView* running,
                                const AdapterRecord& adapter, bool* force_downgraded);

// Vendor ID and firmware kind (IT or IR) of the file against the running
// firmware. A vendor mismatch always fails: another vendor's firmware would
// leave the controller unusable.
bool check_firmware_kind(const FirmwareImageHeader& file, const FirmwareImageHeader& running);

// The whole sequence. The caller clears *force_downgraded first. A failed
// controller request leaves its IOC status and log info in the out-words.
bool validate_firmware_image(const uint8_t* image, size_t size, const AdapterRecord& adapter,
                             bool* force_downgraded, uint16_t* ioc_status, uint32_t* log_info);
