#include "support/ReleaseServer.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "downloader/MetaFile.h"

namespace stubtest {
namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

}  // namespace

ReleaseServer::ReleaseServer() {
    const std::string portFile = work_ / "port";
    const std::string script =
        std::string(STUB_SOURCE_DIR) + "/tools/release-server/release_server.py";
    // Everything the child needs is built before fork: other threads may hold locks.
    const char* const arguments[] = {
        "env",         "python3",        script.c_str(), root_.Path().c_str(),
        "--port-file", portFile.c_str(), nullptr};
    server_ = fork();
    if (server_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
        execv("/usr/bin/env", const_cast<char* const*>(arguments));
        _exit(127);
    }
    for (int i = 0; i < 200 && port_ == 0; ++i) {
        port_ = std::atoi(ReadFile(portFile).c_str());
        if (port_ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    if (port_ == 0) {
        throw std::runtime_error("the release server did not start");
    }
}

ReleaseServer::~ReleaseServer() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

void ReleaseServer::AddPackage(const std::string& name, const std::string& content) {
    const std::string path = root_ / name;
    WriteFile(path, content);
    if (downloader::WriteMetaFile(path, path + ".meta") != downloader::kSuccess) {
        throw std::runtime_error("cannot write the meta file of " + name);
    }
}

std::string ReleaseServer::Url(const std::string& name, const std::string& faults) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/";
    if (!faults.empty()) {
        url += "f/" + faults + "/";
    }
    return url + name;
}

std::string ReleaseServer::Get(const std::string& path) const {
    std::string body;
    CURL* easy = curl_easy_init();
    const std::string url = Url("") + path;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (result != CURLE_OK) {
        throw std::runtime_error("release server unreachable");
    }
    return body;
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
