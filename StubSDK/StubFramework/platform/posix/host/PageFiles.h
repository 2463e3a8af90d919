// The files of the page folder as both bridges serve them: a path from a
// request resolved inside the folder (never outside it), the content type,
// and HTML documents with the bridge script placed first thing.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace stubframework::platform::posix {

struct PageFile {
    std::string body;
    std::string type;
};

// The file at `relative` (percent-encoded, as in a URL) inside `folder`;
// nothing for a path that leaves the folder or names no regular file.
// Documents get `script()` (a whole <script> element) first.
std::optional<PageFile> ReadPageFile(const std::string& folder, const std::string& relative,
                                     bool document, const std::function<std::string()>& script);

// Where the bridge script goes in an HTML text: right after a leading
// doctype (a script before it would switch the page to quirks mode), else
// at the very start, before anything the page itself could run.
std::size_t ScriptPosition(const std::string& html);

// %XX sequences decoded; nothing for a malformed one or an encoded NUL.
std::optional<std::string> PercentDecode(const std::string& text);

}  // namespace stubframework::platform::posix
