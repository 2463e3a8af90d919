#include "core/MachineIdentity.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/identity.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

namespace crypto = platform::crypto;
namespace fs = platform::fs;
namespace id = platform::identity;
namespace reg = platform::registry;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kIdentifierLength = 38;
constexpr std::size_t kAddressPartLength = 36;
constexpr std::string_view kEntropy = "quenvar";
// A valid blob is under 200 bytes; anything near this is not ours.
constexpr std::size_t kMaxStoredBytes = 4096;
constexpr auto kSharingRetry = std::chrono::milliseconds(5);
constexpr auto kSharingWait = std::chrono::milliseconds(3000);
// Longer than a holder's whole read-decide-store, sharing waits included.
constexpr std::uint32_t kLockWaitMs = 10000;
constexpr const char* kFingerprintKey = "Software\\Zelvo\\PCU";
constexpr std::size_t kMaxFingerprintAdapters = 30;

struct VirtualModel {
    std::string_view model;
    std::string_view manufacturer;
};
constexpr VirtualModel kVirtualModels[] = {
    {"VirtualBox", "innotek GmbH"},
    {"VMware Virtual Platform", "VMware, Inc."},
    {"Virtual Machine", "Microsoft Corporation"},
};

struct IdentifierCache {
    std::mutex lock;
    std::string identifier;
};

IdentifierCache& Cache() {
    static IdentifierCache cache;
    return cache;
}

// Busy: the file is there but could not be read now. Only an absent or
// unusable file may be replaced; a busy one holds an identity we cannot see.
enum class StoredState { kAbsent, kBusy, kFound };

struct Stored {
    StoredState state = StoredState::kAbsent;
    std::string identifier;
};

std::string IdentifierFolder() {
    return platform::system::CommonAppDataFolder() + "/UniqueId";
}

bool IsAsciiAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::span<const std::uint8_t> Bytes(const std::vector<std::uint8_t>& data) {
    return {data.data(), data.size()};
}

// UTF-16LE without a terminator.
std::vector<std::uint8_t> Utf16Bytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : platform::Utf8ToUtf16(text)) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

std::u16string Utf16Units(const std::vector<std::uint8_t>& bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return units;
}

// Another reader may hold the file for a moment; wait it out, briefly.
std::uint32_t OpenUnsharedWaiting(fs::FileHandle& file, const std::string& path) {
    const Clock::time_point deadline = Clock::now() + kSharingWait;
    for (;;) {
        const std::uint32_t opened = file.OpenUnshared(path);
        if (opened != platform::kErrorSharingViolation || Clock::now() >= deadline) {
            return opened;
        }
        std::this_thread::sleep_for(kSharingRetry);
    }
}

Stored ReadStoredIdentifier() {
    fs::FileHandle file;
    const std::uint32_t opened = OpenUnsharedWaiting(file, StoredIdentifierPath());
    if (opened == platform::kErrorSharingViolation) {
        return {StoredState::kBusy, {}};
    }
    if (opened != platform::kErrorSuccess) {
        return {};
    }
    std::vector<std::uint8_t> blob(kMaxStoredBytes + 1);
    const std::int64_t got = file.Read(blob.data(), blob.size());
    if (got < 0) {
        return {StoredState::kBusy, {}};
    }
    if (got == 0 || static_cast<std::size_t>(got) > kMaxStoredBytes) {
        return {};
    }
    blob.resize(static_cast<std::size_t>(got));
    std::vector<std::uint8_t> plain;
    if (!id::UnprotectForMachine(Bytes(blob), kEntropy, plain)) {
        return {};
    }
    const std::u16string units = Utf16Units(plain);
    if (units.size() != kIdentifierLength) {
        return {};
    }
    return {StoredState::kFound, platform::Utf16ToUtf8(units)};
}

bool StoreIdentifier(const std::string& identifier) {
    std::vector<std::uint8_t> blob;
    if (!id::ProtectForMachine(Bytes(Utf16Bytes(identifier)), kEntropy, blob)) {
        return false;
    }
    // Machine-wide: every user of the machine reads the same identifier.
    const fs::Readers everyone = fs::Readers::kEveryone;
    return fs::CreateFolderTree(IdentifierFolder(), everyone) == platform::kErrorSuccess &&
           fs::ReplaceFileContent(StoredIdentifierPath(), Bytes(blob), everyone) ==
               platform::kErrorSuccess;
}

bool NewVirtualIdentifier(std::string& identifier) {
    const std::string guid = crypto::NewGuidText(crypto::GuidCase::kUpper);
    if (guid.empty()) {
        return false;
    }
    identifier = "V-" + guid;
    return true;
}

bool PhysicalIdentifier(std::string& identifier) {
    std::vector<std::string> addresses;
    if (!ListAdapterMacAddresses(addresses)) {
        return false;
    }
    std::sort(addresses.begin(), addresses.end());
    const std::string part = IdentifierFromAddress(addresses.front());
    if (part.empty()) {
        return false;
    }
    identifier = "P-" + part;
    return true;
}

// Some drivers report all zeros (or ones): every such machine would share
// one identifier.
bool IsUsableAddress(const id::HardwareAddress& address) {
    const auto all = [&](std::uint8_t value) {
        return std::all_of(address.begin(), address.end(),
                           [value](std::uint8_t byte) { return byte == value; });
    };
    return !all(0x00) && !all(0xFF);
}

std::string AddressText(const id::HardwareAddress& a) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

reg::Key OpenFingerprintKey() {
    reg::Key key;
    reg::CreateKey(reg::Root::CurrentUser, kFingerprintKey, reg::View::Default, key);
    return key;
}

// Kept the way Windows writes it: the text's UTF-16 units, no terminator.
// Best effort: a missing record only costs the next run a fresh query.
void Record(const reg::Key& key, const std::string& name, std::string_view text) {
    if (key.IsOpen()) {
        reg::SetValue(key, name, reg::kRegSz, Utf16Bytes(text));
    }
}

std::string TextValue(const reg::Key& key, const std::string& name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (!key.IsOpen() || reg::QueryValue(key, name, type, data) != platform::kErrorSuccess ||
        (type != reg::kRegSz && type != reg::kRegExpandSz)) {
        return {};
    }
    return reg::DataText(data);
}

std::string Trimmed(const std::string& text) {
    constexpr const char* kBlanks = " \t\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The adapters' addresses by index; a switched-off adapter falls back to
// the address an earlier run recorded under its index.
std::map<std::uint32_t, std::string> AddressesByIndex(const reg::Key& key) {
    std::vector<id::NetworkAdapter> adapters = id::PhysicalNetworkAdapters(id::UsbAdapters::kKeep);
    if (adapters.size() > kMaxFingerprintAdapters) {
        adapters.resize(kMaxFingerprintAdapters);
    }
    std::map<std::uint32_t, std::string> kept;
    for (const id::NetworkAdapter& adapter : adapters) {
        std::string address;
        if (adapter.address) {
            address = *adapter.address;
        } else if (adapter.disabled) {
            address = TextValue(key, std::to_string(adapter.index));
        } else {
            continue;
        }
        std::erase(address, '.');
        if (!address.empty()) {
            kept.emplace(adapter.index, std::move(address));
        }
    }
    return kept;
}

// The computer-system part: maker, then "|" and model when there is one.
std::string ComputerSystemPart() {
    std::string part = id::SystemManufacturer().value_or("");
    if (const std::optional<std::string> model = id::SystemModel()) {
        part += "|" + *model;
    }
    return part;
}

// One byte per UTF-16 unit, as a single-byte code page gives it: the
// character itself up to U+00FF, "?" beyond.
std::string FingerprintOf(std::string_view composite) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : platform::Utf8ToUtf16(composite)) {
        bytes.push_back(unit <= 0xFF ? static_cast<std::uint8_t>(unit) : '?');
    }
    crypto::Md5Digest digest{};
    if (!crypto::Md5(bytes.data(), bytes.size(), digest)) {
        digest.fill(0);
    }
    std::string fingerprint = "V2";
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const std::uint8_t byte : digest) {
        fingerprint.push_back(kHex[byte >> 4]);
        fingerprint.push_back(kHex[byte & 0x0F]);
    }
    return fingerprint;
}

}  // namespace

bool ComputeMachineIdentifier(std::string& identifier) {
    IdentifierCache& cache = Cache();
    const std::lock_guard<std::mutex> guard(cache.lock);
    if (cache.identifier.empty() && !ComputeMachineIdentifierUncached(cache.identifier)) {
        return false;
    }
    identifier = cache.identifier;
    return true;
}

bool ComputeMachineIdentifierUncached(std::string& identifier) {
    // Two installers starting at once must not each decide on an identifier
    // of their own: read, decide and store under one lock.
    fs::CreateFolderTree(IdentifierFolder(), fs::Readers::kEveryone);
    fs::FileLock lock;
    if (lock.Acquire(IdentifierFolder() + "/data.lock", kLockWaitMs) ==
        platform::kErrorSharingViolation) {
        return false;
    }
    // Without a folder to lock in, nothing can be stored either: go on.
    bool isVirtual = false;
    const bool known = IsVirtualMachine(isVirtual);
    const Stored stored = ReadStoredIdentifier();
    if (stored.state == StoredState::kBusy) {
        return false;
    }
    if (stored.state == StoredState::kFound) {
        identifier = stored.identifier;
        return true;
    }
    std::string computed;
    if (known && isVirtual) {
        if (!NewVirtualIdentifier(computed) || !StoreIdentifier(computed)) {
            return false;
        }
    } else {
        if (!PhysicalIdentifier(computed)) {
            return false;
        }
        StoreIdentifier(computed);  // unstored, the same adapter gives it again
    }
    identifier = std::move(computed);
    return true;
}

bool MakeRequestToken(std::string& token) {
    std::string guid = crypto::NewGuidText(crypto::GuidCase::kUpper);
    if (guid.empty()) {
        return false;
    }
    token = std::move(guid);
    return true;
}

bool IsVirtualMachine(bool& isVirtual) {
    const std::optional<std::string> model = id::SystemModel();
    const std::optional<std::string> manufacturer = id::SystemManufacturer();
    if (!model || !manufacturer) {
        return false;
    }
    isVirtual = std::any_of(std::begin(kVirtualModels), std::end(kVirtualModels),
                            [&](const VirtualModel& row) {
                                return row.model == *model && row.manufacturer == *manufacturer;
                            });
    return true;
}

bool ListAdapterMacAddresses(std::vector<std::string>& addresses) {
    addresses.clear();
    for (const id::NetworkAdapter& adapter : id::PhysicalNetworkAdapters(id::UsbAdapters::kSkip)) {
        if (adapter.permanentAddress && IsUsableAddress(*adapter.permanentAddress)) {
            addresses.push_back(AddressText(*adapter.permanentAddress));
        }
    }
    return !addresses.empty();
}

std::string IdentifierFromAddress(std::string_view address) {
    std::string characters;
    std::copy_if(address.begin(), address.end(), std::back_inserter(characters),
                 IsAsciiAlphanumeric);
    // Nothing to cycle through: there is no identifier to make.
    if (characters.empty()) {
        return {};
    }
    std::string part;
    std::size_t next = 0;
    for (std::size_t position = 0; position < kAddressPartLength; ++position) {
        const bool hyphen = position == 8 || position == 13 || position == 18 || position == 23;
        part.push_back(hyphen ? '-' : characters[next++ % characters.size()]);
    }
    return part;
}

std::string StoredIdentifierPath() {
    return IdentifierFolder() + "/data";
}

std::string ComputeHardwareFingerprint() {
    const reg::Key key = OpenFingerprintKey();
    std::string composite = ComputerSystemPart();
    if (!composite.empty()) {
        Record(key, "model", composite);
    }
    const auto append = [&](const char* name, const std::string& part) {
        if (!part.empty()) {
            Record(key, name, part);
            composite += "|" + part;
        }
    };
    append("board", id::BoardSerialNumber().value_or(""));
    append("bios", id::SystemSerialNumber().value_or(""));
    std::string card;
    if (ReadNetworkCardId(card)) {
        append("networkcard", card);
    }
    return FingerprintOf(composite);
}

bool ReadNetworkCardId(std::string& part) {
    const reg::Key key = OpenFingerprintKey();
    std::string recorded = Trimmed(TextValue(key, "HFNCv2"));
    if (!recorded.empty()) {
        part = std::move(recorded);
        return true;
    }
    const std::map<std::uint32_t, std::string> addresses = AddressesByIndex(key);
    if (addresses.empty()) {
        return false;
    }
    const auto& [index, address] = *addresses.begin();
    Record(key, "cardnumber", std::to_string(index));
    Record(key, std::to_string(index), address);
    Record(key, "HFNCv2", address);
    part = address;
    return true;
}

}  // namespace stubframework::core
