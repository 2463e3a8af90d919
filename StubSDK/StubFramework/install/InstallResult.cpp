// Result codes of installers and programs, and the switches of their command lines.
#include <cctype>

#include "core/InstallerLog.h"
#include "install/Installers.h"
#include "platform/commandline.h"

namespace stubframework::core {
namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

ErrorHandle TransferInstallError(debug::InstallerLog* log, std::uint32_t code) {
    debug::LogDebugMessage(log, "TransferInstallError HRESULT: %x", code);
    switch (code) {
        case 0:
            return ErrorHandle::NoError;
        case 1602:
            return ErrorHandle::Cancelled;
        case 1603:
            return ErrorHandle::Failure;
        case 1618:
            return ErrorHandle::OtherInstalling;
        case 1641:
        case 3010:
            return ErrorHandle::Reboot;
        default:
            return ErrorHandle::UnknowError;
    }
}

bool HasSwitch(const std::string& parameters, const std::string& name) {
    const std::string wanted = Upper(name);
    for (const std::string& argument : platform::SplitCommandLine(parameters)) {
        if (Upper(argument) == wanted) {
            return true;
        }
    }
    return false;
}

std::string RemoveSwitch(const std::string& parameters, const std::string& text) {
    if (text.empty()) {
        return parameters;
    }
    const std::string upperText = Upper(text);
    std::string result = parameters;
    std::size_t at = 0;
    while ((at = Upper(result).find(upperText, at)) != std::string::npos) {
        // Only where an argument begins (at a blank, or at a quotation mark that
        // itself begins one): a Linux path inside a value ("/usr/local",
        // INSTALLDIR="/local/app") must not lose its tail to "/l".
        const auto startsArgument = [&result](std::size_t position) {
            return position == 0 || result[position - 1] == ' ' || result[position - 1] == '\t';
        };
        if (!startsArgument(at) && !(result[at - 1] == '"' && startsArgument(at - 1))) {
            at += upperText.size();
            continue;
        }
        std::size_t end = at + upperText.size();
        while (end < result.size() && result[end] != ' ') {
            ++end;
        }
        result.erase(at, end - at);
    }
    return result;
}

}  // namespace stubframework::core
