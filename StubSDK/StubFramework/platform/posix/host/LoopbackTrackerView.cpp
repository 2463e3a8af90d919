#include "platform/posix/host/LoopbackTrackerView.h"

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/http.h"
#include "platform/posix/host/LoopbackBridge.h"
#include "platform/posix/host/LoopbackServer.h"
#include "platform/process.h"

namespace stubframework::platform::posix {
namespace {

using trackerview::CallResult;
using Clock = std::chrono::steady_clock;

constexpr const char* kUrlVariable = "STUB_TRACKER_URL_FILE";
constexpr std::size_t kMaxPage = std::size_t{1} << 20;
constexpr std::size_t kMaxBody = std::size_t{64} << 10;
constexpr auto kCallWait = std::chrono::seconds(10);
constexpr auto kStreamBeat = std::chrono::seconds(1);
constexpr std::uint32_t kErrorTimeout = 1460;  // ERROR_TIMEOUT

// Put before the page's own scripts: window.external.PostJSMessage, and the
// events, taken once the page has loaded and its trackEvent exists.
// ORIGIN stands for this server's address with the token.
constexpr const char* kBridgeScript = R"(<script>(function () {
  var origin = ORIGIN;
  function post(path, body) {
    var request = new XMLHttpRequest();
    request.open("POST", origin + path, false);
    request.setRequestHeader("Content-Type", "text/plain");
    request.send(body);
  }
  Object.defineProperty(window, "external", {configurable: true, value: {
    PostJSMessage: function (text) { post("message", String(text)); }}});
  if (!ALERTING) {
    window.alert = function () {};
    window.confirm = function () { return false; };
    window.prompt = function () { return null; };
  }
  window.addEventListener("load", function () {
    new EventSource(origin + "events").onmessage = function (message) {
      var call = JSON.parse(message.data), answer;
      try {
        var result = window.trackEvent(call.text);
        answer = {id: call.id, ok: true,
                  text: result === undefined || result === null ? "" : String(result)};
      } catch (error) {
        answer = {id: call.id, ok: false, text: String(error)};
      }
      post("result", JSON.stringify(answer));
    };
  });
})();</script>)";

// What the server's threads and the track thread share.
struct State {
    std::mutex lock;
    std::condition_variable changed;
    bool connected = false;
    bool stopping = false;
    std::uint64_t lastId = 0;
    std::deque<std::string> outgoing;  // event data, in order
    std::map<std::uint64_t, CallResult> results;
};

// An attribute value between quotation marks: nothing in it ends it.
std::string EscapedAttribute(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '"':
                escaped += "&quot;";
                break;
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

// The container page with our script first in its head and its own address
// as the base of everything it loads.
std::string WithBridge(const std::string& page, const std::string& containerUrl,
                       const std::string& origin, bool alerting) {
    const std::string script =
        Replace(Replace(kBridgeScript, "ORIGIN", nlohmann::json(origin).dump()), "ALERTING",
                alerting ? "true" : "false");
    const std::string head = "<base href=\"" + EscapedAttribute(containerUrl) + "\">" + script;
    std::string lower = page;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t open = lower.find("<head");
    const std::size_t end = open == std::string::npos ? std::string::npos : lower.find('>', open);
    if (end == std::string::npos) {
        return head + page;
    }
    std::string result = page;
    return result.insert(end + 1, head);
}

class LoopbackTrackerView final : public trackerview::View {
public:
    LoopbackTrackerView(std::string url, bool alerting,
                        std::function<void(const std::string&)> onMessage)
        : url_(std::move(url)),
          alerting_(alerting),
          onMessage_(std::move(onMessage)),
          token_(RandomToken()),
          state_(std::make_shared<State>()) {}

    ~LoopbackTrackerView() override {
        {
            const std::lock_guard<std::mutex> lock(state_->lock);
            state_->stopping = true;
        }
        state_->changed.notify_all();
        if (server_) {
            server_->Stop();
        }
    }

    LoopbackTrackerView(const LoopbackTrackerView&) = delete;
    LoopbackTrackerView& operator=(const LoopbackTrackerView&) = delete;

    bool Start() {
        server_ = std::make_unique<LoopbackServer>(
            AdmittedUsers(), kMaxBody,
            [this](const HttpRequest& request, LoopbackServer::Response& response) {
                Handle(request, response);
            });
        if (!server_->Start()) {
            return false;
        }
        // The page sees the query of its own address, as it would there.
        const std::size_t query = url_.find('?');
        const std::string search =
            query == std::string::npos ? std::string() : url_.substr(query, url_.find('#') - query);
        PublishUrl(kUrlVariable, Origin() + "page" + search);
        return true;
    }

    bool Loaded() override {
        const std::lock_guard<std::mutex> lock(state_->lock);
        return state_->connected;
    }

    CallResult CallTrackEvent(const std::string& text) override {
        std::unique_lock<std::mutex> lock(state_->lock);
        const std::uint64_t id = ++state_->lastId;
        state_->outgoing.push_back(nlohmann::json{{"id", id}, {"text", text}}.dump());
        state_->changed.notify_all();
        const bool answered = state_->changed.wait_for(lock, kCallWait, [this, id] {
            return state_->results.count(id) != 0 || state_->stopping;
        });
        if (!answered || state_->results.count(id) == 0) {
            return {CallResult::Outcome::Failed, kErrorTimeout, {}};
        }
        CallResult result = std::move(state_->results[id]);
        state_->results.erase(id);
        return result;
    }

private:
    std::string Origin() const {
        return "http://127.0.0.1:" + std::to_string(server_->Port()) + "/" + token_ + "/tracker/";
    }

    void Handle(const HttpRequest& request, LoopbackServer::Response& response) {
        response.headers.emplace_back("Cache-Control", "no-store");
        response.headers.emplace_back("Referrer-Policy", "no-referrer");
        const std::string prefix = "/" + token_ + "/tracker/";
        if (request.Header("Host") != "127.0.0.1:" + std::to_string(server_->Port()) ||
            request.path.rfind(prefix, 0) != 0) {
            response.status = 403;
            response.close = true;
            return;
        }
        const std::string rest = request.path.substr(prefix.size());
        if (rest == "page" && request.method == "GET") {
            ServePage(response);
        } else if (rest == "events" && request.method == "GET") {
            ServeEvents(response);
        } else if ((rest == "message" || rest == "result") && request.method == "POST" &&
                   request.Header("Origin").value_or(OurOrigin()) == OurOrigin()) {
            if (rest == "message") {
                onMessage_(request.body);
            } else {
                TakeResult(request.body);
            }
            response.status = 204;
        } else {
            response.status = 404;
        }
    }

    std::string OurOrigin() const { return "http://127.0.0.1:" + std::to_string(server_->Port()); }

    // The container page as its own server gives it, fetched afresh.
    void ServePage(LoopbackServer::Response& response) {
        http::SyncRequest fetch;
        fetch.url = url_;
        fetch.userAgent = http::BrowserUserAgent();
        fetch.maxBody = kMaxPage;
        const http::SyncReply reply = http::Perform(fetch);
        if (!reply.received || reply.status != 200) {
            response.status = 502;
            return;
        }
        response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        response.body = WithBridge(std::string(reply.body.begin(), reply.body.end()), url_,
                                   Origin(), alerting_);
    }

    void ServeEvents(LoopbackServer::Response& response) {
        response.headers.emplace_back("Content-Type", "text/event-stream");
        {
            const std::lock_guard<std::mutex> lock(state_->lock);
            state_->connected = true;
        }
        response.stream = [state = state_](const std::function<bool(std::string_view)>& write) {
            std::unique_lock<std::mutex> lock(state->lock);
            state->changed.wait_for(lock, kStreamBeat, [&state] {
                return !state->outgoing.empty() || state->stopping;
            });
            if (state->stopping) {
                return false;
            }
            std::string batch = ": beat\n\n";
            while (!state->outgoing.empty()) {
                batch += "data: " + state->outgoing.front() + "\n\n";
                state->outgoing.pop_front();
            }
            lock.unlock();
            return write(batch);
        };
    }

    void TakeResult(const std::string& body) {
        std::uint64_t id = 0;
        CallResult result;
        if (!ReadTrackResult(body, id, result)) {
            return;
        }
        const std::lock_guard<std::mutex> lock(state_->lock);
        state_->results[id] = std::move(result);
        state_->changed.notify_all();
    }

    const std::string url_;
    const bool alerting_;
    const std::function<void(const std::string&)> onMessage_;
    const std::string token_;
    const std::shared_ptr<State> state_;
    std::unique_ptr<LoopbackServer> server_;
};

}  // namespace

bool ReadTrackResult(std::string_view body, std::uint64_t& id, trackerview::CallResult& result) {
    const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (!answer.is_object()) {
        return false;
    }
    const auto number = answer.find("id");
    const auto ok = answer.find("ok");
    const auto text = answer.find("text");
    if (number == answer.end() || !number->is_number_unsigned() || ok == answer.end() ||
        !ok->is_boolean() || (text != answer.end() && !text->is_string())) {
        return false;
    }
    id = number->get<std::uint64_t>();
    const bool succeeded = ok->get<bool>();
    result.outcome = succeeded ? CallResult::Outcome::Success : CallResult::Outcome::Failed;
    result.error = succeeded ? 0 : 0x80020009u;  // DISP_E_EXCEPTION
    result.text = text != answer.end() ? text->get<std::string>() : std::string();
    return true;
}

std::unique_ptr<trackerview::View> OpenLoopbackTrackerView(
    const std::string& url, bool alerting, std::function<void(const std::string&)> onMessage) {
    if (process::EnvironmentVariable(kUrlVariable).empty()) {
        return nullptr;
    }
    auto view = std::make_unique<LoopbackTrackerView>(url, alerting, std::move(onMessage));
    return view->Start() ? std::move(view) : nullptr;
}

}  // namespace stubframework::platform::posix
