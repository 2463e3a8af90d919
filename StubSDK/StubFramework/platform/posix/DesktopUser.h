// Who sits at the desktop when this process runs as root on their behalf
// (through sudo or pkexec): the user whose programs we start and whose
// browser may reach the page bridge.
#pragma once

#include <sys/types.h>

#include <string>

namespace stubframework::platform::posix {

// False when we run as ourselves (not root, or root for root).
bool DesktopUser(uid_t& uid, gid_t& gid, std::string& name, std::string& home);

}  // namespace stubframework::platform::posix
