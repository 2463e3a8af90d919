// Blocking requests on the calling thread: the web-service senders and the
// probes. Each runs asynchronous WinINet and waits for every step, so that a
// limit on the whole request ends it on time whatever the socket is doing.
#include "platform/win32/http/WinInet.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <optional>
#include <vector>

#include "platform/http.h"

namespace stubframework::platform::http {
namespace {

constexpr DWORD kReadSize = 65536;
// Not a WinINet code: the body is longer than the caller takes.
constexpr std::uint32_t kBodyTooLong = 0xFFFFFFFFu;

// One request's handles and what WinINet reports about them. WinINet holds
// a reference of its own until the request handle has closed: a step that
// ran out of time may still write into the buffer.
class Transfer {
public:
    Transfer() : done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Transfer() {
        if (done_ != nullptr) {
            CloseHandle(done_);
        }
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    std::uint32_t Open(const std::shared_ptr<Transfer>& self, const SyncRequest& request) {
        if (done_ == nullptr) {
            return GetLastError();
        }
        wininet::OpenSettings open;
        open.url = request.url;
        open.userAgent = request.userAgent;
        open.verb = request.verb;
        open.followRedirects = request.followRedirects;
        if (request.connectTimeoutMs != 0) {
            open.connectTimeoutMs = request.connectTimeoutMs;
        }
        open.context = this;
        open.callback = &Transfer::OnStatus;
        if (const std::uint32_t error = wininet::OpenHandles(open, handles_); error != 0) {
            return error;
        }
        keepAlive_ = self;
        if (request.totalTimeoutMs != 0) {
            deadline_ = GetTickCount64() + request.totalTimeoutMs;
        }
        return wininet::AddHeaders(handles_.request.Get(), request.headers);
    }

    HINTERNET Request() const { return handles_.request.Get(); }
    void Close() { handles_.Close(); }

    // Takes the answer of a request sent without waiting for it and closes
    // the handles then. Closed unread, the connection could go back to the
    // pool on some versions, its answer waiting for the next request.
    void FinishInBackground() {
        closeWhenAnswered_ = true;
        if (HttpEndRequestW(Request(), nullptr, 0, reinterpret_cast<DWORD_PTR>(this)) ||
            GetLastError() != ERROR_IO_PENDING) {
            CloseWhenAnswered();
        }
        // Pending: the completion closes them, on WinINet's thread.
    }

    // Runs one step: 0 once it is done, else its failure.
    template <class Step>
    std::uint32_t Run(Step step) {
        ResetEvent(done_);
        if (step()) {
            return 0;
        }
        if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
            return wininet::TransferError(error);
        }
        if (WaitForSingleObject(done_, Remaining()) != WAIT_OBJECT_0) {
            return kErrorTimeout;
        }
        return result_ != 0 ? 0 : wininet::TransferError(error_);
    }

    std::uint8_t* Buffer() { return buffer_.data(); }
    DWORD* Count() { return &count_; }
    std::vector<std::uint8_t>& Body() { return body_; }

private:
    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                                  DWORD) {
        auto* const transfer = reinterpret_cast<Transfer*>(context);
        if (status == INTERNET_STATUS_REQUEST_COMPLETE && transfer->closeWhenAnswered_) {
            transfer->CloseWhenAnswered();
        } else if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
            transfer->result_ = result->dwResult;
            transfer->error_ = result->dwError;
            SetEvent(transfer->done_);
        } else if (status == INTERNET_STATUS_REDIRECT &&
                   ++transfer->redirects_ > wininet::kMaxRedirects) {
            // Ends the wait; closing the handles ends the loop.
            transfer->error_ = kErrorRedirectFailed;
            transfer->result_ = 0;
            SetEvent(transfer->done_);
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            // The last word on the handle: WinINet lets go of us.
            const std::shared_ptr<Transfer> last = std::move(transfer->keepAlive_);
        }
    }

    void CloseWhenAnswered() {
        if (closeWhenAnswered_.exchange(false)) {
            Close();
        }
    }

    DWORD Remaining() const {
        if (deadline_ == 0) {
            return INFINITE;  // the stall limits end it
        }
        const ULONGLONG now = GetTickCount64();
        return now >= deadline_ ? 0 : static_cast<DWORD>(deadline_ - now);
    }

    HANDLE done_;
    wininet::Handles handles_;
    std::shared_ptr<Transfer> keepAlive_;
    ULONGLONG deadline_ = 0;
    // Written by WinINet's threads before the event is set.
    std::atomic<DWORD_PTR> result_{0};
    std::atomic<DWORD> error_{0};
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kReadSize);
    DWORD count_ = 0;
    std::atomic<int> redirects_{0};
    std::atomic<bool> closeWhenAnswered_{false};
    std::vector<std::uint8_t> body_;
};

// The request line, headers and body go out; the answer is not waited for.
std::uint32_t SendOnly(Transfer& transfer) {
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(transfer.Body().size());
    std::uint32_t error = transfer.Run([&] {
        return HttpSendRequestExW(transfer.Request(), &buffers, nullptr, 0,
                                  reinterpret_cast<DWORD_PTR>(&transfer));
    });
    std::size_t written = 0;
    while (error == 0 && written < transfer.Body().size()) {
        DWORD count = 0;
        const DWORD piece =
            static_cast<DWORD>(std::min<std::size_t>(transfer.Body().size() - written, kReadSize));
        error = transfer.Run([&] {
            return InternetWriteFile(transfer.Request(), transfer.Body().data() + written, piece,
                                     &count);
        });
        written += count;
        if (error == 0 && count == 0) {
            error = kErrorConnectionAborted;
        }
    }
    return error;
}

// The whole request, up to the answer's header. (HttpEndRequest after a
// redirect never completes on some versions, so the reading requests go
// out in one piece.)
std::uint32_t SendAndAwaitAnswer(Transfer& transfer) {
    std::vector<std::uint8_t>& body = transfer.Body();
    return transfer.Run([&] {
        return HttpSendRequestW(transfer.Request(), nullptr, 0,
                                body.empty() ? nullptr : body.data(),
                                static_cast<DWORD>(body.size()));
    });
}

// The announced length of the body, when the answer gives one.
std::optional<std::uint64_t> AnnouncedLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    const unsigned long long length = std::wcstoull(text, &end, 10);
    if (end == text || *end != L'\0') {
        return std::nullopt;
    }
    return length;
}

// Whether the answer to the request has a body whose length it announces.
bool HasBody(const SyncRequest& request, int status) {
    return request.verb != "HEAD" && status >= 200 && status != 204 && status != 304;
}

std::uint32_t ReadBody(Transfer& transfer, const SyncRequest& request, SyncReply& reply) {
    const std::optional<std::uint64_t> announced =
        HasBody(request, reply.status) ? AnnouncedLength(transfer.Request()) : std::nullopt;
    for (;;) {
        *transfer.Count() = 0;
        const std::uint32_t error = transfer.Run([&] {
            return InternetReadFile(transfer.Request(), transfer.Buffer(), kReadSize,
                                    transfer.Count());
        });
        if (error != 0) {
            return error;
        }
        const DWORD count = *transfer.Count();
        if (count == 0) {
            break;
        }
        const std::size_t limit = request.maxBody;
        if (limit != 0 && count > limit - std::min(limit, reply.body.size())) {
            reply.body.clear();
            return kBodyTooLong;
        }
        reply.body.insert(reply.body.end(), transfer.Buffer(), transfer.Buffer() + count);
    }
    // A connection closed before the announced end is a broken answer, not
    // a short one.
    if (announced && reply.body.size() < *announced) {
        return kErrorConnectionAborted;
    }
    return 0;
}

}  // namespace

SyncReply Perform(const SyncRequest& request) {
    SyncReply reply;
    const auto transfer = std::make_shared<Transfer>();
    if (request.body != nullptr) {
        transfer->Body().assign(request.body, request.body + request.bodyLength);
    }
    reply.error = transfer->Open(transfer, request);
    if (reply.error == 0 && request.read == SyncRequest::Read::kNothing) {
        reply.error = SendOnly(*transfer);
        reply.sent = reply.error == 0;
        if (reply.sent) {
            transfer->FinishInBackground();
            return reply;
        }
    } else if (reply.error == 0) {
        reply.error = SendAndAwaitAnswer(*transfer);
        reply.sent = reply.error == 0;
    }
    if (reply.sent && request.read != SyncRequest::Read::kNothing) {
        reply.status = wininet::ReadResponse(transfer->Request()).status;
        if (request.read == SyncRequest::Read::kBody) {
            reply.error = ReadBody(*transfer, request, reply);
        }
        reply.received = reply.error == 0;
        // A longer body than the caller takes leaves the reply unread
        // although nothing failed.
        if (reply.error == kBodyTooLong) {
            reply.error = 0;
        }
    }
    transfer->Close();
    return reply;
}

bool CheckConnection(const std::string& url) {
    const std::u16string wide = wininet::Wide(url);
    return InternetCheckConnectionW(wininet::WideChars(wide), FLAG_ICC_FORCE_CONNECTION, 0) !=
           FALSE;
}

}  // namespace stubframework::platform::http
