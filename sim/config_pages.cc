#include "config_pages.h"

#include <algorithm>

#include "ioc_status.h"

namespace fmxsim {

namespace {

// The copy an action reads or writes, or none for the header action.
std::vector<uint8_t>* copy_for_action(PageSpec& page, uint8_t action) {
    switch (action) {
        case fmx::kConfigActionReadCurrent:
        case fmx::kConfigActionWriteCurrent: return &page.current;
        case fmx::kConfigActionReadDefault:
        case fmx::kConfigActionWriteDefault: return &page.defaults;
        case fmx::kConfigActionReadNvram:
        case fmx::kConfigActionWriteNvram: return &page.nonvolatile;
        default: return nullptr;
    }
}

bool is_write(uint8_t action) {
    return action == fmx::kConfigActionWriteCurrent || action == fmx::kConfigActionWriteDefault ||
           action == fmx::kConfigActionWriteNvram;
}

// The low four bits of the type byte name the page type; the upper bits are
// attributes a caller may leave set.
constexpr uint8_t kPageTypeMask = 0x0F;

PageSpec* find_page(std::vector<PageSpec>& pages, const fmx::ConfigRequest& request) {
    const uint8_t type = request.header.page_type & kPageTypeMask;
    for (PageSpec& page : pages) {
        if (page.type != type || page.number != request.header.page_number) continue;
        if (page.is_extended() && page.ext_type != request.ext_page_type) continue;
        return &page;
    }
    return nullptr;
}

fmx::ConfigReply reply_for(const fmx::ConfigRequest& request, uint16_t ioc_status) {
    fmx::ConfigReply reply{};
    reply.action = request.action;
    reply.ext_page_type = request.ext_page_type;
    set_reply_status(reply, fmx::kFunctionConfig, ioc_status);
    return reply;
}

void describe_page(const PageSpec& page, fmx::ConfigReply& reply) {
    reply.header = {page.version, page.is_extended() ? uint8_t{0} : static_cast<uint8_t>(page.size() / 4),
                    page.number, page.type};
    if (page.is_extended()) {
        reply.ext_page_length = static_cast<uint16_t>(page.size() / 4);
        reply.ext_page_type = page.ext_type;
    }
}

}  // namespace

Response handle_config_request(std::vector<PageSpec>& pages, std::span<const uint8_t> frame,
                               std::span<const uint8_t> data_out) {
    const auto request = read_frame<fmx::ConfigRequest>(frame);
    if (!request) return status_response(fmx::kFunctionConfig, kIocStatusInvalidField);
    if (request->action > fmx::kConfigActionReadNvram) {
        return Response{to_bytes(reply_for(*request, kIocStatusConfigInvalidAction)), {}};
    }
    PageSpec* page = find_page(pages, *request);
    if (page == nullptr) return Response{to_bytes(reply_for(*request, kIocStatusConfigInvalidPage)), {}};

    fmx::ConfigReply reply = reply_for(*request, kIocStatusSuccess);
    describe_page(*page, reply);
    std::vector<uint8_t>* copy = copy_for_action(*page, request->action);
    if (copy == nullptr) return Response{to_bytes(reply), {}};
    if (!is_write(request->action)) return Response{to_bytes(reply), *copy};

    if (data_out.size() < copy->size()) {
        return Response{to_bytes(reply_for(*request, kIocStatusConfigInvalidData)), {}};
    }
    std::copy_n(data_out.begin(), copy->size(), copy->begin());
    stamp_page_header(*page, *copy);
    return Response{to_bytes(reply), {}};
}

void reset_nonvolatile_pages(std::vector<PageSpec>& pages) {
    for (PageSpec& page : pages) page.nonvolatile = page.defaults;
}

void load_current_from_nonvolatile(std::vector<PageSpec>& pages) {
    for (PageSpec& page : pages) page.current = page.nonvolatile;
}

}  // namespace fmxsim
