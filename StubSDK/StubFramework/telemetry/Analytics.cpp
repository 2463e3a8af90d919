#include "telemetry/Analytics.h"

#include <string>
#include <vector>

#include "StubFramework.h"
#include "core/FrameworkCore.h"
#include "core/TempFolder.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "telemetry/ReportDocuments.h"
#include "telemetry/WebServiceClient.h"
#include "zip/ZipWriter.h"

namespace stubframework::core {
namespace {

namespace fs = platform::fs;

constexpr std::int32_t kReportFailed = 300;

bool Send(const std::string& body, const std::string& path, const std::string& verb) {
    return SendToWebService(reinterpret_cast<const std::uint8_t*>(body.data()), body.size(), path,
                            verb);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    fs::FileHandle file;
    if (file.Open(path) != platform::kErrorSuccess) {
        return false;
    }
    const std::int64_t size = file.Size();
    if (size < 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t got = file.Read(bytes.data() + done, bytes.size() - done);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Zips the files into `archive` in their order; false at the first that
// cannot be added.
bool ZipAll(const std::string& archive, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (!zip::ZipFileToArchive(archive, file)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool Analytics::ReportStart() {
    return SendAnalytics(true);
}

bool Analytics::ReportStatus() {
    return SendAnalytics(false);
}

bool Analytics::SendAnalytics(bool starting) {
    std::int32_t status = AsNumber(Config_Status::NOTSTART);
    if (!starting) {
        status = core_.Status();
        if (status == AsNumber(Config_Status::NOTSTART)) {
            status = AsNumber(Config_Status::CANCEL);
        }
    }
    return Send(AnalyticsDocument(core_, status), "/v1/logAnalytics", "POST");
}

bool Analytics::SendErrorReport() {
    const std::vector<std::string> files = core_.AttachedFiles().Files();
    if (files.empty()) {
        return false;
    }
    std::string folder;
    if (!CreateUniqueTempFolder(folder)) {
        return false;
    }
    const std::string archive = folder + "log.zip";
    std::string bytes;
    bool sent = false;
    if (ZipAll(archive, files) && ReadWholeFile(archive, bytes)) {
        sent = Send(bytes,
                    "/v1/reportError?token=" + core_.RequestToken() +
                        "&machineId=" + MachineIdDigest(core_.MachineIdentifier()),
                    "PUT");
    }
    DeleteFolderTree(folder);
    return sent;
}

std::int32_t Analytics::ReportFinal(bool final) {
    bool result = SendAnalytics(!final);
    if (result && final && core_.Status() == AsNumber(Config_Status::ERROR)) {
        result = SendErrorReport();
    }
    return result ? 0 : kReportFailed;
}

}  // namespace stubframework::core
