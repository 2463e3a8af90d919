#include "platform/posix/msi/Shortcuts.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/msi.h"
#include "platform/posix/msi/FileLayout.h"
#include "platform/posix/msi/Session.h"
#include "platform/process.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;
using Kind = InstalledItem::Kind;

std::string DataHome() {
    const std::string data = process::EnvironmentVariable("XDG_DATA_HOME");
    return !data.empty() ? data : process::EnvironmentVariable("HOME") + "/.local/share";
}

std::string Desktop() {
    const std::string desktop = process::EnvironmentVariable("XDG_DESKTOP_DIR");
    return !desktop.empty() ? desktop : process::EnvironmentVariable("HOME") + "/Desktop";
}

// A string value: no line may end it early.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// One argument of Exec: quoted, with the characters the quoting reserves
// escaped, and field codes kept literal.
std::string ExecArgument(const std::string& argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out += '\\';
        }
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return out + "\"";
}

}  // namespace

std::string ShortcutPlace(const std::string& folder) {
    const std::string root = InstallRoot();
    if (IsInside(folder, root + "/Start Menu")) {
        return DataHome() + "/applications";
    }
    if (IsInside(folder, root + "/Desktop")) {
        return Desktop();
    }
    return folder;
}

std::string DesktopEntryText(const DesktopEntry& entry) {
    std::string exec = ExecArgument(entry.target);
    // The split line starts with the program's name: a stand-in here.
    const std::vector<std::string> arguments = SplitCommandLine("x " + entry.arguments);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        exec += " " + ExecArgument(arguments[i]);
    }
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
    text += "Name=" + Escaped(entry.name) + "\n";
    if (!entry.comment.empty()) {
        text += "Comment=" + Escaped(entry.comment) + "\n";
    }
    text += "Exec=" + Escaped(exec) + "\n";
    if (!entry.workingDirectory.empty()) {
        text += "Path=" + Escaped(entry.workingDirectory) + "\n";
    }
    return text;
}

std::string WriteDesktopEntry(Transaction& changes, const std::string& folder,
                              const std::string& id, const DesktopEntry& entry) {
    std::string name;
    for (const char c : id) {
        const bool safe = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        if (safe) {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    std::string scratch = stdfs::temp_directory_path().string() + "/stub-entry-XXXXXX";
    const int fd = mkstemp(scratch.data());
    if (fd < 0) {
        return {};
    }
    const std::string text = DesktopEntryText(entry);
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    const std::string path = folder + "/msi-" + name + ".desktop";
    const bool placed = written && changes.PlaceFile(scratch, path, fs::Readers::kOwner, true);
    fs::DeleteFile(scratch);
    return placed ? path : std::string();
}

bool Session::CreateShortcuts() {
    for (const ShortcutRow& row : package_.Shortcuts()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        DesktopEntry entry;
        entry.name = row.name;
        entry.comment = FormatText(row.description, *this);
        entry.arguments = FormatText(row.arguments, *this);
        // An advertised shortcut names a feature: it starts its component's key file.
        const bool advertised = std::any_of(
            package_.Features().begin(), package_.Features().end(),
            [&row](const PackageFeature& feature) { return feature.key == row.target; });
        if (advertised) {
            const auto component = package_.Components().find(row.component);
            entry.target = component != package_.Components().end()
                               ? FilePath(component->second.keyPath)
                               : std::string();
        } else {
            entry.target = FormatText(row.target, *this);
        }
        entry.workingDirectory =
            row.workingDirectory.empty() ? std::string() : layout_.Folder(row.workingDirectory);
        const std::string path =
            WriteDesktopEntry(changes_, ShortcutPlace(layout_.Folder(row.directory)),
                              package_.Property("ProductCode") + "-" + row.key, entry);
        if (path.empty()) {
            log_.Line("MSI (s): cannot create the shortcut %s", row.key.c_str());
            return false;
        }
        log_.Line("MSI (s): Created shortcut %s", path.c_str());
        Note(row.component, Kind::Shortcut, {path});
    }
    return true;
}

bool Session::RemoveShortcuts() {
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::Shortcut && Removing(item.component) && !item.fields.empty() &&
            !changes_.RemoveFile(item.fields[0])) {
            return false;
        }
    }
    ForgetRemoved({Kind::Shortcut});
    return true;
}

}  // namespace stubframework::platform::msi::detail
