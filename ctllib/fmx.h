// Controller access library: the public operations and types.
//
// Every operation returns an integer status (FmxStatus; 0 is success) and never
// throws. Results come back through caller-owned buffers with an in/out length
// (capacity on entry, bytes copied or needed on return). The controller's own
// verdict on a request, its IOC status and log info, travels beside the status
// in an FmxStatusBlock and in the library's last status.
//
// Calling order: fmx_lib_init once, fmx_discover_adapters, then operations on an
// adapter named by its handle record; fmx_get_last_status right after an
// operation tells the IOC status of that operation's request. Before the first
// fmx_lib_init every operation returns FMX_FAILURE (fmx_get_last_status: 0,
// nothing copied).
#pragma once

#include <cstdint>


enum FmxStatus : int {
    FMX_OK = 0,
    FMX_FAILURE = 1,
    FMX_NO_MEMORY = 16,
    FMX_BUFFER_TOO_SMALL = 17,  // also: descriptor size field too small
    FMX_INVALID_PARAMETER = 18,
    FMX_BAD_CLEAN_FLAGS = 23,
    FMX_OPEN_FAILED = 32,
    FMX_WRONG_HANDLE_KIND = 48,
    FMX_NO_SUCH_ADAPTER = 50,
    FMX_DRIVER_FAILED = 52,
    FMX_UNKNOWN_HANDLE = 54,
    FMX_MESSAGE_VERSION_TOO_OLD = 96,
    FMX_CONFIG_INVALID_ACTION = 256,  // IOC status 0x0020
    FMX_CONFIG_INVALID_TYPE = 257,    // IOC status 0x0021
    FMX_CONFIG_INVALID_PAGE = 258,    // IOC status 0x0022 or 0x0001
};

inline constexpr uint32_t FMX_DISCOVERY_FLAGS = 0x9000000F;  // what sasburn passes
inline constexpr uint32_t FMX_ADAPTER_HANDLE_KIND = 0x01000001;

// Valid bits of an FmxStatusBlock.
inline constexpr uint32_t FMX_IOC_STATUS_VALID = 0x1;
inline constexpr uint32_t FMX_LOG_INFO_VALID = 0x2;

struct FmxStatusBlock {
    uint32_t size;        // 16
    uint32_t valid_bits;  // FMX_IOC_STATUS_VALID | FMX_LOG_INFO_VALID
    uint16_t ioc_status;  // bit 15 removed
    uint16_t reserved;
    uint32_t ioc_log_info;
};
static_assert(sizeof(FmxStatusBlock) == 16);

// The record by which callers name a library object. Only the first field is
// compared on lookup; its top byte is the object kind (0x01 for adapters).
struct FmxHandle {
    uint32_t handle;
    uint32_t handle_again;
    uint32_t kind;
    uint32_t driver_adapter_number;
};
static_assert(sizeof(FmxHandle) == 16);

struct FmxLibVersion {
    uint32_t size;  // filled only when greater than 7
    uint8_t major;
    uint8_t minor;
    uint8_t build;
};

// Summary of one adapter handed to the front end.
struct FmxAdapterInfo {
    uint32_t handle;
    uint32_t adapter_type;
    uint32_t port_number;
    uint32_t pci_device_id;
    uint32_t hardware_revision;
    uint32_t subsystem_device_id;
    uint32_t subsystem_vendor_id;
    uint32_t firmware_version;
    char driver_version[32];
    uint32_t scsi_id;
    uint32_t pci_location;
};

// Read kinds of fmx_read_config_page and write kinds of fmx_write_config_page.
enum FmxConfigReadKind : uint32_t {
    FMX_READ_HEADER = 0,
    FMX_READ_CURRENT = 1,
    FMX_READ_DEFAULT = 2,
    FMX_READ_NVRAM = 3,
};
enum FmxConfigWriteKind : uint32_t {
    FMX_WRITE_CURRENT = 1,
    FMX_WRITE_DEFAULT = 2,
    FMX_WRITE_NVRAM = 3,
};

int fmx_lib_init();
int fmx_get_lib_version(FmxLibVersion* version);
int fmx_discover_adapters(uint32_t* adapter_count, uint32_t flags);
// With a handle record, that adapter; otherwise the index-th in discovery
// order (index not below the count: FMX_NO_SUCH_ADAPTER). An adapter whose
// information is incomplete asks the driver again first. No info: 17.
int fmx_get_adapter_info(uint32_t index, const FmxHandle* handle, FmxAdapterInfo* info);
int fmx_get_last_status(FmxStatusBlock* status);
int fmx_reset_adapter(const FmxHandle* handle);

// IOC facts: copies up to 64 reply bytes into buffer; *length in/out.
int fmx_get_ioc_facts(const FmxHandle* handle, void* buffer, uint32_t* length,
                      FmxStatusBlock* status);

// Configuration pages. *length: capacity in, page size out. The reply's IOC
// status becomes the result (0x0020: 256, 0x0021: 257, 0x0022 and 0x0001: 258,
// others: 1); the status itself is in fmx_get_last_status. A write with no
// buffer is refused with 17 before anything is sent.
int fmx_read_config_page(const FmxHandle* handle, uint32_t page_address, uint8_t page_type,
                         uint8_t page_number, uint8_t ext_page_type, uint32_t read_kind,
                         void* buffer, uint32_t* length);
int fmx_write_config_page(const FmxHandle* handle, uint32_t page_address, uint8_t page_type,
                          uint8_t page_number, uint8_t ext_page_type, uint32_t write_kind,
                          const void* buffer, uint32_t length);

// One firmware segment in each direction. *reply_length: capacity in, bytes
// copied out (at most 20 for download, 24 for upload; 0 on transport failure).
// A missing source or destination with a non-zero segment length is refused
// with 17 before anything is sent.
int fmx_download_firmware(const FmxHandle* handle, const void* source, uint32_t segment_length,
                          uint32_t image_offset, uint8_t image_type, uint32_t last_segment,
                          void* reply, uint32_t* reply_length, FmxStatusBlock* status);
int fmx_upload_firmware(const FmxHandle* handle, void* destination, uint32_t segment_length,
                        uint32_t image_offset, uint8_t image_type, void* reply,
                        uint32_t* reply_length, FmxStatusBlock* status);

// Toolbox clean; reply is an optional 20-byte buffer.
int fmx_toolbox_clean(const FmxHandle* handle, uint32_t clean_flags, void* reply,
                      FmxStatusBlock* status);

