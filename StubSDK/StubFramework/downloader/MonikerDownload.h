// The plain download transport: the whole body into a fresh file, with the
// progress states of a URL moniker, and no verification.
#pragma once

#include <cstdint>
#include <string>

#include "downloader/DownloadHost.h"
#include "platform/com.h"
#include "platform/fs.h"
#include "platform/http.h"

namespace stubframework::core {

// What the moniker tells its caller about the transfer's progress.
class BindStatusCallback {
public:
    // A failure code stops the transfer.
    virtual HRESULT OnProgress(std::uint64_t progress, std::uint64_t max,
                               platform::http::BindStatus status) = 0;
    // Asked between progress reports as well: true stops the transfer.
    virtual bool Stopped() { return false; }

protected:
    ~BindStatusCallback() = default;
};

// The driver's progress receiver: the announced size and the bytes so far
// into the progress properties; aborts on the page's stop request, and at
// the announced size when only the size was asked for.
class DownloadCallback final : public BindStatusCallback {
public:
    explicit DownloadCallback(DownloadHost& host) : host_(host) {}
    HRESULT OnProgress(std::uint64_t progress, std::uint64_t max,
                       platform::http::BindStatus status) override;
    bool Stopped() override { return host_.StopDownload(); }
    bool DataSeen() const { return dataSeen_; }

private:
    bool dataSeen_ = false;
    DownloadHost& host_;
};

// Writes the pulled body into the file: preallocated at the announced size,
// cut at the end or on failure; forwards progress to the inner callback.
class BSCHolder final : public platform::http::PullEvents {
public:
    BSCHolder(platform::fs::FileHandle& file, BindStatusCallback* inner)
        : file_(file), inner_(inner) {}
    std::int32_t OnProgress(std::uint64_t progress, std::uint64_t max,
                            platform::http::BindStatus status) override;
    std::int32_t OnData(const std::uint8_t* data, std::size_t size) override;
    bool Stopped() override { return inner_ != nullptr && inner_->Stopped(); }
    // The end of the binding with the transfer's code; the holder's result.
    HRESULT OnStopBinding(HRESULT result);

private:
    platform::fs::FileHandle& file_;
    BindStatusCallback* const inner_;
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
    bool writeFailed_ = false;
    HRESULT result_ = static_cast<HRESULT>(0x8000000A);  // E_PENDING
};

// 0 when the whole body was written to `path`, 1 when fewer bytes came than
// announced, else the failure. Every call starts from an empty file.
HRESULT DownloadByMoniker(const std::string& url, const std::string& path,
                          BindStatusCallback* inner);

// The URL with "timestamp=YYYYMMDDhhmmss" and the milliseconds in three
// places (blank-padded) after "?" or, when it has a query already, "&".
std::string AppendTimestamp(const std::string& url);

}  // namespace stubframework::core
