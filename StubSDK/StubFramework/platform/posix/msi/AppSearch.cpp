// AppSearch: properties set from what the machine already has, found by
// the registry, installed components and folders, and files that match a
// signature's name, version, size and date.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <span>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/posix/msi/ProductRecord.h"
#include "platform/posix/msi/Session.h"
#include "platform/unicode.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace reg = platform::registry;

// Signatures name each other as parents: a package could make a loop.
constexpr int kMaxParentDepth = 16;
// Folder searches read at most this many folders, whatever the depth asked.
constexpr std::size_t kMaxFoldersSearched = 10000;

bool SameName(const std::string& a, const std::string& b) {
    return FoldCase(a) == FoldCase(b);
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// A path as the machine spells it (a Windows path lands under the install
// root) without surrounding quotes.
std::string MachinePath(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value.empty() ? value : WithoutTrailingSeparator(MapFolder(value));
}

// The modification time as a DOS date and time, the date in the high word.
int DosDateTime(std::time_t when) {
    std::tm parts{};
    if (gmtime_r(&when, &parts) == nullptr || parts.tm_year < 80) {
        return 0;
    }
    const int date = ((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday;
    const int time = (parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2);
    return static_cast<int>((static_cast<unsigned>(date) << 16) | static_cast<unsigned>(time));
}

bool Matches(const std::string& path, const SignatureRow& signature) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const auto size = static_cast<long long>(info.st_size);
    if ((signature.minSize != kNoInteger && size < signature.minSize) ||
        (signature.maxSize != kNoInteger && size > signature.maxSize)) {
        return false;
    }
    const auto date = static_cast<unsigned>(DosDateTime(info.st_mtime));
    if ((signature.minDate != kNoInteger && date < static_cast<unsigned>(signature.minDate)) ||
        (signature.maxDate != kNoInteger && date > static_cast<unsigned>(signature.maxDate))) {
        return false;
    }
    if (signature.minVersion.empty() && signature.maxVersion.empty()) {
        return true;
    }
    const std::string version = fs::FileVersion(path);
    return !version.empty() &&
           (signature.minVersion.empty() || CompareVersions(version, signature.minVersion) >= 0) &&
           (signature.maxVersion.empty() || CompareVersions(version, signature.maxVersion) <= 0);
}

// The entry of `folder` named `name` in any case; "" when there is none.
std::string FindEntry(const std::string& folder, const std::string& name, bool wantFolder) {
    std::vector<fs::FolderEntry> entries;
    if (fs::ListFolder(folder, entries) != kErrorSuccess) {
        return {};
    }
    for (const fs::FolderEntry& entry : entries) {
        if (entry.isFolder == wantFolder && SameName(entry.name, name)) {
            return folder + "/" + entry.name;
        }
    }
    return {};
}

// Searches `base` and the folders below it down to `depth` levels, nearest
// first, for the signature's file or, without one, the folder `name`.
std::string SearchBelow(const std::string& base, int depth, const std::string& name,
                        const SignatureRow* signature) {
    std::deque<std::pair<std::string, int>> pending{{base, 0}};
    for (std::size_t searched = 0; !pending.empty() && searched < kMaxFoldersSearched; ++searched) {
        const auto [folder, level] = pending.front();
        pending.pop_front();
        if (signature != nullptr) {
            std::string file = FindEntry(folder, signature->fileName, false);
            if (!file.empty() && Matches(file, *signature)) {
                return file;
            }
        } else if (const std::string found = FindEntry(folder, name, true); !found.empty()) {
            return found + "/";
        }
        if (level >= depth) {
            continue;
        }
        std::vector<fs::FolderEntry> entries;
        if (fs::ListFolder(folder, entries) == kErrorSuccess) {
            for (const fs::FolderEntry& entry : entries) {
                if (entry.isFolder) {
                    pending.emplace_back(folder + "/" + entry.name, level + 1);
                }
            }
        }
    }
    return {};
}

// A registry value as property text: "#123" a number, "#x..." binary,
// "#%" expandable, "[~]" between the texts of a list, "#" doubled before text.
std::string RawValueText(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    switch (type) {
        case reg::kRegDword: {
            std::uint32_t value = 0;
            std::memcpy(&value, data.data(), std::min<std::size_t>(data.size(), 4));
            return "#" + std::to_string(static_cast<std::int32_t>(value));
        }
        case reg::kRegBinary: {
            static const char digits[] = "0123456789ABCDEF";
            std::string text = "#x";
            for (const std::uint8_t byte : data) {
                text += digits[byte >> 4];
                text += digits[byte & 15];
            }
            return text;
        }
        case reg::kRegExpandSz:
            return "#%" + reg::DataText(data);
        case reg::kRegMultiSz: {
            // UTF-16 texts, each ended by a null unit; an empty one ends the list.
            std::string text;
            for (std::size_t at = 0; at + 1 < data.size();) {
                const std::string item = reg::DataText(std::span(data).subspan(at));
                if (item.empty()) {
                    break;
                }
                text += (text.empty() ? "" : "[~]") + item;
                at += platform::Utf8ToUtf16(item).size() * 2 + 2;
            }
            return text;
        }
        default: {
            const std::string text = reg::DataText(data);
            return !text.empty() && text[0] == '#' ? "#" + text : text;
        }
    }
}

reg::Root Hive(int root) {
    switch (root) {
        case 0:
            return reg::Root::ClassesRoot;
        case 1:
            return reg::Root::CurrentUser;
        case 3:
            return reg::Root::Users;
        default:
            return reg::Root::LocalMachine;
    }
}

}  // namespace

void Session::AppSearch() {
    for (const AppSearchRow& row : package_.AppSearches()) {
        const std::string found = Locate(row.signature, 0);
        log_.Line("MSI (s): AppSearch: Property: %s, Signature: %s, Found: %s",
                  row.property.c_str(), row.signature.c_str(),
                  found.empty() ? "(nothing)" : found.c_str());
        if (!found.empty()) {
            properties_[row.property] = found;
        }
    }
    // A folder property may have come from the machine.
    layout_.Reset();
}

// What a signature finds: a file path, or a folder with a trailing
// separator; "" for nothing.
std::string Session::Locate(const std::string& signatureKey, int depth) {
    if (depth > kMaxParentDepth) {
        return {};
    }
    const auto signatureRow = package_.Signatures().find(signatureKey);
    const SignatureRow* signature =
        signatureRow != package_.Signatures().end() ? &signatureRow->second : nullptr;
    // A found place holds the signature's file, or is the folder asked for.
    const auto inPlace = [signature](const std::string& place, bool isFile) -> std::string {
        if (place.empty()) {
            return {};
        }
        if (signature == nullptr) {
            return !isFile && fs::IsFolder(place) ? place + "/" : std::string();
        }
        if (isFile) {
            return SameName(place.substr(place.rfind('/') + 1), signature->fileName) &&
                           Matches(place, *signature)
                       ? place
                       : std::string();
        }
        return SearchBelow(place, 0, {}, signature);
    };

    if (const auto component = package_.CompLocators().find(signatureKey);
        component != package_.CompLocators().end()) {
        for (const Record& product : AllRecords()) {
            for (const std::string& identity : product.componentIds) {
                const std::size_t bar = identity.find('|');
                if (bar != std::string::npos &&
                    SameName(identity.substr(0, bar), component->second.componentId)) {
                    if (std::string found = inPlace(identity.substr(bar + 1), false);
                        !found.empty()) {
                        return found;
                    }
                }
            }
        }
        return {};
    }
    if (const auto locator = package_.RegLocators().find(signatureKey);
        locator != package_.RegLocators().end()) {
        return LocateInRegistry(locator->second, signature, inPlace);
    }
    for (const DrLocatorRow& row : package_.DrLocators()) {
        if (row.signature != signatureKey) {
            continue;
        }
        std::string base;
        if (!row.parent.empty()) {
            base = Locate(row.parent, depth + 1);
            if (base.empty()) {
                continue;
            }
            base = base.back() == '/' ? WithoutTrailingSeparator(base)
                                      : base.substr(0, base.rfind('/'));
        }
        std::string path = FormatText(row.path, *this);
        std::replace(path.begin(), path.end(), '\\', '/');
        const bool absolute =
            !path.empty() && (path[0] == '/' || (path.size() >= 2 && path[1] == ':'));
        if (absolute || base.empty()) {
            base = MachinePath(path.empty() ? "C:\\" : path);
            path.clear();
        }
        std::string found;
        if (path.empty()) {
            found = signature != nullptr ? SearchBelow(base, std::max(row.depth, 0), {}, signature)
                                         : inPlace(base, false);
        } else if (path.find('/') == std::string::npos) {
            // A name below the parent, up to the depth asked.
            found = SearchBelow(base, std::max(row.depth, 0), path, nullptr);
            if (!found.empty() && signature != nullptr) {
                found = SearchBelow(WithoutTrailingSeparator(found), 0, {}, signature);
            }
        } else {
            found = inPlace(WithoutTrailingSeparator(base.append("/").append(path)), false);
        }
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

std::string Session::LocateInRegistry(
    const RegLocatorRow& row, const SignatureRow* signature,
    const std::function<std::string(const std::string&, bool)>& inPlace) {
    const reg::View view =
        (row.type & RegLocatorRow::k64Bit) != 0 ? reg::View::Wow64_64 : reg::View::Wow64_32;
    reg::Key key;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::OpenKey(Hive(row.root), FormatText(row.key, *this), view, reg::Access::Read, key) !=
            0 ||
        reg::QueryValue(key, FormatText(row.name, *this), type, data) != 0) {
        return {};
    }
    const int kind = row.type & 0x0F;
    if (kind == RegLocatorRow::kRawValue) {
        return RawValueText(type, data);
    }
    if (type != reg::kRegSz && type != reg::kRegExpandSz) {
        return {};
    }
    const std::string place = MachinePath(reg::DataText(data));
    if (kind == RegLocatorRow::kFile) {
        return signature != nullptr ? inPlace(place, true)
                                    : (fs::Exists(place) && !fs::IsFolder(place) ? place : "");
    }
    return inPlace(place, false);
}

}  // namespace stubframework::platform::msi::detail
