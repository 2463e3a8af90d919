// The command line the Windows way: one raw text, split by the rules of
// CommandLineToArgvW. On Linux the raw text is rebuilt from argv with the
// Windows quoting rules, so both platforms match arguments identically.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "StubFramework.h"

namespace stubframework::core {

// Quotes one argument so that SplitCommandLine gives it back unchanged.
std::string QuoteArgument(std::string_view argument);
// Joins arguments into one command line; element 0 is the program name.
std::string BuildCommandLine(const std::vector<std::string>& arguments);
// CommandLineToArgvW: program-name rule first, then backslash and quote rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The process's raw command line and its split form.
const std::string& RawCommandLine();
const std::vector<std::string>& CommandLineArguments();

// The value after "name=" in the first element after the program name that
// begins with it; empty when there is none.
std::string GetArgumentValue(const std::vector<std::string>& arguments, std::string_view name);
// In the raw text: the text between `name="` and the next double quote.
std::string GetQuotedArgumentValue(std::string_view raw, std::string_view name);
// "passthrough" and, after a blank, "passthro" when that is not empty.
std::string PassThroughText(std::string_view raw);
// The first "RESUME=DOWNLOADING" or "RESUME=INSTALLING" after the program
// name, in any letter case.
ResumeMode ResumeModeFromArguments(const std::vector<std::string>& arguments);

}  // namespace stubframework::core
