// Per-test scratch folders and environment overrides.
#pragma once

#include <cstdint>
#include <string>

namespace stubtest {

// For waits that must not end on a clock: a test that hangs is ended by its
// time-out (ctest's), never by a guess of how long the machine needs.
inline constexpr std::uint32_t kNoTimeLimitMs = 0xFFFFFFFFu;

// A fresh empty folder under the system temporary folder, removed with all
// its contents when the object goes away. Path() ends without a separator.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_;
};

// Points the system's temporary folder at `path` for the object's life: the
// variable Linux reads (TMPDIR) and the one Windows reads first (TMP).
class ScopedTempPath {
public:
    explicit ScopedTempPath(const std::string& path) : tmpdir_("TMPDIR", path), tmp_("TMP", path) {}

private:
    ScopedEnv tmpdir_;
    ScopedEnv tmp_;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace stubtest
