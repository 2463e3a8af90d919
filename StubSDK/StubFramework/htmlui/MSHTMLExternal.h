// The COM side of the object the page sees as window.external: an
// IDispatchEx whose fixed members are the rows of a method table and whose
// dynamic members are the properties a page adds to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

namespace stubframework::htmlui {

using WindowHandle = void*;

// Runs row `row` of the table whose owner is `owner`.
using Trampoline = HRESULT (*)(void* owner, std::uint32_t row, WORD flags, DISPPARAMS* params,
                               VARIANT* result);

// One row of the dispatch table: the name and the function that runs it.
struct MethodEntry {
    const char* name;
    Trampoline trampoline;
};

struct MethodTableView {
    const MethodEntry* rows = nullptr;
    std::uint32_t count = 0;
    void* owner = nullptr;  // handed to every trampoline
};

inline constexpr DISPID kDynamicFlag = static_cast<DISPID>(0x80000000u);
inline constexpr VARTYPE kDeletedMember = 0xFFFF;
inline constexpr std::size_t kDynamicGrowth = 32;

class MSHTMLExternal : public IDispatchEx {
public:
    MSHTMLExternal();
    MSHTMLExternal(const MSHTMLExternal&) = delete;
    MSHTMLExternal& operator=(const MSHTMLExternal&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;
    // IDispatchEx
    HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) override;
    HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* exception,
                                       IServiceProvider* caller) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR name, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID id) override;
    HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID id, DWORD fetch,
                                                  DWORD* properties) override;
    HRESULT STDMETHODCALLTYPE GetMemberName(DISPID id, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD flags, DISPID id, DISPID* next) override;
    HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override;

    virtual void SetHostWindow(WindowHandle window);
    virtual void FitInitialWindow() = 0;
    virtual MethodTableView GetMethodTable() = 0;

    WindowHandle HostWindow() const { return window_; }
    // Rows the dynamic-member array has room for (it grows 32 at a time).
    std::size_t DynamicCapacity() const { return members_.capacity(); }

protected:
    virtual ~MSHTMLExternal();

private:
    struct DynamicMember {
        std::string name;
        VARIANT value;
    };

    // Row of `name` in the dispatch table, or -1.
    std::int64_t FindMethod(const std::string& name, bool caseInsensitive);
    std::int64_t FindMember(const std::string& name, bool caseInsensitive) const;
    HRESULT InvokeMember(DynamicMember& member, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, IServiceProvider* caller);

    std::atomic<ULONG> references_{1};  // download callbacks hold the host from other threads
    std::vector<DynamicMember> members_;
    WindowHandle window_ = nullptr;
};

}  // namespace stubframework::htmlui
