// A client process's memory for driver tests without umockdev: records and
// buffers laid out in one arena at made-up addresses, each followed by guard
// bytes, so a test sees any write past a buffer's stated size.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "client_memory.h"
#include "driver.h"
#include "driver_records.h"
#include "message_frames.h"

namespace sim_test {

class FakeClient final : public fmxsim::ClientMemory {
public:
    static constexpr uint64_t kBase = 0x10000;
    static constexpr uint8_t kGuard = 0xEE;
    static constexpr size_t kGuardSize = 16;

    // Places `bytes` and returns their address.
    uint64_t place(const std::vector<uint8_t>& bytes);
    uint64_t place_zeros(size_t size) { return place(std::vector<uint8_t>(size, 0)); }
    std::vector<uint8_t> read(uint64_t address, size_t size) const;
    bool guards_intact() const;

    // The next ioctl's argument.
    void set_argument(uint64_t address) { argument_ = address; }

    std::span<uint8_t> record(size_t size) override;
    uint64_t record_address() const override { return argument_; }
    std::span<uint8_t> at(uint64_t address, size_t size) override;

private:
    std::vector<uint8_t> arena_;
    std::vector<std::pair<uint64_t, size_t>> guards_;
    uint64_t argument_ = 0;
};

template <typename Record>
std::vector<uint8_t> bytes_of(const Record& record) {
    std::vector<uint8_t> bytes(sizeof(Record));
    fmx::write_record(bytes.data(), record);
    return bytes;
}

template <typename Record>
Record record_from(const std::vector<uint8_t>& bytes) {
    Record record{};
    fmx::read_record(bytes.data(), bytes.size(), 0, record);
    return record;
}

// One pass-through request as a test states it.
struct PassThrough {
    uint32_t ioc = 0;
    std::vector<uint8_t> frame{};
    std::vector<uint8_t> data_out{};
    uint32_t reply_size = 64;
    uint32_t data_in_size = 0;
    uint32_t timeout = 10;
    // Deliberate faults of the record itself.
    std::optional<uint32_t> header_size{};
    std::optional<uint32_t> frame_words{};
    bool null_data_in = false;
};

struct PassThroughResult {
    fmxsim::DriverResult result;
    std::vector<uint8_t> reply;
    std::vector<uint8_t> data_in;
    bool guards_intact = false;
};

template <typename Command>
PassThroughResult pass_through(fmxsim::Driver& driver, const PassThrough& request,
                               const char* node = "/dev/fmx2ctl");

// Asks IOC information; the record comes back as the driver left it.
fmxsim::DriverResult ioc_information(fmxsim::Driver& driver, uint32_t ioc, fmx::DriverIocInfo& info,
                                     const char* node = "/dev/fmx2ctl", uint32_t header_size = 92);

}  // namespace sim_test
