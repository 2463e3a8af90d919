#include "platform/posix/msi/ProductRecord.h"

#include <cstdint>
#include <span>

namespace stubframework::platform::msi::detail {
namespace {

namespace reg = platform::registry;

// The installer's own records, apart from the Add/Remove entries that
// others (the stub's own uninstall entry among them) may write too.
constexpr const char* kProductsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Products";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string RecordKey(const std::string& code) {
    return std::string(kProductsKey) + "\\" + code;
}

std::string EntryKey(const std::string& code) {
    return std::string(kUninstallKey) + "\\" + code;
}

bool SetText(const reg::Key& key, const char* name, const std::string& value) {
    return reg::SetValue(key, name, reg::kRegSz, reg::TextData(value)) == 0;
}

// The Add/Remove entry: what a user sees of the product.
bool WriteEntry(const Record& record) {
    reg::Key key;
    if (reg::CreateKey(record.root, EntryKey(record.code), reg::View::Default, key) != 0) {
        return false;
    }
    const std::uint32_t one = 1;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&one);
    return SetText(key, "DisplayName", record.name) &&
           SetText(key, "DisplayVersion", record.version) &&
           SetText(key, "InstallLocation", record.location) &&
           SetText(key, "UninstallString", "MsiExec.exe /X" + record.code) &&
           reg::SetValue(key, "WindowsInstaller", reg::kRegDword,
                         std::vector<std::uint8_t>(bytes, bytes + sizeof one)) == 0;
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

std::vector<Record> RecordsOfUpgradeCode(const std::string& upgradeCode) {
    std::vector<Record> found;
    for (const reg::Root root : {reg::Root::CurrentUser, reg::Root::LocalMachine}) {
        reg::Key uninstall;
        if (upgradeCode.empty() || reg::OpenKey(root, kProductsKey, reg::View::Default,
                                                reg::Access::Read, uninstall) != 0) {
            continue;
        }
        std::string name;
        for (std::uint32_t index = 0; reg::EnumKey(uninstall, index, name) == 0; ++index) {
            Record record;
            if (ReadRecord(root, name, record) && record.upgradeCode == upgradeCode) {
                found.push_back(record);
            }
        }
    }
    return found;
}

bool WriteRecord(const Record& record) {
    reg::Key key;
    if (reg::CreateKey(record.root, RecordKey(record.code), reg::View::Default, key) != 0) {
        return false;
    }
    const std::vector<std::uint8_t> files = MultiText(record.files);
    return SetText(key, "DisplayName", record.name) &&
           SetText(key, "DisplayVersion", record.version) &&
           SetText(key, "UpgradeCode", record.upgradeCode) &&
           SetText(key, "InstallLocation", record.location) &&
           SetText(key, "LocalPackage", record.localPackage) &&
           SetText(key, "InstallProperties", record.properties) &&
           SetText(key, "WindowsInstaller", "1") &&
           reg::SetValue(key, "InstalledFiles", reg::kRegMultiSz, files) == 0 && WriteEntry(record);
}

void DeleteRecord(const Record& record) {
    reg::DeleteTree(record.root, RecordKey(record.code), reg::View::Default);
    reg::DeleteTree(record.root, EntryKey(record.code), reg::View::Default);
}

}  // namespace stubframework::platform::msi::detail
