#include "zip/ExtractZip.h"

#include <map>
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

class Extractor {
public:
    Extractor(const fs::FileHandle& file, std::string folder, ZipReporter* reporter,
              debug::InstallerLog* log, std::vector<std::string>* created)
        : file_(file),
          folder_(WithoutTrailingSeparator(std::move(folder))),
          reporter_(reporter),
          log_(log),
          created_(created) {}

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
        if (!CheckEntries() || !EnsureFolder(folder_)) {
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

    // The whole archive is checked before anything is written: every entry
    // lands on a path of its own, no file stands where a folder goes, and
    // everything fits in the volume's free space.
    bool CheckEntries() {
        enum class Kind { kFile, kFolder };
        std::map<std::string, Kind> targets;
        std::uint64_t total = 0;
        for (const ZipEntry& entry : reader_.Entries()) {
            const std::optional<std::string> target = EntryPath(folder_, entry.name);
            if (!target) {
                continue;  // refused when its turn comes, after the entries before it
            }
            const Kind kind = entry.IsFolder() ? Kind::kFolder : Kind::kFile;
            if (kind == Kind::kFile && *target == folder_) {
                Refused("a file would take the place of the folder itself (" + entry.name + ")");
                return false;
            }
            const auto [at, added] = targets.emplace(*target, kind);
            if (!added && (kind == Kind::kFile || at->second == Kind::kFile)) {
                Refused("two entries land on " + *target + " (" + entry.name + ")");
                return false;
            }
            // Every folder above the entry must not be a file of the archive.
            for (std::size_t slash = target->find('/', folder_.size() + 1);
                 slash != std::string::npos; slash = target->find('/', slash + 1)) {
                const auto [parent, made] =
                    targets.emplace(target->substr(0, slash), Kind::kFolder);
                if (!made && parent->second == Kind::kFile) {
                    Refused("the file " + parent->first + " would have to be a folder for " +
                            entry.name);
                    return false;
                }
            }
            total += entry.size;
        }
        std::uint64_t free = 0;
        if (fs::FreeSpace(folder_, free) == platform::kErrorSuccess && total > free) {
            if (reporter_ != nullptr) {
                reporter_->SetError(platform::kErrorDiskFull);
            }
            Refused("the entries hold " + std::to_string(total) + " bytes, the volume has " +
                    std::to_string(free) + " free");
            return false;
        }
        return true;
    }

    // The folder and its missing parents; each one made is recorded.
    bool EnsureFolder(const std::string& folder) {
        if (fs::IsFolder(folder)) {
            return true;
        }
        const std::size_t slash = folder.find_last_of('/');
        if (slash != std::string::npos && slash > 0 && !EnsureFolder(folder.substr(0, slash))) {
            return false;
        }
        const std::uint32_t error = fs::CreateFolder(folder);
        if (error == platform::kErrorSuccess) {
            Made(folder);
            return true;
        }
        if (fs::IsFolder(folder)) {
            return true;
        }
        Refused("the folder " + folder + " cannot be made (" + std::to_string(error) + ")");
        return false;
    }

    void Made(const std::string& path) {
        if (created_ != nullptr) {
            created_->push_back(path);
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
        const bool existed = fs::Exists(*target);
        fs::FileHandle out;
        if (const std::uint32_t error = out.CreateAlways(*target);
            error != platform::kErrorSuccess) {
            Refused("the file " + *target + " cannot be written (" + std::to_string(error) + ")");
            return false;
        }
        if (!existed) {
            Made(*target);
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
        if (created_ != nullptr && !existed) {
            created_->pop_back();
        }
        return false;
    }

    const fs::FileHandle& file_;
    const std::string folder_;
    ZipReporter* const reporter_;
    debug::InstallerLog* const log_;
    std::vector<std::string>* const created_;
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
                debug::InstallerLog* log, std::vector<std::string>* created) {
    return Extractor(file, folder, reporter, log, created).Run();
}

}  // namespace stubframework::zip
