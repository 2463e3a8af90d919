#include "platform/posix/LoopbackBridge.h"

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

#include "platform/posix/BridgeScript.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "platform/windowthread.h"

namespace stubframework::platform::posix {

using nlohmann::json;
namespace stdfs = std::filesystem;

// Callback events of the pages, per page load ("session"). A newer page that
// connects makes the older ones gone: their events are dropped.
class EventHub {
public:
    void Push(unsigned session, std::string data) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ || session < current_) {
                return;
            }
            queues_[session].push_back(std::move(data));
        }
        wake_.notify_all();
    }

    void Connect(unsigned session) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (session > current_) {
                current_ = session;
                queues_.erase(queues_.begin(), queues_.lower_bound(current_));
            }
        }
        wake_.notify_all();
    }

    // Waits for the session's events. False when the session is over.
    bool Next(unsigned session, std::string& batch, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto over = [&] { return closed_ || session < current_; };
        wake_.wait_for(lock, wait, [&] { return over() || !queues_[session].empty(); });
        if (over()) {
            return false;
        }
        for (std::string& event : queues_[session]) {
            batch += "data: " + event + "\n\n";
        }
        queues_[session].clear();
        return true;
    }

    void Close() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            queues_.clear();
        }
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<unsigned, std::deque<std::string>> queues_;
    unsigned current_ = 0;
    bool closed_ = false;
};

namespace {

constexpr std::size_t kMaxRequestBytes = 1 << 20;
constexpr auto kEventWait = std::chrono::seconds(10);
// {6F1C3A52-8E0D-4B7A-9C41-2D5E7B8A9F10}: asks whether a dispatch is a page function.
constexpr IID kIidPageCallback = {
    0x6F1C3A52, 0x8E0D, 0x4B7A, {0x9C, 0x41, 0x2D, 0x5E, 0x7B, 0x8A, 0x9F, 0x10}};

json VariantToJson(const VARIANT& value);

// A function of the page, as native code holds it. Calling it sends an event
// to the page that owns it; releasing the last reference lets the page
// forget it.
class PageCallback final : public IDispatch {
public:
    PageCallback(std::shared_ptr<EventHub> hub, unsigned session, std::int64_t id)
        : hub_(std::move(hub)), session_(session), id_(id) {}

    std::int64_t Id() const { return id_; }
    unsigned Session() const { return session_; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidPageCallback) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            hub_->Push(session_, json{{"type", "release"}, {"id", id_}}.dump());
            delete this;
        }
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* /*count*/) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* /*result*/,
                   EXCEPINFO*, UINT*) override {
        if (id != DISPID_VALUE || (flags & DISPATCH_METHOD) == 0) {
            return DISP_E_MEMBERNOTFOUND;
        }
        json arguments = json::array();
        for (UINT i = params != nullptr ? params->cArgs : 0; i > 0; --i) {
            arguments.push_back(VariantToJson(params->rgvarg[i - 1]));
        }
        hub_->Push(session_, json{{"type", "call"}, {"id", id_}, {"args", arguments}}.dump());
        return S_OK;
    }

private:
    ~PageCallback() = default;

    std::atomic<ULONG> references_{1};
    std::shared_ptr<EventHub> hub_;
    const unsigned session_;
    const std::int64_t id_;
};

json VariantToJson(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return json{{"t", "empty"}};
        case VT_I4:
            return value.lVal;
        case VT_UI4:
            return value.ulVal;
        case VT_R8:
            return value.dblVal;
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE;
        case VT_BSTR:
            return com::ToUtf8(value.bstrVal);
        case VT_DISPATCH: {
            PageCallback* callback = nullptr;
            if (value.pdispVal != nullptr &&
                SUCCEEDED(value.pdispVal->QueryInterface(kIidPageCallback,
                                                         reinterpret_cast<void**>(&callback)))) {
                const std::int64_t id = callback->Id();
                callback->Release();
                return json{{"t", "dispatch"}, {"id", id}};
            }
            return nullptr;
        }
        default:
            return nullptr;
    }
}

// Fills `out` from a typed argument of the page; false for malformed input.
bool JsonToVariant(const json& argument, const std::shared_ptr<EventHub>& hub, unsigned session,
                   VARIANT& out) {
    VariantInit(&out);
    if (!argument.is_object() || !argument.contains("t") || !argument["t"].is_string()) {
        return false;
    }
    const std::string type = argument["t"];
    const json* value = argument.contains("v") ? &argument["v"] : nullptr;
    if (type == "empty") {
        return true;
    }
    if (type == "null") {
        out.vt = VT_NULL;
        return true;
    }
    if (type == "i4" && value != nullptr && value->is_number_integer()) {
        const auto number = value->get<std::int64_t>();
        if (number < INT32_MIN || number > INT32_MAX) {
            return false;
        }
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(number);
        return true;
    }
    if (type == "r8" && value != nullptr && value->is_number()) {
        out.vt = VT_R8;
        out.dblVal = value->get<double>();
        return true;
    }
    if (type == "bstr" && value != nullptr && value->is_string()) {
        out.vt = VT_BSTR;
        out.bstrVal = com::AllocString(value->get<std::string>());
        return true;
    }
    if (type == "bool" && value != nullptr && value->is_boolean()) {
        out.vt = VT_BOOL;
        out.boolVal = value->get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    }
    if (type == "dispatch" && argument.contains("id") && argument["id"].is_number_integer()) {
        out.vt = VT_DISPATCH;
        out.pdispVal = new PageCallback(hub, session, argument["id"].get<std::int64_t>());
        return true;
    }
    return false;
}

// The arguments of one call, held the way DISPPARAMS want them.
class CallArguments {
public:
    ~CallArguments() {
        for (VARIANT& value : values_) {
            VariantClear(&value);
        }
    }
    bool Load(const json& arguments, const std::shared_ptr<EventHub>& hub, unsigned session) {
        if (!arguments.is_array() || arguments.size() > 64) {
            return false;
        }
        values_.resize(arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            // DISPPARAMS hold the last script argument first.
            if (!JsonToVariant(arguments[i], hub, session, values_[arguments.size() - 1 - i])) {
                return false;
            }
        }
        return true;
    }
    DISPPARAMS* Params(DISPID* named = nullptr) {
        params_ = {values_.data(), named, static_cast<UINT>(values_.size()), named ? 1u : 0u};
        return &params_;
    }

private:
    std::vector<VARIANT> values_;
    DISPPARAMS params_{};
};

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
    std::string lower = html.substr(0, std::min<std::size_t>(html.size(), 64 * 1024));
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const char* tag : {"<head", "<html", "<!doctype"}) {
        const std::size_t open = lower.find(tag);
        if (open == std::string::npos) {
            continue;
        }
        const std::size_t close = lower.find('>', open);
        if (close != std::string::npos) {
            return close + 1;
        }
    }
    return 0;
}

// Runs `work` on the window thread and waits for it. False when the window
// thread is closed or drops it.
bool RunOnWindowThread(const std::function<void()>& work) {
    struct Pending {
        Event done{true};
        std::atomic<bool> ran{false};
    };
    auto pending = std::make_shared<Pending>();
    if (!PostToWindowThread([pending, &work] {
            work();
            pending->ran = true;
            pending->done.Set();
        })) {
        return false;
    }
    while (!pending->done.Wait(50)) {
        if (!IsWindowThreadOpen()) {
            return pending->ran;
        }
    }
    return true;
}

}  // namespace

LoopbackBridge::LoopbackBridge(std::string folder, IDispatchEx* external,
                               window::HostEvents& events, Methods methods)
    : folder_(std::move(folder)),
      external_(external),
      events_(events),
      methods_(std::move(methods)),
      token_(RandomToken()),
      hub_(std::make_shared<EventHub>()) {}

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
    return true;
}

void LoopbackBridge::Stop() {
    hub_->Close();
    if (server_) {
        server_->stop();
    }
    if (listener_.joinable()) {
        listener_.join();
    }
    server_.reset();
}

std::string LoopbackBridge::PageUrl(const std::string& page) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + token_ + "/pages/" + page;
}

bool LoopbackBridge::Admit(const httplib::Request& request, httplib::Response& response) const {
    const bool ownHost = request.get_header_value("Host") == "127.0.0.1:" + std::to_string(port_);
    const bool tokenPresent = request.path.rfind("/" + token_ + "/", 0) == 0;
    if (ownHost && tokenPresent) {
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
    if (IsHtml(file)) {
        const std::string script =
            "<script>" + BridgeScript(token_, nextSession_++, methods_) + "</script>";
        body.insert(ScriptPosition(body), script);
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content(body, ContentType(file));
}

void LoopbackBridge::ServeInvoke(const httplib::Request& request, httplib::Response& response) {
    std::string reply;
    bool badRequest = false;
    const bool ran = RunOnWindowThread([&] { reply = Dispatch(request.body, badRequest); });
    if (!ran) {
        reply = json{{"hr", RPC_E_DISCONNECTED}}.dump();
    }
    if (badRequest) {
        response.status = 400;
    }
    response.set_content(reply, "application/json");
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
    response.set_chunked_content_provider(
        "text/event-stream", [hub, session](std::size_t /*offset*/, httplib::DataSink& sink) {
            std::string batch;
            if (!hub->Next(session, batch, kEventWait)) {
                return false;
            }
            if (batch.empty()) {
                batch = ": idle\n\n";  // finds out whether the page is still there
            }
            return sink.write(batch.data(), batch.size());
        });
}

// Runs on the window thread: one request of the page against window.external.
std::string LoopbackBridge::Dispatch(const std::string& body, bool& badRequest) {
    const json message = json::parse(body, nullptr, false);
    if (!message.is_object() || !message.contains("op") || !message["op"].is_string() ||
        !message.contains("session") || !message["session"].is_number_unsigned()) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    const std::string op = message["op"];
    const auto session = message["session"].get<unsigned>();
    if (op == "documentComplete") {
        events_.OnDocumentComplete();
        return json{{"hr", S_OK}}.dump();
    }
    if (!message.contains("name") || !message["name"].is_string()) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    const std::string name = message["name"];
    com::Bstr bstrName(name);
    CallArguments arguments;
    if (!arguments.Load(message.value("args", json::array()), hub_, session)) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    com::Variant result;
    HRESULT hr = E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    if (op == "call") {
        const WORD flags = static_cast<WORD>(message.value("flags", 1u));
        std::u16string wide = Utf8ToUtf16(name);
        LPOLESTR names[] = {wide.data()};
        hr = external_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        if (SUCCEEDED(hr)) {
            hr = external_->Invoke(id, IID_NULL, 0, flags, arguments.Params(), result.Get(),
                                   nullptr, nullptr);
        }
    } else if (op == "get") {
        hr = external_->GetDispID(bstrName.Get(), fdexNameCaseSensitive, &id);
        if (SUCCEEDED(hr)) {
            hr = external_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, arguments.Params(), result.Get(),
                                     nullptr, nullptr);
        }
    } else if (op == "set") {
        hr = external_->GetDispID(bstrName.Get(), fdexNameCaseSensitive | fdexNameEnsure, &id);
        DISPID named = DISPID_PROPERTYPUT;
        if (SUCCEEDED(hr)) {
            hr = external_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, arguments.Params(&named),
                                     result.Get(), nullptr, nullptr);
        }
    } else if (op == "delete") {
        hr = external_->DeleteMemberByName(bstrName.Get(), fdexNameCaseSensitive);
    } else if (op == "has") {
        const bool found =
            SUCCEEDED(external_->GetDispID(bstrName.Get(), fdexNameCaseSensitive, &id));
        return json{{"hr", S_OK}, {"result", found}}.dump();
    } else {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    json reply{{"hr", hr}};
    if (SUCCEEDED(hr)) {
        reply["result"] = VariantToJson(*result.Get());
    }
    return reply.dump();
}

}  // namespace stubframework::platform::posix
