// The memory of the process that issued a driver request, as the driver
// reaches it: the record the ioctl argument points to, and the buffers whose
// addresses that record holds. The umockdev host fetches them from the client;
// unit tests give an in-memory stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fmxsim {

class ClientMemory {
public:
    virtual ~ClientMemory() = default;
    // The first `size` bytes of the argument's record. Asked for once per
    // request. Empty when they cannot be read.
    virtual std::span<uint8_t> record(size_t size) = 0;
    // The client address of that record.
    virtual uint64_t record_address() const = 0;
    // `size` (> 0) bytes at a client address; empty when they cannot be reached.
    virtual std::span<uint8_t> at(uint64_t address, size_t size) = 0;
    // Bytes written into the spans above reach the client when the request
    // completes.
};

}  // namespace fmxsim
