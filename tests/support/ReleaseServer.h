// tools/release-server for the download tests, serving a folder that is
// empty when the object is made. Where the server is shared between tests
// (Windows), each object has a folder of its own under its root, and sees
// only the requests for it: a transfer an earlier test left running never
// shows in a later one's figures.
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

    const std::string& Root() const { return root_; }

private:
    std::string Get(const std::string& path) const;
    std::string Unscoped(const std::string& path) const;

    ToolServer server_;
    std::string scope_;  // the folder of its own under a shared root; empty when none
    std::string root_;
};

// Deterministic package content of `size` bytes (no all-zero block).
std::string PackageBytes(std::size_t size, unsigned seed = 1);

}  // namespace stubtest
