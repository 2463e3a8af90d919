#include "support/ReleaseServer.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "downloader/MetaFile.h"

namespace stubtest {

ReleaseServer::ReleaseServer() : server_("release-server/release_server.py", {root_.Path()}) {}

void ReleaseServer::AddPackage(const std::string& name, const std::string& content) {
    const std::string path = root_ / name;
    WriteFile(path, content);
    if (downloader::WriteMetaFile(path, path + ".meta") != downloader::kSuccess) {
        throw std::runtime_error("cannot write the meta file of " + name);
    }
}

std::string ReleaseServer::Url(const std::string& name, const std::string& faults) const {
    std::string url = "http://127.0.0.1:" + std::to_string(server_.Port()) + "/";
    if (!faults.empty()) {
        url += "f/" + faults + "/";
    }
    return url + name;
}

std::string ReleaseServer::Get(const std::string& path) const {
    return HttpRequest(Url("") + path);
}

std::vector<ReleaseServer::Request> ReleaseServer::Requests() const {
    std::vector<Request> requests;
    const auto stats = nlohmann::json::parse(Get("stats"));
    for (const auto& item : stats["requests"]) {
        Request request;
        request.path = item["path"].get<std::string>();
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
    return sent.contains(path) ? sent[path].get<std::int64_t>() : 0;
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
