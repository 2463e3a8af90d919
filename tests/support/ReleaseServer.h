// tools/release-server on a scratch folder, for the download tests: started
// on a free port, stopped with the object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TestFolder.h"
#include "support/ToolServer.h"

namespace stubtest {

class ReleaseServer {
public:
    ReleaseServer();
    ~ReleaseServer() = default;
    ReleaseServer(const ReleaseServer&) = delete;
    ReleaseServer& operator=(const ReleaseServer&) = delete;

    // Puts a package and its meta file into the served folder.
    void AddPackage(const std::string& name, const std::string& content);
    // The URL of a served path, with faults ("drop=60,etagchange") when given.
    std::string Url(const std::string& name, const std::string& faults = "") const;

    struct Request {
        std::string path;
        std::string range;    // empty when none
        std::string ifRange;  // empty when none
    };
    // What the server saw since the last reset.
    std::vector<Request> Requests() const;
    // Body bytes sent for a file path ("/package.bin") since the last reset.
    std::int64_t SentBytes(const std::string& path) const;
    void ResetStats() const;

    const std::string& Root() const { return root_.Path(); }

private:
    std::string Get(const std::string& path) const;

    TestFolder root_;
    ToolServer server_;
};

// Deterministic package content of `size` bytes (no all-zero block).
std::string PackageBytes(std::size_t size, unsigned seed = 1);

}  // namespace stubtest
