// The machine-wide installation lock: a lock file beside the machine's
// registry store, held with flock for the length of one installation.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "platform/msi.h"
#include "platform/posix/msi/SessionUi.h"
#include "platform/posix/registry/RegistryStore.h"

namespace stubframework::platform::msi {

InstallLock::InstallLock() {
    std::filesystem::path folder;
    if (registry::detail::HiveFolder(registry::detail::Hive::Machine, folder) != 0) {
        failed_ = true;
        return;
    }
    const int fd =
        open((folder / "installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A lock file that cannot be opened is a failure of its own, not another
    // installation that will end one day.
    if (fd < 0) {
        failed_ = true;
        detail::VerboseLog log;
        log.Line("MSI (s): The installation lock %s cannot be opened",
                 (folder / "installer.lock").c_str());
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    lock_ = fd;
}

InstallLock::~InstallLock() {
    if (lock_ >= 0) {
        close(static_cast<int>(lock_));
    }
}

}  // namespace stubframework::platform::msi
