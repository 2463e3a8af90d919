// The machine identifier and the hardware fingerprint over a made-up sysfs
// tree, a made-up machine id, and an install root and registry of the test's
// own.
#include "core/MachineIdentity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "core/FrameworkCore.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/identity.h"
#include "platform/registry.h"
#include "support/TestFolder.h"
#include "telemetry/ReportDocuments.h"

namespace {

using namespace stubframework::core;
namespace fs = stubframework::platform::fs;
namespace identity = stubframework::platform::identity;
namespace reg = stubframework::platform::registry;
namespace stdfs = std::filesystem;
using stubframework::platform::kErrorSuccess;

constexpr const char* kPlaceholder = "X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
constexpr const char* kMachineA = "3d1219c7c4c5404aaa1f6d2a48adfda4";
constexpr const char* kMachineB = "8f5e0b1a9c2d4e6f8a0b1c2d3e4f5a6b";

bool IsVirtualIdentifier(const std::string& text) {
    static const std::regex form(
        "V-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    return std::regex_match(text, form);
}

// A sysfs tree: DMI strings, network interfaces and the devices they sit on.
class FakeSysfs {
public:
    explicit FakeSysfs(std::string root) : root_(std::move(root)) {
        stdfs::create_directories(root_ + "/class/net");
        stdfs::create_directories(root_ + "/class/bluetooth");
    }

    void SetDmi(const std::string& name, const std::string& text) {
        stdfs::create_directories(root_ + "/class/dmi/id");
        stubtest::WriteFile(root_ + "/class/dmi/id/" + name, text + "\n");
    }

    void SetModel(const std::string& model, const std::string& manufacturer) {
        SetDmi("product_name", model);
        SetDmi("sys_vendor", manufacturer);
    }

    // `device` is the device's path below devices/; empty for an interface
    // without one (a virtual interface).
    void AddAdapter(const std::string& name, int index, const std::string& address,
                    const std::string& device = "pci0000:00/0000:00:03.0", int type = 1,
                    const std::string& uevent = "") {
        const std::string folder = root_ + "/class/net/" + name;
        stdfs::create_directories(folder);
        stubtest::WriteFile(folder + "/ifindex", std::to_string(index) + "\n");
        stubtest::WriteFile(folder + "/address", address + "\n");
        stubtest::WriteFile(folder + "/type", std::to_string(type) + "\n");
        stubtest::WriteFile(folder + "/uevent", "INTERFACE=" + name + "\n" + uevent);
        if (!device.empty()) {
            stdfs::create_directories(root_ + "/devices/" + device);
            stdfs::create_directory_symlink(root_ + "/devices/" + device, folder + "/device");
        }
    }

    // A device that belongs to the Bluetooth subsystem.
    void MarkBluetooth(const std::string& device) {
        stdfs::create_directory_symlink(root_ + "/class/bluetooth",
                                        root_ + "/devices/" + device + "/subsystem");
    }

    void RemoveAdapter(const std::string& name) { stdfs::remove_all(root_ + "/class/net/" + name); }

    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

class MachineIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        SetMachineId(kMachineA);
    }

    void SetMachineId(const std::string& id) {
        stubtest::WriteFile(work / "machine-id", id + "\n");
    }

    std::string Compute() {
        std::string identifier = "unchanged";
        EXPECT_TRUE(ComputeMachineIdentifierUncached(identifier));
        return identifier;
    }

    std::string StoredFile() const { return stubtest::ReadFile(StoredIdentifierPath()); }

    // A protected blob as the store writes it, for any text.
    void StoreText(const std::string& text) {
        std::vector<std::uint8_t> units;
        for (const char c : text) {
            units.push_back(static_cast<std::uint8_t>(c));
            units.push_back(0);
        }
        std::vector<std::uint8_t> blob;
        ASSERT_TRUE(identity::ProtectForMachine(units, "quenvar", blob));
        stdfs::create_directories(work / "root/ProgramData/UniqueId");
        stubtest::WriteFile(StoredIdentifierPath(), std::string(blob.begin(), blob.end()));
    }

    stubtest::TestFolder work;
    stubtest::ScopedEnv sysfsRoot_{"STUB_SYSFS_ROOT", work / "sys"};
    stubtest::ScopedEnv machineId_{"STUB_MACHINE_ID_FILE", work / "machine-id"};
    stubtest::ScopedEnv installRoot_{"STUB_INSTALL_ROOT", work / "root"};
    stubtest::ScopedEnv registryDir_{"STUB_REGISTRY_DIR", work / "registry"};
    FakeSysfs sysfs{work / "sys"};
};

TEST(IdentifierFromAddressTest, CyclesThroughTheLettersAndDigits) {
    EXPECT_EQ(IdentifierFromAddress("00:1A:2B:3C:4D:5E"), "001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
    EXPECT_EQ(IdentifierFromAddress("ab-cd"), "abcdabcd-abcd-abcd-abcd-abcdabcdabcd");
    // Nothing to cycle through: no identifier rather than a loop without end.
    EXPECT_EQ(IdentifierFromAddress(":-:"), "");
    EXPECT_EQ(IdentifierFromAddress(""), "");
    // The service sees the digest of the whole identifier.
    EXPECT_EQ(MachineIdDigest("P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"),
              "40114013419f868858042657ed27b94414a4b068d7f40fa5a4dac48b50e26b19");
}

TEST_F(MachineIdentityTest, VirtualMachineGetsARandomIdentifierThatIsKept) {
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    sysfs.AddAdapter("eth0", 2, "08:00:27:aa:bb:cc");
    const std::string first = Compute();
    EXPECT_TRUE(IsVirtualIdentifier(first)) << first;
    EXPECT_EQ(Compute(), first);

    // Machine-wide: readable by every user, and not readable as text.
    struct stat info {};
    ASSERT_EQ(stat(StoredIdentifierPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777u, 0644u);
    std::string units;
    for (const char c : first) {
        units += std::string{c, '\0'};
    }
    EXPECT_EQ(StoredFile().rfind("SDP1", 0), 0u);
    EXPECT_EQ(StoredFile().find(units), std::string::npos);
    // Nothing left over from writing it.
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(work / "root/ProgramData/UniqueId", entries), kErrorSuccess);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "data");
    EXPECT_EQ(entries[1].name, "data.lock");
}

TEST_F(MachineIdentityTest, ModelAndMakerMustMatchATableRowExactly) {
    bool isVirtual = true;
    EXPECT_FALSE(IsVirtualMachine(isVirtual));  // no DMI strings at all

    sysfs.SetModel("virtualbox", "innotek GmbH");
    ASSERT_TRUE(IsVirtualMachine(isVirtual));
    EXPECT_FALSE(isVirtual);
    sysfs.SetModel("VMware Virtual Platform", "VMware, Inc.");
    ASSERT_TRUE(IsVirtualMachine(isVirtual));
    EXPECT_TRUE(isVirtual);
    sysfs.SetModel("Virtual Machine", "Microsoft Corporation ");
    ASSERT_TRUE(IsVirtualMachine(isVirtual));
    EXPECT_FALSE(isVirtual);

    sysfs.SetModel("virtualbox", "innotek GmbH");
    sysfs.AddAdapter("eth0", 2, "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(Compute(), "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
}

TEST_F(MachineIdentityTest, StoredIdentifierWinsWhateverItsPrefix) {
    sysfs.AddAdapter("eth0", 2, "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(Compute(), "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    sysfs.RemoveAdapter("eth0");
    EXPECT_EQ(Compute(), "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
}

TEST_F(MachineIdentityTest, UnusableStoredFilesAreReplaced) {
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    const auto expectReplaced = [&](const std::string& before, const char* why) {
        std::string after = Compute();
        EXPECT_TRUE(IsVirtualIdentifier(after)) << why;
        EXPECT_NE(after, before) << why;
        EXPECT_EQ(Compute(), after) << why << ": the replacement is stored";
        return after;
    };
    StoreText("V-0123456789-ABCD-EF01-2345-6789ABCDEF0");  // 39 characters
    std::string current = expectReplaced("", "too long");
    StoreText("P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3");  // 37 characters
    current = expectReplaced(current, "too short");

    const std::string whole = StoredFile();
    stubtest::WriteFile(StoredIdentifierPath(), whole.substr(0, whole.size() - 3));
    current = expectReplaced(current, "truncated");

    stubtest::WriteFile(StoredIdentifierPath(), whole + std::string(5000, 'x'));
    current = expectReplaced(current, "oversized");

    SetMachineId(kMachineB);
    current = expectReplaced(current, "written on another machine");

    // An id file that holds no machine id protects nothing: a virtual machine
    // then has no identifier it could keep.
    SetMachineId("uninitialized");
    std::string identifier = "unchanged";
    EXPECT_FALSE(ComputeMachineIdentifierUncached(identifier));
    EXPECT_EQ(identifier, "unchanged");
}

TEST_F(MachineIdentityTest, LowestAddressOfTheComputersOwnAdaptersWins) {
    sysfs.AddAdapter("eth0", 2, "0a:11:22:33:44:55");
    sysfs.AddAdapter("eth1", 3, "00:11:22:33:44:55", "pci0000:00/0000:00:04.0");
    // Lower, but none of them is the computer's own hardware.
    sysfs.AddAdapter("usb0", 4, "00:00:00:00:00:01", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    sysfs.AddAdapter("bnep0", 5, "00:00:00:00:00:02", "platform/serial0/serial0-0/hci0");
    sysfs.MarkBluetooth("platform/serial0/serial0-0/hci0");
    sysfs.AddAdapter("pan0", 6, "00:00:00:00:00:03", "pci0000:00/0000:00:05.0", 1,
                     "DEVTYPE=bluetooth\n");
    sysfs.AddAdapter("veth0", 7, "00:00:00:00:00:04", "");
    sysfs.AddAdapter("ib0", 8, "00:00:00:00:00:05", "pci0000:00/0000:00:06.0", 32);
    // Addresses some drivers give: every such machine would share one identifier.
    sysfs.AddAdapter("eth2", 9, "00:00:00:00:00:00", "pci0000:00/0000:00:07.0");
    sysfs.AddAdapter("eth3", 10, "ff:ff:ff:ff:ff:ff", "pci0000:00/0000:00:08.0");

    std::vector<std::string> addresses;
    ASSERT_TRUE(ListAdapterMacAddresses(addresses));
    EXPECT_THAT(addresses,
                ::testing::UnorderedElementsAre("0A:11:22:33:44:55", "00:11:22:33:44:55"));
    EXPECT_EQ(Compute(), "P-00112233-4455-0011-2233-445500112233");
}

TEST_F(MachineIdentityTest, NoAdapterAndNoFileIsAFailure) {
    sysfs.AddAdapter("usb0", 4, "00:00:00:00:00:01", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    sysfs.AddAdapter("eth2", 9, "00:00:00:00:00:00");
    std::string identifier = kPlaceholder;
    EXPECT_FALSE(ComputeMachineIdentifierUncached(identifier));
    EXPECT_EQ(identifier, kPlaceholder);
    EXPECT_FALSE(fs::Exists(StoredIdentifierPath()));
}

TEST_F(MachineIdentityTest, PhysicalIdentifierStandsEvenWhenItCannotBeStored) {
    sysfs.AddAdapter("eth0", 2, "00:1a:2b:3c:4d:5e");
    stdfs::create_directories(work / "root");
    stubtest::WriteFile(work / "root/ProgramData", "a file where the folder should be");
    EXPECT_EQ(Compute(), "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");

    // A virtual machine's random identifier is worth nothing unstored.
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    std::string identifier = kPlaceholder;
    EXPECT_FALSE(ComputeMachineIdentifierUncached(identifier));
    EXPECT_EQ(identifier, kPlaceholder);
}

// Another process holding the file beyond the wait fails this run; the
// identity it holds is not replaced.
TEST_F(MachineIdentityTest, BusyFileFailsTheRunAndIsKept) {
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    const std::string stored = Compute();
    const std::string blob = StoredFile();
    {
        fs::FileHandle holder;
        ASSERT_EQ(holder.OpenUnshared(StoredIdentifierPath()), kErrorSuccess);
        std::string identifier = kPlaceholder;
        EXPECT_FALSE(ComputeMachineIdentifierUncached(identifier));
        EXPECT_EQ(identifier, kPlaceholder);
    }
    EXPECT_EQ(StoredFile(), blob);
    EXPECT_EQ(Compute(), stored);
}

TEST_F(MachineIdentityTest, InstallersStartingAtOnceAgree) {
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    constexpr int kRuns = 4;
    std::vector<std::string> identifiers(kRuns);
    std::vector<std::thread> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.emplace_back([&, i] { ComputeMachineIdentifierUncached(identifiers[i]); });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    EXPECT_TRUE(IsVirtualIdentifier(identifiers[0])) << identifiers[0];
    for (const std::string& identifier : identifiers) {
        EXPECT_EQ(identifier, identifiers[0]);
    }
}

// In a fresh process, whose cache is still empty.
[[noreturn]] void ReportCachedIdentifiers(FakeSysfs& sysfs) {
    std::string report;
    std::string identifier = "none";
    report += ComputeMachineIdentifier(identifier) ? "first=" + identifier : "first=failed";
    report += " core=" + FrameworkCore({"Brindlemark", "24.0.0", "test"}).MachineIdentifier();

    sysfs.AddAdapter("eth0", 2, "00:1a:2b:3c:4d:5e");
    const FrameworkCore core({"Brindlemark", "24.0.0", "test"});
    report += " core=" + core.MachineIdentifier();
    report += std::regex_match(core.RequestToken(),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                          "[0-9A-F]{12}"))
                  ? " token=guid"
                  : " token=" + core.RequestToken();

    // The cache holds the first success; a new computation would differ.
    stdfs::remove_all(StoredIdentifierPath());
    sysfs.RemoveAdapter("eth0");
    sysfs.AddAdapter("eth0", 2, "00:99:88:77:66:55");
    ComputeMachineIdentifier(identifier);
    report += " cached=" + identifier;
    ComputeMachineIdentifierUncached(identifier);
    report += " uncached=" + identifier;
    std::fprintf(stderr, "%s\n", report.c_str());
    std::fflush(stderr);
    std::_Exit(0);
}

TEST_F(MachineIdentityTest, FirstSuccessIsKeptForTheProcess) {
    EXPECT_EXIT(ReportCachedIdentifiers(sysfs), ::testing::ExitedWithCode(0),
                ::testing::HasSubstr("first=failed core=X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
                                     " core=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C token=guid"
                                     " cached=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"
                                     " uncached=P-00998877-6655-0099-8877-665500998877"));
}

class FingerprintTest : public MachineIdentityTest {
protected:
    // The raw data of a PCU value; empty when it is not there.
    std::vector<std::uint8_t> RecordedBytes(const std::string& name) {
        reg::Key key;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (reg::OpenKey(reg::Root::CurrentUser, "Software\\Zelvo\\PCU", reg::View::Default,
                         reg::Access::Read, key) != kErrorSuccess ||
            reg::QueryValue(key, name, type, data) != kErrorSuccess || type != reg::kRegSz) {
            return {};
        }
        return data;
    }

    // UTF-16LE of ASCII text, no terminator.
    static std::vector<std::uint8_t> Units(const std::string& text) {
        std::vector<std::uint8_t> bytes;
        for (const char c : text) {
            bytes.push_back(static_cast<std::uint8_t>(c));
            bytes.push_back(0);
        }
        return bytes;
    }
};

TEST_F(FingerprintTest, NothingFoundHashesNothing) {
    EXPECT_EQ(ComputeHardwareFingerprint(), "V2D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_TRUE(RecordedBytes("model").empty());
    EXPECT_TRUE(RecordedBytes("HFNCv2").empty());
}

TEST_F(FingerprintTest, PartsAreHashedAndRecordedWithoutTerminator) {
    sysfs.SetModel("VirtualBox", "innotek GmbH");
    sysfs.SetDmi("board_serial", "B-1");
    sysfs.SetDmi("product_serial", "S-2");
    // A USB adapter counts here; the lowest index is taken.
    sysfs.AddAdapter("eth0", 5, "00:11:22:33:44:55");
    sysfs.AddAdapter("usb0", 3, "08:00:27:aa:bb:cc", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");

    EXPECT_EQ(ComputeHardwareFingerprint(), "V2194F09DE75791969FB07A730DC5A585A");
    EXPECT_EQ(RecordedBytes("model"), Units("innotek GmbH|VirtualBox"));
    EXPECT_EQ(RecordedBytes("board"), Units("B-1"));
    EXPECT_EQ(RecordedBytes("bios"), Units("S-2"));
    EXPECT_EQ(RecordedBytes("networkcard"), Units("08:00:27:AA:BB:CC"));
    EXPECT_EQ(RecordedBytes("cardnumber"), Units("3"));
    EXPECT_EQ(RecordedBytes("3"), Units("08:00:27:AA:BB:CC"));
    EXPECT_EQ(RecordedBytes("HFNCv2"), Units("08:00:27:AA:BB:CC"));
}

// Serials only root may read leave no empty part behind; characters beyond
// one byte hash as "?".
TEST_F(FingerprintTest, MissingPartsAddNoSeparator) {
    sysfs.SetModel("Mod\u00e8le \u20ac", "Zelvo");
    sysfs.AddAdapter("eth0", 2, "08:00:27:aa:bb:cc");
    EXPECT_EQ(ComputeHardwareFingerprint(), "V2328E390C09584FBFB503317C0A1B151E");
    EXPECT_TRUE(RecordedBytes("board").empty());
    EXPECT_TRUE(RecordedBytes("bios").empty());
}

TEST_F(FingerprintTest, RecordedNetworkCardOutlivesTheAdapter) {
    sysfs.AddAdapter("eth0", 2, "08:00:27:aa:bb:cc");
    const std::string first = ComputeHardwareFingerprint();
    sysfs.RemoveAdapter("eth0");
    EXPECT_EQ(ComputeHardwareFingerprint(), first);

    reg::Key key;
    ASSERT_EQ(
        reg::CreateKey(reg::Root::CurrentUser, "Software\\Zelvo\\PCU", reg::View::Default, key),
        kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "HFNCv2", reg::kRegExpandSz, Units(" \t11-22\n ")), kErrorSuccess);
    std::string part;
    ASSERT_TRUE(ReadNetworkCardId(part));
    EXPECT_EQ(part, "11-22");
}

}  // namespace
