// Which user a loopback TCP connection comes from: the kernel names the
// owner of every socket, the peer's end of a connection to us among them.
// Asked directly (sock_diag) where it can be, read from its tables
// (/proc/net/tcp and tcp6) otherwise.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace stubframework::platform::posix {

// The uid owning the socket at the other end of the connected socket `fd`;
// nothing when it cannot be found (a peer on another host or namespace).
std::optional<uid_t> PeerOwner(int fd);

// The same lookup in one table's text: the owner of the socket whose local
// end is `local` and remote end `remote`.
std::optional<uid_t> FindSocketOwner(std::string_view table, const sockaddr_storage& local,
                                     const sockaddr_storage& remote);

// The owner of the socket whose ends are `local` and `remote`, as the kernel
// answers it (sock_diag); nothing where it does not.
std::optional<uid_t> KernelSocketOwner(const sockaddr_storage& local,
                                       const sockaddr_storage& remote);

// The text of one of the kernel's socket tables ("/proc/net/tcp").
std::string ReadSocketTable(const char* path);

}  // namespace stubframework::platform::posix
