#include "fake_client.h"

#include <algorithm>

namespace sim_test {

uint64_t FakeClient::place(const std::vector<uint8_t>& bytes) {
    const uint64_t address = kBase + arena_.size();
    arena_.insert(arena_.end(), bytes.begin(), bytes.end());
    guards_.emplace_back(address + bytes.size(), kGuardSize);
    arena_.insert(arena_.end(), kGuardSize, kGuard);
    arena_.resize((arena_.size() + 7) / 8 * 8, kGuard);
    return address;
}

std::vector<uint8_t> FakeClient::read(uint64_t address, size_t size) const {
    const size_t offset = static_cast<size_t>(address - kBase);
    return std::vector<uint8_t>(arena_.begin() + static_cast<ptrdiff_t>(offset),
                                arena_.begin() + static_cast<ptrdiff_t>(offset + size));
}

bool FakeClient::guards_intact() const {
    for (const auto& [address, size] : guards_) {
        const std::vector<uint8_t> guard = read(address, size);
        if (std::any_of(guard.begin(), guard.end(), [](uint8_t b) { return b != kGuard; })) return false;
    }
    return true;
}

std::span<uint8_t> FakeClient::record(size_t size) { return at(argument_, size); }

std::span<uint8_t> FakeClient::at(uint64_t address, size_t size) {
    if (address < kBase || address - kBase > arena_.size() || arena_.size() - (address - kBase) < size) return {};
    return {arena_.data() + (address - kBase), size};
}

template <typename Command>
PassThroughResult pass_through(fmxsim::Driver& driver, const PassThrough& request, const char* node) {
    FakeClient client;
    Command command{};
    command.header.ioc_number = request.ioc;
    command.header.size = request.header_size.value_or(fmx::kDriverCommandHeaderSize<Command>);
    command.timeout = request.timeout;
    command.frame_words = request.frame_words.value_or(static_cast<uint32_t>(request.frame.size() / 4));
    const uint64_t reply = client.place_zeros(request.reply_size);
    command.reply_addr = static_cast<decltype(command.reply_addr.get())>(reply);
    command.reply_size = request.reply_size;
    uint64_t data_in = 0;
    if (request.data_in_size != 0) {
        data_in = client.place_zeros(request.data_in_size);
        if (!request.null_data_in) command.data_in_addr = static_cast<decltype(command.data_in_addr.get())>(data_in);
        command.data_in_size = request.data_in_size;
    }
    if (!request.data_out.empty()) {
        command.data_out_addr = static_cast<decltype(command.data_out_addr.get())>(client.place(request.data_out));
        command.data_out_size = static_cast<uint32_t>(request.data_out.size());
    }
    std::vector<uint8_t> record = bytes_of(command);
    record.insert(record.end(), request.frame.begin(), request.frame.end());
    client.set_argument(client.place(record));

    PassThroughResult result;
    result.result = driver.ioctl(node, Command::kRequestCode, client);
    result.reply = client.read(reply, request.reply_size);
    if (data_in != 0) result.data_in = client.read(data_in, request.data_in_size);
    result.guards_intact = client.guards_intact();
    return result;
}

template PassThroughResult pass_through<fmx::DriverCommand32>(fmxsim::Driver&, const PassThrough&, const char*);
template PassThroughResult pass_through<fmx::DriverCommand64>(fmxsim::Driver&, const PassThrough&, const char*);

fmxsim::DriverResult ioc_information(fmxsim::Driver& driver, uint32_t ioc, fmx::DriverIocInfo& info,
                                     const char* node, uint32_t header_size) {
    FakeClient client;
    fmx::DriverIocInfo request{};
    request.header.ioc_number = ioc;
    request.header.size = header_size;
    const uint64_t address = client.place(bytes_of(request));
    client.set_argument(address);
    const fmxsim::DriverResult result = driver.ioctl(node, fmx::kIocInfoRequest, client);
    info = record_from<fmx::DriverIocInfo>(client.read(address, sizeof(info)));
    return result;
}

}  // namespace sim_test
