// "-listall": one row per controller with its index, board name and the
// version of the firmware in its flash. updater reads the rows as its list of
// controllers, taking the first three blank-separated fields, so the layout is
// an external interface:
//
//   \tNum   Board Name         Firmware Version
//   \t-----------------------------------------
//   \t00    Q520               15.02.00.11
//
// A board name of 16 blanks shows as dashes (which updater skips like the
// ruler); a board name that cannot be read leaves its cell empty; a firmware
// version that cannot be read shows as dashes.
#include <cstring>
#include <vector>

#include "adapters.h"
#include "firmware_image.h"
#include "fmx.h"
#include "message_frames.h"
#include "messages.h"
#include "operations.h"
#include "request_wrappers.h"

namespace {

constexpr char kNameDashes[] = "--------------";
constexpr char kVersionDashes[] = "-----------";
constexpr char kGap[] = "   ";
constexpr uint8_t kMfgPage0Number = 0;

bool all_blanks(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] != ' ') return false;
    return true;
}

void print_board_cell(uint32_t handle) {
    uint8_t page[sizeof(fmx::ManufacturingPage0)] = {};
    uint32_t length = sizeof(page);
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    if (!read_config_page(handle, fmx::kPageTypeManufacturing, kMfgPage0Number, FMX_READ_NVRAM,
                          page, &length, &ioc_status, &log_info))
        return;
    fmx::ManufacturingPage0 page0{};
    fmx::read_record(page, sizeof(page), 0, page0);
    const char* name = page0.board_name;
    if (all_blanks(name, sizeof(page0.board_name))) {
        emitf(OUTPUT_NORMAL, "%s", kNameDashes);
        return;
    }
    // The field need not be NUL-terminated.
    emitf(OUTPUT_NORMAL, "%-16.*s", static_cast<int>(strnlen(name, sizeof(page0.board_name))),
          name);
}

void print_version_cell(uint32_t handle) {
    ImageBuffer image;
    uint16_t ioc_status = 0;
    uint32_t log_info = 0;
    if (upload_image_from_flash(handle, fmx::kImageTypeFirmware, image, &ioc_status, &log_info)) {
        const ImageView view(image.data(), image.size());
        const auto version =
            view.record_at<FirmwareVersion>(offsetof(FirmwareImageHeader, firmware_version));
        if (version) {
            emitf(OUTPUT_NORMAL, "%02d.%02d.%02d.%02d", version->bytes[3], version->bytes[2],
                  version->bytes[1], version->bytes[0]);
            return;
        }
    }
    emitf(OUTPUT_NORMAL, "%s", kVersionDashes);
}

void print_row(const AdapterRecord& adapter) {
    emitf(OUTPUT_NORMAL, "\t%02d ", static_cast<int>(adapter.index));
    emitf(OUTPUT_NORMAL, "%s", kGap);
    print_board_cell(adapter.handle);
    emitf(OUTPUT_NORMAL, "%s", kGap);
    print_version_cell(adapter.handle);
    emitf(OUTPUT_NORMAL, "\n");
}

}  // namespace

bool list_adapters(uint32_t /*handle*/, uint16_t* ioc_status, uint32_t* /*log_info*/) {
    AdapterRecord* const remembered = selected_adapter;
    emitf(OUTPUT_NORMAL, "\tNum   Board Name         Firmware Version\n");
    emitf(OUTPUT_NORMAL, "\t-----------------------------------------\n");
    for (AdapterRecord* adapter = adapter_list; adapter; adapter = adapter->next) {
        selected_adapter = adapter;
        set_active_handle(adapter->handle);
        print_row(*adapter);
    }
    emitf(OUTPUT_NORMAL, "\n");
    selected_adapter = remembered;
    set_active_handle(remembered ? remembered->handle : 0);
    *ioc_status = 0;
    return true;
}
