// Real packages for the install tests, made at test time: a Windows
// Installer package built by wixl and a ZIP archive written by Python's
// zipfile (as archives made on Windows are: no Unix mode bits).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace stubtest {

// The upgrade code every test package shares.
inline constexpr const char* kTestUpgradeCode = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";

// A per-user package of one product version under `work`: app.txt and
// docs/readme.txt in ProgramFilesFolder/Brindlemark; `extra` goes into the
// Product element. Empty when wixl failed.
std::string BuildTestMsi(const std::string& work, const std::string& version,
                         const std::string& code, const std::string& extra = "");

// A package `<name>.msi` under `work` from the inside of a Product element
// (`product`, with `{CODE}` standing for `code`) and payload files
// (relative path, content); `x64` builds a 64-bit package. Empty when wixl
// failed.
std::string BuildWxsMsi(const std::string& work, const std::string& name, const std::string& code,
                        const std::string& version, const std::string& product,
                        const std::vector<std::pair<std::string, std::string>>& files,
                        bool x64 = false, const std::string& scope = "perMachine");

// Runs SQL statements on a built package (what wixl cannot write: tables it
// lacks, columns it leaves empty), one after the other.
bool AlterMsi(const std::string& package, const std::vector<std::string>& statements);

// A ZIP archive at `path` of (entry name, source file) pairs.
bool BuildTestZip(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& entries);

// The (name, content) pairs of a ZIP archive held in memory, in the order of
// its directory; empty when it does not open or an entry does not extract.
std::vector<std::pair<std::string, std::string>> ReadZip(const std::string& bytes);

}  // namespace stubtest
