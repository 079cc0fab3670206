#include "umockdev_host.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace fmxsim {

namespace {

// Client memory reached through umockdev.
//
// umockdev fetches client memory only by following a pointer stored in a block
// it already holds, and it keeps one block per pointer position. The record is
// fetched once from the ioctl argument; every other range (the frame behind the
// record's fixed part, the buffers its address fields name) is fetched through
// a pointer slot of its own, written behind the record's bytes: the record's
// block is allocated with room for the slots, and its length is widened to a
// slot only while that slot is resolved, so only the record itself is ever
// copied back to the client. Addresses are written with this process's
// pointer width, which is the one umockdev reads them with.
class UmockdevClientMemory final : public ClientMemory {
public:
    explicit UmockdevClientMemory(UMockdevIoctlClient* client) : client_(client) {}
    ~UmockdevClientMemory() override {
        for (UMockdevIoctlData* block : owned_) g_object_unref(block);
    }
    UmockdevClientMemory(const UmockdevClientMemory&) = delete;
    UmockdevClientMemory& operator=(const UmockdevClientMemory&) = delete;

    std::span<uint8_t> record(size_t size) override {
        if (record_ != nullptr) return {};
        GError* error = nullptr;
        record_ = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client_), 0, size, &error);
        if (record_ == nullptr) {
            g_clear_error(&error);
            return {};
        }
        owned_.push_back(record_);
        record_size_ = size;
        record_->data = static_cast<guint8*>(g_realloc(record_->data, size + kSlots * sizeof(uintptr_t)));
        return {record_->data, size};
    }

    uint64_t record_address() const override { return record_ != nullptr ? record_->client_addr : 0; }

    std::span<uint8_t> at(uint64_t address, size_t size) override {
        if (record_ == nullptr || slots_used_ == kSlots || address > UINTPTR_MAX) return {};
        const size_t slot = record_size_ + slots_used_++ * sizeof(uintptr_t);
        const auto pointer = static_cast<uintptr_t>(address);
        std::memcpy(record_->data + slot, &pointer, sizeof(pointer));
        record_->data_len = static_cast<gint>(slot + sizeof(pointer));
        GError* error = nullptr;
        UMockdevIoctlData* block = umockdev_ioctl_data_resolve(record_, slot, size, &error);
        record_->data_len = static_cast<gint>(record_size_);
        if (block == nullptr) {
            g_clear_error(&error);
            return {};
        }
        owned_.push_back(block);
        return {block->data, size};
    }

private:
    // The frame, reply, data-in, data-out and sense buffer need five.
    static constexpr size_t kSlots = 8;
    UMockdevIoctlClient* client_;
    UMockdevIoctlData* record_ = nullptr;
    size_t record_size_ = 0;
    size_t slots_used_ = 0;
    std::vector<UMockdevIoctlData*> owned_;
};

gboolean handle_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
    auto* driver = static_cast<Driver*>(user_data);
    DriverResult result;
    {
        UmockdevClientMemory memory(client);
        result = driver->ioctl(umockdev_ioctl_client_get_devnode(client),
                               umockdev_ioctl_client_get_request(client), memory);
        umockdev_ioctl_client_complete(client, result.value, result.error);
    }
    return TRUE;
}

std::string node_description(const std::string& path, int minor) {
    const std::string name = path.substr(std::strlen("/dev/"));
    return "P: /devices/virtual/misc/" + name + "\nN: " + name + "\nE: DEVNAME=" + path +
           "\nE: SUBSYSTEM=misc\nA: dev=10:" + std::to_string(minor) + "\n";
}

int node_minor(const std::string& path) {
    for (size_t i = 0; i < kControlNodes.size(); ++i) {
        if (kControlNodes[i] == path) return 200 + static_cast<int>(i);
    }
    return 199;
}

// Replaces the node's file in the test bed by something open() refuses.
bool make_unopenable(const std::string& file) {
    ::unlink(file.c_str());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (file.size() < sizeof(address.sun_path)) {
        std::memcpy(address.sun_path, file.c_str(), file.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        if (fd >= 0) ::close(fd);
        if (bound) return true;
    }
    return ::mkdir(file.c_str(), 0755) == 0;
}

std::string take_error(GError*& error) {
    std::string message = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return message;
}

}  // namespace

struct UmockdevHost::Impl {
    UMockdevTestbed* bed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string root;
    ~Impl() {
        if (handler != nullptr) g_object_unref(handler);
        if (bed != nullptr) g_object_unref(bed);
    }
};

UmockdevHost::UmockdevHost(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UmockdevHost::~UmockdevHost() = default;

const std::string& UmockdevHost::root_dir() const { return impl_->root; }

bool UmockdevHost::preload_active() { return umockdev_in_mock_environment(); }

std::unique_ptr<UmockdevHost> UmockdevHost::create(Driver& driver, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->bed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl->bed);
    impl->root = root;
    g_free(root);
    impl->handler = umockdev_ioctl_base_new();
    g_signal_connect(impl->handler, "handle-ioctl", G_CALLBACK(handle_ioctl), &driver);

    for (const NodeSpec& node : driver.nodes()) {
        GError* gerror = nullptr;
        const std::string description = node_description(node.path, node_minor(node.path));
        if (!umockdev_testbed_add_from_string(impl->bed, description.c_str(), &gerror)) {
            error = "cannot create " + node.path + ": " + take_error(gerror);
            return nullptr;
        }
        if (node.open_fails) {
            if (!make_unopenable(impl->root + node.path)) {
                error = "cannot create the unopenable node " + node.path + ": " + std::strerror(errno);
                return nullptr;
            }
            continue;
        }
        if (!umockdev_testbed_attach_ioctl(impl->bed, node.path.c_str(), impl->handler, &gerror)) {
            error = "cannot attach the driver to " + node.path + ": " + take_error(gerror);
            return nullptr;
        }
    }
    return std::unique_ptr<UmockdevHost>(new UmockdevHost(std::move(impl)));
}

}  // namespace fmxsim
