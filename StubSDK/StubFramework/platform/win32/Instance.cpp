// The named mutex is a kernel mutex object. A later instance finds the
// holder's window by its class, so the holder has nothing to listen for.
#include "platform/win32/Win32.h"

#include "platform/instance.h"
#include "platform/unicode.h"

namespace stubframework::platform {
namespace {

class Win32InstanceMutex final : public InstanceMutex {
public:
    Win32InstanceMutex(HANDLE mutex, bool existed) : mutex_(mutex), existed_(existed) {}
    ~Win32InstanceMutex() override {
        if (mutex_ != nullptr) {
            CloseHandle(mutex_);
        }
    }
    Win32InstanceMutex(const Win32InstanceMutex&) = delete;
    Win32InstanceMutex& operator=(const Win32InstanceMutex&) = delete;

    bool AlreadyExisted() const override { return existed_; }
    void Listen(std::function<bool(const std::string&)> /*onActivate*/) override {}
    void StopListening() override {}

private:
    HANDLE mutex_;
    const bool existed_;
};

}  // namespace

std::unique_ptr<InstanceMutex> CreateInstanceMutex(const std::string& name) {
    const std::u16string wideName = Utf8ToUtf16(name);
    const auto* text = reinterpret_cast<const wchar_t*>(wideName.c_str());
    HANDLE mutex = CreateMutexW(nullptr, FALSE, text);
    const DWORD error = GetLastError();
    if (mutex != nullptr) {
        return std::make_unique<Win32InstanceMutex>(mutex, error == ERROR_ALREADY_EXISTS);
    }
    // Made by a process with other rights (an elevated one) and not ours to
    // open in full: it exists all the same.
    if (error == ERROR_ACCESS_DENIED) {
        return std::make_unique<Win32InstanceMutex>(OpenMutexW(SYNCHRONIZE, FALSE, text), true);
    }
    return nullptr;
}

bool ActivateExistingWindow(const std::string& /*mutexName*/, const std::string& windowClass) {
    const std::u16string wideClass = Utf8ToUtf16(windowClass);
    HWND window = FindWindowW(reinterpret_cast<const wchar_t*>(wideClass.c_str()), nullptr);
    if (window == nullptr) {
        return false;
    }
    SetForegroundWindow(window);
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    return true;
}

}  // namespace stubframework::platform
