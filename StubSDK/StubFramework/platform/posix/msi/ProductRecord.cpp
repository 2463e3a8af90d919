#include "platform/posix/msi/ProductRecord.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <span>

namespace stubframework::platform::msi::detail {
namespace {

namespace reg = platform::registry;

// The installer's own records, apart from the Add/Remove entries that
// others (the stub's own uninstall entry among them) may write too.
constexpr const char* kProductsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Products";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Properties kept with the record so the Add/Remove entry can be written again.
constexpr const char* kEntryProperties[] = {
    "Manufacturer", "ProductLanguage",  "SourceDir",       "ARPCOMMENTS",        "ARPCONTACT",
    "ARPHELPLINK",  "ARPHELPTELEPHONE", "ARPURLINFOABOUT", "ARPURLUPDATEINFO",   "ARPREADME",
    "ARPNOMODIFY",  "ARPNOREPAIR",      "ARPNOREMOVE",     "ARPSYSTEMCOMPONENT",
};

std::string RecordKey(const std::string& code) {
    return std::string(kProductsKey) + "\\" + code;
}

std::string EntryKey(const std::string& code) {
    return std::string(kUninstallKey) + "\\" + code;
}

std::vector<std::uint8_t> DwordData(std::uint32_t value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    return {bytes, bytes + sizeof value};
}

std::uint32_t Number(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// "YYYYMMDD" of today, as the Add/Remove entry keeps it.
std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &parts);
    return text;
}

reg::View EntryView(const Record& record) {
    return record.is64Bit ? reg::View::Wow64_64 : reg::View::Wow64_32;
}

// The Add/Remove entry: what a user sees of the product, with the values
// Windows writes for it.
bool WriteEntry(Transaction& changes, const Record& record) {
    const std::string key = EntryKey(record.code);
    const reg::View view = EntryView(record);
    const auto text = [&](const std::string& name, const std::string& value) {
        return changes.SetValue(record.root, view, key, name, reg::kRegSz, reg::TextData(value));
    };
    const auto dword = [&](const std::string& name, std::uint32_t value) {
        return changes.SetValue(record.root, view, key, name, reg::kRegDword, DwordData(value));
    };
    const auto entry = [&record](const std::string& name) {
        const auto found = record.entry.find(name);
        return found != record.entry.end() ? found->second : std::string();
    };
    // "major.minor.build": Version packs them as 8, 8 and 16 bits.
    std::uint32_t parts[3] = {0, 0, 0};
    std::size_t at = 0;
    for (std::uint32_t& part : parts) {
        part = Number(record.version.substr(std::min(at, record.version.size())));
        at = record.version.find('.', at);
        at = at == std::string::npos ? record.version.size() : at + 1;
    }
    const auto expandable = [&](const std::string& name, const std::string& value) {
        return changes.SetValue(record.root, view, key, name, reg::kRegExpandSz,
                                reg::TextData(value));
    };
    // Without a Modify button, Uninstall removes at once; otherwise it opens
    // the product's maintenance.
    const bool modifiable = entry("ARPNOMODIFY").empty();
    bool written =
        text("DisplayName", record.name) && text("DisplayVersion", record.version) &&
        text("Publisher", entry("Manufacturer")) &&
        text("InstallLocation", entry("ARPINSTALLLOCATION")) && text("InstallDate", Today()) &&
        text("InstallSource", entry("SourceDir")) &&
        expandable("ModifyPath", "MsiExec.exe /I" + record.code) &&
        expandable("UninstallString",
                   std::string("MsiExec.exe ") + (modifiable ? "/I" : "/X") + record.code) &&
        text("AuthorizedCDFPrefix", "") && text("Size", "") &&
        dword("Version", (parts[0] & 0xFF) << 24 | (parts[1] & 0xFF) << 16 | (parts[2] & 0xFFFF)) &&
        dword("VersionMajor", parts[0] & 0xFF) && dword("VersionMinor", parts[1] & 0xFF) &&
        dword("EstimatedSize", static_cast<std::uint32_t>(record.bytes / 1024)) &&
        dword("Language", Number(entry("ProductLanguage"))) && dword("WindowsInstaller", 1);
    // What the package chose to show, empty when it says nothing.
    static const std::pair<const char*, const char*> kTexts[] = {
        {"ARPCOMMENTS", "Comments"},
        {"ARPCONTACT", "Contact"},
        {"ARPHELPLINK", "HelpLink"},
        {"ARPHELPTELEPHONE", "HelpTelephone"},
        {"ARPURLINFOABOUT", "URLInfoAbout"},
        {"ARPURLUPDATEINFO", "URLUpdateInfo"},
        {"ARPREADME", "ReadMe"},
    };
    for (const auto& [property, name] : kTexts) {
        written = written && text(name, entry(property));
    }
    static const std::pair<const char*, const char*> kFlags[] = {
        {"ARPNOMODIFY", "NoModify"},
        {"ARPNOREPAIR", "NoRepair"},
        {"ARPNOREMOVE", "NoRemove"},
        {"ARPSYSTEMCOMPONENT", "SystemComponent"},
    };
    for (const auto& [property, name] : kFlags) {
        if (!entry(property).empty()) {
            written = written && dword(name, 1);
        }
    }
    return written;
}

std::vector<std::uint8_t> MultiText(const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> data;
    for (const std::string& line : lines) {
        const std::vector<std::uint8_t> text = reg::TextData(line);
        data.insert(data.end(), text.begin(), text.end());
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::vector<std::string> MultiLines(const std::vector<std::uint8_t>& data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at + 1 < data.size(); at += 2) {
        if (data[at] == 0 && data[at + 1] == 0) {
            if (at == start) {
                break;
            }
            lines.push_back(reg::DataText(std::span(data).subspan(start, at + 2 - start)));
            start = at + 2;
        }
    }
    return lines;
}

constexpr char kFieldSeparator = '\x1f';

std::string ItemLine(const InstalledItem& item) {
    std::string line = item.component + kFieldSeparator + static_cast<char>(item.kind);
    for (const std::string& field : item.fields) {
        line += kFieldSeparator + field;
    }
    return line;
}

bool ItemOfLine(const std::string& line, InstalledItem& item) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= line.size(); ++at) {
        if (at == line.size() || line[at] == kFieldSeparator) {
            parts.push_back(line.substr(start, at - start));
            start = at + 1;
        }
    }
    if (parts.size() < 2 || parts[1].size() != 1) {
        return false;
    }
    item.component = parts[0];
    item.kind = static_cast<InstalledItem::Kind>(parts[1][0]);
    item.fields.assign(parts.begin() + 2, parts.end());
    return true;
}

std::string Text(const reg::Key& key, const char* name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    return reg::QueryValue(key, name, type, data) == 0 ? reg::DataText(data) : std::string();
}

bool ReadRecord(reg::Root root, const std::string& code, Record& record) {
    reg::Key key;
    if (reg::OpenKey(root, RecordKey(code), reg::View::Default, reg::Access::Read, key) != 0 ||
        Text(key, "WindowsInstaller").empty()) {
        return false;
    }
    record.root = root;
    record.code = code;
    record.name = Text(key, "DisplayName");
    record.version = Text(key, "DisplayVersion");
    record.upgradeCode = Text(key, "UpgradeCode");
    record.location = Text(key, "InstallLocation");
    record.localPackage = Text(key, "LocalPackage");
    record.properties = Text(key, "InstallProperties");
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::QueryValue(key, "InstalledFiles", type, data) == 0) {
        record.files = MultiLines(data);
    }
    if (reg::QueryValue(key, "InstalledFeatures", type, data) == 0) {
        for (const std::string& feature : MultiLines(data)) {
            record.features.insert(feature);
        }
    }
    if (reg::QueryValue(key, "InstalledComponentIds", type, data) == 0) {
        for (const std::string& id : MultiLines(data)) {
            record.componentIds.insert(id);
        }
    }
    if (reg::QueryValue(key, "InstalledItems", type, data) == 0) {
        for (const std::string& line : MultiLines(data)) {
            if (InstalledItem item; ItemOfLine(line, item)) {
                record.items.push_back(std::move(item));
            }
        }
    }
    record.is64Bit = Text(key, "Is64Bit") == "1";
    record.bytes = std::strtoll(Text(key, "InstalledBytes").c_str(), nullptr, 10);
    for (const char* name : kEntryProperties) {
        if (std::string value = Text(key, name); !value.empty()) {
            record.entry[name] = std::move(value);
        }
    }
    return true;
}

}  // namespace

reg::Root RootFor(const std::string& allUsers) {
    return allUsers == "1" || allUsers == "2" ? reg::Root::LocalMachine : reg::Root::CurrentUser;
}

bool FindRecord(const std::string& code, Record& record) {
    return ReadRecord(reg::Root::CurrentUser, code, record) ||
           ReadRecord(reg::Root::LocalMachine, code, record);
}

std::vector<Record> AllRecords() {
    std::vector<Record> found;
    for (const reg::Root root : {reg::Root::CurrentUser, reg::Root::LocalMachine}) {
        reg::Key products;
        if (reg::OpenKey(root, kProductsKey, reg::View::Default, reg::Access::Read, products) !=
            0) {
            continue;
        }
        std::string name;
        for (std::uint32_t index = 0; reg::EnumKey(products, index, name) == 0; ++index) {
            if (Record record; ReadRecord(root, name, record)) {
                found.push_back(std::move(record));
            }
        }
    }
    return found;
}

std::vector<Record> RecordsOfUpgradeCode(const std::string& upgradeCode) {
    std::vector<Record> found;
    if (upgradeCode.empty()) {
        return found;
    }
    for (Record& record : AllRecords()) {
        if (record.upgradeCode == upgradeCode) {
            found.push_back(std::move(record));
        }
    }
    return found;
}

bool WriteRecord(Transaction& changes, const Record& record) {
    const std::string key = RecordKey(record.code);
    const auto text = [&](const std::string& name, const std::string& value) {
        return changes.SetValue(record.root, reg::View::Default, key, name, reg::kRegSz,
                                reg::TextData(value));
    };
    const auto multi = [&](const std::string& name, const std::vector<std::string>& lines) {
        return changes.SetValue(record.root, reg::View::Default, key, name, reg::kRegMultiSz,
                                MultiText(lines));
    };
    std::vector<std::string> items;
    for (const InstalledItem& item : record.items) {
        items.push_back(ItemLine(item));
    }
    bool written =
        text("DisplayName", record.name) && text("DisplayVersion", record.version) &&
        text("UpgradeCode", record.upgradeCode) && text("InstallLocation", record.location) &&
        text("LocalPackage", record.localPackage) && text("InstallProperties", record.properties) &&
        text("Is64Bit", record.is64Bit ? "1" : "0") &&
        text("InstalledBytes", std::to_string(record.bytes)) && text("WindowsInstaller", "1") &&
        multi("InstalledFiles", record.files) &&
        multi("InstalledFeatures", {record.features.begin(), record.features.end()}) &&
        multi("InstalledItems", items) &&
        multi("InstalledComponentIds", {record.componentIds.begin(), record.componentIds.end()});
    for (const auto& [name, value] : record.entry) {
        written = written && text(name, value);
    }
    return written && WriteEntry(changes, record);
}

bool DeleteRecord(Transaction& changes, const Record& record) {
    return changes.DeleteTree(record.root, reg::View::Default, RecordKey(record.code)) &&
           changes.DeleteTree(record.root, EntryView(record), EntryKey(record.code));
}

}  // namespace stubframework::platform::msi::detail
