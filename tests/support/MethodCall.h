// Calls window.external's methods the way a page does, for tests: by name,
// with arguments typed the way a script engine types them, reading back the
// HRESULT, the result and the lines the call wrote to the log.
//   const auto call = stubtest::CallMethod(bridge, "getProperty", {"lang"});
//   EXPECT_EQ(call.hr, S_OK);
//   EXPECT_EQ(call.Text(), "en");
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "support/BridgeFixture.h"

namespace stubtest {

// One script argument: an integral number is VT_I4, another number VT_R8, a
// string VT_BSTR, a boolean VT_BOOL, a function (callback) VT_DISPATCH.
// Implicit, so calls read like the script's: {"name", 5, true}.
class ScriptValue {
public:
    ScriptValue(int value);
    ScriptValue(double value);
    ScriptValue(bool value);
    ScriptValue(const char* text);
    ScriptValue(const std::string& text);
    ScriptValue(IDispatch* function);
    static ScriptValue Null();
    static ScriptValue Empty();
    ScriptValue(const ScriptValue& other);
    ScriptValue& operator=(const ScriptValue& other);
    ~ScriptValue();

    const VARIANT& Get() const { return value_; }

private:
    ScriptValue() { VariantInit(&value_); }
    VARIANT value_;
};

// Arguments in script order, laid out as DISPPARAMS carry them (last first).
class ScriptArguments {
public:
    ScriptArguments(std::initializer_list<ScriptValue> scriptOrder);
    DISPPARAMS* Params();

private:
    std::vector<ScriptValue> values_;
    std::vector<VARIANT> layout_;
    DISPPARAMS params_{};
};

struct CallResult {
    HRESULT hr = S_OK;
    VARIANT value{};  // VT_EMPTY when the method wrote no result
    std::string log;  // what the call added to the log

    CallResult();
    CallResult(CallResult&& other) noexcept;
    CallResult& operator=(CallResult&&) = delete;
    CallResult(const CallResult&) = delete;
    ~CallResult();

    // The result as the page would read it; "", false or 0 for another type.
    std::string Text() const;
    bool Bool() const;
    LONG Int() const;
    ULONG UInt() const;
};

// Calls `name` on the bridge's window.external with the flags its row tells
// a typed script engine to pass, or with `flags`.
CallResult CallMethod(BridgeFixture& bridge, const std::string& name,
                      std::initializer_list<ScriptValue> arguments,
                      std::optional<WORD> flags = std::nullopt);

}  // namespace stubtest
