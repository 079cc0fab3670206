// The validation sequence of a firmware image file: signature, checksum,
// supported devices, NVDATA, initialization and boot loader images, and the
// firmware kind against the running firmware.
#include "firmware_validation.h"

#include <cstring>
#include <vector>

#include "commands.h"
#include "message_frames.h"
#include "messages.h"
#include "request_wrappers.h"

namespace {

enum class NvdataCheck { kMissing, kBadSignature, kBadProductSignature, kValid };

struct Nvdata {
    NvdataCheck check = NvdataCheck::kMissing;
    uint32_t version = 0;
    NvdataProductBlock product{};
};

// Reads the NVDATA header and product block behind one NVDATA extended image;
// either record reaching past the end of the image counts as a bad signature.
Nvdata read_nvdata(const ImageView& image, const ExtendedImage& extended) {
    Nvdata nvdata;
    const uint64_t header_offset = extended.body_offset();
    const auto header = image.record_at<NvdataHeader>(header_offset);
    if (!header || header->signature != kNvdataSignature) {
        nvdata.check = NvdataCheck::kBadSignature;
        return nvdata;
    }
    const uint64_t product_offset = header_offset + 4ull * header->product_block_offset;
    const auto product = image.record_at<NvdataProductBlock>(product_offset);
    if (!product || product->signature != kProductBlockSignature) {
        nvdata.check = NvdataCheck::kBadProductSignature;
        return nvdata;
    }
    nvdata.check = NvdataCheck::kValid;
    nvdata.version = header->version;
    nvdata.product = *product;
    return nvdata;
}

// The NVDATA that the controller runs with, from its first NVDATA image.
bool read_running_nvdata(const ImageView& running, Nvdata* out) {
    const auto extended = find_extended_image(running, kExtNvdata);
    if (!extended) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Failed to get valid NVDATA image from Flash! \n\n");
        return false;
    }
    *out = read_nvdata(running, *extended);
    switch (out->check) {
    case NvdataCheck::kBadSignature:
        emitf(OUTPUT_NORMAL,
              "\t\tERROR: Invalid NVDATA Signature in Firmware image from Flash \n\n");
        return false;
    case NvdataCheck::kBadProductSignature:
        emitf(OUTPUT_NORMAL,
              "\t\tERROR: Invalid NVDATA PROD_ID Signature in Firmware image from Flash \n\n");
        return false;
    default:
        return true;
    }
}

// The first NVDATA image of the file that is sound and built for the
// adapter's device family; each one passed over is reported.
bool select_file_nvdata(const ImageView& file, const AdapterRecord& adapter, Nvdata* out) {
    ExtendedImageWalk walk(file);
    for (unsigned n = 0;; ++n) {
        const auto extended = walk.next_of_type(kExtNvdata);
        if (!extended) {
            if (n == 0)
                emitf(OUTPUT_NORMAL, "\t\tERROR: Failed to get valid NVDATA image from File! \n\n");
            else
                emitf(OUTPUT_NORMAL, "\t\tERROR: No compatible NVDATA image found! \n\n");
            return false;
        }
        if (n > 0) emitf(OUTPUT_NORMAL, "\t\tChecking Next NVDATA image\n\n");
        const Nvdata nvdata = read_nvdata(file, *extended);
        if (nvdata.check == NvdataCheck::kBadSignature) {
            emitf(OUTPUT_NORMAL,
                  "\t\tERROR: Invalid NVDATA Signature in Firmware image from File \n\n");
            continue;
        }
        if (nvdata.check == NvdataCheck::kBadProductSignature) {
            emitf(OUTPUT_NORMAL,
                  "\t\tERROR: Invalid NVDATA PROD_ID Signature in Firmware image from File \n\n");
            continue;
        }
        const uint16_t nvdata_device = nvdata.product.device_id;
        if (!device_ids_compatible(nvdata_device, adapter.pci_device_id)) {
            emitf(OUTPUT_NORMAL,
                  "\t\tERROR: NVDATA Image does not match Controller Device ID! \n"
                  "\t\t       Device ID - NVDATA:0x%x Controller:0x%x \n\n",
                  nvdata_device, adapter.pci_device_id);
            continue;
        }
        *out = nvdata;
        return true;
    }
}

bool same_identification(const NvdataProductBlock& a, const NvdataProductBlock& b) {
    return std::memcmp(a.vendor_id, b.vendor_id, sizeof(a.vendor_id)) == 0 &&
           std::memcmp(a.product_id, b.product_id, sizeof(a.product_id)) == 0;
}

bool image_present(const ImageView& image, uint8_t type) {
    return find_extended_image(image, type).has_value();
}

bool running_state_readable(uint32_t state) {
    const uint32_t top = state & STATE_MASK;
    return top == STATE_READY || top == STATE_OPERATIONAL;
}

// Steps 1 to 9 of the sequence; false after the failed step's own message.
bool run_validation_steps(const ImageView& file, const AdapterRecord& adapter,
                          bool* force_downgraded, uint16_t* ioc_status, uint32_t* log_info) {
    if (!has_valid_signature(file)) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Firmware Image does not have a Valid Signature.\n\n");
        return false;
    }
    const uint32_t sum = image_word_sum(file.data(), file.size());
    if (sum != 0) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Image Checksum Failed: %08X\n\n", sum);
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tFirmware Image has a Valid Checksum. \n\n");

    if (!check_supported_devices(file, adapter)) return false;
    emitf(OUTPUT_NORMAL, "\t\tFirmware Image compatible with Controller. \n\n");

    if (!image_present(file, kExtNvdata)) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Image does not have a valid NVDATA image! \n\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tValid NVDATA Image found. \n\n");

    // Only a controller that runs firmware can hand back the image it runs.
    ImageBuffer running_bytes;
    const bool have_running = running_state_readable(adapter_state(adapter.handle));
    if (have_running && !upload_image_from_flash(adapter.handle, fmx::kImageTypeFirmware,
                                                 running_bytes, ioc_status, log_info))
        return false;
    const ImageView running(running_bytes.data(), running_bytes.size());

    if (!check_nvdata_compatibility(file, have_running ? &running : nullptr, adapter,
                                    force_downgraded))
        return false;

    if (!image_present(file, kExtInitialization)) {
        emitf(OUTPUT_NORMAL,
              "\t\tERROR: Firmware Image does not have a valid Initialization image.\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tValid Initialization Image verified.\n");

    if (!image_present(file, kExtBootLoader)) {
        emitf(OUTPUT_NORMAL, "\t\tERROR: Firmware Image does not have a valid BootLoader image.\n");
        return false;
    }
    emitf(OUTPUT_NORMAL, "\t\tValid BootLoader Image verified.\n\n");

    if (!have_running) return true;
    // Both headers are whole: the file passed the signature check, and the
    // running image held an NVDATA image, which only a signed image can.
    const auto file_header = read_image_header(file);
    const auto running_header = read_image_header(running);
    return file_header && running_header && check_firmware_kind(*file_header, *running_header);
}

}  // namespace

bool check_supported_devices(const ImageView& image, const AdapterRecord& adapter) {
    const auto extended = find_extended_image(image, kExtSupportedDevices);
    if (!extended) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Failed to find Supported Devices Extended Image \n\n");
        return false;
    }
    // A list whose header or entries reach past the end of the image has only
    // the entries that fit.
    const auto list = image.record_at<SupportedDevicesList>(extended->body_offset());
    const unsigned count = list ? list->entry_count : 0;
    const uint64_t first_entry = extended->body_offset() + sizeof(SupportedDevicesList);
    bool device_matched = false;
    bool revision_accepted = false;
    for (unsigned i = 0; i < count; ++i) {
        const auto entry =
            image.record_at<SupportedDeviceEntry>(first_entry + i * sizeof(SupportedDeviceEntry));
        if (!entry) break;
        if (!device_ids_compatible(entry->device_id, adapter.pci_device_id)) continue;
        device_matched = true;
        const uint8_t revision = adapter.hardware_revision;
        if (entry->lowest_revision <= revision && revision <= entry->highest_revision) {
            revision_accepted = true;
        } else {
            emitf(OUTPUT_ERROR,
                  "\t\tERROR: Firmware image does not support Target \n"
                  "\t\tAdapter Chip Revision (%x) \n\n",
                  revision);
        }
    }
    if (device_matched) return revision_accepted;
    emitf(OUTPUT_ERROR,
          "\t\tERROR: Firmware image does not support Target \n\t\tAdapter Device ID (%x) \n\n",
          adapter.pci_device_id);
    return false;
}

bool check_nvdata_compatibility(const ImageView& file, const ImageView* running,
                                const AdapterRecord& adapter, bool* force_downgraded) {
    Nvdata flash;
    if (running && !read_running_nvdata(*running, &flash)) return false;
    Nvdata selected;
    if (!select_file_nvdata(file, adapter, &selected)) return false;
    if (!running) return true;

    if (flash.version > selected.version) {
        if (!force_mode) {
            emitf(OUTPUT_NORMAL, "\t\tERROR: Cannot downgrade NVDATA Version 0x%x to 0x%x.\n\n",
                  flash.version, selected.version);
            return false;
        }
        emitf(OUTPUT_NORMAL, "\t\tNVDATA Version Downgraded in Force Mode.\n");
        *force_downgraded = true;
    } else {
        emitf(OUTPUT_NORMAL, "\t\tNVDATA Versions Compatible.\n");
    }

    if (same_identification(selected.product, flash.product)) {
        emitf(OUTPUT_NORMAL, "\t\tNVDATA Product ID and Vendor ID match verified.\n\n");
        return true;
    }
    emitf(OUTPUT_NORMAL, "\t\tNVDATA Product ID and Vendor ID match FAILED!.\n\n");
    return false;
}

bool check_firmware_kind(const FirmwareImageHeader& file, const FirmwareImageHeader& running) {
    bool ok = true;
    if (file.vendor_id != running.vendor_id) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Product ID and Vendor ID match FAILED.\n\n");
        ok = false;
    }
    if (running.product_id == 0) return ok;
    const uint8_t file_kind = firmware_kind(file.product_id);
    const uint8_t running_kind = firmware_kind(running.product_id);
    if (file_kind == kKindIT && running_kind == kKindIR) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Cannot Flash IT Firmware over IR Firmware!\n\n");
        return false;
    }
    if (file_kind != kKindIT && running_kind == kKindIT) {
        emitf(OUTPUT_ERROR, "\t\tERROR: Cannot Flash IR Firmware over IT Firmware!\n\n");
        return false;
    }
    return ok;
}

bool validate_firmware_image(const uint8_t* image, size_t size, const AdapterRecord& adapter,
                             bool* force_downgraded, uint16_t* ioc_status, uint32_t* log_info) {
    const ImageView file(image, size);
    if (run_validation_steps(file, adapter, force_downgraded, ioc_status, log_info)) return true;
    emitf(OUTPUT_NORMAL, "\t\tFirmware Image Validation Failed! \n\n");
    return false;
}
