// Command lines come from whoever starts the installer: splitting must never
// crash, and quoting what was split must give the same arguments back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> arguments = stubframework::core::SplitCommandLine(line);
    stubframework::core::ResumeModeFromArguments(arguments);
    stubframework::core::GetArgumentValue(arguments, "shortcut");
    stubframework::core::PassThroughText(line);

    // The program name cannot hold a quote, and a name with blanks must be quoted.
    if (arguments[0].find('"') == std::string::npos) {
        const std::string rebuilt = stubframework::core::BuildCommandLine(arguments);
        if (stubframework::core::SplitCommandLine(rebuilt) != arguments) {
            std::abort();
        }
    }
    return 0;
}
