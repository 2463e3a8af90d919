#include "bridge/FileMethods.h"

#include <optional>

#include "bridge/ExternalMethods.h"
#include "bridge/MethodSignature.h"
#include "core/CommandLine.h"
#include "core/EmbeddedTag.h"
#include "core/FrameworkCore.h"
#include "core/TempFolder.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/msi.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace stubframework::methods {
namespace {

namespace fs = platform::fs;

// The path argument at `index` in this system's spelling.
std::string PathArgument(const DISPPARAMS* params, UINT index) {
    return fs::FromPagePath(StringArgument(params, index));
}

// The version text of a package or program; "" when it has none.
std::string FileVersionText(const std::string& extension, const std::string& path) {
    const std::string kind = platform::FoldCase(extension);
    if (kind == platform::FoldCase(".msi")) {
        std::string version;
        return platform::msi::QueryProperty(path, "ProductVersion", version) ? version
                                                                             : std::string();
    }
    if (kind == platform::FoldCase(".exe")) {
        return fs::FileVersion(path);
    }
    return {};
}

// The first `size` UTF-16 units of the tag; "" when it is shorter or missing.
std::string TagPrefix(LONG size) {
    if (size <= 0) {
        return {};
    }
    const std::optional<std::string> tag =
        core::ReadEmbeddedTagOfFile(platform::process::RunningImagePath());
    if (!tag) {
        return {};
    }
    const std::u16string units = platform::Utf8ToUtf16(*tag);
    const auto wanted = static_cast<std::size_t>(size);
    return units.size() < wanted
               ? std::string()
               : platform::Utf16ToUtf8(std::u16string_view(units).substr(0, wanted));
}

}  // namespace

HRESULT isFileExists(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string path = PathArgument(params, 0);
    const bool exists = fs::Exists(path);
    debug::FrameworkDebugMessage(Log(owner), "args: %s, Result: %s", path.c_str(),
                                 exists ? "exist" : "not exist");
    ReturnBool(result, exists);
    return S_OK;
}

HRESULT createDirectory(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params,
                        VARIANT* result) {
    const std::string path = PathArgument(params, 0);
    // Only a full path, and only when something was made.
    const bool created = fs::IsFullPath(path) && !fs::Exists(path) &&
                         fs::CreateFolderTree(path) == platform::kErrorSuccess;
    ReturnBool(result, created);
    return S_OK;
}

HRESULT getFileSize(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    fs::FileHandle file;
    std::uint32_t size = 0;
    if (file.OpenUnshared(PathArgument(params, 0)) == platform::kErrorSuccess) {
        // The low 32 bits, as the pages' other sizes are.
        size = static_cast<std::uint32_t>(std::max<std::int64_t>(file.Size(), 0));
    }
    const std::string text = std::to_string(size);
    debug::FrameworkDebugMessage(Log(owner), "EMGetFileSize %s", text.c_str());
    ReturnString(result, text);
    return S_OK;
}

HRESULT renameFile(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string from = PathArgument(params, 0);
    const std::string to = PathArgument(params, 1);
    const int outcome = fs::RenameNoReplace(from, to) == platform::kErrorSuccess ? 0 : -1;
    debug::FrameworkDebugMessage(Log(owner),
                                 "EMRenameFile args oldFileName:%s, newFileName:%s, Result: %d",
                                 from.c_str(), to.c_str(), outcome);
    ReturnBool(result, outcome == 0);
    return S_OK;
}

HRESULT getDiskAvailableSpace(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                              VARIANT* result) {
    const std::string path = PathArgument(params, 0);
    std::uint64_t bytes = 0;
    if (fs::FreeSpace(path, bytes, fs::FreeCount::kTotal) != platform::kErrorSuccess) {
        bytes = 0;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMGetDiskAvailableSpace args: %s, Result",
                                 path.c_str());
    ReturnString(result, std::to_string(bytes));
    return S_OK;
}

HRESULT getFileVersion(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* result) {
    const std::string path = PathArgument(params, 1);
    const std::string version = FileVersionText(StringArgument(params, 0), path);
    debug::FrameworkDebugMessage(Log(owner), "EMGetMSIFileVersion args %s, Result %s", path.c_str(),
                                 version.c_str());
    ReturnString(result, version);
    return S_OK;
}

HRESULT getCurrentPath(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                       VARIANT* result) {
    const std::string folder = core::LauncherFolder(core::CommandLineArguments());
    debug::FrameworkDebugMessage(Log(owner), "EMGetCurrentPath %s", folder.c_str());
    ReturnString(result, folder);
    return S_OK;
}

HRESULT getDesktopPath(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                       VARIANT* result) {
    const std::string folder = platform::system::DesktopFolder();
    debug::FrameworkDebugMessage(Log(owner), "EMGetDesktopPath %s", folder.c_str());
    ReturnString(result, folder);
    return S_OK;
}

HRESULT getTempPath(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    std::string name = PathArgument(params, 0);
    if (name.empty()) {
        name = owner.Core().ProductId();
    }
    const std::string temp = core::LongTempPath();
    // Without a temporary folder nothing is made: the name alone would land
    // in whatever the current folder is.
    std::string folder;
    if (!temp.empty()) {
        folder = temp + name;
        if (!fs::Exists(folder)) {
            fs::CreateFolder(folder);
        }
        folder += fs::kPathSeparator;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMGetTempPath %s", folder.c_str());
    ReturnString(result, folder);
    return S_OK;
}

HRESULT getResourceLocation(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                            VARIANT* result) {
    ReturnString(result, owner.Core().Properties().Get("resourceLocation"));
    return S_OK;
}

HRESULT getEmbeddedDataFromCurrentExe(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                                      VARIANT* result) {
    const LONG size = IntArgument(params, 0);
    debug::FrameworkDebugMessage(Log(owner), "EMGetEmbeddedDataFromCurrentExe size : %d",
                                 static_cast<int>(size));
    const std::string tag = TagPrefix(size);
    debug::FrameworkDebugMessage(Log(owner), "EMGetEmbeddedDataFromCurrentExe Result : %s",
                                 tag.c_str());
    ReturnString(result, tag);
    return S_OK;
}

}  // namespace stubframework::methods
