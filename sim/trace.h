// The request trace: one line per driver request.
//
// A line is a fixed sequence of space-separated key=value fields, always all of
// them and always in this order:
//
//   node=/dev/fmx2ctl request=0xC0484C14 ioc=0 function=0x12 action=- page_type=-
//   page_number=- ext_page_type=- image_type=0x01 offset=0 length=65536 timeout=60
//   data_out=0 data_in=65536 result=0 errno=- ioc_status=0x0000
//
// (one line in the file). A field that does not apply to the request, or that
// could not be read from it, is "-". Numbers are decimal except request,
// function, action, page_type, ext_page_type, image_type and ioc_status, which
// are 0x-prefixed hex. errno is "-" when result is 0, else its name (EINVAL,
// ENODEV, ENOTTY, EIO, EFAULT) or its number. ioc_status is the reply's status
// as the controller set it (bit 15 included); "-" when the request did not
// reach the controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fmxsim {

struct TraceRecord {
    std::string node;
    uint32_t request = 0;
    std::optional<uint32_t> ioc;
    std::optional<uint8_t> function;
    std::optional<uint8_t> action;
    std::optional<uint8_t> page_type;
    std::optional<uint8_t> page_number;
    std::optional<uint8_t> ext_page_type;
    std::optional<uint8_t> image_type;
    std::optional<uint32_t> offset;
    std::optional<uint32_t> length;
    std::optional<uint32_t> timeout;
    std::optional<uint32_t> data_out;  // data-out size the record states
    std::optional<uint32_t> data_in;   // data-in size the record states
    int result = 0;
    int error = 0;  // errno when result is -1
    std::optional<uint16_t> ioc_status;
    bool operator==(const TraceRecord&) const = default;
};

std::string format_trace_line(const TraceRecord& record);  // without the newline
std::optional<TraceRecord> parse_trace_line(std::string_view line);

}  // namespace fmxsim
