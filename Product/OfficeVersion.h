// The installed office suite's highest version, as its registry keys show it.
#pragma once

#include <string>

#include "platform/registry.h"

namespace myexternalmethods {

// The name of the highest version key ("16.0") under the click-to-run base,
// else under the plain base, that has an application's InstallRoot with a
// "Path" value; "none" when there is none.
std::string OfficeVersion(stubframework::platform::registry::View view);

}  // namespace myexternalmethods
