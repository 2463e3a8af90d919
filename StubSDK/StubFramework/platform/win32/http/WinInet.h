// What the WinINet-based transfers share: handle ownership, opening the
// session, connection and request of one URL, and reading the answer.
#pragma once

#include "platform/win32/Win32.h"
// After windows.h, which it needs.
#include <wininet.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"

namespace stubframework::platform::http::wininet {

// Owns one WinINet handle.
class Handle {
public:
    Handle() = default;
    explicit Handle(HINTERNET handle) : handle_(handle) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset() {
        if (HINTERNET const handle = std::exchange(handle_, nullptr)) {
            InternetCloseHandle(handle);
        }
    }

private:
    HINTERNET handle_ = nullptr;
};

// The three handles of one request. Closing the request first keeps its
// status callback the last one to hear from it.
struct Handles {
    Handle session;
    Handle connection;
    Handle request;

    void Close() {
        request.Reset();
        connection.Reset();
        session.Reset();
    }
};

// Redirects a request follows before it fails with kErrorRedirectFailed:
// some versions follow a loop for ever.
inline constexpr int kMaxRedirects = 10;

struct OpenSettings {
    std::string url;
    std::string userAgent;
    std::string verb = "GET";
    bool async = true;
    bool followRedirects = true;
    std::uint32_t connectTimeoutMs = 60000;
    std::uint32_t stallTimeoutMs = 30000;  // send and receive
    // Receives the request handle's status callbacks; must not be null.
    void* context = nullptr;
    INTERNET_STATUS_CALLBACK callback = nullptr;
};

// Opens a session, a connection and a request for an http or https URL:
// 0, or the WinINet error (kErrorInvalidUrl for a URL that does not split,
// ERROR_INTERNET_UNRECOGNIZED_SCHEME for another scheme).
std::uint32_t OpenHandles(const OpenSettings& settings, Handles& handles);

// Adds "Name: value" lines to a request, replacing any of the same name.
std::uint32_t AddHeaders(HINTERNET request, const std::vector<std::string>& headers);

// A failure as WinINet reports it: some versions pass the socket's own
// error up from a transfer under way.
std::uint32_t TransferError(DWORD error);

// The status line's code and the headers of the final answer.
Response ReadResponse(HINTERNET request);

// The text of a status callback's information, which WinINet hands over
// as UTF-16 for some states and as narrow text for others.
std::string StatusText(const void* information, DWORD length);

std::u16string Wide(const std::string& text);
inline const wchar_t* WideChars(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace stubframework::platform::http::wininet
