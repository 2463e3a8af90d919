#include "platform/posix/host/PageFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace stubframework::platform::posix {
namespace {

namespace stdfs = std::filesystem;

std::string ContentType(const stdfs::path& path) {
    static const std::map<std::string, std::string> kTypes{
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".txt", "text/plain; charset=utf-8"}};
    std::string extension = path.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto found = kTypes.find(extension);
    return found != kTypes.end() ? found->second : "application/octet-stream";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

std::optional<std::string> PercentDecode(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::size_t ScriptPosition(const std::string& html) {
    std::size_t at = html.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    std::size_t start = at;
    while (start < html.size() && std::isspace(static_cast<unsigned char>(html[start])) != 0) {
        ++start;
    }
    static constexpr std::string_view kDoctype = "<!doctype";
    if (html.size() - start >= kDoctype.size()) {
        std::string head = html.substr(start, kDoctype.size());
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const std::size_t close = html.find('>', start);
        if (head == kDoctype && close != std::string::npos) {
            at = close + 1;
        }
    }
    return at;
}

std::optional<PageFile> ReadPageFile(const std::string& folder, const std::string& relative,
                                     bool document, const std::function<std::string()>& script) {
    const std::optional<std::string> decoded = PercentDecode(relative);
    if (!decoded || decoded->empty() || decoded->find('\\') != std::string::npos) {
        return std::nullopt;
    }
    // No way out of the folder: no parent steps, no absolute paths, and no
    // link that leads elsewhere.
    const stdfs::path path(*decoded);
    if (!path.is_relative()) {
        return std::nullopt;
    }
    for (const auto& part : path) {
        if (part == "..") {
            return std::nullopt;
        }
    }
    std::error_code error;
    const stdfs::path root = stdfs::weakly_canonical(folder, error);
    const stdfs::path file = stdfs::weakly_canonical(root / path, error);
    const auto [rootEnd, fileAt] =
        std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (error || rootEnd != root.end() || !stdfs::is_regular_file(file, error)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    PageFile page{content.str(), ContentType(file)};
    if (document && page.type.rfind("text/html", 0) == 0) {
        page.body.insert(ScriptPosition(page.body), script());
    }
    return page;
}

}  // namespace stubframework::platform::posix
