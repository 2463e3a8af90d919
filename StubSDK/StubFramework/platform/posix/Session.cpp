#include "platform/session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/commandline.h"
#include "platform/posix/DesktopUser.h"
#include "platform/process.h"

namespace stubframework::platform::session {
namespace {

// The desktop user's autostart folder, and who that user is when we act for
// them (as root, through sudo or pkexec).
struct Autostart {
    std::string folder;
    bool forOther = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

Autostart FindAutostart() {
    Autostart place;
    std::string name;
    std::string home;
    if (posix::DesktopUser(place.uid, place.gid, name, home)) {
        place.forOther = true;  // their environment is not ours to read
        place.folder = home + "/.config/autostart";
        return place;
    }
    const std::string config = process::EnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') {
        place.folder = config + "/autostart";
    } else if (const std::string ownHome = process::EnvironmentVariable("HOME"); !ownHome.empty()) {
        place.folder = ownHome + "/.config/autostart";
    }
    return place;
}

// File access as the desktop user for the life of the object (this thread
// only): their home is theirs, and a link they planted leads nowhere we may
// write and they may not.
class ActingAs {
public:
    explicit ActingAs(const Autostart& place) : active_(place.forOther) {
        if (active_) {
            oldGid_ = static_cast<gid_t>(setfsgid(place.gid));
            oldUid_ = static_cast<uid_t>(setfsuid(place.uid));
        }
    }
    ~ActingAs() {
        if (active_) {
            setfsuid(oldUid_);
            setfsgid(oldGid_);
        }
    }
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;

private:
    bool active_;
    uid_t oldUid_ = 0;
    gid_t oldGid_ = 0;
};

// Creates each missing folder of `path` (mode 0700).
bool MakeFolders(const std::string& path) {
    for (std::size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// One argument of an Exec line: quoted when it holds anything reserved, with
// the characters the quotes keep special escaped; "%" doubled.
std::string ExecArgument(const std::string& argument) {
    std::string text;
    bool quote = argument.empty();
    for (const char c : argument) {
        if (c == '%') {
            text += "%%";
            continue;
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            text += '\\';
        }
        quote = quote || std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string::npos;
        text += c;
    }
    return quote ? "\"" + text + "\"" : text;  // unquoted, nothing needed escaping
}

// A value of a desktop entry: backslashes doubled, line breaks escaped.
std::string EntryValue(const std::string& text) {
    std::string value;
    for (const char c : text) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '\n') {
            value += "\\n";
        } else {
            value += c;
        }
    }
    return value;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string RunOnceEntryPath(const std::string& name) {
    const Autostart place = FindAutostart();
    return place.folder.empty() ? std::string() : place.folder + "/" + name + ".desktop";
}

bool SetRunOnce(const std::string& name, const std::string& commandLine) {
    const Autostart place = FindAutostart();
    const std::string path = RunOnceEntryPath(name);
    if (path.empty() || name.find('/') != std::string::npos) {
        return false;
    }
    // The entry goes first, so the command runs once even if it restarts again.
    std::vector<std::string> arguments = {"/bin/sh", "-c", "rm -f -- \"$0\"; exec \"$@\"", path};
    for (const std::string& argument : SplitCommandLine(commandLine)) {
        arguments.push_back(argument);
    }
    std::string exec;
    for (const std::string& argument : arguments) {
        exec += (exec.empty() ? "" : " ") + ExecArgument(argument);
    }
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + EntryValue(name) +
                              "\nExec=" + EntryValue(exec) +
                              "\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n";

    const ActingAs acting(place);
    if (!MakeFolders(place.folder)) {
        return false;
    }
    // Written beside it and renamed over it: a rename replaces a link, it
    // never writes through one.
    std::string staging = place.folder + "/." + name + ".XXXXXX";
    const int fd = mkostemp(staging.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, entry) && fchmod(fd, 0600) == 0;
    close(fd);
    if (!written || rename(staging.c_str(), path.c_str()) != 0) {
        unlink(staging.c_str());
        return false;
    }
    return true;
}

void RemoveRunOnce(const std::string& name) {
    const Autostart place = FindAutostart();
    const std::string path = RunOnceEntryPath(name);
    if (path.empty() || name.find('/') != std::string::npos) {
        return;
    }
    const ActingAs acting(place);
    unlink(path.c_str());
}

bool Reboot() {
    std::string command = process::EnvironmentVariable("STUB_REBOOT_COMMAND");
    if (command.empty()) {
        command = "systemctl reboot";
    }
    char shell[] = "/bin/sh";
    char option[] = "-c";
    std::vector<char> text(command.begin(), command.end());
    text.push_back('\0');
    char* const argv[] = {shell, option, text.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, shell, nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace stubframework::platform::session
