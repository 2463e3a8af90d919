#include "htmlui/MSHTMLExternal.h"

#include "platform/unicode.h"

namespace stubframework::htmlui {
namespace {

std::string NameText(const OLECHAR* name) {
    if (name == nullptr) {
        return {};
    }
    // OLECHAR is wchar_t on Windows: the same 16-bit units.
    const std::u16string_view text(reinterpret_cast<const char16_t*>(name));
    return platform::Utf16ToUtf8(text);
}

bool SameName(const std::string& a, const std::string& b, bool caseInsensitive) {
    return caseInsensitive ? platform::FoldCase(a) == platform::FoldCase(b) : a == b;
}

}  // namespace

MSHTMLExternal::MSHTMLExternal() = default;

MSHTMLExternal::~MSHTMLExternal() {
    for (DynamicMember& member : members_) {
        if (member.value.vt != kDeletedMember) {
            VariantClear(&member.value);
        }
    }
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IDispatchEx) {
        *object = static_cast<IDispatchEx*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// Interlocked, as COM counts are: the download driver holds the host from its threads.
ULONG STDMETHODCALLTYPE MSHTMLExternal::AddRef() {
    return ++references_;
}

ULONG STDMETHODCALLTYPE MSHTMLExternal::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetTypeInfoCount(UINT* /*count*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetTypeInfo(UINT /*index*/, LCID /*locale*/,
                                                      ITypeInfo** /*info*/) {
    return E_NOTIMPL;
}

std::int64_t MSHTMLExternal::FindMethod(const std::string& name, bool caseInsensitive) {
    const MethodTableView table = GetMethodTable();
    for (std::uint32_t row = 0; row < table.count; ++row) {
        if (SameName(table.rows[row].name, name, caseInsensitive)) {
            return row;
        }
    }
    return -1;
}

std::int64_t MSHTMLExternal::FindMember(const std::string& name, bool caseInsensitive) const {
    for (std::size_t index = 0; index < members_.size(); ++index) {
        if (SameName(members_[index].name, name, caseInsensitive)) {
            return static_cast<std::int64_t>(index);
        }
    }
    return -1;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* names,
                                                        UINT count, LCID /*locale*/, DISPID* ids) {
    if (count > 0 && (names == nullptr || ids == nullptr)) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        const std::int64_t row = FindMethod(NameText(names[i]), false);
        ids[i] = row >= 0 ? static_cast<DISPID>(row + 1) : DISPID_UNKNOWN;
        if (row < 0) {
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::Invoke(DISPID id, REFIID riid, LCID /*locale*/,
                                                 WORD flags, DISPPARAMS* params, VARIANT* result,
                                                 EXCEPINFO* /*exception*/,
                                                 UINT* /*argumentError*/) {
    if (!(riid == IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    const MethodTableView table = GetMethodTable();
    const auto row = static_cast<std::uint32_t>(id) - 1u;
    if (row >= table.count) {
        return DISP_E_MEMBERNOTFOUND;
    }
    return table.rows[row].trampoline(table.owner, row, flags, params, result);
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetDispID(BSTR name, DWORD flags, DISPID* id) {
    if (id == nullptr) {
        return E_POINTER;
    }
    const std::string text = platform::com::ToUtf8(name);
    const bool caseInsensitive = (flags & fdexNameCaseInsensitive) != 0;
    if (const std::int64_t row = FindMethod(text, caseInsensitive); row >= 0) {
        *id = static_cast<DISPID>(row + 1);
        return S_OK;
    }
    const bool ensure = (flags & fdexNameEnsure) != 0;
    if ((flags & fdexNameNoDynamicProperties) == 0) {
        if (const std::int64_t index = FindMember(text, caseInsensitive); index >= 0) {
            DynamicMember& member = members_[static_cast<std::size_t>(index)];
            if (member.value.vt == kDeletedMember) {
                if (!ensure) {
                    *id = DISPID_UNKNOWN;
                    return DISP_E_UNKNOWNNAME;
                }
                VariantInit(&member.value);
            }
            *id = kDynamicFlag | static_cast<DISPID>(index);
            return S_OK;
        }
    }
    if (!ensure) {
        *id = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    try {
        if (members_.size() % kDynamicGrowth == 0) {
            members_.reserve(members_.size() + kDynamicGrowth);
        }
        members_.push_back(DynamicMember{text, {}});
    } catch (const std::bad_alloc&) {
        *id = DISPID_UNKNOWN;
        return E_OUTOFMEMORY;
    }
    VariantInit(&members_.back().value);
    *id = kDynamicFlag | static_cast<DISPID>(members_.size() - 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::InvokeEx(DISPID id, LCID locale, WORD flags,
                                                   DISPPARAMS* params, VARIANT* result,
                                                   EXCEPINFO* exception, IServiceProvider* caller) {
    if (id >= 0) {
        return Invoke(id, IID_NULL, locale, flags, params, result, exception, nullptr);
    }
    const auto index = static_cast<std::uint32_t>(id) & 0x7FFFFFFFu;
    if (index >= members_.size() || members_[index].value.vt == kDeletedMember) {
        return DISP_E_UNKNOWNNAME;
    }
    return InvokeMember(members_[index], flags, params, result, exception, caller);
}

HRESULT MSHTMLExternal::InvokeMember(DynamicMember& member, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     IServiceProvider* caller) {
    const UINT arguments = params != nullptr ? params->cArgs : 0;
    const UINT named = params != nullptr ? params->cNamedArgs : 0;
    switch (flags) {
        case DISPATCH_PROPERTYGET:
            if (arguments != 0 || named != 0) {
                return DISP_E_BADPARAMCOUNT;
            }
            return result != nullptr ? VariantCopy(result, &member.value) : S_OK;
        case DISPATCH_PROPERTYPUT:
        case DISPATCH_PROPERTYPUTREF:
            if (arguments != 1) {
                return DISP_E_BADPARAMCOUNT;
            }
            if (named != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                return DISP_E_PARAMNOTFOUND;
            }
            return VariantCopy(&member.value, &params->rgvarg[0]);
        case DISPATCH_METHOD: {
            if (member.value.vt != VT_DISPATCH || member.value.pdispVal == nullptr) {
                return S_OK;
            }
            // Hold it: the call may replace the member that keeps it.
            const auto target = platform::com::Ptr<IDispatch>::Share(member.value.pdispVal);
            IDispatchEx* extended = nullptr;
            if (SUCCEEDED(
                    target->QueryInterface(IID_IDispatchEx, reinterpret_cast<void**>(&extended)))) {
                const auto held = platform::com::Ptr<IDispatchEx>::Attach(extended);
                return held->InvokeEx(DISPID_VALUE, 0, flags, params, result, exception, caller);
            }
            return target->Invoke(DISPID_VALUE, IID_NULL, 0, flags, params, result, exception,
                                  nullptr);
        }
        default:
            return E_NOTIMPL;
    }
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::DeleteMemberByName(BSTR name, DWORD flags) {
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = GetDispID(name, flags, &id);
    return FAILED(hr) ? hr : DeleteMemberByDispID(id);
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::DeleteMemberByDispID(DISPID id) {
    if (id >= 0) {
        return S_FALSE;  // methods stay
    }
    const auto index = static_cast<std::uint32_t>(id) & 0x7FFFFFFFu;
    if (index >= members_.size()) {
        return DISP_E_UNKNOWNNAME;
    }
    VARIANT& value = members_[index].value;
    if (value.vt != kDeletedMember) {
        VariantClear(&value);
        value.vt = kDeletedMember;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetMemberProperties(DISPID /*id*/, DWORD /*fetch*/,
                                                              DWORD* /*props*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetMemberName(DISPID /*id*/, BSTR* /*name*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetNextDispID(DWORD /*flags*/, DISPID /*id*/,
                                                        DISPID* /*next*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MSHTMLExternal::GetNameSpaceParent(IUnknown** /*parent*/) {
    return E_NOTIMPL;
}

void MSHTMLExternal::SetHostWindow(WindowHandle window) {
    window_ = window;
}

}  // namespace stubframework::htmlui
