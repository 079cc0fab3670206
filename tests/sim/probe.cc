// fmxsim_probe: a small driver client for the emulator's tests, using the
// record forms of its own width as the flash utility does.
//
//   fmxsim_probe discover NODE                 one line per IOC number 0-254 that
//                                              answers IOC information
//   fmxsim_probe open NODE                     "ok" or the errno name of open()
//   fmxsim_probe download NODE IOC TYPE FILE   one long-form segment with FILE
//   fmxsim_probe upload NODE IOC TYPE FILE     the whole region into FILE
//   fmxsim_probe exit N                        exits with status N
//
// Exit status 0 when the requests succeeded, 1 when a request failed, 3 when
// the node could not be opened, 64 for a usage error.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver_records.h"
#include "message_frames.h"

namespace {

const char* errno_name(int error) {
    switch (error) {
        case ENOENT: return "ENOENT";
        case ENXIO: return "ENXIO";
        case EISDIR: return "EISDIR";
        case EACCES: return "EACCES";
        case ENODEV: return "ENODEV";
        case EINVAL: return "EINVAL";
        case EIO: return "EIO";
        default: return "other";
    }
}

class Node {
public:
    explicit Node(const char* path) : fd_(::open(path, O_RDWR)), error_(errno) {}
    ~Node() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; }
    int request(uint32_t code, void* record) const { return ::ioctl(fd_, static_cast<unsigned long>(code), record); }

private:
    int fd_;
    int error_;
};

int discover(const Node& node) {
    for (uint32_t ioc = 0; ioc < 255; ++ioc) {
        fmx::DriverIocInfo info{};
        info.header.ioc_number = ioc;
        info.header.size = sizeof(info);
        if (node.request(fmx::kIocInfoRequest, &info) != 0) continue;
        std::printf("ioc=%u device_id=%u revision=%u\n", ioc, info.pci_device_id.get(),
                    info.hardware_revision.get());
    }
    return 0;
}

// One pass-through in this process's form; returns the reply's IOC status, or
// -1 when the ioctl failed.
int pass_through(const Node& node, uint32_t ioc, const std::vector<uint8_t>& frame, void* reply,
                 uint32_t reply_size, const void* data_out, uint32_t data_out_size, void* data_in,
                 uint32_t data_in_size) {
    using Address = decltype(fmx::DriverCommand{}.reply_addr.get());
    const auto address = [](const void* p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); };
    fmx::DriverCommand command{};
    command.header.ioc_number = ioc;
    command.header.size = fmx::kDriverCommandHeaderSize<fmx::DriverCommand>;
    command.timeout = 60;
    command.reply_addr = address(reply);
    command.reply_size = reply_size;
    command.data_out_addr = address(data_out);
    command.data_out_size = data_out_size;
    command.data_in_addr = address(data_in);
    command.data_in_size = data_in_size;
    command.frame_words = static_cast<uint32_t>(frame.size() / 4);
    std::vector<uint8_t> record(sizeof(command) + frame.size());
    fmx::write_record(record.data(), command);
    std::memcpy(record.data() + sizeof(command), frame.data(), frame.size());
    if (node.request(fmx::DriverCommand::kRequestCode, record.data()) != 0) {
        std::printf("ioctl: %s\n", errno_name(errno));
        return -1;
    }
    fmx::ReplyHeader header{};
    fmx::read_record(static_cast<const uint8_t*>(reply), reply_size, 0, header);
    return header.ioc_status.get();
}

std::vector<uint8_t> transfer_frame(uint8_t function, uint8_t type, uint32_t offset, uint32_t length) {
    fmx::FirmwareTransferLongRequest request{};
    request.image_type = type;
    request.function = function;
    if (function == fmx::kFunctionFirmwareDownload) {
        request.msg_flags = fmx::kMsgFlagLastSegment;
        request.total_image_size = length;
    }
    request.details_length = fmx::kTransactionDetailsLength;
    request.image_offset = offset;
    request.image_size = length;
    std::vector<uint8_t> frame(sizeof(request));
    fmx::write_record(frame.data(), request);
    return frame;
}

int download(const Node& node, uint32_t ioc, uint8_t type, const char* file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fmx::ReplyHeader reply{};
    const auto size = static_cast<uint32_t>(image.size());
    const int status = pass_through(node, ioc, transfer_frame(fmx::kFunctionFirmwareDownload, type, 0, size), &reply,
                                    sizeof(reply), image.data(), size, nullptr, 0);
    std::printf("ioc_status=0x%04X\n", status < 0 ? 0 : status);
    return status == 0 ? 0 : 1;
}

int upload(const Node& node, uint32_t ioc, uint8_t type, const char* file) {
    fmx::FirmwareUploadReply reply{};
    int status = pass_through(node, ioc, transfer_frame(fmx::kFunctionFirmwareUpload, type, 0, 0), &reply,
                              sizeof(reply), nullptr, 0, nullptr, 0);
    std::vector<uint8_t> image(reply.actual_image_size.get());
    for (uint32_t offset = 0; status == 0 && offset < image.size(); offset += 0x10000) {
        const uint32_t length = std::min<uint32_t>(0x10000, static_cast<uint32_t>(image.size()) - offset);
        status = pass_through(node, ioc, transfer_frame(fmx::kFunctionFirmwareUpload, type, offset, length), &reply,
                              sizeof(reply), nullptr, 0, image.data() + offset, length);
    }
    std::printf("ioc_status=0x%04X size=%zu\n", status < 0 ? 0 : status, image.size());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                static_cast<std::streamsize>(image.size()));
    return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "exit" && argc == 3) return std::atoi(argv[2]);
    const bool transfer = (command == "download" || command == "upload") && argc == 6;
    if (!transfer && !((command == "discover" || command == "open") && argc == 3)) {
        std::fputs("usage: fmxsim_probe discover|open NODE | download|upload NODE IOC TYPE FILE | exit N\n", stderr);
        return 64;
    }
    const Node node(argv[2]);
    if (!node.ok()) {
        std::printf("open: %s\n", errno_name(node.error()));
        return 3;
    }
    if (command == "open") {
        std::puts("ok");
        return 0;
    }
    if (command == "discover") return discover(node);
    const auto ioc = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
    const auto type = static_cast<uint8_t>(std::strtoul(argv[4], nullptr, 0));
    return command == "download" ? download(node, ioc, type, argv[5]) : upload(node, ioc, type, argv[5]);
}
