#include "platform/posix/host/LoopbackBridge.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "platform/fs.h"
#include "platform/posix/DesktopUser.h"
#include "platform/posix/host/BridgeDispatch.h"
#include "platform/posix/host/BridgeScript.h"
#include "platform/posix/host/PageFiles.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/windowthread.h"

namespace stubframework::platform::posix {

using nlohmann::json;

namespace {

constexpr std::size_t kMaxRequestBytes = 1 << 20;
constexpr auto kEventWait = std::chrono::seconds(10);

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

void Refuse(LoopbackServer::Response& response, int status) {
    response.status = status;
    response.body = std::string(ReasonPhrase(status));
    response.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    response.close = true;
}

// Where the desktop user's private files go: their runtime folder.
std::string DesktopRuntimeFolder(uid_t& owner, gid_t& group) {
    std::string name;
    std::string home;
    owner = geteuid();
    group = getegid();
    if (DesktopUser(owner, group, name, home)) {
        std::string folder = "/run/user/" + std::to_string(owner);
        struct stat info {};
        if (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == owner &&
            (info.st_mode & 077) == 0) {
            return folder;
        }
        return {};
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? runtime : "";
}

// The HTML of a file that sends the browser on to `url`.
std::string RedirectDocument(const std::string& url) {
    return "<!DOCTYPE html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
           "<meta http-equiv=\"refresh\" content=\"0;url=" +
           url + "\"><script>location.replace(\"" + url + "\")</script>\n";
}

}  // namespace

std::set<uid_t> AdmittedUsers() {
    std::set<uid_t> users{geteuid()};
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    if (DesktopUser(uid, gid, name, home)) {
        users.insert(uid);
    }
    return users;
}

LoopbackBridge::LoopbackBridge(PageSource source)
    : source_(std::move(source)), token_(RandomToken()), hub_(std::make_shared<EventHub>()) {
    activity_.since = std::chrono::steady_clock::now();
}

LoopbackBridge::~LoopbackBridge() {
    Stop();
}

bool LoopbackBridge::Start() {
    server_ = std::make_unique<LoopbackServer>(
        AdmittedUsers(), kMaxRequestBytes,
        [this](const HttpRequest& request, LoopbackServer::Response& response) {
            Handle(request, response);
        },
        LoopbackServer::kHeadTime,
        [events = source_.events](const std::string& text) {
            if (events != nullptr) {
                events->OnNote(text);
            }
        });
    if (!server_->Start()) {
        server_.reset();
        return false;
    }
    return true;
}

void LoopbackBridge::Stop() {
    stopping_ = true;
    hub_->Close();
    if (server_) {
        server_->Stop();
    }
    RemoveLaunchFile();
}

void LoopbackBridge::RemoveLaunchFile() {
    std::string file;
    std::string folder;
    {
        const std::lock_guard<std::mutex> guard(activityLock_);
        file.swap(launchFile_);
        folder.swap(launchFolder_);
    }
    if (!file.empty()) {
        fs::DeleteFile(file);
    }
    if (!folder.empty()) {
        fs::RemoveFolder(folder);
    }
}

std::string LoopbackBridge::Origin() const {
    return "http://127.0.0.1:" + std::to_string(Port());
}

std::string LoopbackBridge::PageUrl(const std::string& page) const {
    return Origin() + "/" + token_ + "/pages/" + page;
}

std::string LoopbackBridge::LaunchAddress(const std::string& page) {
    uid_t owner = 0;
    gid_t group = 0;
    std::string folder = DesktopRuntimeFolder(owner, group);
    std::string madeFolder;
    if (folder.empty()) {
        // No runtime folder of theirs: a private folder of theirs in ours.
        const std::optional<std::string> temp = fs::TempPath();
        if (!temp || fs::CreateRandomFolder(*temp + "installer-launch.", madeFolder) != 0 ||
            chown(madeFolder.c_str(), owner, group) != 0) {
            if (!madeFolder.empty()) {
                fs::RemoveFolder(madeFolder);
            }
            return {};
        }
        folder = madeFolder;
    }
    std::string path = folder + "/installer-launch-XXXXXX.html";
    // A new private file under a name nobody could have prepared.
    const int fd = mkostemps(path.data(), 5, O_CLOEXEC);
    const std::string text = RedirectDocument(PageUrl(page));
    const bool written = fd >= 0 && fchmod(fd, 0600) == 0 && fchown(fd, owner, group) == 0 &&
                         write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) {
        close(fd);
    }
    if (!written) {
        if (fd >= 0) {
            unlink(path.c_str());
        }
        if (!madeFolder.empty()) {
            fs::RemoveFolder(madeFolder);
        }
        return {};
    }
    // Server threads remove it once a page has come.
    const std::lock_guard<std::mutex> guard(activityLock_);
    launchFile_ = path;
    launchFolder_ = madeFolder;
    return "file://" + path;
}

PageActivity LoopbackBridge::Activity() const {
    const std::lock_guard<std::mutex> guard(activityLock_);
    return activity_;
}

void LoopbackBridge::Contacted() {
    {
        const std::lock_guard<std::mutex> guard(activityLock_);
        if (activity_.contacted) {
            return;
        }
        activity_.contacted = true;
    }
    // The way in has been used: nothing redeemable stays on disk.
    RemoveLaunchFile();
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

void LoopbackBridge::Handle(const HttpRequest& request, LoopbackServer::Response& response) {
    // Every answer: no referrer to leak the token, no opener to steer us.
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
    response.headers.emplace_back("Cross-Origin-Opener-Policy", "same-origin");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.headers.emplace_back("Cache-Control", "no-store");
    const std::string prefix = "/" + token_ + "/";
    if (request.Header("Host") != "127.0.0.1:" + std::to_string(Port()) ||
        request.path.rfind(prefix, 0) != 0) {
        Refuse(response, 403);
        return;
    }
    Contacted();
    const std::string rest = request.path.substr(prefix.size());
    if (rest.rfind("pages/", 0) == 0 && (request.method == "GET" || request.method == "HEAD")) {
        ServePage(request, rest.substr(6), response);
    } else if (rest == "bridge/invoke" && request.method == "POST") {
        ServeInvoke(request, response);
    } else if (rest == "bridge/events" && request.method == "GET") {
        ServeEvents(request, response);
    } else {
        Refuse(response, 404);
    }
}

bool LoopbackBridge::FromOurPage(const HttpRequest& request) const {
    // A request made by another site's page says so; one without these
    // headers came from a process the accept check let in.
    const std::optional<std::string> origin = request.Header("Origin");
    const std::optional<std::string> site = request.Header("Sec-Fetch-Site");
    return (!origin || *origin == Origin()) && (!site || *site == "same-origin");
}

void LoopbackBridge::ServePage(const HttpRequest& request, const std::string& relative,
                               LoopbackServer::Response& response) {
    // Only documents get the bridge: an iframe or a fetched HTML fragment
    // must not start a page of its own and cut off the document's callbacks.
    const std::string destination = request.Header("Sec-Fetch-Dest").value_or("");
    const bool document = destination.empty() || destination == "document";
    const std::optional<PageFile> page = ReadPageFile(source_.folder, relative, document, [this] {
        return "<script>" +
               BridgeScript(
                   {"/" + token_ + "/bridge/", hub_->Issue(), source_.methods, true, true}) +
               "</script>";
    });
    if (!page) {
        Refuse(response, 404);
        return;
    }
    response.headers.emplace_back("Content-Type", page->type);
    response.body = page->body;
}

void LoopbackBridge::ServeInvoke(const HttpRequest& request, LoopbackServer::Response& response) {
    const std::string type = request.Header("Content-Type").value_or("");
    if (type != "application/json" && type.rfind("application/json;", 0) != 0) {
        Refuse(response, 415);
        return;
    }
    if (!FromOurPage(request)) {
        Refuse(response, 403);
        return;
    }
    auto job = std::make_shared<InvokeJob>();
    const bool posted = !stopping_ && PostToWindowThread([this, job, body = request.body] {
        {
            const std::lock_guard<std::mutex> guard(job->lock);
            if (job->abandoned) {
                return;
            }
            job->started = true;
        }
        job->reply =
            DispatchBridgeMessage(body, *source_.external, *source_.events, hub_, job->badRequest);
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
    response.headers.emplace_back("Content-Type", "application/json");
    if (!answered) {
        response.body = json{{"hr", RPC_E_DISCONNECTED}}.dump();
        response.close = true;
        return;
    }
    if (job->badRequest) {
        response.status = 400;
        response.close = true;
    }
    response.body = job->reply;
}

void LoopbackBridge::ServeEvents(const HttpRequest& request, LoopbackServer::Response& response) {
    if (!FromOurPage(request)) {
        Refuse(response, 403);
        return;
    }
    const std::string text = request.Param("session");
    unsigned long session = 0;
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        (session = std::strtoul(text.c_str(), nullptr, 10)) > 0xFFFFFFFFul ||
        !hub_->Issued(static_cast<unsigned>(session))) {
        Refuse(response, 403);
        return;
    }
    const auto id = static_cast<unsigned>(session);
    hub_->Connect(id);
    StreamOpened();
    // Counts the stream closed when the server lets go of it, however it ends.
    std::shared_ptr<void> closed(nullptr, [this](void*) { StreamClosed(); });
    response.headers.emplace_back("Content-Type", "text/event-stream");
    auto hub = hub_;
    response.stream = [hub, id, closed](const std::function<bool(std::string_view)>& write) {
        std::string batch;
        if (!hub->Next(id, batch, kEventWait)) {
            return false;
        }
        if (batch.empty()) {
            batch = ": idle\n\n";  // finds out whether the page is still there
        }
        return write(batch);
    };
}

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

// Writes the URL where a test or a script waits for it, in one step.
void PublishUrl(const char* variable, const std::string& url) {
    const std::string target = process::EnvironmentVariable(variable);
    if (target.empty()) {
        return;
    }
    // Readable by its owner only (the URL carries the token), staged under a
    // new name nobody could have prepared.
    std::string staged = target + ".XXXXXX";
    const int fd = mkostemp(staged.data(), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const bool written = write(fd, url.data(), url.size()) == static_cast<ssize_t>(url.size());
    close(fd);
    if (!written || fs::MoveReplacing(staged, target) != 0) {
        fs::DeleteFile(staged);
    }
}

}  // namespace stubframework::platform::posix
