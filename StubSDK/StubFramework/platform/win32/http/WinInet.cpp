#include "platform/win32/http/WinInet.h"

#include <cstring>
#include <string_view>

#include "platform/unicode.h"

namespace stubframework::platform::http::wininet {
namespace {

// From the server, never from a cache, and never a dialog.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_PRAGMA_NOCACHE;

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\r')) {
        text.remove_suffix(1);
    }
    return text;
}

void SetTimeout(HINTERNET handle, DWORD option, std::uint32_t milliseconds) {
    DWORD value = milliseconds;
    InternetSetOptionW(handle, option, &value, sizeof value);
}

// Send and receive limits on the handle (the connect limit is the
// session's). A request takes them over from its session on some versions
// only, so both get them.
void SetStallTimeouts(HINTERNET handle, std::uint32_t milliseconds) {
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, milliseconds);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, milliseconds);
}

// The raw header block of the final answer: status line, then one header a
// line, lines ending in CR LF.
std::u16string RawHeaders(HINTERNET request) {
    std::u16string raw(1024, u'\0');
    for (;;) {
        DWORD bytes = static_cast<DWORD>(raw.size() * sizeof(char16_t));
        if (HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &bytes, nullptr)) {
            raw.resize(bytes / sizeof(char16_t));
            return raw;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
        raw.resize(bytes / sizeof(char16_t) + 1);
    }
}

}  // namespace

std::u16string Wide(const std::string& text) {
    return Utf8ToUtf16(text);
}

std::uint32_t OpenHandles(const OpenSettings& settings, Handles& handles) {
    UrlParts parts;
    if (const std::uint32_t error = CrackUrl(settings.url, parts); error != 0) {
        return error;
    }
    const bool secure = parts.scheme == "https";
    if (!secure && parts.scheme != "http") {
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    }
    // No agent sends no User-Agent header rather than an empty one.
    const std::u16string agent = Wide(settings.userAgent);
    handles.session = Handle(InternetOpenW(agent.empty() ? nullptr : WideChars(agent),
                                           INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                           settings.async ? INTERNET_FLAG_ASYNC : 0));
    if (!handles.session) {
        return GetLastError();
    }
    SetTimeout(handles.session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, settings.connectTimeoutMs);
    SetStallTimeouts(handles.session.Get(), settings.stallTimeoutMs);
    const std::u16string host = Wide(parts.host);
    const std::u16string user = Wide(parts.user);
    const std::u16string password = Wide(parts.password);
    handles.connection = Handle(InternetConnectW(handles.session.Get(), WideChars(host), parts.port,
                                                 user.empty() ? nullptr : WideChars(user),
                                                 password.empty() ? nullptr : WideChars(password),
                                                 INTERNET_SERVICE_HTTP, 0, 0));
    if (!handles.connection) {
        return GetLastError();
    }
    DWORD flags = kRequestFlags;
    if (secure) {
        flags |= INTERNET_FLAG_SECURE;
    }
    if (!settings.followRedirects) {
        flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    const std::u16string verb = Wide(settings.verb);
    const std::u16string object = Wide(parts.object);
    handles.request = Handle(HttpOpenRequestW(handles.connection.Get(), WideChars(verb),
                                              WideChars(object), nullptr, nullptr, nullptr, flags,
                                              reinterpret_cast<DWORD_PTR>(settings.context)));
    if (!handles.request) {
        return GetLastError();
    }
    SetStallTimeouts(handles.request.Get(), settings.stallTimeoutMs);
    if (settings.callback != nullptr &&
        InternetSetStatusCallbackW(handles.request.Get(), settings.callback) ==
            INTERNET_INVALID_STATUS_CALLBACK) {
        return kErrorInternal;
    }
    return 0;
}

std::uint32_t AddHeaders(HINTERNET request, const std::vector<std::string>& headers) {
    for (const std::string& header : headers) {
        const std::u16string line = Wide(header);
        if (!HttpAddRequestHeadersW(request, WideChars(line), static_cast<DWORD>(line.size()),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
            return GetLastError();
        }
    }
    return 0;
}

std::uint32_t TransferError(DWORD error) {
    switch (error) {
        case WSAETIMEDOUT:
            return kErrorTimeout;
        case WSAECONNREFUSED:
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return kErrorCannotConnect;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
            return kErrorConnectionAborted;
        default:
            return error;
    }
}

Response ReadResponse(HINTERNET request) {
    Response response;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                       nullptr)) {
        response.status = static_cast<int>(status);
    }
    const std::u16string raw = RawHeaders(request);
    std::u16string_view rest = raw;
    bool statusLine = true;
    while (!rest.empty()) {
        const std::size_t end = rest.find(u'\n');
        const std::u16string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        if (std::exchange(statusLine, false)) {
            continue;
        }
        const std::u16string_view text = Trim(line);
        if (text.empty()) {
            continue;
        }
        if ((line.front() == u' ' || line.front() == u'\t') && !response.headers.empty()) {
            response.headers.back().second.append(" ").append(Utf16ToUtf8(text));
            continue;
        }
        const std::size_t colon = text.find(u':');
        if (colon != std::u16string_view::npos) {
            response.headers.emplace_back(Utf16ToUtf8(Trim(text.substr(0, colon))),
                                          Utf16ToUtf8(Trim(text.substr(colon + 1))));
        }
    }
    return response;
}

std::string StatusText(const void* information, DWORD length) {
    if (information == nullptr || length == 0) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(information);
    // ASCII text in UTF-16 has a zero in every second byte.
    if (length >= 2 && bytes[0] != 0 && bytes[1] == 0) {
        std::u16string text(length / sizeof(char16_t), u'\0');
        std::memcpy(text.data(), bytes, text.size() * sizeof(char16_t));
        return Utf16ToUtf8(text.substr(0, text.find(u'\0')));
    }
    const std::string text(reinterpret_cast<const char*>(bytes), length);
    return text.substr(0, text.find('\0'));
}

}  // namespace stubframework::platform::http::wininet
