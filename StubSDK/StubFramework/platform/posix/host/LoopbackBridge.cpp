#include "platform/posix/host/LoopbackBridge.h"

#include <sys/random.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "platform/posix/host/BridgeDispatch.h"
#include "platform/posix/host/BridgeScript.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "platform/windowthread.h"

namespace stubframework::platform::posix {

using nlohmann::json;
namespace stdfs = std::filesystem;

namespace {

constexpr std::size_t kMaxRequestBytes = 1 << 20;
constexpr auto kEventWait = std::chrono::seconds(10);

std::string RandomToken() {
    unsigned char bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 15];
    }
    return token;
}

std::string ContentType(const stdfs::path& path) {
    static const std::map<std::string, std::string> kTypes{
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".txt", "text/plain; charset=utf-8"}};
    std::string extension = path.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto found = kTypes.find(extension);
    return found != kTypes.end() ? found->second : "application/octet-stream";
}

bool IsHtml(const stdfs::path& path) {
    const std::string type = ContentType(path);
    return type.rfind("text/html", 0) == 0;
}

// Where the bridge script goes: inside <head>, else inside <html>, else
// after the doctype, else first.
std::size_t ScriptPosition(const std::string& html) {
    std::string lower = html.substr(0, std::min<std::size_t>(html.size(), std::size_t{64} * 1024));
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const std::string tag : {"<head", "<html", "<!doctype"}) {
        // The tag itself, not one that starts the same (<header>).
        for (std::size_t open = lower.find(tag); open != std::string::npos;
             open = lower.find(tag, open + 1)) {
            const char next = open + tag.size() < lower.size() ? lower[open + tag.size()] : '\0';
            if (next != '>' && !std::isspace(static_cast<unsigned char>(next))) {
                continue;
            }
            const std::size_t close = lower.find('>', open);
            if (close != std::string::npos) {
                return close + 1;
            }
        }
    }
    return 0;
}

// One page request on its way to the window thread. The server thread may
// give up on it while the bridge stops; a task that runs after that does
// nothing, since the things it would use may be gone.
struct InvokeJob {
    std::mutex lock;
    bool started = false;
    bool abandoned = false;
    Event done{true};
    std::string reply;
    bool badRequest = false;
};

}  // namespace

LoopbackBridge::LoopbackBridge(std::string folder, IDispatchEx* external,
                               window::HostEvents& events, Methods methods, bool quietDialogs)
    : folder_(std::move(folder)),
      external_(external),
      events_(events),
      methods_(std::move(methods)),
      quietDialogs_(quietDialogs),
      token_(RandomToken()),
      hub_(std::make_shared<EventHub>()) {
    activity_.since = std::chrono::steady_clock::now();
}

LoopbackBridge::~LoopbackBridge() {
    Stop();
}

bool LoopbackBridge::Start() {
    server_ = std::make_unique<httplib::Server>();
    httplib::Server& server = *server_;
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(kMaxRequestBytes);
    // One page keeps one connection for its calls.
    server.set_keep_alive_max_count(1000000);
    // Event streams hold a thread each; calls must never wait for one.
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return Admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                            : httplib::Server::HandlerResponse::Handled;
        });
    const std::string prefix = "/" + token_;
    server.Get(prefix + "/pages/(.*)",
               [this](const httplib::Request& request, httplib::Response& response) {
                   ServePage(request, response);
               });
    server.Get("/launch/([0-9a-f]+)",
               [this](const httplib::Request& request, httplib::Response& response) {
                   ServeLaunch(request, response);
               });
    server.Post(prefix + "/bridge/invoke",
                [this](const httplib::Request& request, httplib::Response& response) {
                    ServeInvoke(request, response);
                });
    server.Get(prefix + "/bridge/events",
               [this](const httplib::Request& request, httplib::Response& response) {
                   ServeEvents(request, response);
               });
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        server_.reset();
        return false;
    }
    listener_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop that comes before the server runs would be lost.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void LoopbackBridge::Stop() {
    stopping_ = true;
    hub_->Close();
    if (server_) {
        server_->stop();
    }
    if (listener_.joinable()) {
        listener_.join();
    }
    server_.reset();
}

std::string LoopbackBridge::LaunchUrl(const std::string& page) {
    const std::lock_guard<std::mutex> guard(launchLock_);
    launchNonce_ = RandomToken();
    launchPage_ = page;
    return "http://127.0.0.1:" + std::to_string(port_) + "/launch/" + launchNonce_;
}

void LoopbackBridge::ServeLaunch(const httplib::Request& request, httplib::Response& response) {
    std::string page;
    {
        const std::lock_guard<std::mutex> guard(launchLock_);
        if (launchNonce_.empty() || request.matches[1] != launchNonce_) {
            response.status = 403;
            return;
        }
        launchNonce_.clear();  // good for one visit
        page = launchPage_;
    }
    response.set_redirect(PageUrl(page));
}

std::string LoopbackBridge::PageUrl(const std::string& page) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + token_ + "/pages/" + page;
}

LoopbackBridge::PageActivity LoopbackBridge::Activity() const {
    const std::lock_guard<std::mutex> guard(activityLock_);
    return activity_;
}

void LoopbackBridge::StreamOpened() {
    const std::lock_guard<std::mutex> guard(activityLock_);
    ++activity_.streams;
    activity_.since = std::chrono::steady_clock::now();
}

void LoopbackBridge::StreamClosed() {
    const std::lock_guard<std::mutex> guard(activityLock_);
    --activity_.streams;
    activity_.since = std::chrono::steady_clock::now();
}

bool LoopbackBridge::Admit(const httplib::Request& request, httplib::Response& response) {
    const bool ownHost = request.get_header_value("Host") == "127.0.0.1:" + std::to_string(port_);
    const bool tokenPresent =
        request.path.rfind("/" + token_ + "/", 0) == 0 || request.path.rfind("/launch/", 0) == 0;
    if (ownHost && tokenPresent) {
        const std::lock_guard<std::mutex> guard(activityLock_);
        activity_.contacted = true;
        return true;
    }
    response.status = 403;
    response.set_content("Forbidden", "text/plain");
    return false;
}

void LoopbackBridge::ServePage(const httplib::Request& request, httplib::Response& response) {
    const std::string relative = request.matches[1];
    // No way out of the folder: no parent steps, no absolute or Windows paths.
    const stdfs::path path(relative);
    bool safe = !relative.empty() && relative.find('\\') == std::string::npos &&
                relative.find('\0') == std::string::npos && path.is_relative();
    for (const auto& part : path) {
        safe = safe && part != "..";
    }
    std::error_code error;
    const stdfs::path root = stdfs::weakly_canonical(folder_, error);
    const stdfs::path file = stdfs::weakly_canonical(root / path, error);
    const auto [rootEnd, fileAt] =
        std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (!safe || error || rootEnd != root.end()) {
        response.status = 404;
        return;
    }
    std::ifstream in(file, std::ios::binary);
    if (!stdfs::is_regular_file(file, error) || !in) {
        response.status = 404;
        return;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::string body = content.str();
    // Only documents get the bridge: an iframe or a fetched HTML fragment
    // must not start a page of its own and cut off the document's callbacks.
    const std::string destination = request.get_header_value("Sec-Fetch-Dest");
    if (IsHtml(file) && (destination.empty() || destination == "document")) {
        const std::string script = "<script>" +
                                   BridgeScript(token_, nextSession_++, methods_, quietDialogs_) +
                                   "</script>";
        body.insert(ScriptPosition(body), script);
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content(body, ContentType(file));
}

void LoopbackBridge::ServeInvoke(const httplib::Request& request, httplib::Response& response) {
    auto job = std::make_shared<InvokeJob>();
    const bool posted = !stopping_ && PostToWindowThread([this, job, body = request.body] {
        {
            const std::lock_guard<std::mutex> guard(job->lock);
            if (job->abandoned) {
                return;
            }
            job->started = true;
        }
        job->reply = DispatchBridgeMessage(body, *external_, events_, hub_, job->badRequest);
        job->done.Set();
    });
    bool answered = posted;
    // The window thread runs the request; while the bridge stops or the
    // window thread closes, a request it has not begun is given up.
    while (posted && !job->done.Wait(20)) {
        if (stopping_ || !IsWindowThreadOpen()) {
            const std::lock_guard<std::mutex> guard(job->lock);
            if (!job->started) {
                job->abandoned = true;
                answered = false;
                break;
            }
        }
    }
    if (!answered) {
        response.set_content(json{{"hr", RPC_E_DISCONNECTED}}.dump(), "application/json");
        return;
    }
    if (job->badRequest) {
        response.status = 400;
    }
    response.set_content(job->reply, "application/json");
}

void LoopbackBridge::ServeEvents(const httplib::Request& request, httplib::Response& response) {
    unsigned session = 0;
    try {
        session = static_cast<unsigned>(std::stoul(request.get_param_value("session")));
    } catch (const std::exception&) {
        response.status = 400;
        return;
    }
    hub_->Connect(session);
    response.set_header("Cache-Control", "no-store");
    auto hub = hub_;
    StreamOpened();
    response.set_chunked_content_provider(
        "text/event-stream",
        [hub, session](std::size_t /*offset*/, httplib::DataSink& sink) {
            std::string batch;
            if (!hub->Next(session, batch, kEventWait)) {
                return false;
            }
            if (batch.empty()) {
                batch = ": idle\n\n";  // finds out whether the page is still there
            }
            return sink.write(batch.data(), batch.size());
        },
        [this](bool /*success*/) { StreamClosed(); });
}

}  // namespace stubframework::platform::posix
