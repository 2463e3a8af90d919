// One installation, removal or repair of a package: its files laid out,
// the handler told, the log written, the product recorded or removed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/msi/FileLayout.h"
#include "platform/posix/msi/MsiPackage.h"
#include "platform/posix/msi/ProductRecord.h"
#include "platform/posix/msi/SessionUi.h"

namespace stubframework::platform::msi::detail {

// NAME=value pairs of a command line (quoted values allowed).
std::map<std::string, std::string> ParseProperties(const std::string& commandLine);
// The value of `name`, or "".
std::string Get(const std::map<std::string, std::string>& properties, const std::string& name);
// Compares dotted versions numerically: negative, 0 or positive.
int CompareVersions(const std::string& a, const std::string& b);

class Session {
public:
    Session(Package& package, std::map<std::string, std::string> properties)
        : package_(package), properties_(std::move(properties)), layout_(package_, properties_) {}

    std::uint32_t Install(const std::string& packagePath, bool repair);
    // Removes the product's files but those in `keep`; `quiet` sends the
    // handler nothing (a removal inside another installation).
    std::uint32_t Remove(const Record& record, const std::vector<std::string>& keep, bool quiet);

private:
    bool LayOutFiles(std::vector<std::string>& placed);
    void Rollback(const std::vector<std::string>& placed);
    Record MakeRecord(const std::string& packagePath, const std::vector<std::string>& placed);

    Package& package_;
    std::map<std::string, std::string> properties_;
    Layout layout_;
    VerboseLog log_;
    UiChannel ui_;
};

}  // namespace stubframework::platform::msi::detail
