#include "trace.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

namespace fmxsim {

namespace {

constexpr std::array<std::string_view, 17> kKeys = {
    "node",   "request", "ioc",      "function", "action",  "page_type", "page_number", "ext_page_type", "image_type",
    "offset", "length",  "timeout",  "data_out", "data_in", "result",    "errno",       "ioc_status"};

struct ErrnoName {
    int value;
    std::string_view name;
};
constexpr ErrnoName kErrnoNames[] = {
    {EINVAL, "EINVAL"}, {ENODEV, "ENODEV"}, {ENOTTY, "ENOTTY"}, {EIO, "EIO"}, {EFAULT, "EFAULT"}};

std::string hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

template <typename T>
std::string hex_or_dash(const std::optional<T>& value, int digits) {
    return value ? hex(*value, digits) : "-";
}

template <typename T>
std::string decimal_or_dash(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "-";
}

std::string errno_text(int result, int error) {
    if (result == 0) return "-";
    for (const ErrnoName& entry : kErrnoNames) {
        if (entry.value == error) return std::string(entry.name);
    }
    return std::to_string(error);
}

template <typename T>
bool parse_number(std::string_view text, T& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc{} && end == text.data() + text.size();
}

template <typename T>
bool parse_optional(std::string_view text, std::optional<T>& out) {
    if (text == "-") {
        out.reset();
        return true;
    }
    T value{};
    if (!parse_number(text, value)) return false;
    out = value;
    return true;
}

bool parse_errno(std::string_view text, int& out) {
    if (text == "-") {
        out = 0;
        return true;
    }
    for (const ErrnoName& entry : kErrnoNames) {
        if (entry.name == text) {
            out = entry.value;
            return true;
        }
    }
    return parse_number(text, out);
}

std::vector<std::string_view> split_words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t start = 0;
    while (start < line.size()) {
        const size_t end = std::min(line.find(' ', start), line.size());
        if (end > start) words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace

std::string format_trace_line(const TraceRecord& r) {
    const std::array<std::string, kKeys.size()> values = {
        r.node,
        hex(r.request, 8),
        decimal_or_dash(r.ioc),
        hex_or_dash(r.function, 2),
        hex_or_dash(r.action, 2),
        hex_or_dash(r.page_type, 2),
        decimal_or_dash(r.page_number),
        hex_or_dash(r.ext_page_type, 2),
        hex_or_dash(r.image_type, 2),
        decimal_or_dash(r.offset),
        decimal_or_dash(r.length),
        decimal_or_dash(r.timeout),
        decimal_or_dash(r.data_out),
        decimal_or_dash(r.data_in),
        std::to_string(r.result),
        errno_text(r.result, r.error),
        hex_or_dash(r.ioc_status, 4),
    };
    std::string line;
    for (size_t i = 0; i < kKeys.size(); ++i) {
        if (i != 0) line += ' ';
        line += kKeys[i];
        line += '=';
        line += values[i];
    }
    return line;
}

std::optional<TraceRecord> parse_trace_line(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const std::vector<std::string_view> words = split_words(line);
    if (words.size() != kKeys.size()) return std::nullopt;
    std::array<std::string_view, kKeys.size()> v;
    for (size_t i = 0; i < kKeys.size(); ++i) {
        const std::string_view word = words[i];
        if (word.size() <= kKeys[i].size() || word.substr(0, kKeys[i].size()) != kKeys[i] ||
            word[kKeys[i].size()] != '=') {
            return std::nullopt;
        }
        v[i] = word.substr(kKeys[i].size() + 1);
    }
    TraceRecord r;
    r.node = std::string(v[0]);
    const bool ok = parse_number(v[1], r.request) && parse_optional(v[2], r.ioc) &&
                    parse_optional(v[3], r.function) && parse_optional(v[4], r.action) &&
                    parse_optional(v[5], r.page_type) && parse_optional(v[6], r.page_number) &&
                    parse_optional(v[7], r.ext_page_type) && parse_optional(v[8], r.image_type) &&
                    parse_optional(v[9], r.offset) && parse_optional(v[10], r.length) &&
                    parse_optional(v[11], r.timeout) && parse_optional(v[12], r.data_out) &&
                    parse_optional(v[13], r.data_in) && parse_number(v[14], r.result) &&
                    parse_errno(v[15], r.error) && parse_optional(v[16], r.ioc_status);
    if (!ok) return std::nullopt;
    return r;
}

}  // namespace fmxsim
