// The file and folder methods: what the pages learn about files, folders and
// volumes before they download and install, and the few changes they make.
// Every path a page gives is in its own spelling (fs::FromPagePath).
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT isFileExists(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT createDirectory(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getFileSize(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT renameFile(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getDiskAvailableSpace(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                              VARIANT* result);
HRESULT getFileVersion(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getCurrentPath(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getDesktopPath(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getTempPath(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getResourceLocation(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result);
HRESULT getEmbeddedDataFromCurrentExe(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                                      VARIANT* result);

}  // namespace stubframework::methods
