// The command line the Windows way: one raw text, split by the rules of
// CommandLineToArgvW. On Linux the raw text is rebuilt from argv with the
// Windows quoting rules and split by our own implementation of those rules,
// so both platforms see the same arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace stubframework::platform {

// Quotes one argument so that SplitCommandLine gives it back unchanged.
std::string QuoteArgument(std::string_view argument);
// Joins arguments into one command line; element 0 is the program name. The
// value of a name=value argument is always quoted (name="value"), as people
// write such values on Windows.
std::string BuildCommandLine(const std::vector<std::string>& arguments);
// CommandLineToArgvW: the program-name rule first, then the backslash and
// quote rules for every other argument.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// GetCommandLine: the process's raw command line.
const std::string& RawCommandLine();

}  // namespace stubframework::platform
