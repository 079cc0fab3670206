// The request wrappers: the one place where adapter operations call the
// controller access library. Each turns a library status and the status block
// of the reply into true or false, and hands the IOC status and log info to
// the caller.
#include "request_wrappers.h"

#include <algorithm>
#include <exception>

#include "fmx.h"
#include "message_frames.h"
#include "messages.h"

namespace {

// Segment size of a whole-image upload; the controller moves at most this much
// per request.
constexpr uint32_t kUploadSegmentSize = 0x10000;

FmxHandle handle_record(uint32_t handle) {
    return FmxHandle{handle, handle, FMX_ADAPTER_HANDLE_KIND, 0};
}

FmxStatusBlock empty_status_block() {
    FmxStatusBlock status{};
    status.size = sizeof(FmxStatusBlock);
    return status;
}

void clear(uint16_t* ioc_status, uint32_t* log_info) {
    *ioc_status = 0;
    *log_info = 0;
}

// The result rule shared by every wrapper once the library call succeeded:
// only a valid, non-zero IOC status fails the request.
bool take_status(const FmxStatusBlock& status, uint16_t* ioc_status, uint32_t* log_info) {
    bool ok = true;
    if (status.valid_bits & FMX_IOC_STATUS_VALID) {
        *ioc_status = status.ioc_status;
        ok = status.ioc_status == 0;
    }
    if (status.valid_bits & FMX_LOG_INFO_VALID) *log_info = status.ioc_log_info;
    return ok;
}

// Configuration requests report the controller's verdict only through the
// library's last status.
FmxStatusBlock last_status() {
    FmxStatusBlock status = empty_status_block();
    fmx_get_last_status(&status);
    return status;
}

}  // namespace

bool upload_segment(uint32_t handle, uint8_t image_type, void* buffer, uint32_t length,
                    uint32_t offset, uint32_t* actual_image_size, uint16_t* ioc_status,
                    uint32_t* log_info) {
    clear(ioc_status, log_info);
    const FmxHandle record = handle_record(handle);
    fmx::FirmwareUploadReply reply{};
    uint32_t reply_length = sizeof(reply);
    FmxStatusBlock status = empty_status_block();
    const int result = fmx_upload_firmware(&record, buffer, length, offset, image_type, &reply,
                                           &reply_length, &status);
    // The reply's size field counts only when the reply reached that far.
    *actual_image_size = reply_length >= sizeof(reply) ? reply.actual_image_size.get() : 0;
    if (result != FMX_OK) return false;
    return take_status(status, ioc_status, log_info);
}

bool download_image(uint32_t handle, uint8_t image_type, const void* image, uint32_t size,
                    uint16_t* ioc_status, uint32_t* log_info) {
    clear(ioc_status, log_info);
    const FmxHandle record = handle_record(handle);
    fmx::FirmwareDownloadReply reply{};
    uint32_t reply_length = sizeof(reply);
    FmxStatusBlock status = empty_status_block();
    const int result = fmx_download_firmware(&record, image, size, 0, image_type,
                                             /*last_segment=*/1, &reply, &reply_length, &status);
    if (result != FMX_OK) return false;
    return take_status(status, ioc_status, log_info);
}

bool erase_persistent_pages(uint32_t handle, uint16_t* ioc_status, uint32_t* log_info) {
    clear(ioc_status, log_info);
    const FmxHandle record = handle_record(handle);
    FmxStatusBlock status = empty_status_block();
    const int result =
        fmx_toolbox_clean(&record, fmx::kCleanPersistentPages, nullptr, &status);
    // Whatever the controller said is passed on for the caller to report. A
    // clean the controller refused fails like any other request: a forced
    // downgrade must not go on over persistent pages that are still there.
    *ioc_status = status.ioc_status;
    *log_info = status.ioc_log_info;
    return result == FMX_OK && status.ioc_status == 0;
}

bool read_config_header(uint32_t handle, uint8_t page_type, uint8_t page_number,
                        uint32_t* page_length_bytes, uint16_t* ioc_status, uint32_t* log_info) {
    clear(ioc_status, log_info);
    const FmxHandle record = handle_record(handle);
    uint32_t length = 0;
    const int result = fmx_read_config_page(&record, 0, page_type, page_number, 0,
                                            FMX_READ_HEADER, nullptr, &length);
    if (result != FMX_OK) return false;
    const FmxStatusBlock status = last_status();
    if (status.valid_bits == 0) {
        *page_length_bytes = length;
        return true;
    }
    return take_status(status, ioc_status, log_info);
}

bool read_config_page(uint32_t handle, uint8_t page_type, uint8_t page_number, uint32_t kind,
                      void* buffer, uint32_t* length, uint16_t* ioc_status, uint32_t* log_info) {
    clear(ioc_status, log_info);
    const FmxHandle record = handle_record(handle);
    const int result =
        fmx_read_config_page(&record, 0, page_type, page_number, 0, kind, buffer, length);
    if (result != FMX_OK) return false;
    return take_status(last_status(), ioc_status, log_info);
}

bool write_config_page(uint32_t handle, const void* page, uint32_t buffer_size,
                       uint16_t* ioc_status, uint32_t* log_info) {
    clear(ioc_status, log_info);
    fmx::ConfigPageHeader header{};
    if (!fmx::read_record(static_cast<const uint8_t*>(page), buffer_size, 0, header)) return false;
    const uint32_t length = header.page_length * 4u;
    // The page's own header gives its length; never send more than the buffer holds.
    if (length > buffer_size) return false;
    const FmxHandle record = handle_record(handle);
    const int result = fmx_write_config_page(&record, 0, header.page_type, header.page_number, 0,
                                             FMX_WRITE_NVRAM, page, length);
    if (result != FMX_OK) return false;
    return take_status(last_status(), ioc_status, log_info);
}

bool upload_image_from_flash(uint32_t handle, uint8_t image_type, ImageBuffer& image,
                             uint16_t* ioc_status, uint32_t* log_info) {
    image.clear();
    uint32_t image_size = 0;
    if (!upload_segment(handle, image_type, nullptr, 0, 0, &image_size, ioc_status, log_info)) {
        emitf(OUTPUT_ERROR, "\tERROR: Failed to Upload Image!\n");
        return false;
    }
    // The size comes from the controller; one that cannot be held fails the
    // upload like a failed allocation.
    try {
        image.resize(image_size);
    } catch (const std::exception&) {
        return false;
    }
    for (uint32_t offset = 0; offset < image_size;) {
        const uint32_t length = std::min(kUploadSegmentSize, image_size - offset);
        uint32_t reported_size = 0;
        if (!upload_segment(handle, image_type, image.data() + offset, length, offset,
                            &reported_size, ioc_status, log_info)) {
            image.clear();
            image.shrink_to_fit();
            return false;
        }
        offset += length;
    }
    return true;
}
