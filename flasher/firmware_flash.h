// Firmware flash of one controller or of every controller, with host boot of a
// controller that is not running firmware, manufacturing page 2 preservation
// around that boot, and the read-back verification; and the "-reset" operation.
#pragma once

#include <cstdint>

#include "adapters.h"

// Validates the image, brings a controller in RESET or FAULT state up by host
// boot, erases the persistent configuration pages after a forced NVDATA
// downgrade, downloads the image in one request and verifies it.
bool flash_firmware_image(const AdapterRecord& adapter, const uint8_t* image, uint32_t size,
                          uint16_t* ioc_status, uint32_t* log_info);

// After a host boot: when the current values of manufacturing page 2 differ
// from its non-volatile copy (or that copy cannot be read), writes the current
// values to non-volatile memory and sets *updated.
bool preserve_mfg_page2(uint32_t handle, bool* updated, uint16_t* ioc_status, uint32_t* log_info);

// Reads back the backup firmware region and compares its first `size` bytes
// with the image; a shorter read-back is a mismatch.
bool verify_download(const uint8_t* image, uint32_t size, uint32_t handle, uint16_t* ioc_status,
                     uint32_t* log_info);

// Host boot attempts of a controller during this run (0 when none), and
// counting one more. The table holds kAdapterTableSize controllers; an attempt
// for a controller beyond that is not counted.
uint32_t host_boot_count(uint32_t handle);
void note_host_boot_attempt(uint32_t handle);

// Platform operations for booting a controller from a host-supplied image.
inline constexpr int kHostBootFailed = 0;
inline constexpr int kHostBootRunning = 1;  // with *ioc_status == 1: not available
inline constexpr uint16_t kHostBootNotAvailable = 1;
// kHostBootRunning when the controller now runs the image, kHostBootFailed when
// the boot failed, any other value when it failed but the flash may go on.
int platform_host_boot(uint32_t handle, const uint8_t* image, uint32_t size, uint16_t* ioc_status,
                       uint32_t* log_info);
// Called once after a successful flash that involved a host boot.
void platform_after_host_boot(uint32_t handle);
