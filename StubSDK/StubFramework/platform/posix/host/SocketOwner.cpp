#include "platform/posix/host/SocketOwner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace stubframework::platform::posix {
namespace {

// An address of the tables: hex words in host order, then ":" and the port in hex.
struct TableAddress {
    std::array<std::uint8_t, 16> bytes{};
    bool v6 = false;
    std::uint16_t port = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool ParseHex32(std::string_view text, std::uint32_t& value) {
    value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool ParseTableAddress(std::string_view text, TableAddress& address) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || (colon != 8 && colon != 32) ||
        text.size() - colon != 5) {
        return false;
    }
    address.v6 = colon == 32;
    for (std::size_t word = 0; word < colon / 8; ++word) {
        std::uint32_t value = 0;
        if (!ParseHex32(text.substr(word * 8, 8), value)) {
            return false;
        }
        std::memcpy(address.bytes.data() + word * 4, &value,
                    4);  // host order, as the kernel printed it
    }
    std::uint32_t port = 0;
    if (!ParseHex32(text.substr(colon + 1), port)) {
        return false;
    }
    address.port = static_cast<std::uint16_t>(port);
    return true;
}

// A socket address as the tables write it, v4 addresses also in their
// v4-mapped v6 form.
bool Matches(const TableAddress& entry, const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        if (entry.port != ntohs(v4.sin_port)) {
            return false;
        }
        if (!entry.v6) {
            return std::memcmp(entry.bytes.data(), &v4.sin_addr, 4) == 0;
        }
        static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        return std::memcmp(entry.bytes.data(), kMapped, 12) == 0 &&
               std::memcmp(entry.bytes.data() + 12, &v4.sin_addr, 4) == 0;
    }
    if (address.ss_family == AF_INET6 && entry.v6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        return entry.port == ntohs(v6.sin6_port) &&
               std::memcmp(entry.bytes.data(), &v6.sin6_addr, 16) == 0;
    }
    return false;
}

}  // namespace

std::string ReadSocketTable(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace {

// Copies an address and port into the kernel's socket id form.
void ToSocketId(const sockaddr_storage& address, __be16& port, __be32 (&bytes)[4]) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        port = v4.sin_port;
        std::memcpy(bytes, &v4.sin_addr, 4);
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        port = v6.sin6_port;
        std::memcpy(bytes, &v6.sin6_addr, 16);
    }
}

}  // namespace

std::optional<uid_t> KernelSocketOwner(const sockaddr_storage& local,
                                       const sockaddr_storage& remote) {
    if (local.ss_family != remote.ss_family ||
        (local.ss_family != AF_INET && local.ss_family != AF_INET6)) {
        return std::nullopt;
    }
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) {
        return std::nullopt;
    }
    const timeval wait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } question{};
    question.header.nlmsg_len = sizeof question;
    question.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    question.header.nlmsg_flags = NLM_F_REQUEST;
    question.request.sdiag_family = static_cast<__u8>(local.ss_family);
    question.request.sdiag_protocol = IPPROTO_TCP;
    question.request.idiag_states = ~0u;
    question.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    question.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    ToSocketId(local, question.request.id.idiag_sport, question.request.id.idiag_src);
    ToSocketId(remote, question.request.id.idiag_dport, question.request.id.idiag_dst);
    std::optional<uid_t> owner;
    alignas(nlmsghdr) char answer[8192];
    if (send(fd, &question, sizeof question, 0) == static_cast<ssize_t>(sizeof question)) {
        const ssize_t got = recv(fd, answer, sizeof answer, 0);
        auto left = static_cast<unsigned int>(got > 0 ? got : 0);
        for (auto* header = reinterpret_cast<nlmsghdr*>(answer); got > 0 && NLMSG_OK(header, left);
             header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                break;  // an error (no such socket) or something else
            }
            const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            if (found->id.idiag_sport == question.request.id.idiag_sport &&
                found->id.idiag_dport == question.request.id.idiag_dport) {
                owner = found->idiag_uid;
            }
            break;
        }
    }
    close(fd);
    return owner;
}

std::optional<uid_t> FindSocketOwner(std::string_view table, const sockaddr_storage& local,
                                     const sockaddr_storage& remote) {
    std::size_t at = table.find('\n');  // the heading
    while (at != std::string_view::npos && at + 1 < table.size()) {
        const std::size_t end = table.find('\n', at + 1);
        std::istringstream line(std::string(table.substr(at + 1, end - at - 1)));
        at = end;
        std::string slot;
        std::string localText;
        std::string remoteText;
        std::string state;
        std::string queues;
        std::string timer;
        std::string retransmits;
        long long uid = -1;
        if (!(line >> slot >> localText >> remoteText >> state >> queues >> timer >> retransmits >>
              uid) ||
            uid < 0) {
            continue;
        }
        TableAddress entryLocal;
        TableAddress entryRemote;
        if (ParseTableAddress(localText, entryLocal) &&
            ParseTableAddress(remoteText, entryRemote) && Matches(entryLocal, local) &&
            Matches(entryRemote, remote)) {
            return static_cast<uid_t>(uid);
        }
    }
    return std::nullopt;
}

std::optional<uid_t> PeerOwner(int fd) {
    sockaddr_storage ours{};
    sockaddr_storage theirs{};
    socklen_t oursLength = sizeof ours;
    socklen_t theirsLength = sizeof theirs;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&ours), &oursLength) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &theirsLength) != 0) {
        return std::nullopt;
    }
    // The peer's socket: its local end is their address, its remote end ours.
    if (const std::optional<uid_t> owner = KernelSocketOwner(theirs, ours)) {
        return owner;
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        if (const std::optional<uid_t> owner =
                FindSocketOwner(ReadSocketTable(table), theirs, ours)) {
            return owner;
        }
    }
    return std::nullopt;
}

}  // namespace stubframework::platform::posix
