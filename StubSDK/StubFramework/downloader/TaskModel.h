// The download engine's building blocks: reference-counted tasks that are
// started once, may be cancelled from any thread, and report their end
// exactly once through a callback.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/PrintfFormat.h"
#include "platform/com.h"

namespace downloader {

// The one holder of references on engine objects: Ptr<T>::Attach takes over
// the reference the caller owns (from Create or a factory), Ptr<T>::Share
// adds one of its own.
template <class T>
using Ptr = stubframework::platform::com::Ptr<T>;

// Results are HRESULTs (32-bit on every platform).
using Result = HRESULT;

inline constexpr Result kSuccess = 0;
inline constexpr Result kOutOfMemory = MakeHResult(0x8007000E);
inline constexpr Result kFailed = MakeHResult(0x80004005);
inline constexpr Result kDownloadCancelled = MakeHResult(0x80004004);
inline constexpr Result kHttpCancelled = MakeHResult(0x80072EF1);
inline constexpr Result kInvalidServerResponse = MakeHResult(0x80072EFB);
inline constexpr Result kShortRead = MakeHResult(0x80072EE4);
inline constexpr Result kUnrecognizedScheme = MakeHResult(0x80072EE5);

// A Win32 or transfer error code as an HRESULT: 0 and negative codes as they are.
constexpr Result ResultFromError(std::int32_t error) {
    return error <= 0
               ? error
               : static_cast<Result>((static_cast<std::uint32_t>(error) & 0xFFFFu) | 0x80070000u);
}

struct IObject {
    virtual std::int32_t AddRef() = 0;
    virtual std::int32_t Release() = 0;

protected:
    ~IObject() = default;
};

struct ITask : IObject {
    virtual void Start() = 0;
    virtual void Cancel() = 0;

protected:
    ~ITask() = default;
};

template <class T>
struct ITaskCallback : IObject {
    virtual void OnComplete(T result) = 0;

protected:
    ~ITaskCallback() = default;
};

// Bytes owned by the buffer.
class Buffer {
public:
    Buffer() = default;
    ~Buffer() { std::free(data_); }
    Buffer(Buffer&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Frees the old bytes and allocates `size` new ones; false (and empty)
    // when memory is short.
    bool SetSize(std::uint32_t size) {
        std::free(data_);
        data_ = size != 0 ? static_cast<std::uint8_t*>(std::malloc(size)) : nullptr;
        size_ = data_ != nullptr ? size : 0;
        return size == 0 || data_ != nullptr;
    }
    std::uint8_t* Data() const { return data_; }
    std::uint32_t Size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
};

struct HttpToMemResult {
    Result hr = kSuccess;
    Buffer buffer;
};

struct HttpHeader {
    std::int32_t status = -1;
    std::string etag;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::int64_t total = 0;
};

struct HttpRange {
    std::int64_t offset = 0;
    std::int64_t size = 0;  // 0: the whole resource, no Range header
    std::string etag;       // for If-Range; empty: none
};

using BlockHash = std::array<std::uint8_t, 20>;

enum HashResult : std::int32_t {
    HashDone = 0,
    HashStopped = 1,
    HashFailed = 2,
};

struct IHttpCallback : ITaskCallback<Result> {
    virtual void OnHttpHeader(const HttpHeader& header) = 0;
    virtual void OnData(const Buffer& data) = 0;

protected:
    ~IHttpCallback() = default;
};

struct IHttpToFileCallback : ITaskCallback<Result> {
    // The range just written to the file.
    virtual void OnWritten(std::int64_t offset, std::int64_t size) = 0;

protected:
    ~IHttpToFileCallback() = default;
};

struct IHashCallback : ITaskCallback<HashResult> {
    virtual void OnHash(const BlockHash& digest) = 0;

protected:
    ~IHashCallback() = default;
};

struct IDownloadCallback : ITaskCallback<Result> {
    virtual void OnProgress(std::int64_t current, std::int64_t total) = 0;

protected:
    ~IDownloadCallback() = default;
};

struct ILogger : IObject {
    virtual void Log(const char* function, const char* format, ...) STUB_PRINTF_FORMAT(3, 4) = 0;

protected:
    ~ILogger() = default;
};

}  // namespace downloader
