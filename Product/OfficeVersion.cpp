#include "OfficeVersion.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace myexternalmethods {
namespace {

namespace reg = stubframework::platform::registry;

constexpr const char* kNone = "none";
constexpr const char* kApplications[] = {"Common",  "Word",       "Excel",    "Access",
                                         "Outlook", "PowerPoint", "Publisher"};

// Leading decimal digits, as wcstol reads them.
long LeadingNumber(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

bool HasInstallPath(const std::string& key, reg::View view) {
    reg::Key root;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    return reg::OpenKey(reg::Root::LocalMachine, key + "\\InstallRoot", view, reg::Access::Read,
                        root) == 0 &&
           reg::QueryValue(root, "Path", type, data) == 0;  // of any type
}

void SearchBase(const std::string& base, reg::View view, std::string& result) {
    reg::Key versions;
    if (reg::OpenKey(reg::Root::LocalMachine, base, view, reg::Access::Read, versions) != 0) {
        return;
    }
    std::string version;
    for (std::uint32_t index = 0; reg::EnumKey(versions, index, version) == 0; ++index) {
        std::string versionKey = base;
        versionKey.append("\\").append(version).append("\\");
        for (const char* application : kApplications) {
            if (HasInstallPath(versionKey + application, view) &&
                (result == kNone || LeadingNumber(result) < LeadingNumber(version))) {
                result = version;
            }
        }
    }
}

}  // namespace

std::string OfficeVersion(reg::View view) {
    std::string result = kNone;
    SearchBase(
        "SOFTWARE\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\Microsoft\\Office",
        view, result);
    if (result == kNone) {
        SearchBase("SOFTWARE\\Microsoft\\Office", view, result);
    }
    return result;
}

}  // namespace myexternalmethods
