// Host boot on Linux: the driver offers no way to boot a controller from a
// host-supplied image, so a controller in RESET or FAULT state cannot be
// brought up here.
#include "firmware_flash.h"

int platform_host_boot(uint32_t /*handle*/, const uint8_t* /*image*/, uint32_t /*size*/,
                       uint16_t* ioc_status, uint32_t* log_info) {
    *ioc_status = kHostBootNotAvailable;
    *log_info = 0;
    return kHostBootRunning;
}

void platform_after_host_boot(uint32_t /*handle*/) {}
