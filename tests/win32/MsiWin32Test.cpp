// The installer calls over msi.dll with packages built by
// tests/win32/MsiWin32Test.sh: install, removal and repair by product code,
// the UTF-8 UI handler, the log, launch conditions, package properties and
// the installation lock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/msi.h"
#include "platform/unicode.h"
#include "platform/win32/Win32.h"

#include <msi.h>

namespace {

namespace stdfs = std::filesystem;
namespace msi = stubframework::platform::msi;
using stubframework::platform::Utf16ToUtf8;
using stubframework::platform::Utf8ToUtf16;

constexpr const char* kCode = "{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A01}";
constexpr const char* kBlockedCode = "{5A1E0C3B-7D2F-4E61-9B8A-0C4D2E6F8A03}";
constexpr const char* kKey = "Software\\Zelvo\\MsiWin32Test\\";
constexpr std::uint32_t kVerbose = 0x1FDF;

std::wstring W(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string ReadFile(const stdfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The product's file: "café.txt" in Program Files.
stdfs::path AppFile() {
    return stdfs::path(W(Env("ProgramW6432"))) / L"Brindlemark Win32 Test" / W("caf\xc3\xa9.txt");
}

std::optional<std::string> Mode(const std::string& version) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(kKey + version).c_str(), 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    const LSTATUS read =
        RegQueryValueExW(key, L"Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(value));
}

bool Installed(const char* code) {
    return MsiQueryProductStateW(W(code).c_str()) == INSTALLSTATE_DEFAULT;
}

struct Message {
    std::uint32_t type;
    std::string text;
};

// What the UI handler saw.
struct Recorder {
    std::mutex lock;
    std::vector<Message> messages;

    static int Handle(void* context, std::uint32_t type, const char* text) {
        auto* self = static_cast<Recorder*>(context);
        const std::lock_guard<std::mutex> guard(self->lock);
        self->messages.push_back({type, text != nullptr ? text : "(null)"});
        return 0;
    }

    bool Saw(std::uint32_t type, const std::string& part) {
        const std::lock_guard<std::mutex> guard(lock);
        for (const Message& message : messages) {
            if ((message.type & 0xFF000000u) == type &&
                message.text.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

class MsiWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = Env("STUB_TEST_MSI_DIR");
        if (folder_.empty() || !stdfs::exists(folder_ / "product.msi")) {
            GTEST_SKIP() << "STUB_TEST_MSI_DIR does not name the packages of "
                            "tests/win32/MsiWin32Test.sh";
        }
        previousLevel_ = msi::SetInternalUI(msi::kUiNone);
        work_ = stdfs::temp_directory_path() / W("msi test \xc3\xa9");
        stdfs::remove_all(work_);
        stdfs::create_directories(work_);
        RemoveLeftovers();
    }

    void TearDown() override {
        if (folder_.empty()) {
            return;
        }
        msi::SetExternalUI(nullptr, 0, nullptr);
        msi::EnableLog(0, "", 0);
        RemoveLeftovers();
        msi::SetInternalUI(previousLevel_);
        std::error_code ignored;
        stdfs::remove_all(work_, ignored);
    }

    static void RemoveLeftovers() {
        for (const char* code : {kCode, kBlockedCode}) {
            if (Installed(code)) {
                msi::RemoveProduct(code, "");
            }
        }
    }

    std::string Package(const char* name) const {
        return Utf16ToUtf8((folder_ / name).u16string());
    }
    std::string Work(const std::string& name) const {
        return Utf16ToUtf8((work_ / W(name)).u16string());
    }

    stdfs::path folder_;
    stdfs::path work_;
    std::uint32_t previousLevel_ = msi::kUiDefault;
};

TEST_F(MsiWin32Test, InstallRepairAndRemoveByProductCode) {
    ASSERT_EQ(msi::InstallProduct(Package("product.msi"), ""), msi::kSuccess);
    EXPECT_TRUE(Installed(kCode));
    EXPECT_EQ(ReadFile(AppFile()), "app 1\n");
    EXPECT_TRUE(Mode("1.0.0").has_value());

    // Repair brings a deleted file back, with REINSTALLMODE omus unless the
    // command line names its own.
    stdfs::remove(AppFile());
    EXPECT_EQ(msi::RepairProduct(kCode, ""), msi::kSuccess);
    EXPECT_EQ(ReadFile(AppFile()), "app 1\n");
    EXPECT_EQ(Mode("1.0.0"), "omus");
    stdfs::remove(AppFile());
    EXPECT_EQ(msi::RepairProduct(kCode, "REINSTALLMODE=emus"), msi::kSuccess);
    EXPECT_EQ(Mode("1.0.0"), "emus");
    EXPECT_TRUE(stdfs::exists(AppFile()));

    EXPECT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess);
    EXPECT_FALSE(Installed(kCode));
    EXPECT_FALSE(stdfs::exists(AppFile()));
    EXPECT_FALSE(Mode("1.0.0").has_value());
    EXPECT_EQ(msi::RemoveProduct(kCode, ""), msi::kUnknownProduct);
    EXPECT_EQ(msi::RepairProduct(kCode, ""), msi::kUnknownProduct);
}

// A quoted value with spaces and non-ASCII letters reaches the installer
// whole, on every call. Wine's removal and repair take the package's own
// folders, where Windows takes the installed ones: the folder is named again.
TEST_F(MsiWin32Test, QuotedValuesOfTheCommandLine) {
    // Text that only looks like a property inside a value sets nothing.
    const std::string name = "install dir \xc3\xa9 REINSTALLMODE=a";
    const std::string folder = "INSTALLDIR=\"" + Work(name) + "\"";
    ASSERT_EQ(msi::InstallProduct(Package("product.msi"), folder), msi::kSuccess);
    const stdfs::path file = work_ / W(name) / W("caf\xc3\xa9.txt");
    EXPECT_TRUE(stdfs::exists(file));
    EXPECT_FALSE(stdfs::exists(AppFile()));

    stdfs::remove(file);
    EXPECT_EQ(msi::RepairProduct(kCode, folder), msi::kSuccess);
    EXPECT_TRUE(stdfs::exists(file));
    EXPECT_EQ(Mode("1.0.0"), "omus");

    EXPECT_EQ(msi::RemoveProduct(kCode, folder), msi::kSuccess);
    EXPECT_FALSE(stdfs::exists(file));
    EXPECT_FALSE(Installed(kCode));
}

// (Wine writes an appended log from its start, so appending is not tested.)
TEST_F(MsiWin32Test, TheHandlerGetsUtf8MessagesAndTheLogIsWritten) {
    const std::string log = Work("log \xc3\xa9.txt");
    ASSERT_EQ(msi::EnableLog(kVerbose, log, msi::kLogAppend), msi::kSuccess);
    Recorder recorder;
    const std::uint32_t filter = msi::kLogModeProgress | msi::LogModeOf(msi::kMessageActionStart) |
                                 msi::LogModeOf(msi::kMessageActionData) |
                                 msi::LogModeOf(msi::kMessageInfo);
    EXPECT_EQ(msi::SetExternalUI(&Recorder::Handle, filter, &recorder), nullptr);

    ASSERT_EQ(msi::InstallProduct(Package("product.msi"), ""), msi::kSuccess);
    EXPECT_TRUE(recorder.Saw(msi::kMessageProgress, "1: "));
    EXPECT_TRUE(recorder.Saw(msi::kMessageActionStart, "InstallFiles"));
    EXPECT_TRUE(recorder.Saw(msi::kMessageActionData, "caf\xc3\xa9.txt"));

    const std::string written = ReadFile(stdfs::path(W(log)));
    EXPECT_NE(written.find("InstallFiles"), std::string::npos);

    // Turned off, the log stays as it is.
    EXPECT_EQ(msi::EnableLog(0, "", 0), msi::kSuccess);
    EXPECT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess);
    EXPECT_EQ(ReadFile(stdfs::path(W(log))), written);
    EXPECT_EQ(msi::SetExternalUI(nullptr, 0, nullptr), &Recorder::Handle);
}

TEST_F(MsiWin32Test, AFailingLaunchConditionChangesNothing) {
    EXPECT_EQ(msi::InstallProduct(Package("blocked.msi"), ""), msi::kInstallFailure);
    EXPECT_FALSE(Installed(kBlockedCode));
    EXPECT_FALSE(stdfs::exists(AppFile()));
    EXPECT_FALSE(Mode("2.0.0").has_value());

    ASSERT_EQ(msi::InstallProduct(Package("blocked.msi"), "NEEDEDTHING=1"), msi::kSuccess);
    EXPECT_TRUE(Mode("2.0.0").has_value());
    EXPECT_EQ(msi::RemoveProduct(kBlockedCode, ""), msi::kSuccess);
}

TEST_F(MsiWin32Test, PackageProperties) {
    const std::string product = Package("product.msi");
    std::string value;
    EXPECT_TRUE(msi::ReadPackageProperty(product, "ProductVersion", value));
    EXPECT_EQ(value, "1.0.0");
    // The package's code page, converted.
    EXPECT_TRUE(msi::ReadPackageProperty(product, "ProductName", value));
    EXPECT_EQ(value, "Brindlemark Caf\xc3\xa9");
    value = "old";
    EXPECT_TRUE(msi::ReadPackageProperty(product, "NoSuchProperty", value));
    EXPECT_EQ(value, "");
    value = "old";
    EXPECT_TRUE(msi::ReadPackageProperty(product, "x' OR Property <> '", value));
    EXPECT_EQ(value, "");
    std::ofstream(work_ / "text.msi") << "not a package";
    EXPECT_FALSE(msi::ReadPackageProperty(Work("text.msi"), "ProductVersion", value));
    EXPECT_FALSE(msi::ReadPackageProperty(Work("missing.msi"), "ProductVersion", value));

    EXPECT_TRUE(msi::QueryProperty(product, "ProductVersion", value));
    EXPECT_EQ(value, "1.0.0");
    EXPECT_TRUE(msi::QueryProperty(product, "ProductCode", value));
    EXPECT_EQ(value, kCode);
    EXPECT_TRUE(msi::QueryProperty(product, "ProductName", value));
    EXPECT_EQ(value, "Brindlemark Caf\xc3\xa9");
    value = "kept";
    EXPECT_FALSE(msi::QueryProperty(product, "NoSuchProperty", value));
    EXPECT_FALSE(msi::QueryProperty(product, "x' OR Property <> '", value));
    EXPECT_FALSE(msi::QueryProperty(product, "ProductVersion'", value));
    EXPECT_FALSE(msi::QueryProperty(Work("text.msi"), "ProductVersion", value));
    EXPECT_FALSE(msi::QueryProperty(Work("missing.msi"), "ProductVersion", value));
    EXPECT_EQ(value, "kept");

    // A Property table alone will do; readers take 255 characters.
    const std::string bare = Package("bare.msi");
    EXPECT_TRUE(msi::QueryProperty(bare, "Version", value));
    EXPECT_EQ(value, "2.5");
    EXPECT_TRUE(msi::QueryProperty(bare, "Long", value));
    EXPECT_EQ(value, std::string(255, 'v'));
}

// A thread that owns the installer's mutex as the installer service would,
// until it is told to let go.
class MutexOwner {
public:
    MutexOwner() {
        thread_ = std::thread([this] {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute");
            WaitForSingleObject(mutex, INFINITE);
            SetEvent(taken_);
            WaitForSingleObject(release_, INFINITE);
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        });
        WaitForSingleObject(taken_, INFINITE);
    }
    ~MutexOwner() {
        SetEvent(release_);
        thread_.join();
        CloseHandle(taken_);
        CloseHandle(release_);
    }
    MutexOwner(const MutexOwner&) = delete;
    MutexOwner& operator=(const MutexOwner&) = delete;

private:
    HANDLE taken_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread_;
};

TEST_F(MsiWin32Test, TheInstallLockKeepsOtherInstallationsOut) {
    {
        const msi::InstallLock lock;
        ASSERT_TRUE(lock.Held());
        EXPECT_FALSE(lock.Failed());
        // A second lock of this process, on this thread or another, is not
        // granted; calls made meanwhile end at once.
        const msi::InstallLock again;
        EXPECT_FALSE(again.Held());
        EXPECT_FALSE(again.Failed());
        bool heldElsewhere = true;
        std::thread([&heldElsewhere] { heldElsewhere = msi::InstallLock().Held(); }).join();
        EXPECT_FALSE(heldElsewhere);
        EXPECT_EQ(msi::InstallProduct(Package("product.msi"), ""), msi::kAlreadyRunning);
        EXPECT_EQ(msi::RemoveProduct(kCode, ""), msi::kAlreadyRunning);
        EXPECT_EQ(msi::RepairProduct(kCode, ""), msi::kAlreadyRunning);
        EXPECT_FALSE(Installed(kCode));
    }
    {
        // The installer's own mutex, owned by someone else.
        const MutexOwner owner;
        const msi::InstallLock lock;
        EXPECT_FALSE(lock.Held());
        EXPECT_FALSE(lock.Failed());
        EXPECT_EQ(msi::InstallProduct(Package("product.msi"), ""), msi::kAlreadyRunning);
    }
    const msi::InstallLock later;
    EXPECT_TRUE(later.Held());
}

// What a UI handler sees of the lock while this process installs.
struct Inside {
    std::string package;
    bool asked = false;
    bool held = true;
    std::uint32_t nested = 0;

    static int Handle(void* context, std::uint32_t type, const char* /*text*/) {
        auto* self = static_cast<Inside*>(context);
        if ((type & 0xFF000000u) == msi::kMessageActionStart && !self->asked) {
            self->asked = true;
            self->held = msi::InstallLock().Held();
            self->nested = msi::InstallProduct(self->package, "");
        }
        return 0;
    }
};

TEST_F(MsiWin32Test, NoLockIsGrantedWhileThisProcessInstalls) {
    Inside inside{Package("product.msi")};
    msi::SetExternalUI(&Inside::Handle, msi::LogModeOf(msi::kMessageActionStart), &inside);
    ASSERT_EQ(msi::InstallProduct(Package("product.msi"), ""), msi::kSuccess);
    ASSERT_TRUE(inside.asked);
    EXPECT_FALSE(inside.held);
    EXPECT_EQ(inside.nested, msi::kAlreadyRunning);
    EXPECT_TRUE(msi::InstallLock().Held());
}

}  // namespace
