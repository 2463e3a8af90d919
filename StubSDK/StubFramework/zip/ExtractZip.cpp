#include "zip/ExtractZip.h"

#include <vector>

#include "core/InstallerLog.h"
#include "platform/error.h"
#include "zip/ZipReader.h"

namespace stubframework::zip {
namespace {

namespace fs = platform::fs;

constexpr std::uint32_t kErrorHandleEof = 38;

std::string WithoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    return folder;
}

bool EnsureFolder(const std::string& folder) {
    return fs::CreateFolderTree(folder) == platform::kErrorSuccess || fs::IsFolder(folder);
}

class Extractor {
public:
    Extractor(const fs::FileHandle& file, std::string folder, ZipReporter* reporter,
              debug::InstallerLog* log)
        : file_(file),
          folder_(WithoutTrailingSeparator(std::move(folder))),
          reporter_(reporter),
          log_(log) {}

    bool Run() {
        const std::int64_t size = file_.Size();
        if (size < 0) {
            return false;
        }
        const auto read = [this](std::int64_t offset, void* buffer, std::size_t length) {
            const std::int64_t got = file_.ReadAt(offset, buffer, length);
            if (got < static_cast<std::int64_t>(length) && reporter_ != nullptr) {
                reporter_->SetError(got < 0 ? fs::LastFileError() : kErrorHandleEof);
            }
            return got;
        };
        if (!reader_.Open(read, size)) {
            Refused(reader_.Error());
            return false;
        }
        if (!EnsureFolder(folder_)) {
            return false;
        }
        const auto count = static_cast<std::uint32_t>(reader_.Entries().size());
        bool extracted = true;
        for (std::uint32_t index = 0; index < count && extracted; ++index) {
            if (reporter_ != nullptr) {
                reporter_->OnEntry(index, count);
            }
            extracted = ExtractEntry(reader_.Entries()[index]);
        }
        if (reporter_ != nullptr) {
            reporter_->OnEntry(count, count);
        }
        return extracted;
    }

private:
    void Refused(const std::string& why) {
        if (!why.empty()) {
            debug::LogErrorMessage(log_, "Zip archive refused: %s", why.c_str());
        }
    }

    bool ExtractEntry(const ZipEntry& entry) {
        const std::optional<std::string> target = EntryPath(folder_, entry.name);
        if (!target) {
            Refused("the entry would land outside the folder: " + entry.name);
            return false;
        }
        if (entry.IsFolder()) {
            return EnsureFolder(*target);
        }
        const std::string parent = target->substr(0, target->find_last_of('/'));
        if (parent != lastParent_) {
            if (!EnsureFolder(parent)) {
                return false;
            }
            lastParent_ = parent;
        }
        fs::FileHandle out;
        if (out.CreateAlways(*target) != platform::kErrorSuccess) {
            return false;
        }
        const auto write = [this, &out](const std::uint8_t* data, std::size_t size) {
            std::size_t written = 0;
            const std::uint32_t error = out.Write(data, size, written);
            if (error != platform::kErrorSuccess && reporter_ != nullptr) {
                reporter_->SetError(error);
            }
            return error == platform::kErrorSuccess;
        };
        if (reader_.Extract(entry, write)) {
            // A setup.exe packed on Linux must stay runnable.
            if (entry.IsExecutable()) {
                fs::MarkExecutable(*target);
            }
            return true;
        }
        Refused(reader_.Error());
        out.Close();
        fs::DeleteFile(*target);  // never half a file
        return false;
    }

    const fs::FileHandle& file_;
    const std::string folder_;
    ZipReporter* const reporter_;
    debug::InstallerLog* const log_;
    ZipReader reader_;
    std::string lastParent_;
};

}  // namespace

std::optional<std::string> EntryPath(const std::string& folder, const std::string& name) {
    std::string relative = name.substr(0, std::min(name.size(), kMaxEntryName));
    for (char& c : relative) {
        c = c == '\\' ? '/' : c;
    }
    const bool driveLetter =
        relative.size() >= 2 && relative[1] == ':' &&
        ((relative[0] >= 'A' && relative[0] <= 'Z') || (relative[0] >= 'a' && relative[0] <= 'z'));
    if ((!relative.empty() && relative[0] == '/') || driveLetter) {
        return std::nullopt;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string segment = relative.substr(start, end - start);
        if (segment == "..") {
            if (segments.empty()) {
                return std::nullopt;  // would climb out of the folder
            }
            segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string path = WithoutTrailingSeparator(folder);
    for (const std::string& segment : segments) {
        path += '/';
        path += segment;
    }
    return path;
}

bool ExtractZip(const fs::FileHandle& file, const std::string& folder, ZipReporter* reporter,
                debug::InstallerLog* log) {
    return Extractor(file, folder, reporter, log).Run();
}

}  // namespace stubframework::zip
