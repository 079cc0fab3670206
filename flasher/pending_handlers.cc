// TEMPORARY: stand-ins for operation handlers whose real implementations have
// not landed yet, so the operation table links. Each prints nothing and fails.
// Whoever implements a handler deletes its stand-in here (and this file with
// the last one).
#include "operations.h"

// Listing (-listall).
bool list_adapters(uint32_t, uint16_t*, uint32_t*) { return false; }

// Firmware flash and reset (-f, -fwall, -reset).
bool flash_firmware_operation(uint32_t, uint16_t*, uint32_t*) { return false; }
bool flash_firmware_all(uint32_t, uint16_t*, uint32_t*) { return false; }
bool reset_adapter_operation(uint32_t, uint16_t*, uint32_t*) { return false; }
