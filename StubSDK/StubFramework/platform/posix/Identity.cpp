// Machine facts from sysfs: the firmware's DMI strings and the network
// class. Protection is AES-256-GCM under a key derived from the machine id,
// which every user may read and which differs between machines.
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <openssl/crypto.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/identity.h"

namespace stubframework::platform::identity {
namespace {

namespace stdfs = std::filesystem;

constexpr const char* kSystemSysfs = "/sys";
// Attribute files hold one short line; a longer one is not what we asked for.
constexpr std::size_t kMaxAttributeSize = 4096;
// The kernel's longest hardware address (MAX_ADDR_LEN).
constexpr std::size_t kMaxAddressLength = 32;
constexpr std::size_t kMachineIdLength = 32;

constexpr std::string_view kBlobMagic = "SDP1";
constexpr std::string_view kKeyLabel = "stubframework machine-bound data protection";

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// Key bytes are wiped when they go.
struct ScrubbedKey {
    crypto::Aes256Key bytes{};
    ~ScrubbedKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

std::string SysfsRoot() {
    const char* root = std::getenv("STUB_SYSFS_ROOT");
    return root != nullptr && *root != '\0' ? root : kSystemSysfs;
}

// A small file's text without its line end; nothing when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path) {
    const FdCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxAttributeSize, '\0');
    std::size_t total = 0;
    while (total < text.size()) {
        const ssize_t got = read(file.fd, text.data() + total, text.size() - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    text.resize(total);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::optional<std::string> DmiString(const char* name) {
    return ReadAttribute(SysfsRoot() + "/class/dmi/id/" + name);
}

std::optional<std::uint32_t> ParseIndex(const std::optional<std::string>& text) {
    std::uint32_t value = 0;
    if (!text || text->empty()) {
        return std::nullopt;
    }
    const char* end = text->data() + text->size();
    const auto [next, error] = std::from_chars(text->data(), end, value);
    return error == std::errc() && next == end ? std::optional(value) : std::nullopt;
}

// "aa:bb:cc:dd:ee:ff" as its 6 bytes.
std::optional<HardwareAddress> ParseAddress(const std::string& text) {
    HardwareAddress address{};
    if (text.size() != 17) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < address.size(); ++i) {
        const char* pair = text.data() + i * 3;
        if (i > 0 && pair[-1] != ':') {
            return std::nullopt;
        }
        const auto [next, error] = std::from_chars(pair, pair + 2, address[i], 16);
        if (error != std::errc() || next != pair + 2) {
            return std::nullopt;
        }
    }
    return address;
}

// ETHTOOL_GPERMADDR needs no privileges.
std::optional<HardwareAddress> QueryPermanentAddress(const std::string& name) {
    if (name.size() >= IFNAMSIZ) {
        return std::nullopt;
    }
    const FdCloser socket{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0) {
        return std::nullopt;
    }
    alignas(ethtool_perm_addr)
        std::array<std::uint8_t, sizeof(ethtool_perm_addr) + kMaxAddressLength>
            buffer{};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer.data());
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = kMaxAddressLength;
    ifreq interface {};
    std::memcpy(interface.ifr_name, name.data(), name.size());
    interface.ifr_data = reinterpret_cast<char*>(request);
    HardwareAddress address{};
    if (ioctl(socket.fd, SIOCETHTOOL, &interface) != 0 || request->size != address.size()) {
        return std::nullopt;
    }
    std::memcpy(address.data(), buffer.data() + sizeof(ethtool_perm_addr), address.size());
    return address;
}

// Whether the device or one above it belongs to the Bluetooth subsystem.
bool UnderBluetooth(stdfs::path device, const stdfs::path& root) {
    std::error_code error;
    for (; device != root && device.has_relative_path(); device = device.parent_path()) {
        const stdfs::path subsystem = stdfs::read_symlink(device / "subsystem", error);
        if (!error && subsystem.filename() == "bluetooth") {
            return true;
        }
    }
    return false;
}

bool HasLine(std::string_view text, std::string_view line) {
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (text.substr(start, end - start) == line) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool HasUsbComponent(const stdfs::path& relative) {
    return std::any_of(relative.begin(), relative.end(),
                       [](const stdfs::path& part) { return part.native().starts_with("usb"); });
}

// A network interface that is hardware of this computer: it has a device,
// is an Ethernet-type link, and sits neither on USB (unless kept) nor on
// Bluetooth.
bool IsPhysical(const std::string& folder, const stdfs::path& root, UsbAdapters usb) {
    if (ReadAttribute(folder + "/type") != "1") {
        return false;
    }
    std::error_code error;
    const stdfs::path device = stdfs::canonical(folder + "/device", error);
    if (error) {
        return false;
    }
    if (usb == UsbAdapters::kSkip && HasUsbComponent(device.lexically_relative(root))) {
        return false;
    }
    const std::optional<std::string> uevent = ReadAttribute(folder + "/uevent");
    if (uevent && HasLine(*uevent, "DEVTYPE=bluetooth")) {
        return false;
    }
    return !UnderBluetooth(device, root);
}

std::optional<NetworkAdapter> ReadAdapter(const std::string& folder, const std::string& name,
                                          bool liveSystem) {
    NetworkAdapter adapter;
    const std::optional<std::uint32_t> index = ParseIndex(ReadAttribute(folder + "/ifindex"));
    if (!index) {
        return std::nullopt;
    }
    adapter.index = *index;
    std::optional<std::string> address = ReadAttribute(folder + "/address");
    if (address && !address->empty()) {
        std::transform(address->begin(), address->end(), address->begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        adapter.address = address;
    }
    // A tree that stands in for sysfs has no driver to ask.
    if (liveSystem) {
        adapter.permanentAddress = QueryPermanentAddress(name);
    } else if (adapter.address) {
        adapter.permanentAddress = ParseAddress(*adapter.address);
    }
    return adapter;
}

bool IsMachineId(const std::string& text) {
    return text.size() == kMachineIdLength &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// The machine id: 32 hex digits that differ between machines and stay for
// the machine's life. A file holding anything else (such as the
// "uninitialized" of an early boot) does not count.
std::optional<std::string> MachineId() {
    const char* chosen = std::getenv("STUB_MACHINE_ID_FILE");
    const std::initializer_list<const char*> system = {"/etc/machine-id",
                                                       "/var/lib/dbus/machine-id"};
    const std::initializer_list<const char*> only = {chosen};
    for (const char* path : chosen != nullptr && *chosen != '\0' ? only : system) {
        std::optional<std::string> text = ReadAttribute(path);
        if (text && IsMachineId(*text)) {
            return text;
        }
    }
    return std::nullopt;
}

// Never the id itself as key: a key of this program's own, derived from it
// and the caller's entropy.
bool DeriveKey(std::string_view entropy, ScrubbedKey& key) {
    const std::optional<std::string> id = MachineId();
    if (!id) {
        return false;
    }
    const auto bytes = [](std::string_view text) {
        return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    return crypto::HkdfSha256(bytes(*id), bytes(kKeyLabel), bytes(entropy), key.bytes);
}

std::span<const std::uint8_t> MagicBytes() {
    return {reinterpret_cast<const std::uint8_t*>(kBlobMagic.data()), kBlobMagic.size()};
}

}  // namespace

std::optional<std::string> SystemModel() {
    return DmiString("product_name");
}

std::optional<std::string> SystemManufacturer() {
    return DmiString("sys_vendor");
}

std::optional<std::string> BoardSerialNumber() {
    return DmiString("board_serial");
}

std::optional<std::string> SystemSerialNumber() {
    return DmiString("product_serial");
}

std::vector<NetworkAdapter> PhysicalNetworkAdapters(UsbAdapters usb) {
    const std::string root = SysfsRoot();
    const std::string classNet = root + "/class/net";
    std::vector<fs::FolderEntry> entries;
    std::error_code error;
    const stdfs::path canonicalRoot = stdfs::canonical(root, error);
    if (error || fs::ListFolder(classNet, entries) != kErrorSuccess) {
        return {};
    }
    const bool liveSystem = root == kSystemSysfs;
    std::vector<NetworkAdapter> adapters;
    for (const fs::FolderEntry& entry : entries) {
        const std::string folder = classNet + "/" + entry.name;
        if (!IsPhysical(folder, canonicalRoot, usb)) {
            continue;
        }
        if (std::optional<NetworkAdapter> adapter = ReadAdapter(folder, entry.name, liveSystem)) {
            adapters.push_back(std::move(*adapter));
        }
    }
    return adapters;
}

bool ProtectForMachine(std::span<const std::uint8_t> data, std::string_view entropy,
                       std::vector<std::uint8_t>& blob) {
    ScrubbedKey key;
    crypto::AesGcmNonce nonce{};
    if (!DeriveKey(entropy, key) || !crypto::RandomBytes(nonce.data(), nonce.size())) {
        return false;
    }
    std::vector<std::uint8_t> sealed(kBlobMagic.size() + nonce.size());
    std::memcpy(sealed.data(), kBlobMagic.data(), kBlobMagic.size());
    std::memcpy(sealed.data() + kBlobMagic.size(), nonce.data(), nonce.size());
    if (!crypto::Aes256GcmSeal(key.bytes, nonce, MagicBytes(), data, sealed)) {
        return false;
    }
    blob = std::move(sealed);
    return true;
}

bool UnprotectForMachine(std::span<const std::uint8_t> blob, std::string_view entropy,
                         std::vector<std::uint8_t>& data) {
    const std::size_t header = kBlobMagic.size() + crypto::AesGcmNonce().size();
    if (blob.size() < header + crypto::kAesGcmTagSize ||
        !std::equal(MagicBytes().begin(), MagicBytes().end(), blob.begin())) {
        return false;
    }
    ScrubbedKey key;
    if (!DeriveKey(entropy, key)) {
        return false;
    }
    crypto::AesGcmNonce nonce{};
    std::copy_n(blob.begin() + static_cast<std::ptrdiff_t>(kBlobMagic.size()), nonce.size(),
                nonce.begin());
    return crypto::Aes256GcmOpen(key.bytes, nonce, MagicBytes(), blob.subspan(header), data);
}

}  // namespace stubframework::platform::identity
