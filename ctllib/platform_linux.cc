// Platform layer on Linux: discovery over the driver's control device nodes,
// adapter information, the pass-through transport and hard reset.
//
// This is the only code that touches the operating system for the library. A
// node is open only while discovery scans it or while one request is carried:
// every request opens the adapter's node, issues one ioctl and closes it again.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "driver_records.h"
#include "library_context.h"
#include "message_builders.h"
#include "platform.h"

namespace {

// Owns one open file descriptor of a control device node.
class DeviceNode {
public:
    DeviceNode() = default;
    explicit DeviceNode(const char* path) { open(path); }
    ~DeviceNode() { close(); }
    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;

    // Opens the node for reading and writing, closing whatever was open before.
    bool open(const char* path) {
        close();
        fd_ = ::open(path, O_RDWR | O_CLOEXEC);
        return is_open();
    }

    bool is_open() const { return fd_ >= 0; }

    // The driver's raw result: 0 or positive on success, negative on failure.
    int request(uint32_t code, void* record) const {
        return ::ioctl(fd_, static_cast<unsigned long>(code), record);
    }

private:
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
};

constexpr uint32_t kIocInfoSize = sizeof(fmx::DriverIocInfo);

fmx::DriverIocInfo ioc_info_request(uint32_t ioc_number) {
    fmx::DriverIocInfo info{};
    info.header.ioc_number = ioc_number;
    info.header.port_number = 0;
    info.header.size = kIocInfoSize;
    return info;
}

template <size_t N>
void copy_text(char (&destination)[N], const char* source, size_t source_size) {
    const size_t count = source_size < N - 1 ? source_size : N - 1;
    std::memcpy(destination, source, count);
    destination[count] = '\0';
    // The driver's text need not stop at its NUL; keep only what precedes it.
    destination[strnlen(destination, N - 1)] = '\0';
}

void store_ioc_info(FmxAdapter& adapter, const fmx::DriverIocInfo& info) {
    adapter.adapter_type = info.adapter_type;
    adapter.port_number = info.port_number;
    adapter.pci_device_id = info.pci_device_id;
    adapter.hardware_revision = info.hardware_revision;
    adapter.subsystem_device_id = info.subsystem_device_id;
    adapter.subsystem_vendor_id = info.subsystem_vendor_id;
    adapter.firmware_version = info.firmware_version;
    copy_text(adapter.driver_version, info.driver_version, sizeof(info.driver_version));
    adapter.scsi_id = info.scsi_id;
    adapter.pci_location = info.pci_location;
}

void store_identity(FmxAdapter& adapter, uint32_t ioc_number, const char* node_path,
                    const fmx::DriverIocInfo& info) {
    std::snprintf(adapter.host_name, sizeof(adapter.host_name), "SAS Host %u", ioc_number);
    const char* chip = fmx::chip_name_for(info.pci_device_id);
    copy_text(adapter.chip_name, chip, std::strlen(chip));
    store_ioc_info(adapter, info);
    copy_text(adapter.node_path, node_path, std::strlen(node_path));
}

void ask_ioc_facts(FmxLibContext* ctx, FmxAdapter& adapter) {
    uint8_t facts[FMX_IOC_FACTS_SIZE] = {};
    uint32_t length = sizeof(facts);
    if (fmx_request_ioc_facts(ctx, &adapter.handle, facts, &length, nullptr) != FMX_OK) return;
    std::memcpy(adapter.ioc_facts, facts, length <= sizeof(facts) ? length : sizeof(facts));
    adapter.info_complete = 1;
    adapter.third_generation = fmx::is_third_generation(adapter.pci_device_id) ? 1 : 0;
}

// Registers one controller answered by the driver; returns the library status
// of the registration (the IOC facts request may fail without undoing it).
int register_controller(FmxLibContext* ctx, const char* node_path, uint32_t ioc_number,
                        const fmx::DriverIocInfo& info) {
    FmxAdapter* adapter = nullptr;
    if (const int added = fmx_add_adapter(ctx, &adapter); added != FMX_OK) return added;
    fmx_assign_handle(ctx, adapter, FMX_ADAPTER_HANDLE_KIND, ioc_number, 0, 0, 0);
    store_identity(*adapter, ioc_number, node_path, info);
    ask_ioc_facts(ctx, *adapter);
    return FMX_OK;
}

// Scans IOC numbers 0-254 of one open node. Returns the status of the last
// failed registration, or `result` unchanged.
int scan_node(FmxLibContext* ctx, const DeviceNode& node, const char* node_path, int result) {
    for (uint32_t ioc_number = 0; ioc_number <= fmx::kLastIocNumber; ++ioc_number) {
        fmx::DriverIocInfo info = ioc_info_request(ioc_number);
        if (node.request(fmx::kIocInfoRequest, &info) != 0) continue;
        if (!fmx::discovery_takes(info.pci_device_id, ctx->discovery_flags)) continue;
        if (const int registered = register_controller(ctx, node_path, ioc_number, info);
            registered != FMX_OK) {
            result = registered;
        }
    }
    return result;
}

// Attached-device and RAID-volume discovery would run here. This library does
// not discover topology (sasburn switches both off with flag bits 0 and 2), so
// completing an adapter has nothing to do.
int complete_adapter(FmxLibContext*, FmxAdapter&) { return FMX_OK; }

int open_adapter_node(FmxLibContext* ctx, const FmxHandle* handle, FmxAdapter** adapter,
                      DeviceNode& node) {
    if (const int found = fmx_find_adapter(ctx, handle, adapter); found != FMX_OK) return found;
    return node.open((*adapter)->node_path) ? FMX_OK : FMX_OPEN_FAILED;
}

// The largest frame the library builds is 36 bytes; the limit keeps the record
// size far from overflow whatever a descriptor claims.
constexpr uint32_t kMaxRequestFrameBytes = 256;

bool is_carriable_frame(const FmxPassthru& d) {
    return d.request != nullptr && d.request_length != 0 && d.request_length % 4 == 0 &&
           d.request_length <= kMaxRequestFrameBytes;
}

void clear_status_block(FmxStatusBlock& block) {
    block = FmxStatusBlock{};
    block.size = sizeof(FmxStatusBlock);
}

// The status rule: a non-zero IOC status in the reply is reported through the
// descriptor's status block and the context's last status, not the result.
void record_reply_status(FmxLibContext* ctx, FmxPassthru& d) {
    fmx::ReplyHeader reply{};
    if (d.reply == nullptr ||
        !fmx::read_record(static_cast<const uint8_t*>(d.reply), d.reply_capacity, 0, reply)) {
        return;
    }
    const uint16_t raw_status = reply.ioc_status;
    if (raw_status == 0) return;
    d.status.valid_bits = FMX_IOC_STATUS_VALID;
    d.status.ioc_status = static_cast<uint16_t>(raw_status & fmx::kIocStatusMask);
    if ((raw_status & fmx::kIocStatusLogInfoValid) != 0) {
        d.status.valid_bits |= FMX_LOG_INFO_VALID;
        d.status.ioc_log_info = reply.ioc_log_info;
    }
    ctx->last_status = d.status;
}

}  // namespace

namespace fmx {

uint32_t device_family(uint32_t pci_device_id, uint32_t discovery_flags) {
    switch (pci_device_id) {
    case 69:
    case 71:
        return kFamilySas2;
    case 100:
    case 101:
    case 110:
    case 112:
    case 116:
    case 118:
    case 119:
        return kFamilyRaid;
    case 114:
        return (discovery_flags & kFamilyRaid) != 0 ? kFamilyRaid : kFamilyIr;
    case 126:
        return kFamilyIr;
    default:
        break;
    }
    if (pci_device_id >= 128 && pci_device_id <= 135) return kFamilyRaid;
    if (is_third_generation(pci_device_id)) return kFamilyGen3;
    return 0;
}

bool discovery_takes(uint32_t pci_device_id, uint32_t discovery_flags) {
    if ((discovery_flags & kDiscoverFilterByFamily) == 0) return true;
    const uint32_t family = device_family(pci_device_id, discovery_flags);
    return family == 0 || (discovery_flags & family) != 0;
}

bool is_third_generation(uint32_t pci_device_id) {
    return pci_device_id >= 144 && pci_device_id <= 151;
}

const char* chip_name_for(uint32_t pci_device_id) {
    struct ChipName {
        uint32_t first_id;
        uint32_t last_id;
        const char* name;
    };
    static constexpr ChipName kChipNames[] = {
        {69, 69, "FMX2-4P"},        {71, 71, "FMX2-8P"},
        {100, 101, "FMX2R-8P"},     {110, 110, "FMX2R-4P"},
        {112, 112, "FMX2R-16P"},    {114, 114, "FMX2R-IR"},
        {116, 119, "FMX2R-24P"},    {126, 126, "FMX2-IR"},
        {128, 135, "FMX2.5R"},      {144, 151, "FMX3"},
    };
    for (const ChipName& entry : kChipNames) {
        if (pci_device_id >= entry.first_id && pci_device_id <= entry.last_id) return entry.name;
    }
    return "Unknown";
}

size_t driver_command_size(const FmxPassthru& descriptor) {
    return kDriverCommandHeaderSize<DriverCommand> + descriptor.request_length;
}

void fill_driver_command(const FmxPassthru& d, uint32_t ioc_number, uint8_t* record) {
    using Address = decltype(DriverCommand{}.reply_addr.get());
    auto address_of = [](const void* p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); };

    DriverCommand command{};
    command.header.ioc_number = ioc_number;
    command.header.port_number = 0;
    command.header.size = kDriverCommandHeaderSize<DriverCommand>;
    command.timeout = d.timeout != 0 ? d.timeout : FMX_DEFAULT_TIMEOUT_SECONDS;
    command.reply_addr = address_of(d.reply);
    command.reply_size = d.reply_capacity;
    if (d.data_out_length != 0) {
        command.data_out_addr = address_of(d.data_out);
        command.data_out_size = d.data_out_length;
    }
    if (d.data_in_length != 0) {
        command.data_in_addr = address_of(d.data_in);
        command.data_in_size = d.data_in_length;
    }
    if (d.sense_length != 0) {
        command.sense_addr = address_of(d.sense);
        command.sense_size = d.sense_length;
    }
    command.frame_words = d.request_length / 4;
    write_record(record, command);
    if (d.request_length != 0) std::memcpy(record + sizeof(DriverCommand), d.request, d.request_length);
}

}  // namespace fmx

int fmx_discover(FmxLibContext* ctx) {
    if (ctx == nullptr) return FMX_FAILURE;
    // Discovery runs once per process; when it found nothing it runs again.
    if (ctx->adapter_count >= 1) return FMX_OK;

    ctx->first_adapter = nullptr;
    ctx->adapter_count = 0;
    ctx->next_serial = 1;
    int result = FMX_FAILURE;
    for (const char* path : fmx::kDeviceNodes) {
        const DeviceNode node(path);
        if (!node.is_open()) continue;
        result = scan_node(ctx, node, path, result);
    }
    for (FmxAdapter* a = ctx->first_adapter; a != nullptr; a = a->next) {
        result = complete_adapter(ctx, *a);
    }
    return result;
}

int fmx_adapter_info_by_index(FmxLibContext* ctx, uint32_t index, const FmxHandle* handle,
                              FmxAdapterInfo* info) {
    if (ctx == nullptr) return FMX_FAILURE;
    if (info == nullptr) return FMX_BUFFER_TOO_SMALL;
    FmxAdapter* adapter = nullptr;
    if (handle != nullptr) {
        if (const int found = fmx_find_adapter(ctx, handle, &adapter); found != FMX_OK) return found;
    } else {
        if (index >= ctx->adapter_count) return FMX_NO_SUCH_ADAPTER;
        adapter = ctx->first_adapter;
        for (uint32_t i = 0; i < index && adapter != nullptr; ++i) adapter = adapter->next;
        if (adapter == nullptr) return FMX_FAILURE;
    }

    if (adapter->info_complete == 0) {
        fmx::DriverIocInfo again = ioc_info_request(adapter->handle.driver_adapter_number);
        if (fmx_driver_ioctl(ctx, &adapter->handle, &again, fmx::kIocInfoRequest) == FMX_OK) {
            store_ioc_info(*adapter, again);
            adapter->info_complete = 1;
        }
    }

    *info = FmxAdapterInfo{};
    info->handle = adapter->handle.handle;
    info->adapter_type = adapter->adapter_type;
    info->port_number = adapter->port_number;
    info->pci_device_id = adapter->pci_device_id;
    info->hardware_revision = adapter->hardware_revision;
    info->subsystem_device_id = adapter->subsystem_device_id;
    info->subsystem_vendor_id = adapter->subsystem_vendor_id;
    info->firmware_version = adapter->firmware_version;
    std::memcpy(info->driver_version, adapter->driver_version, sizeof(info->driver_version));
    info->scsi_id = adapter->scsi_id;
    info->pci_location = adapter->pci_location;
    return FMX_OK;
}

int fmx_send_passthru(FmxLibContext* ctx, FmxPassthru* d) {
    if (ctx == nullptr || d == nullptr) return FMX_FAILURE;
    const int status = fmx_driver_command(ctx, d);
    clear_status_block(d->status);
    ctx->last_status = FmxStatusBlock{};
    if (status != FMX_OK || d->signature != FMX_PASSTHRU_SIGNATURE) return status;
    record_reply_status(ctx, *d);
    return FMX_OK;
}

int fmx_driver_command(FmxLibContext* ctx, FmxPassthru* d) {
    if (d->size < sizeof(FmxPassthru)) return FMX_BUFFER_TOO_SMALL;
    if (!is_carriable_frame(*d)) return FMX_INVALID_PARAMETER;
    FmxAdapter* adapter = nullptr;
    const FmxHandle target{d->adapter_handle, d->adapter_handle, 0, 0};
    if (const int found = fmx_find_adapter(ctx, &target, &adapter); found != FMX_OK) return found;

    const size_t size = fmx::driver_command_size(*d);
    auto* record = static_cast<uint8_t*>(fmx_alloc(ctx, true, static_cast<uint32_t>(size)));
    if (record == nullptr) return FMX_NO_MEMORY;
    fmx::fill_driver_command(*d, adapter->handle.driver_adapter_number, record);
    const int status = fmx_driver_ioctl(ctx, &adapter->handle, record, fmx::DriverCommand::kRequestCode);
    fmx_free(ctx, record);
    return status;
}

int fmx_driver_ioctl(FmxLibContext* ctx, const FmxHandle* handle, void* record, uint32_t code) {
    FmxAdapter* adapter = nullptr;
    DeviceNode node;
    if (const int opened = open_adapter_node(ctx, handle, &adapter, node); opened != FMX_OK) {
        return opened;
    }
    return node.request(code, record) < 0 ? FMX_DRIVER_FAILED : FMX_OK;
}

int fmx_hard_reset(FmxLibContext* ctx, const FmxHandle* handle) {
    FmxAdapter* adapter = nullptr;
    DeviceNode node;
    if (const int opened = open_adapter_node(ctx, handle, &adapter, node); opened != FMX_OK) {
        return opened;
    }
    fmx::DriverResetRequest reset{};
    reset.header.ioc_number = adapter->handle.driver_adapter_number;
    reset.header.port_number = 0;
    reset.header.size = 0;
    return node.request(fmx::kHardResetRequest, &reset);
}
