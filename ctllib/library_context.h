// Internal view of the controller access library: the process-wide context,
// the adapter registry, the pass-through descriptor and the internal operations
// that take the context explicitly. Only ctllib/ and its tests include this.
#pragma once

#include <cstdint>

#include "fmx.h"
#include "message_frames.h"

inline constexpr uint32_t FMX_PASSTHRU_SIGNATURE = 0x392A8C9F;
inline constexpr uint32_t FMX_DEFAULT_TIMEOUT_SECONDS = 10;
inline constexpr uint32_t FMX_IOC_FACTS_SIZE = 64;

// One controller, owned by the context's list. Begins with its handle so a
// pointer to it can stand wherever a handle record is expected.
struct FmxAdapter {
    FmxHandle handle;
    uint32_t assigned_value1;
    uint32_t assigned_value2;
    uint8_t assigned_value3;

    // Identity filled by discovery from the driver's IOC information.
    char chip_name[32];
    char host_name[32];
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
    char node_path[16];

    uint8_t ioc_facts[FMX_IOC_FACTS_SIZE];  // the reply exactly as received
    uint32_t info_complete;
    uint32_t third_generation;  // selects the short firmware-transfer frames
    FmxAdapter* next;
};

struct FmxLibContext {
    uint32_t adapter_count;
    FmxAdapter* first_adapter;
    uint32_t discovery_flags;
    uint32_t next_serial;
    FmxStatusBlock last_status;
};

// Everything the transport needs to carry one request and bring back its reply.
// The message builder owns it and every buffer it points to.
struct FmxPassthru {
    uint32_t size;  // sizeof(FmxPassthru); smaller is refused with 17
    uint32_t adapter_handle;
    uint32_t signature;  // FMX_PASSTHRU_SIGNATURE
    FmxStatusBlock status;
    uint32_t request_length;
    const void* request;
    uint32_t data_out_length;
    const void* data_out;
    uint32_t reply_capacity;
    void* reply;
    uint32_t data_in_length;
    void* data_in;
    uint32_t sense_length;
    void* sense;
    uint32_t timeout;  // seconds; 0 means FMX_DEFAULT_TIMEOUT_SECONDS
    uint32_t reserved;
};
// The 32-bit descriptor is 76 bytes; a 64-bit one is larger by its pointers.
static_assert(sizeof(void*) != 4 || sizeof(FmxPassthru) == 76);

// The process-wide context; null before fmx_lib_init.
FmxLibContext* fmx_context();

// IOC facts with an explicit context; fmx_get_ioc_facts forwards here and
// discovery calls it directly.
int fmx_request_ioc_facts(FmxLibContext* ctx, const FmxHandle* handle, void* buffer,
                          uint32_t* length, FmxStatusBlock* status);

// Registry.
int fmx_find_adapter(FmxLibContext* ctx, const FmxHandle* handle, FmxAdapter** adapter);
int fmx_add_adapter(FmxLibContext* ctx, FmxAdapter** adapter);
int fmx_assign_handle(FmxLibContext* ctx, FmxAdapter* object, uint32_t kind,
                      uint32_t driver_adapter_number, uint32_t value1, uint32_t value2,
                      uint8_t value3);
void* fmx_alloc(FmxLibContext* ctx, bool zero, uint32_t size);
void fmx_free(FmxLibContext* ctx, void* block);

// Platform layer.
int fmx_discover(FmxLibContext* ctx);
int fmx_adapter_info_by_index(FmxLibContext* ctx, uint32_t index, const FmxHandle* handle,
                              FmxAdapterInfo* info);
int fmx_send_passthru(FmxLibContext* ctx, FmxPassthru* descriptor);
int fmx_driver_command(FmxLibContext* ctx, FmxPassthru* descriptor);
int fmx_driver_ioctl(FmxLibContext* ctx, const FmxHandle* handle, void* record, uint32_t code);
int fmx_hard_reset(FmxLibContext* ctx, const FmxHandle* handle);

// Configuration request builder.
int fmx_config_request(FmxLibContext* ctx, const FmxHandle* handle, uint8_t action,
                       fmx::ConfigPageHeader* header, uint32_t page_address,
                       uint8_t ext_page_type, uint16_t* ext_page_length, void* buffer,
                       uint32_t buffer_length);

// Read and write engines behind fmx_read_config_page and fmx_write_config_page.
int fmx_config_read(FmxLibContext* ctx, const FmxHandle* handle, uint32_t page_address,
                    uint8_t page_type, uint8_t page_number, uint8_t ext_page_type,
                    uint32_t read_kind, void* buffer, uint32_t* length);
int fmx_config_write(FmxLibContext* ctx, const FmxHandle* handle, uint32_t page_address,
                     uint8_t page_type, uint8_t page_number, uint8_t ext_page_type,
                     uint32_t write_kind, const void* buffer, uint32_t length);
