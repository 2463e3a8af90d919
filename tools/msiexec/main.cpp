// msiexec: installs, removes and repairs Windows Installer packages with the
// installer layer of the framework, taking the usual command line:
//   msiexec /i PACKAGE [NAME=value ...]      install
//   msiexec /x|/uninstall {CODE}|PACKAGE     remove
//   msiexec /f[amus...] {CODE}|PACKAGE       repair
//   /qn /qb /qb! /qf /passive (UI level), /norestart, /l*v LOG
// The exit status is the installer's code (0, 1602, 1603, 1605, 1618, 1638, 3010, ...).
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/commandline.h"
#include "platform/msi.h"
#include "platform/process.h"

namespace {

namespace msi = stubframework::platform::msi;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Shows the installer's actions when there is a UI at all.
int ShowMessage(void*, std::uint32_t type, const char* text) {
    if ((type & 0xFF000000) == msi::kMessageActionStart) {
        std::printf("%s\n", text);
    }
    return 0;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// "/f" with the letters of REINSTALLMODE, and nothing else.
bool IsRepairSwitch(const std::string& upper) {
    return upper.rfind("/F", 0) == 0 &&
           upper.find_first_not_of("POEDCAUMSV", 2) == std::string::npos;
}

std::uint32_t Usage() {
    std::fprintf(stderr,
                 "usage: msiexec /i PACKAGE | /x {CODE} | /f {CODE} [/qn] [/norestart] "
                 "[/l*v LOG] [NAME=value ...]\n");
    return msi::kInvalidCommandLine;
}

std::uint32_t Run(int argc, char** argv) {
    char mode = 0;
    std::string target;
    std::string properties;
    std::uint32_t level = msi::kUiFull;
    std::string reinstallMode;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string upper = Upper(argument);
        const bool hasNext = i + 1 < argc;
        // A switch and its target may come as one word: "/X{CODE}" is the
        // removal line written into Add/Remove entries.
        const auto take = [&](std::size_t length) {
            if (argument.size() > length) {
                target = argument.substr(length);
                return true;
            }
            if (!hasNext) {
                return false;
            }
            target = argv[++i];
            return true;
        };
        if (upper == "/P" || upper == "/UPDATE" || upper == "/A" || upper == "/J") {
            // Patches, administrative images and advertising are not for this system.
            std::fprintf(stderr, "msiexec: %s is not supported here\n", argument.c_str());
            return msi::kInvalidCommandLine;
        }
        if (upper == "/NORESTART" || upper == "/PROMPTRESTART" || upper == "/FORCERESTART") {
            // The exit code tells the caller whether to restart.
        } else if (((upper == "/I" || upper == "/PACKAGE") && take(upper.size())) ||
                   (upper.rfind("/I{", 0) == 0 && take(2))) {
            mode = 'i';
        } else if (((upper == "/X" || upper == "/UNINSTALL") && take(upper.size())) ||
                   (upper.rfind("/X{", 0) == 0 && take(2))) {
            mode = 'x';
        } else if (IsRepairSwitch(upper) && hasNext) {
            mode = 'f';
            target = argv[++i];
            // "/f" alone repairs as "/fpecms" does.
            reinstallMode = upper.size() > 2 ? Lower(argument.substr(2)) : "pecms";
        } else if (upper == "/QN" || upper == "/Q") {
            level = msi::kUiNone;
        } else if (upper == "/QB" || upper == "/QB!" || upper == "/PASSIVE") {
            level = msi::kUiBasic | (upper == "/QB!" ? msi::kUiHideCancel : 0);
        } else if (upper == "/QF") {
            level = msi::kUiFull;
        } else if ((upper.rfind("/L", 0) == 0 || upper == "/LOG") && hasNext) {
            msi::EnableLog(0x1FDF, argv[++i], 0);
        } else if (argument.find('=') != std::string::npos) {
            properties += stubframework::platform::QuoteArgument(argument) + " ";
        } else {
            return Usage();
        }
    }
    if (mode == 0 || target.empty()) {
        return Usage();
    }
    msi::SetInternalUI(level);
    if (level != msi::kUiNone) {
        msi::SetExternalUI(&ShowMessage, msi::LogModeOf(msi::kMessageActionStart), nullptr);
    }
    if (!reinstallMode.empty()) {
        properties += "REINSTALLMODE=" + reinstallMode + " ";
    }
    // "/i {CODE}": the installed product, from its kept package.
    if (mode == 'i' && target[0] == '{') {
        return msi::RepairProduct(target, properties);
    }
    // A package path where a product code is expected stands for its product.
    if (mode != 'i' && target[0] != '{') {
        std::string code;
        if (!msi::ReadPackageProperty(target, "ProductCode", code)) {
            return msi::kPackageOpenFailed;
        }
        target = code;
    }
    switch (mode) {
        case 'i':
            return msi::InstallProduct(target, properties);
        case 'x':
            return msi::RemoveProduct(target, properties);
        default:
            return msi::RepairProduct(target, properties);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The whole code reaches a parent that reads it, 8 bits any other.
    stubframework::platform::process::ExitProcess(Run(argc, argv));
}
