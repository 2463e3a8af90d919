#include "support/ToolServer.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace stubtest {
namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

}  // namespace

ToolServer::ToolServer(const std::string& script, const std::vector<std::string>& arguments) {
    const std::string portFile = work_ / "port";
    std::vector<std::string> command = {"env", "python3",
                                        std::string(STUB_SOURCE_DIR) + "/tools/" + script};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.insert(command.end(), {"--port-file", portFile});
    // Everything the child needs is built before fork: other threads may hold locks.
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);
    server_ = fork();
    if (server_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
        execv("/usr/bin/env", argv.data());
        _exit(127);
    }
    // No time limit of its own: on a loaded machine Python may take long to
    // start; a server that never comes ends the test at the runner's time-out,
    // one that ends fails it at once.
    while (port_ == 0) {
        port_ = std::atoi(ReadFile(portFile).c_str());
        if (port_ != 0) {
            break;
        }
        if (waitpid(server_, nullptr, WNOHANG) == server_) {
            server_ = -1;
            throw std::runtime_error(script + " ended before it served");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

ToolServer::~ToolServer() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

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
