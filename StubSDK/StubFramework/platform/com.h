// The part of COM automation the script bridge uses. Windows has it in its
// own headers; elsewhere this header declares the same names with the same
// values and layouts, and platform/posix/Com.cpp implements BSTRs, VARIANTs
// and the cross-thread marshalling of a single-threaded apartment.
#pragma once

#include <string>
#include <string_view>

#include <cstdint>

// An HRESULT from its documented unsigned spelling (0x80004005).
constexpr std::int32_t MakeHResult(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

#ifdef _WIN32
#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <dispex.h>
#include <oleauto.h>
#else
// The calling convention of COM methods: __stdcall on 32-bit Windows.
#define STDMETHODCALLTYPE

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using UINT = unsigned int;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;
bool operator==(const GUID& a, const GUID& b);

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_PENDING = MakeHResult(0x8000000A);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeHResult(0x80030057);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
inline constexpr HRESULT RPC_E_WRONG_THREAD = MakeHResult(0x8001010E);

inline constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
    VT_BYREF = 0x4000,
};

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr DWORD fdexNameCaseSensitive = 0x1;
inline constexpr DWORD fdexNameEnsure = 0x2;
inline constexpr DWORD fdexNameImplicit = 0x4;
inline constexpr DWORD fdexNameCaseInsensitive = 0x8;
inline constexpr DWORD fdexNameInternal = 0x10;
inline constexpr DWORD fdexNameNoDynamicProperties = 0x20;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

struct IDispatch;
struct IUnknown;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        ULONG ulVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        std::int64_t llVal;
    };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO;
struct ITypeInfo;
struct IServiceProvider;

// Interfaces have no virtual destructor: objects go away through Release.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;

protected:
    ~IDispatch() = default;
};

struct IDispatchEx : IDispatch {
    virtual HRESULT GetDispID(BSTR name, DWORD flags, DISPID* id) = 0;
    virtual HRESULT InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* exception, IServiceProvider* caller) = 0;
    virtual HRESULT DeleteMemberByName(BSTR name, DWORD flags) = 0;
    virtual HRESULT DeleteMemberByDispID(DISPID id) = 0;
    virtual HRESULT GetMemberProperties(DISPID id, DWORD fetch, DWORD* properties) = 0;
    virtual HRESULT GetMemberName(DISPID id, BSTR* name) = 0;
    virtual HRESULT GetNextDispID(DWORD flags, DISPID id, DISPID* next) = 0;
    virtual HRESULT GetNameSpaceParent(IUnknown** parent) = 0;

protected:
    ~IDispatchEx() = default;
};

// A marshalled interface on its way to another thread.
struct IStream : IUnknown {
protected:
    ~IStream() = default;
};

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IDispatchEx;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

void VariantInit(VARIANT* variant);
HRESULT VariantClear(VARIANT* variant);
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);

HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

// Marshalling between apartments. An interface marshalled on the window
// thread comes out on any other thread as a proxy whose every call runs on
// the window thread while the caller waits, as a single-threaded apartment
// delivers it. Once the window thread has closed, proxy calls fail with
// RPC_E_DISCONNECTED instead of waiting.
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* object, IStream** stream);
HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** object);
#endif

namespace stubframework::platform::com {

// A new BSTR holding the text; the caller owns it.
BSTR AllocString(std::string_view utf8);
// The text of a BSTR (null reads as empty).
std::string ToUtf8(BSTR text);

// Owns one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8) : value_(AllocString(utf8)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return value_; }
    // Gives up ownership, e.g. to a result VARIANT.
    BSTR Detach() {
        BSTR value = value_;
        value_ = nullptr;
        return value;
    }

private:
    BSTR value_ = nullptr;
};

// Owns one VARIANT.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Get() { return &value_; }
    const VARIANT* Get() const { return &value_; }

private:
    VARIANT value_;
};

}  // namespace stubframework::platform::com

namespace stubframework::platform::com {

// Holds one reference on a reference-counted object (COM objects, and the
// download engine's tasks and callbacks).
template <class T>
class Ptr {
public:
    Ptr() = default;
    // Takes over a reference the caller already owns.
    static Ptr Attach(T* object) {
        Ptr ptr;
        ptr.object_ = object;
        return ptr;
    }
    // Adds a reference of its own.
    static Ptr Share(T* object) {
        if (object != nullptr) {
            object->AddRef();
        }
        return Attach(object);
    }
    ~Ptr() { Reset(); }
    Ptr(Ptr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    Ptr& operator=(Ptr&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T* Detach() {
        T* object = object_;
        object_ = nullptr;
        return object;
    }
    // Empties the holder before the reference goes: the release may run code
    // that looks at this holder again.
    void Reset() {
        if (T* const object = object_) {
            object_ = nullptr;
            object->Release();
        }
    }

private:
    T* object_ = nullptr;
};

}  // namespace stubframework::platform::com
