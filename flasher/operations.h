// The handlers that the operation table binds to command codes. Each takes the
// selected controller's handle (0 when none) and two out-values, the IOC status
// and IOC log info of the request that decided the outcome, and returns true
// for success. They report every failure by a printed message.
#pragma once

#include <cstdint>

using OperationHandler = bool (*)(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);

// Front end.
bool select_adapter(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool set_force_mode(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool print_help(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool reset_all_adapters(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);

// Listing.
bool list_adapters(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);

// Firmware flash and reset.
bool flash_firmware_operation(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool flash_firmware_all(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool reset_adapter_operation(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);

// Boot image flash.
bool flash_boot_image_operation(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool flash_boot_image_all(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
