#include "downloader/ContentRange.h"

#include <charconv>

namespace downloader {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// One decimal number after optional blanks, as scanf's %lld reads it.
bool ReadNumber(std::string_view& text, std::int64_t& value) {
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    if (at < text.size() && text[at] == '+') {
        ++at;
    }
    const char* begin = text.data() + at;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end == begin) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool Literal(std::string_view& text, std::string_view expected) {
    if (!text.starts_with(expected)) {
        return false;
    }
    text.remove_prefix(expected.size());
    return true;
}

}  // namespace

bool ParseContentRange(std::string_view text, ContentRange& range) {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
    if (!Literal(text, "bytes") || !ReadNumber(text, first) || !Literal(text, "-") ||
        !ReadNumber(text, last) || !Literal(text, "/") || !ReadNumber(text, total)) {
        return false;
    }
    if (first < 0 || last < first || total <= last) {
        return false;
    }
    range.offset = first;
    range.size = last - first + 1;
    range.total = total;
    return true;
}

}  // namespace downloader
