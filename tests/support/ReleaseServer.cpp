#include "support/ReleaseServer.h"

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "downloader/MetaFile.h"

namespace stubtest {

namespace {

// A folder of its own under a shared server's root, for each object.
std::string NewScope(const std::string& root) {
    static std::atomic<int> made{0};
    std::string name = "t" + std::to_string(++made);
    std::filesystem::remove_all(root + "/" + name);
    std::filesystem::create_directory(root + "/" + name);
    return name;
}

}  // namespace

ReleaseServer::ReleaseServer()
    : server_("release-server", "release_server.py"),
      scope_(server_.Shared() ? NewScope(server_.Folder()) : ""),
      root_(scope_.empty() ? server_.Folder() : server_.Folder() + "/" + scope_) {}

void ReleaseServer::AddPackage(const std::string& name, const std::string& content) {
    const std::string path = root_ + "/" + name;
    WriteFile(path, content);
    if (downloader::WriteMetaFile(path, path + ".meta") != downloader::kSuccess) {
        throw std::runtime_error("cannot write the meta file of " + name);
    }
}

std::string ReleaseServer::Url(const std::string& name, const std::string& faults) const {
    std::string url = server_.Origin("http") + "/";
    if (!faults.empty()) {
        url += "f/" + faults + "/";
    }
    return url + (scope_.empty() ? "" : scope_ + "/") + name;
}

std::string ReleaseServer::Get(const std::string& path) const {
    return HttpRequest(server_.Origin("http") + "/" + path);
}

// A request path as an object of its own server would have seen it; empty
// for another object's.
std::string ReleaseServer::Unscoped(const std::string& path) const {
    if (scope_.empty()) {
        return path;
    }
    std::size_t at = 0;
    if (path.rfind("/f/", 0) == 0) {
        at = path.find('/', 3);
        if (at == std::string::npos) {
            return {};
        }
    }
    const std::string mark = "/" + scope_ + "/";
    if (path.compare(at, mark.size(), mark) != 0) {
        return {};
    }
    return path.substr(0, at) + path.substr(at + mark.size() - 1);
}

std::vector<ReleaseServer::Request> ReleaseServer::Requests() const {
    std::vector<Request> requests;
    const auto stats = nlohmann::json::parse(Get("stats"));
    for (const auto& item : stats["requests"]) {
        Request request;
        request.path = Unscoped(item["path"].get<std::string>());
        if (request.path.empty()) {
            continue;
        }
        if (item["range"].is_string()) {
            request.range = item["range"].get<std::string>();
        }
        if (item["if-range"].is_string()) {
            request.ifRange = item["if-range"].get<std::string>();
        }
        requests.push_back(request);
    }
    return requests;
}

std::int64_t ReleaseServer::SentBytes(const std::string& path) const {
    const auto stats = nlohmann::json::parse(Get("stats"));
    const auto& sent = stats["sent"];
    const std::string scoped = scope_.empty() ? path : "/" + scope_ + path;
    return sent.contains(scoped) ? sent[scoped].get<std::int64_t>() : 0;
}

void ReleaseServer::ResetStats() const {
    Get("stats/reset");
}

std::string PackageBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u ^ seed;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    return bytes;
}

}  // namespace stubtest
