// The download methods: a package with its checksum and optional extraction,
// the installer list, the size of a package, and the stub's own update; each
// long one on a worker reporting through the page's callback.
#pragma once

#include <memory>
#include <string>

#include "bridge/MethodHandler.h"
#include "bridge/Workers.h"

namespace stubframework {

void DownloadThreadFunc(std::unique_ptr<DownloadRequest> request);
void UpdateInstallerListThreadFunc(std::unique_ptr<DownloadRequest> request);
void SelfUpdateThreadFunc(std::unique_ptr<DownloadRequest> request);

// Where the installer list downloads before it replaces `target`:
// "__NEW_FILE__" inserted before the last dot of the file name (list.js
// gives list__NEW_FILE__.js), or after a name without one.
std::string InstallerListDownloadPath(const std::string& target);

// The name the new stub downloads under: the URL's file name, or, when that
// is our own name (any case), our name's stem + "_update.exe".
std::string SelfUpdateName(const std::string& url, const std::string& ownName);

}  // namespace stubframework

namespace stubframework::methods {

HRESULT download(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT stopDownload(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT updateInstallerList(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result);
HRESULT selfUpdate(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT initDownloadSize(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT isNeedSelfUpdate(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
