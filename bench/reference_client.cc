// fmxbench_ref: the driver requests of "sasburn -listall" and nothing else.
//
//   fmxbench_ref
//
// The benchmark (bench/run.sh) runs it beside sasburn on the same emulated
// controllers, so that the ratio of the two shows what sasburn costs on top of
// the requests themselves. It sends the same ioctls with the same records in the
// same order, opens and closes the nodes as sasburn does, and reads each
// firmware image in the same 64 KiB segments into one buffer of the image's size:
//
//   discovery   every control node in turn, held open while IOC information is
//               asked for IOC numbers 0-254; IOC facts for each controller that
//               sasburn would take (by PCI device ID family)
//   per controller, in discovery order:
//               configuration header of manufacturing page 0, then the page from
//               non-volatile memory; firmware upload with length 0 for the image
//               size, then the image in segments of 64 KiB
//
// Every pass-through opens the controller's node, issues one ioctl and closes
// the node. It prints one line per controller: index, board name and firmware
// version, as the listing's rows show them. Exit status 0, or 1 when a
// controller's name or version could not be read.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver_records.h"
#include "message_frames.h"

namespace {

constexpr const char* kNodes[] = {"/dev/fmx2ctl_wd", "/dev/fmx2ctl", "/dev/qxvsactl", "/dev/fmx3ctl"};
constexpr uint32_t kLastIocNumber = 254;
constexpr uint32_t kDefaultTimeout = 10;   // configuration and IOC facts requests
constexpr uint32_t kTransferTimeout = 60;  // firmware upload
constexpr uint32_t kSegmentSize = 0x10000;
constexpr uint8_t kManufacturingPage0 = 0;

struct Controller {
    const char* node;
    uint32_t ioc_number;
};

// The device IDs that sasburn's discovery takes: the SAS-2 family (69, 71) and
// every ID outside the families it leaves out.
bool taken(uint32_t id) {
    if (id == 69 || id == 71) return true;
    if (id == 100 || id == 101 || id == 110 || id == 112 || id == 114 || id == 116 || id == 118 ||
        id == 119 || id == 126) {
        return false;
    }
    return !(id >= 128 && id <= 135) && !(id >= 144 && id <= 151);
}

// One pass-through: opens the node, sends the record (fixed part, then the
// frame), closes the node. Returns the reply's IOC status, or -1 when the
// request did not reach the controller.
int passthru(const Controller& c, const void* frame, uint32_t frame_bytes, void* reply,
             uint32_t reply_size, void* data_in, uint32_t data_in_size, uint32_t timeout) {
    using Command = fmx::DriverCommand;
    using Address = decltype(Command{}.reply_addr.get());
    auto address = [](const void* p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); };

    std::array<uint8_t, fmx::kDriverCommandHeaderSize<Command> + 36> record{};
    Command command{};
    command.header.ioc_number = c.ioc_number;
    command.header.port_number = 0;
    command.header.size = fmx::kDriverCommandHeaderSize<Command>;
    command.timeout = timeout;
    command.reply_addr = address(reply);
    command.reply_size = reply_size;
    if (data_in_size != 0) {
        command.data_in_addr = address(data_in);
        command.data_in_size = data_in_size;
    }
    command.frame_words = frame_bytes / 4;
    std::memcpy(record.data(), &command, sizeof(command));
    std::memcpy(record.data() + sizeof(command), frame, frame_bytes);

    const int fd = ::open(c.node, O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    const int result = ::ioctl(fd, static_cast<unsigned long>(Command::kRequestCode), record.data());
    ::close(fd);
    if (result < 0) return -1;
    fmx::ReplyHeader header{};
    std::memcpy(&header, reply, sizeof(header));
    return header.ioc_status & fmx::kIocStatusMask;
}

bool transfers_allowed(const Controller& c) {
    fmx::IocFactsRequest request{};
    request.function = fmx::kFunctionIocFacts;
    fmx::IocFactsReply reply{};
    if (passthru(c, &request, sizeof(request), &reply, sizeof(reply), nullptr, 0, kDefaultTimeout) != 0) {
        return false;
    }
    return reply.message_version >= fmx::kMinimumTransferMessageVersion;
}

struct Found {
    Controller controller;
    bool transfers;
};

std::vector<Found> discover() {
    std::vector<Found> found;
    for (const char* node : kNodes) {
        const int fd = ::open(node, O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        for (uint32_t ioc = 0; ioc <= kLastIocNumber; ++ioc) {
            fmx::DriverIocInfo info{};
            info.header.ioc_number = ioc;
            info.header.port_number = 0;
            info.header.size = sizeof(info);
            if (::ioctl(fd, static_cast<unsigned long>(fmx::kIocInfoRequest), &info) != 0) continue;
            if (!taken(info.pci_device_id)) continue;
            const Controller c{node, ioc};
            found.push_back({c, transfers_allowed(c)});
        }
        ::close(fd);
    }
    return found;
}

int config_request(const Controller& c, uint8_t action, fmx::ConfigPageHeader& header, void* data_in,
                   uint32_t data_in_size) {
    fmx::ConfigRequest request{};
    request.action = action;
    request.function = fmx::kFunctionConfig;
    request.header = header;
    fmx::ConfigReply reply{};
    const int status =
        passthru(c, &request, sizeof(request), &reply, sizeof(reply), data_in, data_in_size, kDefaultTimeout);
    if (status == 0) header = reply.header;
    return status;
}

// Manufacturing page 0 from non-volatile memory; the board name, or empty.
std::string board_name(const Controller& c) {
    fmx::ConfigPageHeader header{0, 0, kManufacturingPage0, fmx::kPageTypeManufacturing};
    if (config_request(c, fmx::kConfigActionHeader, header, nullptr, 0) != 0) return {};
    std::array<uint8_t, 255 * 4> page{};
    const uint32_t size = header.page_length * 4u;
    if (config_request(c, fmx::kConfigActionReadNvram, header, page.data(), size) != 0) return {};
    fmx::ManufacturingPage0 page0{};
    std::memcpy(&page0, page.data(), sizeof(page0));
    return std::string(page0.board_name, strnlen(page0.board_name, sizeof(page0.board_name)));
}

int upload(const Controller& c, uint8_t* buffer, uint32_t offset, uint32_t length, uint32_t& actual_size) {
    fmx::FirmwareTransferLongRequest request{};
    request.image_type = fmx::kImageTypeFirmware;
    request.function = fmx::kFunctionFirmwareUpload;
    request.details_length = fmx::kTransactionDetailsLength;
    request.image_offset = offset;
    request.image_size = length;
    fmx::FirmwareUploadReply reply{};
    const int status =
        passthru(c, &request, sizeof(request), &reply, sizeof(reply), buffer, length, kTransferTimeout);
    actual_size = reply.actual_image_size;
    return status;
}

// The whole firmware image into one buffer; the version bytes of its header,
// or empty.
std::string firmware_version(const Controller& c) {
    uint32_t size = 0;
    if (upload(c, nullptr, 0, 0, size) != 0) return {};
    const std::unique_ptr<uint8_t[]> image(new uint8_t[size]);
    for (uint32_t offset = 0; offset < size; offset += kSegmentSize) {
        const uint32_t length = size - offset < kSegmentSize ? size - offset : kSegmentSize;
        uint32_t reported = 0;
        if (upload(c, image.get() + offset, offset, length, reported) != 0) return {};
    }
    if (size < 0x18) return {};
    char text[16];
    std::snprintf(text, sizeof(text), "%02d.%02d.%02d.%02d", image[0x17], image[0x16], image[0x15], image[0x14]);
    return text;
}

}  // namespace

int main() {
    int status = 0;
    int index = 0;
    for (const Found& f : discover()) {
        const std::string name = board_name(f.controller);
        const std::string version = f.transfers ? firmware_version(f.controller) : std::string();
        if (name.empty() || version.empty()) status = 1;
        std::printf("\t%02d    %-16s   %s\n", index++, name.c_str(), version.c_str());
    }
    return status;
}
