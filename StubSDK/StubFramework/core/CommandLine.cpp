#include "core/CommandLine.h"

#include "platform/commandline.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view upperCase) {
    return platform::FoldCase(text) == upperCase;
}

// A separator of either kind: paths handed over by Windows-minded callers
// may use backslashes.
std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("\\/");
}

bool HasArgumentAfterProgram(const Arguments& arguments, std::string_view upperCase) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (EqualsIgnoringCase(arguments[i], upperCase)) {
            return true;
        }
    }
    return false;
}

}  // namespace

const Arguments& CommandLineArguments() {
    static const Arguments arguments = platform::SplitCommandLine(platform::RawCommandLine());
    return arguments;
}

std::string GetArgumentValue(const std::vector<std::string>& arguments, std::string_view name) {
    const std::string prefix = std::string(name) + "=";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].starts_with(prefix)) {
            return arguments[i].substr(prefix.size());
        }
    }
    return {};
}

std::string GetQuotedArgumentValue(std::string_view raw, std::string_view name) {
    const std::string key = std::string(name) + "=\"";
    const std::size_t start = raw.find(key);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t valueStart = start + key.size();
    const std::size_t end = raw.find('"', valueStart);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(raw.substr(valueStart, end - valueStart));
}

std::string PassThroughText(std::string_view raw) {
    std::string text = GetQuotedArgumentValue(raw, "passthrough");
    const std::string shortForm = GetQuotedArgumentValue(raw, "passthro");
    if (!shortForm.empty()) {
        text += ' ';
        text += shortForm;
    }
    return text;
}

ResumeMode ResumeModeFromArguments(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string folded = platform::FoldCase(arguments[i]);
        if (folded == "RESUME=DOWNLOADING") {
            return ResumeMode::DOWNLOADING;
        }
        if (folded == "RESUME=INSTALLING") {
            return ResumeMode::INSTALLING;
        }
    }
    return ResumeMode::NONE;
}

bool ShortcutPath(const Arguments& arguments, std::string& path) {
    constexpr std::string_view kPrefix = "shortcut=";
    for (const std::string& argument : arguments) {
        if (argument.starts_with(kPrefix)) {
            path = argument.substr(kPrefix.size());
            return true;
        }
    }
    return false;
}

std::string LauncherFolder(const Arguments& arguments) {
    std::string path;
    if (!ShortcutPath(arguments, path)) {
        path = platform::process::ExecutablePath();
    }
    const std::size_t separator = LastSeparator(path);
    return separator == std::string::npos ? path : path.substr(0, separator);
}

bool IsWorkingCopy(const Arguments& arguments) {
    return HasArgumentAfterProgram(arguments, "RUN=1");
}

bool IsSkipSelfUpdate(const Arguments& arguments) {
    return HasArgumentAfterProgram(arguments, "UPDATE=0");
}

bool IsSilentLaunch(const Arguments& arguments) {
    for (const std::string& argument : arguments) {
        if (EqualsIgnoringCase(argument, "/QN")) {
            return true;
        }
    }
    return false;
}

std::string UninstallModeFromArguments(const Arguments& arguments) {
    // Where paths are written with "/", a folder named Uninstall or Modify in
    // the program's path or the launcher's is no switch.
    const bool slashPaths = platform::fs::kPathSeparator == '/';
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (slashPaths && (index == 0 || argument.rfind("shortcut=", 0) == 0)) {
            continue;
        }
        // Lower case by folding to upper: the same test without a second table.
        const std::string folded = platform::FoldCase(argument);
        if (folded.find("/UNINSTALL") != std::string::npos) {
            return "uninstall";
        }
        if (folded.find("/MODIFY") != std::string::npos) {
            return "modify";
        }
    }
    return {};
}

}  // namespace stubframework::core
