#include "support/MethodCall.h"

#include <utility>

#include "bridge/ExternalMethods.h"

namespace stubtest {

namespace com = stubframework::platform::com;

ScriptValue::ScriptValue(int value) : ScriptValue() {
    value_.vt = VT_I4;
    value_.lVal = value;
}

ScriptValue::ScriptValue(double value) : ScriptValue() {
    value_.vt = VT_R8;
    value_.dblVal = value;
}

ScriptValue::ScriptValue(bool value) : ScriptValue() {
    value_.vt = VT_BOOL;
    value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

ScriptValue::ScriptValue(const char* text) : ScriptValue(std::string(text)) {}

ScriptValue::ScriptValue(const std::string& text) : ScriptValue() {
    value_.vt = VT_BSTR;
    value_.bstrVal = com::AllocString(text);
}

ScriptValue::ScriptValue(IDispatch* function) : ScriptValue() {
    value_.vt = VT_DISPATCH;
    value_.pdispVal = function;
    if (function != nullptr) {
        function->AddRef();
    }
}

ScriptValue ScriptValue::Null() {
    ScriptValue value;
    value.value_.vt = VT_NULL;
    return value;
}

ScriptValue ScriptValue::Empty() {
    return ScriptValue();
}

ScriptValue::ScriptValue(const ScriptValue& other) : ScriptValue() {
    VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));  // Windows' own takes no const
}

ScriptValue& ScriptValue::operator=(const ScriptValue& other) {
    if (this != &other) {
        VariantClear(&value_);
        VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));  // Windows' own takes no const
    }
    return *this;
}

ScriptValue::~ScriptValue() {
    VariantClear(&value_);
}

ScriptArguments::ScriptArguments(std::initializer_list<ScriptValue> scriptOrder)
    : values_(scriptOrder.begin(), scriptOrder.end()) {}

DISPPARAMS* ScriptArguments::Params() {
    // Shallow copies: the values keep ownership.
    layout_.assign(values_.size(), VARIANT{});
    for (std::size_t i = 0; i < values_.size(); ++i) {
        layout_[values_.size() - 1 - i] = values_[i].Get();
    }
    params_ = {layout_.data(), nullptr, static_cast<UINT>(layout_.size()), 0};
    return &params_;
}

CallResult::CallResult() {
    VariantInit(&value);
}

CallResult::CallResult(CallResult&& other) noexcept
    : hr(other.hr), value(other.value), log(std::move(other.log)) {
    VariantInit(&other.value);
}

CallResult::~CallResult() {
    VariantClear(&value);
}

std::string CallResult::Text() const {
    return value.vt == VT_BSTR ? com::ToUtf8(value.bstrVal) : std::string();
}

bool CallResult::Bool() const {
    return value.vt == VT_BOOL && value.boolVal == VARIANT_TRUE;
}

LONG CallResult::Int() const {
    return value.vt == VT_I4 ? value.lVal : 0;
}

ULONG CallResult::UInt() const {
    return value.vt == VT_UI4 ? value.ulVal : 0;
}

CallResult CallMethod(BridgeFixture& bridge, const std::string& name,
                      std::initializer_list<ScriptValue> arguments, std::optional<WORD> flags) {
    CallResult call;
    const std::size_t logBefore = bridge.LogText().size();
    const stubframework::platform::com::Bstr wide(name);
    LPOLESTR names[] = {wide.Get()};
    DISPID id = DISPID_UNKNOWN;
    call.hr = bridge.Dispatch().GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (SUCCEEDED(call.hr)) {
        const auto& methods = bridge.Methods().Methods();
        const auto row = methods.find(name);
        const WORD scriptFlags =
            flags.value_or(row != methods.end() ? stubframework::ScriptFlags(row->second.signature)
                                                : static_cast<WORD>(DISPATCH_METHOD));
        ScriptArguments script(arguments);
        call.hr = bridge.Dispatch().Invoke(id, IID_NULL, 0, scriptFlags, script.Params(),
                                           &call.value, nullptr, nullptr);
    }
    const std::string log = bridge.LogText();
    call.log = log.size() > logBefore ? log.substr(logBefore) : std::string();
    return call;
}

}  // namespace stubtest
