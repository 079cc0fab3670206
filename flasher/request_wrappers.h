// The thin wrappers through which every adapter operation sends controller
// requests. Each clears its two out-words, calls the library and turns the
// library status and the reply's IOC status into true or false: a non-zero
// library status is false; a valid non-zero IOC status is false and is copied
// to the caller, with the log info when it is marked valid.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// An allocator whose value-initialised elements are left uninitialised. The
// buffers of images read from flash are sized and then written whole by the
// upload; zeroing them first would write every byte twice (the listing reads
// each controller's whole firmware image).
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using ImageBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

bool upload_segment(uint32_t handle, uint8_t image_type, void* buffer, uint32_t length,
                    uint32_t offset, uint32_t* actual_image_size, uint16_t* ioc_status,
                    uint32_t* log_info);
bool download_image(uint32_t handle, uint8_t image_type, const void* image, uint32_t size,
                    uint16_t* ioc_status, uint32_t* log_info);
bool erase_persistent_pages(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info);
bool read_config_header(uint32_t handle, uint8_t page_type, uint8_t page_number,
                        uint32_t* page_length_bytes, uint16_t* ioc_status, uint32_t* log_info);
// kind: FMX_READ_CURRENT or FMX_READ_NVRAM. *length: capacity in, page size out.
bool read_config_page(uint32_t handle, uint8_t page_type, uint8_t page_number, uint32_t kind,
                      void* buffer, uint32_t* length, uint16_t* ioc_status, uint32_t* log_info);
// Writes the non-volatile copy; the page's own header gives type, number and length.
bool write_config_page(uint32_t handle, const void* page, uint32_t buffer_size,
                       uint16_t* ioc_status, uint32_t* log_info);

// Reads a whole image out of the controller's flash in 64 KiB segments straight
// into `image`. Prints "\tERROR: Failed to Upload Image!\n" when the size probe fails.
bool upload_image_from_flash(uint32_t handle, uint8_t image_type, ImageBuffer& image,
                             uint16_t* ioc_status, uint32_t* log_info);
