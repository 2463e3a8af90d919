#include "support/TestFolder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/process.h"

namespace stubtest {

namespace stdfs = std::filesystem;
namespace process = stubframework::platform::process;

// A name nobody else has, made private to us (as mkdtemp makes it).
TestFolder::TestFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "stubtest-%08x", static_cast<unsigned>(random()));
        const stdfs::path folder = stdfs::temp_directory_path() / name;
        std::error_code error;
        if (stdfs::create_directory(folder, error)) {
            stdfs::permissions(folder, stdfs::perms::owner_all, error);
            path_ = folder.string();
            return;
        }
    }
    throw std::runtime_error("no scratch folder could be made");
}

TestFolder::~TestFolder() {
    std::error_code ignored;
    stdfs::remove_all(path_, ignored);
}

// Unset and empty are one here: the platform removes a variable set empty.
ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : name_(name), old_(process::EnvironmentVariable(name)), hadOld_(!old_.empty()) {
    process::SetEnvironmentVariable(name, value);
}

ScopedEnv::~ScopedEnv() {
    process::SetEnvironmentVariable(name_.c_str(), hadOld_ ? old_ : std::string());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace stubtest
