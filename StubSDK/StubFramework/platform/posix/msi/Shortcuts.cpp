#include "platform/posix/msi/Shortcuts.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>

#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/msi.h"
#include "platform/posix/msi/FileLayout.h"
#include "platform/process.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;

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

}  // namespace stubframework::platform::msi::detail
