#include "support/ToolServer.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace stubtest {
namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

}  // namespace

struct ToolServer::Process {
    TestFolder work;    // the port file
    TestFolder folder;  // what the server is given
    pid_t pid = -1;
};

ToolServer::ToolServer(const std::string& tool, const std::string& script)
    : process_(std::make_unique<Process>()), folder_(process_->folder.Path()) {
    const std::string portFile = process_->work / "port";
    std::vector<std::string> command = {
        "env",   "python3",     std::string(STUB_SOURCE_DIR) + "/tools/" + tool + "/" + script,
        folder_, "--port-file", portFile};
    // Everything the child needs is built before fork: other threads may hold locks.
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
        execv("/usr/bin/env", argv.data());
        _exit(127);
    }
    process_->pid = child;
    // No time limit of its own: on a loaded machine Python may take long to
    // start; a server that never comes ends the test at the runner's time-out,
    // one that ends fails it at once.
    while ((port_ = std::atoi(ReadFile(portFile).c_str())) == 0) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            process_->pid = -1;
            throw std::runtime_error(script + " ended before it served");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

ToolServer::~ToolServer() {
    if (process_->pid > 0) {
        kill(process_->pid, SIGTERM);
        waitpid(process_->pid, nullptr, 0);
    }
}

std::string ToolServer::Origin(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

TrustedCertificate::TrustedCertificate(const std::string& pemFile)
    : bundle_(std::make_unique<ScopedEnv>("STUB_CA_BUNDLE", pemFile)) {}

TrustedCertificate::~TrustedCertificate() = default;

std::string HttpRequest(const std::string& url, const std::string& caFile,
                        const std::string* putBody) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    if (!caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    if (putBody != nullptr) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, putBody->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(putBody->size()));
    }
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (result != CURLE_OK) {
        throw std::runtime_error("test server unreachable: " + url);
    }
    return body;
}

}  // namespace stubtest
