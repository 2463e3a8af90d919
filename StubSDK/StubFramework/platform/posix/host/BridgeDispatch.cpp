#include "platform/posix/host/BridgeDispatch.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/unicode.h"

namespace stubframework::platform::posix {

using nlohmann::json;

namespace {
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
            hub_->Push(session_, id_, false, json{{"type", "release"}, {"id", id_}}.dump());
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
        // callback(Running, total, current): a progress report, which a
        // newer one may replace while the page does not listen.
        const bool progress = arguments.size() == 3 && arguments[0].is_number_integer() &&
                              arguments[0].get<std::int64_t>() == 10;
        hub_->Push(session_, id_, progress,
                   json{{"type", "call"}, {"id", id_}, {"args", arguments}}.dump());
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

}  // namespace

// Runs on the window thread: one request of the page against window.external.
namespace {

std::string DispatchChecked(const std::string& body, IDispatchEx& external,
                            window::HostEvents& events, const std::shared_ptr<EventHub>& hub,
                            bool& badRequest) {
    // A deep text would be copied and freed by recursion: refused unread.
    if (!NestingWithin(body, kMaxNesting)) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    const json message = json::parse(body, nullptr, false);
    if (!message.is_object() || !message.contains("op") || !message["op"].is_string() ||
        !message.contains("session") || !message["session"].is_number_unsigned() ||
        message["session"].get<std::uint64_t>() > 0xFFFFFFFFu ||
        !hub->Issued(message["session"].get<unsigned>())) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    const std::string& op = message["op"].get_ref<const std::string&>();
    const auto session = message["session"].get<unsigned>();
    if (op == "documentComplete") {
        events.OnDocumentComplete();
        return json{{"hr", S_OK}}.dump();
    }
    if (op == "connect") {
        hub->Connect(session);
        return json{{"hr", S_OK}}.dump();
    }
    if (op == "taken") {
        hub->Taken(session);
        return json{{"hr", S_OK}}.dump();
    }
    if (!message.contains("name") || !message["name"].is_string()) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    const std::string& name = message["name"].get_ref<const std::string&>();
    com::Bstr bstrName(name);
    CallArguments arguments;
    static const json kNoArguments = json::array();
    const auto args = message.find("args");
    if (!arguments.Load(args != message.end() ? *args : kNoArguments, hub, session)) {
        badRequest = true;
        return json{{"hr", E_INVALIDARG}}.dump();
    }
    com::Variant result;
    HRESULT hr = E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    if (op == "call") {
        const json& flagsField = message.contains("flags") ? message["flags"] : json();
        const WORD flags = flagsField.is_number_unsigned()
                               ? static_cast<WORD>(flagsField.get<unsigned>())
                               : DISPATCH_METHOD;
        std::u16string wide = Utf8ToUtf16(name);
        LPOLESTR names[] = {wide.data()};
        hr = external.GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        if (SUCCEEDED(hr)) {
            hr = external.Invoke(id, IID_NULL, 0, flags, arguments.Params(), result.Get(), nullptr,
                                 nullptr);
        }
    } else if (op == "get") {
        hr = external.GetDispID(bstrName.Get(), fdexNameCaseSensitive, &id);
        if (SUCCEEDED(hr)) {
            hr = external.InvokeEx(id, 0, DISPATCH_PROPERTYGET, arguments.Params(), result.Get(),
                                   nullptr, nullptr);
        }
    } else if (op == "set") {
        hr = external.GetDispID(bstrName.Get(), fdexNameCaseSensitive | fdexNameEnsure, &id);
        DISPID named = DISPID_PROPERTYPUT;
        if (SUCCEEDED(hr)) {
            hr = external.InvokeEx(id, 0, DISPATCH_PROPERTYPUT, arguments.Params(&named),
                                   result.Get(), nullptr, nullptr);
        }
    } else if (op == "delete") {
        hr = external.DeleteMemberByName(bstrName.Get(), fdexNameCaseSensitive);
    } else if (op == "has") {
        const bool found =
            SUCCEEDED(external.GetDispID(bstrName.Get(), fdexNameCaseSensitive, &id));
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

}  // namespace

bool NestingWithin(std::string_view text, int depth) {
    int level = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++level > depth) {
                return false;
            }
        } else if ((c == ']' || c == '}') && level > 0) {
            --level;  // a stray close never buys depth for what follows
        }
    }
    return true;
}

std::string DispatchBridgeMessage(const std::string& body, IDispatchEx& external,
                                  window::HostEvents& events, const std::shared_ptr<EventHub>& hub,
                                  bool& badRequest) {
    // Whatever the page sends, it gets an answer and the window thread goes on.
    try {
        return DispatchChecked(body, external, events, hub, badRequest);
    } catch (...) {
        badRequest = true;
        return json{{"hr", E_UNEXPECTED}}.dump();
    }
}

}  // namespace stubframework::platform::posix
