#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

using stubframework::platform::com::Bstr;
using stubframework::platform::com::Variant;

using Arguments = stubtest::ScriptArguments;

VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

class DispatchTest : public ::testing::Test {
protected:
    DISPID IdOf(const std::string& name, HRESULT* hr = nullptr) {
        const Bstr wide(name);
        LPOLESTR names[] = {wide.Get()};
        DISPID id = 0;
        const HRESULT result = dispatch_.GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        if (hr != nullptr) {
            *hr = result;
        }
        return id;
    }

    HRESULT Call(const std::string& name, WORD flags, Arguments& arguments, VARIANT* result) {
        return dispatch_.Invoke(IdOf(name), IID_NULL, 0, flags, arguments.Params(), result, nullptr,
                                nullptr);
    }

    DISPID DispId(const std::string& name, DWORD flags, HRESULT* hr) {
        const Bstr text(name);
        DISPID id = 0;
        *hr = dispatch_.GetDispID(text.Get(), flags, &id);
        return id;
    }

    stubtest::BridgeFixture bridge_;
    stubframework::core::HtmlExternal& dispatch_ = bridge_.Dispatch();
};

TEST_F(DispatchTest, DispIdsFollowTheCodeUnitOrderOfAllRegisteredNames) {
    const auto& methods = bridge_.Methods().Methods();
    EXPECT_EQ(methods.size(), 65u + 9u);
    DISPID expected = 1;
    for (const auto& [name, handler] : methods) {
        EXPECT_EQ(IdOf(name), expected++) << name;
    }
    EXPECT_EQ(IdOf("cancelVerifyThread"), 1);
    // Upper-case letters sort before lower-case ones.
    EXPECT_LT(IdOf("getOSVersion"), IdOf("getOfficeVersion"));
    EXPECT_EQ(IdOf("getSystemFolderEx"), IdOf("getSystemFolder") + 1);

    HRESULT hr = S_OK;
    EXPECT_EQ(IdOf("GetProperty", &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);

    // Several names at once: the unknown one fails, the others still resolve.
    const Bstr a("setProperty"), b("nope"), c("getProperty");
    LPOLESTR names[] = {a.Get(), b.Get(), c.Get()};
    DISPID ids[3] = {};
    EXPECT_EQ(dispatch_.GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], IdOf("setProperty"));
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(ids[2], IdOf("getProperty"));
}

TEST_F(DispatchTest, InvokeRefusesIdsOutsideTheTableAndForeignInterfaces) {
    Arguments none({});
    const auto count = static_cast<DISPID>(bridge_.Methods().Methods().size());
    for (const DISPID id : std::initializer_list<DISPID>{0, -1, -5, count + 1}) {
        EXPECT_EQ(dispatch_.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, none.Params(), nullptr,
                                   nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
    }
    EXPECT_EQ(dispatch_.Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, none.Params(), nullptr,
                               nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    void* object = nullptr;
    EXPECT_EQ(dispatch_.QueryInterface(IID_IDispatchEx, &object), S_OK);
    static_cast<IDispatchEx*>(object)->Release();
    GUID other = IID_IDispatch;
    other.Data1 = 0x1234;
    EXPECT_EQ(dispatch_.QueryInterface(other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(DispatchTest, PreambleChecksFlagsCountAndTypesBeforeRunning) {
    Arguments property({"name1", "value1"});
    // setProperty is a plain call (1): flags 3 must not run it.
    EXPECT_EQ(Call("setProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, property, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bridge_.Framework().Core().Properties().Snapshot().count("name1"), 0u);
    EXPECT_EQ(Call("setProperty", DISPATCH_METHOD, property, nullptr), S_OK);
    EXPECT_EQ(bridge_.Framework().Core().Properties().Get("name1"), "value1");

    Arguments one({"x"});
    EXPECT_EQ(Call("setProperty", DISPATCH_METHOD, one, nullptr), DISP_E_BADPARAMCOUNT);

    Arguments fractional({646.5, 506});
    EXPECT_EQ(Call("setWindowSize", DISPATCH_METHOD, fractional, nullptr), DISP_E_TYPEMISMATCH);
    // Position 1 in DISPPARAMS order is the first script argument.
    EXPECT_NE(bridge_.LogText().find(
                  "CheckParamTypes -- DISP_E_TYPEMISMATCH, param 1, received type 5, expected "
                  "type 3"),
              std::string::npos);
    Arguments whole({646, 506});
    EXPECT_EQ(Call("setWindowSize", DISPATCH_METHOD, whole, nullptr), S_OK);

    // "any": no checks at all, and a result only where one is wanted.
    Arguments extra({1});
    EXPECT_EQ(Call("getSystemFolderEx", DISPATCH_PROPERTYGET, extra, nullptr), S_OK);
}

TEST_F(DispatchTest, PropertiesRoundTripThroughTheScriptMethods) {
    Arguments set({"Config_Status", "5"});
    ASSERT_EQ(Call("setProperty", DISPATCH_METHOD, set, nullptr), S_OK);
    EXPECT_NE(bridge_.LogText().find("DEBUG] EMSetProperty\r\n"), std::string::npos);
    EXPECT_NE(bridge_.LogText().find("DEBUG] EMSetProperty 5, Config_Status\r\n"),
              std::string::npos);

    Variant result;
    Arguments get({"Config_Status"});
    ASSERT_EQ(Call("getProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, get, result.Get()), S_OK);
    ASSERT_EQ(result.Get()->vt, VT_BSTR);
    EXPECT_EQ(stubframework::platform::com::ToUtf8(result.Get()->bstrVal), "5");

    Variant missing;
    Arguments never({"neverSet"});
    ASSERT_EQ(Call("getProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, never, missing.Get()),
              S_OK);
    EXPECT_EQ(stubframework::platform::com::ToUtf8(missing.Get()->bstrVal), "");
    // No result wanted: nothing written.
    EXPECT_EQ(Call("getProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, get, nullptr), S_OK);

    EXPECT_EQ(bridge_.Framework().Core().Properties().Get("downloadTotal"), "1");
    EXPECT_EQ(bridge_.Framework().Core().Properties().Get("installCurrent"), "0");
}

TEST_F(DispatchTest, GetDispIdFindsMethodsWithOrWithoutCase) {
    HRESULT hr = S_OK;
    EXPECT_EQ(DispId("getproperty", fdexNameCaseInsensitive, &hr), IdOf("getProperty"));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(DispId("getproperty", 0, &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTest, DynamicMembersLiveDieAndComeBackUnderTheSameId) {
    HRESULT hr = S_OK;
    const DISPID id = DispId("foo", fdexNameEnsure, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(static_cast<std::uint32_t>(id), 0x80000000u);

    VARIANT five = Int(5);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS put{&five, &putId, 1, 1};
    ASSERT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
              S_OK);
    DISPPARAMS unnamed{&five, nullptr, 1, 0};
    EXPECT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant value;
    ASSERT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, value.Get(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(value.Get()->vt, VT_I4);
    EXPECT_EQ(value.Get()->lVal, 5);
    EXPECT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_PROPERTYGET, &put, value.Get(), nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(dispatch_.InvokeEx(id, 0, 3, &none, nullptr, nullptr, nullptr), E_NOTIMPL);

    const Bstr name("foo");
    ASSERT_EQ(dispatch_.DeleteMemberByName(name.Get(), 0), S_OK);
    EXPECT_EQ(DispId("foo", 0, &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(DispId("foo", fdexNameEnsure, &hr), id);
    ASSERT_EQ(dispatch_.InvokeEx(id, 0, DISPATCH_PROPERTYGET, &none, value.Get(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(value.Get()->vt, VT_EMPTY);

    EXPECT_EQ(dispatch_.DeleteMemberByDispID(IdOf("getProperty")), S_FALSE);
    EXPECT_EQ(dispatch_.InvokeEx(static_cast<DISPID>(0x80000005u), 0, DISPATCH_PROPERTYGET, &none,
                                 value.Get(), nullptr, nullptr),
              DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTest, DynamicMembersGrowThirtyTwoRowsAtATime) {
    HRESULT hr = S_OK;
    EXPECT_EQ(dispatch_.DynamicCapacity(), 0u);
    for (int i = 0; i < 32; ++i) {
        DispId("member" + std::to_string(i), fdexNameEnsure, &hr);
    }
    EXPECT_EQ(dispatch_.DynamicCapacity(), 32u);
    DispId("member32", fdexNameEnsure, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(dispatch_.DynamicCapacity(), 64u);
    // Lookups are case-insensitive only when asked.
    EXPECT_EQ(DispId("MEMBER3", fdexNameCaseInsensitive, &hr), static_cast<DISPID>(0x80000003u));
}

}  // namespace

namespace {

// The table's log-first names are written before any check, so even a call
// the checks refuse leaves them; the others log only once the call passed.
TEST(MethodTableTest, LogFirstNamesComeBeforeTheChecks) {
    stubtest::BridgeFixture bridge;
    constexpr WORD kWrongFlags = DISPATCH_PROPERTYGET;
    for (const auto& [method, logName] : std::vector<std::pair<std::string, std::string>>{
             {"install", "EMInstall"},
             {"stopDownload", "EMStopDownload"},
             {"initDownloadSize", "EMInitDownloadSize"},
             {"getLastInstallError", "EMGetLastInstallError"},
             {"minimizedWindow", "EMMinimizedWindow"},
             {"trackingByAnalyticsSDK", "EMTrackingByAnalyticsSDK"},
             {"setTrackingProperty", "EMSetTrackingProperty"},
             {"closeWindow", "ZSClose"},
             {"runApplication", "EMRunApplication"}}) {
        const stubtest::CallResult call = stubtest::CallMethod(bridge, method, {}, kWrongFlags);
        EXPECT_EQ(call.hr, DISP_E_MEMBERNOTFOUND) << method;
        EXPECT_NE(call.log.find("DEBUG] " + logName + "\r\n"), std::string::npos) << method;
    }
    const stubtest::CallResult hidden = stubtest::CallMethod(bridge, "hideWindow", {}, kWrongFlags);
    EXPECT_EQ(hidden.hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(hidden.log, "");
}

}  // namespace
