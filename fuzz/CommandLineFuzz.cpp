// Command lines come from whoever starts the installer: splitting must never
// crash, and quoting what was split must give the same arguments back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/CommandLine.h"
#include "platform/commandline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> arguments = stubframework::platform::SplitCommandLine(line);
    stubframework::core::ResumeModeFromArguments(arguments);
    stubframework::core::GetArgumentValue(arguments, "shortcut");
    stubframework::core::PassThroughText(line);
    stubframework::core::UninstallModeFromArguments(arguments);
    std::string path;
    stubframework::core::ShortcutPath(arguments, path);

    // The program name cannot hold a quote, and a name with blanks must be quoted.
    if (arguments[0].find('"') == std::string::npos) {
        const std::string rebuilt = stubframework::platform::BuildCommandLine(arguments);
        if (stubframework::platform::SplitCommandLine(rebuilt) != arguments) {
            std::abort();
        }
    }
    return 0;
}
