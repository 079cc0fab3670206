#include "umockdev_host.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace fmxsim {

namespace {

// Client memory reached through umockdev.
//
// umockdev fetches client memory only by following a pointer stored in a block
// it already holds, and it keeps one block per pointer position. The ioctl's
// argument block holds the record's address; the record is fetched through
// it. Every other range (the frame behind the record's fixed part, the buffers
// the record's address fields name) is fetched through a pointer slot of its
// own, appended to the argument block: that block stands for the argument
// value itself and is never copied back into client memory, so the slots
// touch nothing of the client's. Addresses are written with this process's
// pointer width, the one umockdev reads them with; so a record of either form
// is served, whatever width this process has, as long as its addresses fit.
class UmockdevClientMemory final : public ClientMemory {
public:
    explicit UmockdevClientMemory(UMockdevIoctlClient* client) : argument_(umockdev_ioctl_client_get_arg(client)) {}
    ~UmockdevClientMemory() override {
        for (UMockdevIoctlData* block : owned_) g_object_unref(block);
    }
    UmockdevClientMemory(const UmockdevClientMemory&) = delete;
    UmockdevClientMemory& operator=(const UmockdevClientMemory&) = delete;

    std::span<uint8_t> record(size_t size) override {
        std::span<uint8_t> bytes = fetch(0, size);
        if (!bytes.empty()) record_address_ = owned_.back()->client_addr;
        return bytes;
    }

    // Not read from the argument block: a resolve replaces the pointer there
    // by this process's own copy.
    uint64_t record_address() const override { return record_address_; }

    std::span<uint8_t> at(uint64_t address, size_t size) override {
        if (address > UINTPTR_MAX || !add_slots() || slots_used_ == kSlots) return {};
        const size_t slot = first_slot_ + slots_used_++ * sizeof(uintptr_t);
        const auto pointer = static_cast<uintptr_t>(address);
        std::memcpy(argument_->data + slot, &pointer, sizeof(pointer));
        return fetch(slot, size);
    }

private:
    // The frame, reply, data-in, data-out and sense buffer need five.
    static constexpr size_t kSlots = 8;

    std::span<uint8_t> fetch(size_t slot, size_t size) {
        GError* error = nullptr;
        UMockdevIoctlData* block = umockdev_ioctl_data_resolve(argument_, slot, size, &error);
        if (block == nullptr) {
            g_clear_error(&error);
            return {};
        }
        owned_.push_back(block);
        if (static_cast<size_t>(block->data_len) < size) return {};
        return {block->data, size};
    }

    // Grows the argument block by the slots once; umockdev copies it whole, so
    // its length covers them from then on.
    bool add_slots() {
        if (first_slot_ != 0) return true;
        const size_t used = static_cast<size_t>(argument_->data_len);
        if (used < sizeof(uintptr_t)) return false;
        first_slot_ = (used + sizeof(uintptr_t) - 1) / sizeof(uintptr_t) * sizeof(uintptr_t);
        const size_t size = first_slot_ + kSlots * sizeof(uintptr_t);
        argument_->data = static_cast<guint8*>(g_realloc(argument_->data, size));
        std::memset(argument_->data + used, 0, size - used);
        argument_->data_len = static_cast<gint>(size);
        return true;
    }

    UMockdevIoctlData* argument_;
    uint64_t record_address_ = 0;
    size_t first_slot_ = 0;
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

// umockdev_in_mock_environment() does not tell this (it answers false in a
// process that has the library loaded), so the process's mappings are asked.
bool UmockdevHost::preload_active() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libumockdev-preload") != std::string::npos) return true;
    }
    return false;
}

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
