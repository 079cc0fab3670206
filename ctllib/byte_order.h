// Little-endian field access for wire records.
//
// Every driver record, request and reply frame and image header is little-endian
// on the wire whatever the host is. Records are declared as plain byte-exact
// structs (see driver_records.h, message_frames.h); code that reads a raw buffer
// received from a controller or a file goes through these helpers, which copy
// bytes instead of casting, so unaligned fields and strict aliasing are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fmx {

inline uint16_t load_le16(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t load_le32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t load_le64(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint64_t>(load_le32(b)) | (static_cast<uint64_t>(load_le32(b + 4)) << 32);
}

inline void store_le16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
}

inline void store_le32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void store_le64(void* p, uint64_t v) {
    auto* b = static_cast<uint8_t*>(p);
    store_le32(b, static_cast<uint32_t>(v));
    store_le32(b + 4, static_cast<uint32_t>(v >> 32));
}

// A little-endian integer field inside a packed wire record. It has alignment 1
// and holds its bytes in wire order, so a struct made of these and uint8_t
// arrays has exactly the layout of the wire record on every host and width.
template <typename T>
class Le {
public:
    static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
    Le() = default;
    Le(T v) { set(v); }  // NOLINT: implicit on purpose, records read like plain structs
    T get() const {
        if constexpr (sizeof(T) == 2) return static_cast<T>(load_le16(bytes_));
        else if constexpr (sizeof(T) == 4) return static_cast<T>(load_le32(bytes_));
        else return static_cast<T>(load_le64(bytes_));
    }
    void set(T v) {
        if constexpr (sizeof(T) == 2) store_le16(bytes_, static_cast<uint16_t>(v));
        else if constexpr (sizeof(T) == 4) store_le32(bytes_, static_cast<uint32_t>(v));
        else store_le64(bytes_, static_cast<uint64_t>(v));
    }
    operator T() const { return get(); }  // NOLINT
    Le& operator=(T v) { set(v); return *this; }

private:
    uint8_t bytes_[sizeof(T)] = {};
};

using le16 = Le<uint16_t>;
using le32 = Le<uint32_t>;
using le64 = Le<uint64_t>;

static_assert(sizeof(le16) == 2 && alignof(le16) == 1);
static_assert(sizeof(le32) == 4 && alignof(le32) == 1);
static_assert(sizeof(le64) == 8 && alignof(le64) == 1);

// Reads a record of type T from a byte buffer, or reports that the buffer is too
// short. The one place that answers "would this read past the end?" for records.
template <typename T>
bool read_record(const uint8_t* data, size_t size, size_t offset, T& out) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

template <typename T>
void write_record(uint8_t* data, const T& record) {
    std::memcpy(data, &record, sizeof(T));
}

}  // namespace fmx
