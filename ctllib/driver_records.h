// Records exchanged with the controller driver through ioctl on its control
// device nodes.
//
// Each record begins with the same 12-byte header: IOC number (which controller
// of this driver), port number (always 0) and a size field. The pass-through
// record carries addresses, so it exists in two forms: the 32-bit form used by a
// 32-bit process and the 64-bit form used by a 64-bit process. The request code
// encodes the record size (_IOWR('L', n, size)), so the two forms have distinct
// codes. `DriverCommand` names the form of the running process.
//
//   pass-through, 32-bit (code 0xC0384C14)     pass-through, 64-bit (0xC0484C14)
//    0 ioc_number   4 port   8 header_size      0 ioc_number  4 port  8 header_size
//   12 timeout                                 12 timeout
//   16 reply_addr  20 data_in_addr             16 reply_addr       24 data_in_addr
//   24 data_out_addr 28 sense_addr             32 data_out_addr    40 sense_addr
//   32 reply_size  36 data_in_size             48 reply_size       52 data_in_size
//   40 data_out_size 44 sense_size             56 data_out_size    60 sense_size
//   48 frame_words 52 request frame...         64 frame_words      68 request frame...
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "byte_order.h"

namespace fmx {

inline constexpr uint32_t kIocInfoRequest = 0xC05C4C11;
inline constexpr uint32_t kPassthruRequest32 = 0xC0384C14;
inline constexpr uint32_t kPassthruRequest64 = 0xC0484C14;
inline constexpr uint32_t kHardResetRequest = 0xC00C4C18;

struct DriverHeader {
    le32 ioc_number;
    le32 port_number;
    le32 size;
};
static_assert(sizeof(DriverHeader) == 12);

// IOC information: the caller sets the header (size 92); the driver fills the rest.
struct DriverIocInfo {
    DriverHeader header;
    le32 adapter_type;
    le32 port_number;
    le32 pci_device_id;
    le32 hardware_revision;
    le32 subsystem_device_id;
    le32 subsystem_vendor_id;
    le32 rsvd36;
    le32 firmware_version;
    le32 boot_image_version;
    char driver_version[32];
    uint8_t rsvd80;
    uint8_t scsi_id;
    uint8_t rsvd82[2];
    le32 pci_location;  // bits 0-4 device, 5-7 function, 8-31 bus
    le32 pci_segment;
};
static_assert(sizeof(DriverIocInfo) == 92);
static_assert(offsetof(DriverIocInfo, adapter_type) == 12);
static_assert(offsetof(DriverIocInfo, port_number) == 16);
static_assert(offsetof(DriverIocInfo, pci_device_id) == 20);
static_assert(offsetof(DriverIocInfo, hardware_revision) == 24);
static_assert(offsetof(DriverIocInfo, subsystem_device_id) == 28);
static_assert(offsetof(DriverIocInfo, subsystem_vendor_id) == 32);
static_assert(offsetof(DriverIocInfo, firmware_version) == 40);
static_assert(offsetof(DriverIocInfo, driver_version) == 48);
static_assert(offsetof(DriverIocInfo, scsi_id) == 81);
static_assert(offsetof(DriverIocInfo, pci_location) == 84);
static_assert(offsetof(DriverIocInfo, pci_segment) == 88);

// Fixed part of the pass-through record; the request frame follows it.
struct DriverCommand32 {
    DriverHeader header;  // size field: fixed part + first frame word (56)
    le32 timeout;
    le32 reply_addr;
    le32 data_in_addr;
    le32 data_out_addr;
    le32 sense_addr;
    le32 reply_size;
    le32 data_in_size;
    le32 data_out_size;
    le32 sense_size;
    le32 frame_words;  // request frame length in 32-bit words
    static constexpr uint32_t kRequestCode = kPassthruRequest32;
};
static_assert(sizeof(DriverCommand32) == 52);
static_assert(offsetof(DriverCommand32, timeout) == 12);
static_assert(offsetof(DriverCommand32, reply_addr) == 16);
static_assert(offsetof(DriverCommand32, data_in_addr) == 20);
static_assert(offsetof(DriverCommand32, data_out_addr) == 24);
static_assert(offsetof(DriverCommand32, sense_addr) == 28);
static_assert(offsetof(DriverCommand32, reply_size) == 32);
static_assert(offsetof(DriverCommand32, data_in_size) == 36);
static_assert(offsetof(DriverCommand32, data_out_size) == 40);
static_assert(offsetof(DriverCommand32, sense_size) == 44);
static_assert(offsetof(DriverCommand32, frame_words) == 48);

struct DriverCommand64 {
    DriverHeader header;  // size field: fixed part + first frame word (72)
    le32 timeout;
    le64 reply_addr;
    le64 data_in_addr;
    le64 data_out_addr;
    le64 sense_addr;
    le32 reply_size;
    le32 data_in_size;
    le32 data_out_size;
    le32 sense_size;
    le32 frame_words;
    static constexpr uint32_t kRequestCode = kPassthruRequest64;
};
static_assert(sizeof(DriverCommand64) == 68);
static_assert(offsetof(DriverCommand64, timeout) == 12);
static_assert(offsetof(DriverCommand64, reply_addr) == 16);
static_assert(offsetof(DriverCommand64, data_in_addr) == 24);
static_assert(offsetof(DriverCommand64, data_out_addr) == 32);
static_assert(offsetof(DriverCommand64, sense_addr) == 40);
static_assert(offsetof(DriverCommand64, reply_size) == 48);
static_assert(offsetof(DriverCommand64, data_in_size) == 52);
static_assert(offsetof(DriverCommand64, data_out_size) == 56);
static_assert(offsetof(DriverCommand64, sense_size) == 60);
static_assert(offsetof(DriverCommand64, frame_words) == 64);

// The header size the driver expects: the fixed part plus the frame's first word.
template <typename Command>
inline constexpr uint32_t kDriverCommandHeaderSize = sizeof(Command) + 4;
static_assert(kDriverCommandHeaderSize<DriverCommand32> == 56);
static_assert(kDriverCommandHeaderSize<DriverCommand64> == 72);

// Hard reset of one controller: IOC number, 0, 0.
struct DriverResetRequest {
    DriverHeader header;
};
static_assert(sizeof(DriverResetRequest) == 12);

// The pass-through form of this process's address width.
using DriverCommand = std::conditional_t<sizeof(void*) == 8, DriverCommand64, DriverCommand32>;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);

}  // namespace fmx
