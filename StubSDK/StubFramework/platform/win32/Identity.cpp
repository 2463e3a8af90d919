// Machine facts from WMI (ROOT\CIMV2), permanent adapter addresses from the
// adapter's NDIS driver, and machine-bound protection through DPAPI with the
// machine's key, so that any user of the machine opens what another wrote.
#include "platform/identity.h"

#include "platform/unicode.h"
#include "platform/win32/Win32.h"
// After windows.h.
#include <dpapi.h>
#include <winioctl.h>
// After winioctl.h.
#include <ntddndis.h>
#include <oleauto.h>
#include <setupapi.h>
#include <wbemcli.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <utility>

namespace stubframework::platform::identity {
namespace {

// The interface class NDIS registers for every LAN adapter; its device
// paths take the statistics queries.
constexpr GUID kNdisLanClass = {
    0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};
// The Configuration Manager's problem code of a device switched off.
constexpr LONG kProblemDisabled = 22;

template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* operator->() const { return pointer_; }
    Interface* Get() const { return pointer_; }
    Interface** Out() { return &pointer_; }

private:
    Interface* pointer_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Out() { return &value_; }

    std::optional<std::string> Text() const {
        if (value_.vt != VT_BSTR || value_.bstrVal == nullptr) {
            return std::nullopt;
        }
        return Utf16ToUtf8(reinterpret_cast<const char16_t*>(value_.bstrVal));
    }
    // CIM's uint32 arrives as VT_I4.
    std::optional<std::uint32_t> Number() const {
        if (value_.vt == VT_I4) {
            return static_cast<std::uint32_t>(value_.lVal);
        }
        if (value_.vt == VT_UI4) {
            return value_.ulVal;
        }
        return std::nullopt;
    }

private:
    VARIANT value_;
};

// COM for the length of one query, in whatever apartment the thread has.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// One WQL query; `each` sees the objects in turn and returns false to stop.
template <typename Each>
bool QueryWmi(const wchar_t* query, Each&& each) {
    const ComScope com;
    if (!com.Usable()) {
        return false;
    }
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    ComPtr<IEnumWbemClassObject> results;
    const Bstr space(L"ROOT\\CIMV2");
    const Bstr language(L"WQL");
    const Bstr text(query);
    if (FAILED(CoCreateInstance(__uuidof(WbemLocator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IWbemLocator), reinterpret_cast<void**>(locator.Out()))) ||
        FAILED(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.Out())) ||
        FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 EOAC_NONE)) ||
        FAILED(services->ExecQuery(language.Get(), text.Get(),
                                   WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   results.Out()))) {
        return false;
    }
    while (true) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        if (results->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Out(), &returned) != S_OK ||
            returned == 0 || !each(*object.Get())) {
            return true;
        }
    }
}

std::optional<std::string> TextProperty(IWbemClassObject& object, const wchar_t* name) {
    Variant value;
    object.Get(name, 0, value.Out(), nullptr, nullptr);
    return value.Text();
}

std::optional<std::uint32_t> NumberProperty(IWbemClassObject& object, const wchar_t* name) {
    Variant value;
    object.Get(name, 0, value.Out(), nullptr, nullptr);
    return value.Number();
}

// A text property of the first object of a class; nothing when it is not
// text or the query fails.
std::optional<std::string> FirstText(const wchar_t* query, const wchar_t* property) {
    std::optional<std::string> text;
    QueryWmi(query, [&](IWbemClassObject& object) {
        text = TextProperty(object, property);
        return false;
    });
    return text;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Whether `word` starts within the first `positions` characters of `text`.
bool StartsNear(std::string_view text, std::string_view word, std::size_t positions) {
    const std::size_t at = text.find(word);
    return at != std::string_view::npos && at < positions;
}

// Software (ROOT\, SW\ are kept out by the query), Bluetooth and, unless
// kept, USB devices by their instance id; Microsoft's own virtual adapters
// by a description that starts with the maker's name.
bool IsPhysical(const std::string& instanceId, const std::string& description, UsbAdapters usb) {
    const std::string id = Lower(instanceId);
    if (id.empty() || StartsNear(id, "root", 4) || StartsNear(id, "bth", 4) ||
        (usb == UsbAdapters::kSkip && StartsNear(id, "usb", 4))) {
        return false;
    }
    return !StartsNear(description, "microsoft", 8);
}

class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (set_ != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    HDEVINFO Get() const { return set_; }

private:
    HDEVINFO set_;
};

class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// The device path of the adapter's NDIS LAN interface.
std::optional<std::u16string> InterfacePath(const std::string& instanceId) {
    const std::u16string id = Utf8ToUtf16(instanceId);
    const DeviceSet set(SetupDiGetClassDevsW(&kNdisLanClass, reinterpret_cast<PCWSTR>(id.c_str()),
                                             nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (set.Get() == INVALID_HANDLE_VALUE ||
        !SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &kNdisLanClass, 0, &data)) {
        return std::nullopt;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set.Get(), &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return std::nullopt;
    }
    // DWORDs keep the structure aligned.
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &data, detail, size, nullptr, nullptr)) {
        return std::nullopt;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(detail->DevicePath));
}

// OID_802_3_PERMANENT_ADDRESS asks the driver, and needs no access rights.
std::optional<HardwareAddress> PermanentAddress(const std::string& instanceId) {
    const std::optional<std::u16string> path = InterfacePath(instanceId);
    if (!path) {
        return std::nullopt;
    }
    const File device(CreateFileW(reinterpret_cast<LPCWSTR>(path->c_str()), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    if (device.Get() == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    DWORD oid = OID_802_3_PERMANENT_ADDRESS;
    std::uint8_t buffer[8] = {};
    DWORD returned = 0;
    HardwareAddress address{};
    if (!DeviceIoControl(device.Get(), IOCTL_NDIS_QUERY_GLOBAL_STATS, &oid, sizeof oid, buffer,
                         sizeof buffer, &returned, nullptr) ||
        returned != address.size()) {
        return std::nullopt;
    }
    std::memcpy(address.data(), buffer, address.size());
    return address;
}

DATA_BLOB Blob(const void* data, std::size_t size) {
    return {static_cast<DWORD>(size), static_cast<BYTE*>(const_cast<void*>(data))};
}

// No entropy is none at all, not an empty one.
DATA_BLOB* Entropy(DATA_BLOB& blob) {
    return blob.cbData > 0 ? &blob : nullptr;
}

bool FitsDword(std::size_t size) {
    return size <= std::numeric_limits<DWORD>::max();
}

// DPAPI's output is the caller's to free; its plain text is wiped first.
struct LocalBlob {
    DATA_BLOB blob{};
    bool secret = false;
    ~LocalBlob() {
        if (blob.pbData != nullptr) {
            if (secret) {
                SecureZeroMemory(blob.pbData, blob.cbData);
            }
            LocalFree(blob.pbData);
        }
    }
};

}  // namespace

std::optional<std::string> SystemModel() {
    return FirstText(L"SELECT * FROM Win32_ComputerSystem", L"Model");
}

std::optional<std::string> SystemManufacturer() {
    return FirstText(L"SELECT * FROM Win32_ComputerSystem", L"Manufacturer");
}

std::optional<std::string> BoardSerialNumber() {
    return FirstText(L"SELECT * FROM Win32_BaseBoard", L"SerialNumber");
}

std::optional<std::string> SystemSerialNumber() {
    return FirstText(L"SELECT * FROM Win32_BIOS", L"SerialNumber");
}

std::vector<NetworkAdapter> PhysicalNetworkAdapters(UsbAdapters usb) {
    std::vector<NetworkAdapter> adapters;
    QueryWmi(
        L"SELECT * FROM Win32_NetworkAdapter WHERE NOT PNPDeviceID LIKE 'ROOT\\\\%' "
        L"AND NOT PNPDeviceID LIKE 'SW\\\\%' ",
        [&](IWbemClassObject& object) {
            const std::optional<std::uint32_t> index = NumberProperty(object, L"Index");
            const std::string instanceId = TextProperty(object, L"PNPDeviceID").value_or("");
            const std::string description = TextProperty(object, L"Description").value_or("");
            if (!index || !IsPhysical(instanceId, description, usb)) {
                return true;
            }
            NetworkAdapter adapter;
            adapter.index = *index;
            const std::optional<std::string> address = TextProperty(object, L"MACAddress");
            if (address && !address->empty()) {
                adapter.address = Upper(*address);
            }
            adapter.disabled =
                NumberProperty(object, L"ConfigManagerErrorCode") == kProblemDisabled;
            adapter.permanentAddress = PermanentAddress(instanceId);
            adapters.push_back(std::move(adapter));
            return true;
        });
    return adapters;
}

bool ProtectForMachine(std::span<const std::uint8_t> data, std::string_view entropy,
                       std::vector<std::uint8_t>& blob) {
    if (!FitsDword(data.size()) || !FitsDword(entropy.size())) {
        return false;
    }
    DATA_BLOB in = Blob(data.data(), data.size());
    DATA_BLOB salt = Blob(entropy.data(), entropy.size());
    LocalBlob out;
    if (!CryptProtectData(&in, nullptr, Entropy(salt), nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE,
                          &out.blob)) {
        return false;
    }
    blob.assign(out.blob.pbData, out.blob.pbData + out.blob.cbData);
    return true;
}

bool UnprotectForMachine(std::span<const std::uint8_t> blob, std::string_view entropy,
                         std::vector<std::uint8_t>& data) {
    if (blob.empty() || !FitsDword(blob.size()) || !FitsDword(entropy.size())) {
        return false;
    }
    DATA_BLOB in = Blob(blob.data(), blob.size());
    DATA_BLOB salt = Blob(entropy.data(), entropy.size());
    LocalBlob out;
    out.secret = true;
    if (!CryptUnprotectData(&in, nullptr, Entropy(salt), nullptr, nullptr,
                            CRYPTPROTECT_LOCAL_MACHINE, &out.blob)) {
        return false;
    }
    data.assign(out.blob.pbData, out.blob.pbData + out.blob.cbData);
    return true;
}

}  // namespace stubframework::platform::identity
