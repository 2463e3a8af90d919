// The arguments the installer recognises and how each one is matched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "StubFramework.h"

namespace stubframework::core {

using Arguments = std::vector<std::string>;

// The process's command line split by the Windows rules; element 0 is the
// program name.
const Arguments& CommandLineArguments();

// The value after "name=" in the first element after the program name that
// begins with it (exact case); empty when there is none.
std::string GetArgumentValue(const Arguments& arguments, std::string_view name);
// In the raw text: the text between `name="` and the next double quote.
std::string GetQuotedArgumentValue(std::string_view raw, std::string_view name);
// "passthrough" and, after a blank, "passthro" when that is not empty.
std::string PassThroughText(std::string_view raw);

// The first element, the program name included, that begins with
// "shortcut=" (exact case): the path of the launcher's file.
bool ShortcutPath(const Arguments& arguments, std::string& path);
// The shortcut path up to its last separator; without one, the folder of
// the running executable.
std::string LauncherFolder(const Arguments& arguments);

// "run=1" after the program name, in any letter case: this is the working copy.
bool IsWorkingCopy(const Arguments& arguments);
// "update=0" after the program name, in any letter case.
bool IsSkipSelfUpdate(const Arguments& arguments);
// "/QN" in any letter case, the program name included.
bool IsSilentLaunch(const Arguments& arguments);
// "uninstall" or "modify" from the first element (the program name included)
// whose lower-case form contains "/uninstall" or "/modify"; empty otherwise.
std::string UninstallModeFromArguments(const Arguments& arguments);
// The first "RESUME=DOWNLOADING" or "RESUME=INSTALLING" after the program
// name, in any letter case.
ResumeMode ResumeModeFromArguments(const Arguments& arguments);

}  // namespace stubframework::core
