// The install methods: a downloaded package installed with progress, a
// product removed or repaired through its installer, and a file looked for
// in a folder tree; each on a worker reporting through the page's callback.
#pragma once

#include <memory>
#include <string>

#include "bridge/MethodHandler.h"
#include "bridge/Workers.h"

namespace stubframework {

void InstallThreadFunc(std::unique_ptr<InstallRequest> request);
// first: the command line; second: its log file.
void UninstallThreadFunc(std::unique_ptr<CommandRequest> request);
// first: the folder; second: the file, possibly with folders in front.
void VerifyThreadFunc(std::unique_ptr<CommandRequest> request);

// A product code as the installer and the uninstall key spell it: in braces.
std::string BracedProductCode(const std::string& productCode);

// What an installer is given: the pass-through text of our own command
// line, a blank, the page's parameters, and " /qn" when we run silently.
std::string InstallParameters(const std::string& passThrough, const std::string& parameters,
                              bool silent);

// Replaces the first `placeholder` in `text`; placeholders shorter than
// three characters are never replaced.
std::string ReplaceFirst(std::string text, const std::string& placeholder,
                         const std::string& value);

// Where `file` (a name, possibly with folders in front) lies under `folder`:
// the folder it was found in minus its own folders, with a trailing
// separator; empty when it is not there or the search was cancelled.
// Folders are searched in name order; links are never followed.
std::string FindCommonFolder(const std::string& folder, const std::string& file,
                             const std::atomic<bool>& active);

}  // namespace stubframework

namespace stubframework::methods {

HRESULT install(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT removeProgram(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT repairProgram(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT verifyFileInSpecialDirectory(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                                     VARIANT* result);
HRESULT cancelVerifyThread(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
