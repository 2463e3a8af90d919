// stub-reg: prints and edits the stub's registry, with the commands and the
// output of the Windows reg tool.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegistryPath.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace {

namespace reg = stubframework::platform::registry;
namespace platform = stubframework::platform;

constexpr const char* kUsage = R"(Usage:
  stub-reg query  KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]
  stub-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f] [/reg:32 | /reg:64]
  stub-reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]
  stub-reg export KEY FILE [/y] [/reg:32 | /reg:64]

  KEY       ROOT[\SUBKEY]; ROOT is HKLM, HKCU, HKCR, HKU, HKCC or the long names
            (HKEY_LOCAL_MACHINE, ...).
  /v NAME   the value NAME; /ve the default (unnamed) value; /va every value.
  /s        query: the key and all its subkeys.
            add: the separator of REG_MULTI_SZ items in DATA (default \0).
  /t TYPE   REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,
            REG_BINARY or REG_NONE. DWORD and QWORD data are decimal or 0x-prefixed
            hex; BINARY and NONE data are hex digits, two per byte.
  /f        overwrite or delete without asking; /y overwrite FILE without asking.
  /reg:32   the 32-bit view, where HKLM\SOFTWARE is HKLM\SOFTWARE\WOW6432Node.
            This is the default, as for the stub itself.
  /reg:64   the 64-bit view.

  add without /v or /ve only creates the key, unless /t or /d is given, which
  then set the default value. delete without /v, /ve or /va removes the key with
  all its subkeys. export writes a version 5.00 .reg file (UTF-16LE, CRLF).
  Exit code 0 on success, 1 on failure or when a question is answered No.
)";

struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> valueName;  // "" for /ve
    bool allValues = false;
    bool recurse = false;
    std::optional<std::string> separator;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
    bool overwriteFile = false;
    reg::View view = reg::View::Default;
};

struct KeyName {
    reg::Root root;
    std::string subKey;
};

class Failure {
public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

std::string Upper(std::string_view text) {
    return platform::FoldCase(text);
}

std::string ErrorText(std::uint32_t error) {
    switch (error) {
        case platform::kErrorFileNotFound:
            return "The system was unable to find the specified registry key or value.";
        case platform::kErrorAccessDenied:
            return "Access is denied.";
        case platform::kErrorInvalidHandle:
            return "The handle is invalid.";
        case platform::kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case platform::kErrorBadKey:
            return "The configuration registry key is invalid.";
        case platform::kErrorBusy:
            return "The requested resource is in use.";
        case platform::kErrorDiskFull:
            return "There is not enough space on the disk.";
        case platform::kErrorCantRead:
            return "The configuration registry key could not be read.";
        case platform::kErrorCantWrite:
            return "The configuration registry key could not be written.";
        case platform::kErrorKeyDeleted:
            return "Illegal operation attempted on a registry key that has been marked for "
                   "deletion.";
        default:
            return "Error " + std::to_string(error) + ".";
    }
}

void Check(std::uint32_t error) {
    if (error != platform::kErrorSuccess) {
        throw Failure(ErrorText(error));
    }
}

Failure Syntax(const std::string& detail) {
    return Failure("Invalid syntax. " + detail + "\nType \"stub-reg /?\" for usage.");
}

bool IsSwitch(const std::string& word, bool addCommand) {
    static const char* const kSwitches[] = {"V", "VE", "VA", "S",      "T",
                                            "D", "F",  "Y",  "REG:32", "REG:64"};
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) {
        return false;
    }
    const std::string name = Upper(word.substr(1));
    for (const char* known : kSwitches) {
        if (name == known) {
            return (name != "T" && name != "D") || addCommand;
        }
    }
    return false;
}

// Switches take their argument from the next word; every other word, a path
// starting with '/' included, is positional.
Options ParseOptions(const std::vector<std::string>& args, bool addCommand) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (!IsSwitch(word, addCommand)) {
            options.positional.push_back(word);
            continue;
        }
        const std::string name = Upper(word.substr(1));
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw Syntax(word + " needs an argument.");
            }
            return args[++i];
        };
        if (name == "V") {
            options.valueName = next();
        } else if (name == "VE") {
            options.valueName = std::string();
        } else if (name == "VA") {
            options.allValues = true;
        } else if (name == "S" && addCommand) {
            options.separator = next();
        } else if (name == "S") {
            options.recurse = true;
        } else if (name == "T") {
            options.type = next();
        } else if (name == "D") {
            options.data = next();
        } else if (name == "F") {
            options.force = true;
        } else if (name == "Y") {
            options.overwriteFile = true;
        } else if (name == "REG:32") {
            options.view = reg::View::Wow64_32;
        } else {
            options.view = reg::View::Wow64_64;
        }
    }
    return options;
}

KeyName ParseKey(const std::string& text) {
    // A bare root name is the root itself here, not a subkey of that name.
    if (text.find('\\') == std::string::npos) {
        if (const auto root = stubframework::core::ParseRootName(text)) {
            return KeyName{*root, std::string()};
        }
    } else if (const auto path = stubframework::core::ParseRegistryPath(text)) {
        return KeyName{path->root, path->subKey};
    }
    throw Failure("Invalid key name.\nType \"stub-reg /?\" for usage.");
}

std::string FullPath(reg::Root root, const reg::Key& key) {
    const std::string& path = key.Path();
    return path.empty() ? reg::RootName(root) : std::string(reg::RootName(root)) + "\\" + path;
}

bool Confirm(const std::string& question) {
    std::cout << question << " " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    const std::string folded = Upper(answer);
    return folded == "Y" || folded == "YES";
}

[[noreturn]] void Cancelled() {
    throw Failure("The operation was cancelled by the user.");
}

// --- value text ------------------------------------------------------------

std::optional<std::uint32_t> TypeFromName(const std::string& name) {
    static const std::pair<const char*, std::uint32_t> kTypes[] = {
        {"REG_NONE", reg::kRegNone},          {"REG_SZ", reg::kRegSz},
        {"REG_EXPAND_SZ", reg::kRegExpandSz}, {"REG_BINARY", reg::kRegBinary},
        {"REG_DWORD", reg::kRegDword},        {"REG_MULTI_SZ", reg::kRegMultiSz},
        {"REG_QWORD", reg::kRegQword},
    };
    const std::string folded = Upper(name);
    for (const auto& [typeName, type] : kTypes) {
        if (folded == typeName) {
            return type;
        }
    }
    return std::nullopt;
}

std::string TypeName(std::uint32_t type) {
    switch (type) {
        case reg::kRegNone:
            return "REG_NONE";
        case reg::kRegSz:
            return "REG_SZ";
        case reg::kRegExpandSz:
            return "REG_EXPAND_SZ";
        case reg::kRegBinary:
            return "REG_BINARY";
        case reg::kRegDword:
            return "REG_DWORD";
        case reg::kRegMultiSz:
            return "REG_MULTI_SZ";
        case reg::kRegQword:
            return "REG_QWORD";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "REG_0x%" PRIX32, type);
            return text;
        }
    }
}

std::uint64_t LittleEndian(const std::vector<std::uint8_t>& data) {
    std::uint64_t value = 0;
    for (std::size_t i = data.size(); i-- > 0;) {
        value = (value << 8) | data[i];
    }
    return value;
}

std::string HexDigits(const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : data) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::vector<std::string> MultiStrings(const std::vector<std::uint8_t>& data) {
    std::vector<std::string> items;
    std::u16string current;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0) {
            current += unit;
        } else if (current.empty()) {
            break;  // the empty item ends the list
        } else {
            items.push_back(platform::Utf16ToUtf8(current));
            current.clear();
        }
    }
    if (!current.empty()) {
        items.push_back(platform::Utf16ToUtf8(current));
    }
    return items;
}

std::string DisplayData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    char text[32];
    switch (type) {
        case reg::kRegSz:
        case reg::kRegExpandSz:
            return reg::DataText(data);
        case reg::kRegDword:
        case reg::kRegQword:
            if (data.size() == (type == reg::kRegDword ? 4u : 8u)) {
                std::snprintf(text, sizeof text, "0x%" PRIx64, LittleEndian(data));
                return text;
            }
            return HexDigits(data);
        case reg::kRegMultiSz: {
            std::string joined;
            for (const std::string& item : MultiStrings(data)) {
                joined += (joined.empty() ? "" : "\\0") + item;
            }
            return joined;
        }
        default:
            return HexDigits(data);
    }
}

std::uint64_t ParseNumber(const std::string& text, std::uint64_t maximum) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    std::uint64_t value = 0;
    const std::uint64_t base = hex ? 16 : 10;
    for (const char c : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::toupper(static_cast<unsigned char>(c)) - 'A' + 10
                              : -1;
        if (digit < 0 || value > (maximum - static_cast<std::uint64_t>(digit)) / base) {
            throw Failure("Invalid number " + text + ".");
        }
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    if (digits.empty()) {
        throw Failure("Invalid number " + text + ".");
    }
    return value;
}

std::vector<std::uint8_t> ParseHex(const std::string& text) {
    if (text.size() % 2 != 0) {
        throw Failure("Binary data needs two hex digits per byte.");
    }
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        data.push_back(static_cast<std::uint8_t>(ParseNumber("0x" + text.substr(i, 2), 0xFF)));
    }
    return data;
}

std::vector<std::uint8_t> MultiData(const std::string& text, const std::string& separator) {
    if (separator.empty()) {
        throw Failure("The separator must not be empty.");
    }
    std::vector<std::uint8_t> data;
    std::size_t start = 0;
    while (!text.empty()) {
        const std::size_t end = text.find(separator, start);
        const std::string item = text.substr(start, end - start);
        // An empty item would end the list when it is read back.
        if (item.empty()) {
            throw Failure("REG_MULTI_SZ data must not contain empty items.");
        }
        const std::vector<std::uint8_t> encoded = reg::TextData(item);
        data.insert(data.end(), encoded.begin(), encoded.end());
        if (end == std::string::npos) {
            break;
        }
        start = end + separator.size();
    }
    data.insert(data.end(), {0, 0});
    return data;
}

std::vector<std::uint8_t> EncodeData(std::uint32_t type, const Options& options) {
    const std::string text = options.data.value_or("");
    switch (type) {
        case reg::kRegSz:
        case reg::kRegExpandSz:
            return reg::TextData(text);
        case reg::kRegMultiSz:
            return MultiData(text, options.separator.value_or("\\0"));
        case reg::kRegDword:
        case reg::kRegQword: {
            const bool dword = type == reg::kRegDword;
            const std::uint64_t value =
                text.empty() ? 0 : ParseNumber(text, dword ? 0xFFFFFFFFu : UINT64_MAX);
            std::vector<std::uint8_t> data(dword ? 4 : 8);
            for (std::size_t i = 0; i < data.size(); ++i) {
                data[i] = static_cast<std::uint8_t>(value >> (8 * i));
            }
            return data;
        }
        default:
            return ParseHex(text);
    }
}

// --- query ------------------------------------------------------------------

void PrintValue(const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) {
    std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeName(type) << "    "
              << DisplayData(type, data) << "\n";
}

void ForEachSubKey(const reg::Key& key, const std::function<void(const reg::Key&)>& visit) {
    std::vector<std::string> names;
    std::string name;
    std::uint32_t error = platform::kErrorSuccess;
    while ((error = reg::EnumKey(key, static_cast<std::uint32_t>(names.size()), name)) ==
           platform::kErrorSuccess) {
        names.push_back(name);
    }
    if (error != platform::kErrorNoMoreItems) {
        Check(error);
    }
    for (const std::string& child : names) {
        reg::Key sub;
        Check(reg::OpenSubKey(key, child, reg::Access::Read, sub));
        visit(sub);
    }
}

void ForEachValue(const reg::Key& key,
                  const std::function<void(const std::string&, std::uint32_t,
                                           const std::vector<std::uint8_t>&)>& visit) {
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const std::uint32_t error = reg::EnumValue(key, index, name, &type, &data);
        if (error == platform::kErrorNoMoreItems) {
            return;
        }
        Check(error);
        visit(name, type, data);
    }
}

void QueryTree(reg::Root root, const reg::Key& key, bool recurse) {
    std::cout << FullPath(root, key) << "\n";
    bool any = false;
    ForEachValue(key, [&](const std::string& name, std::uint32_t type, const auto& data) {
        PrintValue(name, type, data);
        any = true;
    });
    if (any) {
        std::cout << "\n";
    }
    ForEachSubKey(key, [&](const reg::Key& sub) {
        if (recurse) {
            QueryTree(root, sub, true);
        } else {
            std::cout << FullPath(root, sub) << "\n";
        }
    });
}

// Prints every key at or below `key` that holds the value; returns the count.
int QueryValueTree(reg::Root root, const reg::Key& key, const std::string& name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    const std::uint32_t error = reg::QueryValue(key, name, type, data);
    int found = 0;
    if (error == platform::kErrorSuccess) {
        std::cout << FullPath(root, key) << "\n";
        PrintValue(name, type, data);
        std::cout << "\n";
        found = 1;
    } else if (error != platform::kErrorFileNotFound) {
        Check(error);
    }
    ForEachSubKey(key, [&](const reg::Key& sub) { found += QueryValueTree(root, sub, name); });
    return found;
}

void Query(const Options& options) {
    if (options.positional.size() != 1) {
        throw Syntax("query takes one key.");
    }
    const KeyName name = ParseKey(options.positional[0]);
    reg::Key key;
    Check(reg::OpenKey(name.root, name.subKey, options.view, reg::Access::Read, key));
    if (!options.valueName) {
        std::cout << "\n";
        QueryTree(name.root, key, options.recurse);
        return;
    }
    if (!options.recurse) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        Check(reg::QueryValue(key, *options.valueName, type, data));
        std::cout << "\n" << FullPath(name.root, key) << "\n";
        PrintValue(*options.valueName, type, data);
        std::cout << "\n";
        return;
    }
    std::cout << "\n";
    const int found = QueryValueTree(name.root, key, *options.valueName);
    std::cout << "End of search: " << found << " match(es) found.\n";
}

// --- add / delete --------------------------------------------------------------

void Add(const Options& options) {
    if (options.positional.size() != 1) {
        throw Syntax("add takes one key.");
    }
    const KeyName name = ParseKey(options.positional[0]);
    std::optional<std::string> valueName = options.valueName;
    if (!valueName && (options.type || options.data)) {
        valueName = std::string();
    }
    std::uint32_t type = reg::kRegSz;
    if (options.type) {
        const auto parsed = TypeFromName(*options.type);
        if (!parsed) {
            throw Syntax("Unknown type " + *options.type + ".");
        }
        type = *parsed;
    }
    const std::vector<std::uint8_t> data =
        valueName ? EncodeData(type, options) : std::vector<std::uint8_t>();
    reg::Key key;
    Check(reg::CreateKey(name.root, name.subKey, options.view, key));
    if (valueName) {
        std::uint32_t oldType = 0;
        std::vector<std::uint8_t> oldData;
        const std::uint32_t error = reg::QueryValue(key, *valueName, oldType, oldData);
        if (error != platform::kErrorFileNotFound) {
            Check(error);
            const std::string shown = valueName->empty() ? "(Default)" : *valueName;
            if (!options.force && !Confirm("Value " + shown + " exists, overwrite(Yes/No)?")) {
                Cancelled();
            }
        }
        Check(reg::SetValue(key, *valueName, type, data));
    }
    std::cout << "The operation completed successfully.\n";
}

void DeleteValues(reg::Root root, const reg::Key& key, const Options& options) {
    if (options.valueName) {
        const std::string shown = options.valueName->empty() ? "(Default)" : *options.valueName;
        if (!options.force && !Confirm("Delete the registry value " + shown + " (Yes/No)?")) {
            Cancelled();
        }
        Check(reg::DeleteValue(key, *options.valueName));
        return;
    }
    std::vector<std::string> names;
    ForEachValue(
        key, [&](const std::string& name, std::uint32_t, const auto&) { names.push_back(name); });
    if (!options.force && !Confirm("Delete all values under the registry key " +
                                   FullPath(root, key) + " (Yes/No)?")) {
        Cancelled();
    }
    for (const std::string& name : names) {
        Check(reg::DeleteValue(key, name));
    }
}

void Delete(const Options& options) {
    if (options.positional.size() != 1) {
        throw Syntax("delete takes one key.");
    }
    if (options.valueName && options.allValues) {
        throw Syntax("Use /v, /ve or /va, not several.");
    }
    const KeyName name = ParseKey(options.positional[0]);
    const bool values = options.valueName || options.allValues;
    reg::Key key;
    Check(reg::OpenKey(name.root, name.subKey, options.view,
                       values ? reg::Access::All : reg::Access::Read, key));
    if (values) {
        DeleteValues(name.root, key, options);
    } else {
        const std::string path = FullPath(name.root, key);
        key.Close();
        if (!options.force && !Confirm("Delete the registry key " + path + " (Yes/No)?")) {
            Cancelled();
        }
        Check(reg::DeleteTree(name.root, name.subKey, options.view));
    }
    std::cout << "The operation completed successfully.\n";
}

// --- export -----------------------------------------------------------------

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// hex bytes wrapped the way the registry editor wraps them: lines of at most
// 80 characters ending in a backslash, continued with two spaces.
std::string HexLines(std::string line, const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::string piece{kDigits[data[i] >> 4], kDigits[data[i] & 0xF]};
        if (i + 1 < data.size()) {
            piece += ',';
        }
        if (i > 0 && line.size() + piece.size() > 79) {
            out += line + "\\\n";
            line = "  ";
        }
        line += piece;
    }
    return out + line + "\n";
}

// Text that reads back to the same bytes and fits on one line.
bool PlainText(const std::vector<std::uint8_t>& data) {
    const std::string text = reg::DataText(data);
    return text.find_first_of("\r\n") == std::string::npos && reg::TextData(text) == data;
}

std::string ExportValue(const std::string& name, std::uint32_t type,
                        const std::vector<std::uint8_t>& data) {
    const std::string prefix = (name.empty() ? "@" : Quoted(name)) + "=";
    if (type == reg::kRegSz && PlainText(data)) {
        return prefix + Quoted(reg::DataText(data)) + "\n";
    }
    if (type == reg::kRegDword && data.size() == 4) {
        char text[16];
        std::snprintf(text, sizeof text, "%08" PRIx64, LittleEndian(data));
        return prefix + "dword:" + text + "\n";
    }
    if (type == reg::kRegBinary) {
        return HexLines(prefix + "hex:", data);
    }
    char tag[24];
    std::snprintf(tag, sizeof tag, "hex(%" PRIx32 "):", type);
    return HexLines(prefix + tag, data);
}

void ExportTree(reg::Root root, const reg::Key& key, std::string& out) {
    out += "[" + FullPath(root, key) + "]\n";
    ForEachValue(key, [&](const std::string& name, std::uint32_t type, const auto& data) {
        out += ExportValue(name, type, data);
    });
    out += "\n";
    ForEachSubKey(key, [&](const reg::Key& sub) { ExportTree(root, sub, out); });
}

std::string Utf16File(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    for (const char16_t unit : platform::Utf8ToUtf16(crlf)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The mode a file created with open() would get, or the mode of the file replaced.
mode_t TargetMode(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        return info.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Written beside the target and renamed over it, so a failed export never
// leaves a cut-off file in place of an older one.
void WriteWhole(const std::string& path, const std::string& bytes) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        throw Failure("Cannot write " + path + ": " + std::strerror(errno));
    }
    std::size_t written = 0;
    int error = 0;
    while (written < bytes.size() && error == 0) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            error = errno;
        }
    }
    if (error == 0 && (fchmod(fd, TargetMode(path)) != 0 || fsync(fd) != 0)) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temp.c_str());
        throw Failure("Cannot write " + path + ": " + std::strerror(error));
    }
}

void Export(const Options& options) {
    if (options.positional.size() != 2) {
        throw Syntax("export takes a key and a file.");
    }
    const KeyName name = ParseKey(options.positional[0]);
    const std::string& file = options.positional[1];
    reg::Key key;
    Check(reg::OpenKey(name.root, name.subKey, options.view, reg::Access::Read, key));
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    ExportTree(name.root, key, text);
    std::error_code error;
    if (std::filesystem::exists(file, error) && !options.overwriteFile &&
        !Confirm("File " + file + " already exists. Overwrite (Yes/No)?")) {
        Cancelled();
    }
    WriteWhole(file, Utf16File(text));
    std::cout << "The operation completed successfully.\n";
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << kUsage;
        return 1;
    }
    const std::string command = Upper(args[0]);
    if (command == "/?" || command == "-?" || command == "/H" || command == "--HELP") {
        std::cout << kUsage;
        return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    const Options options = ParseOptions(rest, command == "ADD");
    if (command == "QUERY") {
        Query(options);
    } else if (command == "ADD") {
        Add(options);
    } else if (command == "DELETE") {
        Delete(options);
    } else if (command == "EXPORT") {
        Export(options);
    } else {
        throw Syntax("Unknown command " + args[0] + ".");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return Run(args);
    } catch (const Failure& failure) {
        std::cout.flush();
        std::cerr << "ERROR: " << failure.Message() << "\n";
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "ERROR: " << error.what() << "\n";
    }
    return 1;
}
