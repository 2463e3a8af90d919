// The session's actions on the registry: Registry and RemoveRegistry rows
// in the view of each component's bitness, and Environment rows.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "platform/posix/msi/Session.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace reg = platform::registry;

using Kind = InstalledItem::Kind;

// Registry data for a Registry-table value: "#x" binary, "#%" expandable,
// "#123" a number, "##" a text starting with "#", "[~]" in a text a list.
bool RegistryData(const std::string& value, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    if (value.rfind("#x", 0) == 0 || value.rfind("#X", 0) == 0) {
        type = reg::kRegBinary;
        const std::string digits = value.substr(2);
        if (digits.size() % 2 != 0) {
            return false;
        }
        for (std::size_t at = 0; at < digits.size(); at += 2) {
            char* end = nullptr;
            const std::string pair = digits.substr(at, 2);
            const long byte = std::strtol(pair.c_str(), &end, 16);
            if (*end != '\0') {
                return false;
            }
            data.push_back(static_cast<std::uint8_t>(byte));
        }
        return true;
    }
    if (value.rfind("#%", 0) == 0) {
        type = reg::kRegExpandSz;
        data = reg::TextData(value.substr(2));
        return true;
    }
    if (value.rfind("##", 0) == 0) {
        type = reg::kRegSz;
        data = reg::TextData(value.substr(1));
        return true;
    }
    if (value.rfind('#', 0) == 0) {
        char* end = nullptr;
        const long long number = std::strtoll(value.c_str() + 1, &end, 10);
        if (value.size() == 1 || *end != '\0') {
            return false;
        }
        type = reg::kRegDword;
        const auto dword = static_cast<std::uint32_t>(number);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&dword);
        data.assign(bytes, bytes + 4);
        return true;
    }
    if (value.find('\0') != std::string::npos) {
        type = reg::kRegMultiSz;
        std::size_t start = 0;
        for (std::size_t at = 0; at <= value.size(); ++at) {
            if (at == value.size() || value[at] == '\0') {
                if (at > start) {
                    const std::vector<std::uint8_t> text =
                        reg::TextData(value.substr(start, at - start));
                    data.insert(data.end(), text.begin(), text.end());
                }
                start = at + 1;
            }
        }
        data.push_back(0);
        data.push_back(0);
        return true;
    }
    type = reg::kRegSz;
    data = reg::TextData(value);
    return true;
}

// The keys of `key`'s path that do not exist yet, deepest first.
std::vector<std::string> MissingKeys(reg::Root hive, reg::View view, const std::string& key) {
    std::vector<std::string> missing;
    for (std::string path = key; !path.empty();) {
        reg::Key handle;
        if (reg::OpenKey(hive, path, view, reg::Access::Read, handle) == 0) {
            break;
        }
        missing.push_back(path);
        const std::size_t slash = path.rfind('\\');
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    return missing;
}

}  // namespace

Session::RegistryPlace Session::Target(const RegistryRow& row) const {
    reg::Root hive = reg::Root::CurrentUser;
    const std::string allUsers = Get(properties_, "ALLUSERS");
    switch (row.root) {
        case 0:
            hive = reg::Root::ClassesRoot;
            break;
        case 1:
            hive = reg::Root::CurrentUser;
            break;
        case 2:
            hive = reg::Root::LocalMachine;
            break;
        case 3:
            hive = reg::Root::Users;
            break;
        default:
            hive = allUsers == "1" || allUsers == "2" ? reg::Root::LocalMachine
                                                      : reg::Root::CurrentUser;
    }
    const auto found = package_.Components().find(row.component);
    const bool wide = found != package_.Components().end() && found->second.Is64Bit();
    return {hive, wide ? reg::View::Wow64_64 : reg::View::Wow64_32, FormatText(row.path, *this),
            FormatText(row.name, *this)};
}

bool Session::WriteRegistryValues() {
    for (const RegistryRow& row : package_.Registry()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        const auto [hive, view, key, name] = Target(row);
        if (key.empty()) {
            continue;
        }
        // "+", "*" and "-" with no value speak of the key itself.
        if (!row.hasValue && (name == "+" || name == "*" || name == "-" || name.empty())) {
            if (name != "-") {
                const std::vector<std::string> made = MissingKeys(hive, view, key);
                if (!changes_.CreateKey(hive, view, key)) {
                    return false;
                }
                for (const std::string& path : made) {
                    Note(row.component, Kind::Key,
                         {std::to_string(static_cast<int>(hive)),
                          std::to_string(static_cast<int>(view)), path});
                }
            }
            continue;
        }
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (!RegistryData(FormatText(row.value, *this), type, data)) {
            log_.Line("MSI (s): The registry value %s cannot be read: %s", row.key.c_str(),
                      row.value.c_str());
            return false;
        }
        const std::vector<std::string> made = MissingKeys(hive, view, key);
        if (!changes_.SetValue(hive, view, key, name, type, data)) {
            log_.Line("MSI (s): cannot write the registry value %s\\%s", key.c_str(), name.c_str());
            return false;
        }
        log_.Line("MSI (s): Wrote registry value %s\\%s\\%s", reg::RootName(hive), key.c_str(),
                  name.c_str());
        const std::string hiveText = std::to_string(static_cast<int>(hive));
        const std::string viewText = std::to_string(static_cast<int>(view));
        Note(row.component, Kind::Value, {hiveText, viewText, key, name});
        // Every key this installation made goes when it is empty again.
        for (const std::string& path : made) {
            Note(row.component, Kind::Key, {hiveText, viewText, path});
        }
    }
    return true;
}

bool Session::RemoveRegistryValues() {
    for (const RegistryRow& row : package_.RemoveRegistry()) {
        if (!Installing(row.component)) {
            continue;
        }
        const auto [hive, view, key, name] = Target(row);
        const bool removed = name == "-" ? changes_.DeleteTree(hive, view, key)
                                         : changes_.DeleteValue(hive, view, key, name);
        if (!removed) {
            return false;
        }
    }
    // The keys that held what goes: each goes when it is left empty, and so
    // do its parents below the root's own keys (as "SOFTWARE").
    std::vector<std::tuple<reg::Root, reg::View, std::string>> touched;
    for (const InstalledItem& item : record_.items) {
        if (!Removing(item.component) || item.fields.size() < 3 ||
            (item.kind != Kind::Value && item.kind != Kind::Key)) {
            continue;
        }
        const auto hive = static_cast<reg::Root>(std::atoi(item.fields[0].c_str()));
        const auto view = static_cast<reg::View>(std::atoi(item.fields[1].c_str()));
        if (item.kind == Kind::Value && item.fields.size() >= 4 &&
            !changes_.DeleteValue(hive, view, item.fields[2], item.fields[3])) {
            return false;
        }
        touched.emplace_back(hive, view, item.fields[2]);
    }
    std::sort(touched.begin(), touched.end(), [](const auto& a, const auto& b) {
        return std::get<2>(a).size() > std::get<2>(b).size();
    });
    for (const auto& [hive, view, key] : touched) {
        for (std::string path = key; path.find('\\') != std::string::npos;
             path = path.substr(0, path.rfind('\\'))) {
            reg::Key handle;
            std::string name;
            if (reg::OpenKey(hive, path, view, reg::Access::Read, handle) != 0 ||
                reg::EnumKey(handle, 0, name) == 0 || reg::EnumValue(handle, 0, name) == 0) {
                break;
            }
            handle.Close();
            if (!changes_.DeleteTree(hive, view, path)) {
                return false;
            }
        }
    }
    ForgetRemoved({Kind::Value, Kind::Key});
    return true;
}

// ---- environment variables ----

namespace {

constexpr const char* kUserEnvironment = "Environment";
constexpr const char* kSystemEnvironment =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::string EnvironmentKey(reg::Root root) {
    return root == reg::Root::LocalMachine ? kSystemEnvironment : kUserEnvironment;
}

std::optional<std::string> ReadVariable(reg::Root root, const std::string& name) {
    reg::Key handle;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::OpenKey(root, EnvironmentKey(root), reg::View::Wow64_64, reg::Access::Read, handle) !=
            0 ||
        reg::QueryValue(handle, name, type, data) != 0) {
        return std::nullopt;
    }
    return reg::DataText(data);
}

bool WriteVariable(Transaction& changes, reg::Root root, const std::string& name,
                   const std::string& value) {
    const std::uint32_t type =
        value.find('%') != std::string::npos ? reg::kRegExpandSz : reg::kRegSz;
    return changes.SetValue(root, reg::View::Wow64_64, EnvironmentKey(root), name, type,
                            reg::TextData(value));
}

// A list of one part has no separator at either end.
std::string TrimSeparators(const std::string& text) {
    const std::size_t first = text.find_first_not_of(';');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(';') + 1 - first);
}

}  // namespace

// Environment rows: "=" sets, "+" sets only a variable not there yet, "!"
// removes at installation, "*" names a system variable; a value that starts
// or ends with [~] is appended or prepended to what is there, with ";".
bool Session::WriteEnvironmentStrings() {
    for (const EnvironmentRow& row : package_.Environment()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        std::string name = row.name;
        const std::size_t flags = name.find_first_not_of("=+-!*");
        const std::string prefix = name.substr(0, flags == std::string::npos ? 0 : flags);
        name = flags == std::string::npos ? std::string() : name.substr(flags);
        if (name.empty()) {
            continue;
        }
        const reg::Root root = prefix.find('*') != std::string::npos ? reg::Root::LocalMachine
                                                                     : reg::Root::CurrentUser;
        const std::optional<std::string> current = ReadVariable(root, name);
        const std::string value = FormatText(row.value, *this);
        if (prefix.find('!') != std::string::npos) {
            if (current && (value.empty() || *current == value) &&
                !changes_.DeleteValue(root, reg::View::Wow64_64, EnvironmentKey(root), name)) {
                return false;
            }
            continue;
        }
        if (prefix.find('+') != std::string::npos && current) {
            continue;
        }
        std::string placement = "w";
        std::string part = value;
        std::string next = value;
        if (!value.empty() && value.front() == '\0') {
            placement = "a";
            part = value.substr(1);
            next = current && !current->empty() ? *current + part : TrimSeparators(part);
        } else if (!value.empty() && value.back() == '\0') {
            placement = "p";
            part = value.substr(0, value.size() - 1);
            next = current && !current->empty() ? part + *current : TrimSeparators(part);
        }
        if (!WriteVariable(changes_, root, name, next)) {
            return false;
        }
        Note(row.component, Kind::Environment,
             {std::to_string(static_cast<int>(root)), name, part, placement});
    }
    return true;
}

bool Session::RemoveEnvironmentStrings() {
    for (const InstalledItem& item : record_.items) {
        if (item.kind != Kind::Environment || !Removing(item.component) || item.fields.size() < 4) {
            continue;
        }
        const auto root = static_cast<reg::Root>(std::atoi(item.fields[0].c_str()));
        const std::string& name = item.fields[1];
        const std::string& part = item.fields[2];
        const std::optional<std::string> current = ReadVariable(root, name);
        if (!current) {
            continue;
        }
        std::string rest = *current;
        if (item.fields[3] != "w") {
            if (const std::size_t at = rest.find(part); at != std::string::npos) {
                rest.erase(at, part.size());
            }
        }
        const bool empty =
            item.fields[3] == "w" || rest.find_first_not_of(';') == std::string::npos;
        const bool done =
            empty ? changes_.DeleteValue(root, reg::View::Wow64_64, EnvironmentKey(root), name)
                  : WriteVariable(changes_, root, name, rest);
        if (!done) {
            return false;
        }
    }
    ForgetRemoved({Kind::Environment});
    return true;
}

}  // namespace stubframework::platform::msi::detail
