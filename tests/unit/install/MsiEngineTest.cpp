// The installer layer with packages built by wixl: registry values in their
// views, features, launch conditions, custom actions, shortcuts, refusals,
// and rollbacks that never lose a file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/msi.h"
#include "platform/registry.h"
#include "support/PeBuilder.h"
#include "support/TestFolder.h"
#include "support/TestPackages.h"

namespace {

namespace stdfs = std::filesystem;
namespace msi = stubframework::platform::msi;
namespace reg = stubframework::platform::registry;

constexpr const char* kCode = "{21212121-0000-0000-0000-000000000001}";
constexpr const char* kNewCode = "{21212121-0000-0000-0000-000000000002}";
constexpr const char* kKey = "SOFTWARE\\Zelvo\\Brindlemark";
constexpr const char* kEntry =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{21212121-0000-0000-0000-000000000001}";

// The folders of the product: Program Files/Brindlemark with app.txt, one
// component per feature given as (feature, level, component XML).
std::string Product(const std::string& components, const std::string& features,
                    const std::string& extra = "", const std::string& folders = "") {
    return extra + R"(
    <Directory Id="TARGETDIR" Name="SourceDir">)" +
           folders + R"(
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Brindlemark">)" +
           components + R"(
        </Directory>
      </Directory>
    </Directory>)" +
           features;
}

constexpr const char* kAppComponent = R"(
          <Component Id="App" Guid="{31313131-0000-0000-0000-000000000001}">
            <File Id="app.txt" Source="app.txt" KeyPath="yes"/>
          </Component>)";
constexpr const char* kMainFeature =
    R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/></Feature>)";

class MsiEngineTest : public ::testing::Test {
protected:
    MsiEngineTest()
        : root_("STUB_INSTALL_ROOT", work_ / "root"),
          registry_("STUB_REGISTRY_DIR", work_ / "registry"),
          data_("XDG_DATA_HOME", work_ / "data"),
          home_("HOME", work_ / "home") {
        stdfs::create_directories(work_ / "registry");
        msi::SetInternalUI(msi::kUiNone);
        msi::EnableLog(0x1FDF, work_ / "msi.log", msi::kLogAppend);
    }
    ~MsiEngineTest() override { msi::EnableLog(0, "", 0); }

    std::string Build(const std::string& name, const std::string& product,
                      const std::string& version = "1.0.0", const char* code = kCode,
                      bool x64 = false, const std::string& app = "app 1\n") {
        return stubtest::BuildWxsMsi(work_.Path(), name, code, version, product,
                                     {{"app.txt", app}, {"extra.txt", "extra\n"}}, x64);
    }
    std::string Installed(const std::string& relative) const {
        return work_ / ("root/Program Files (x86)/Brindlemark/" + relative);
    }
    std::string Log() const { return stubtest::ReadFile(work_ / "msi.log"); }

    static std::optional<std::string> Text(reg::Root root, reg::View view, const std::string& key,
                                           const std::string& name) {
        reg::Key handle;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (reg::OpenKey(root, key, view, reg::Access::Read, handle) != 0 ||
            reg::QueryValue(handle, name, type, data) != 0) {
            return std::nullopt;
        }
        if (type == reg::kRegDword && data.size() == 4) {
            std::uint32_t value = 0;
            std::memcpy(&value, data.data(), 4);
            return "#" + std::to_string(value);
        }
        return reg::DataText(data);
    }
    static bool KeyExists(reg::Root root, reg::View view, const std::string& key) {
        reg::Key handle;
        return reg::OpenKey(root, key, view, reg::Access::Read, handle) == 0;
    }

    stubtest::TestFolder work_;
    stubtest::ScopedEnv root_;
    stubtest::ScopedEnv registry_;
    stubtest::ScopedEnv data_;
    stubtest::ScopedEnv home_;
};

TEST_F(MsiEngineTest, RegistryValuesLandInTheirViewAndGoWithTheProduct) {
    const std::string components = std::string(kAppComponent) + R"(
          <Component Id="Settings" Guid="{31313131-0000-0000-0000-000000000002}">
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="InstallDir"
                           Type="string" Value="[INSTALLDIR]" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="Version"
                           Type="string" Value="[ProductVersion]"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="App"
                           Type="string" Value="[#app.txt]"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="Count"
                           Type="integer" Value="123"/>
            <RegistryValue Root="HKCU" Key="Software\Zelvo\Brindlemark" Name="User"
                           Type="string" Value="yes"/>
          </Component>)";
    const std::string features =
        R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Settings"/></Feature>)";
    const std::string package = Build("registry", Product(components, features));
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();

    // A 32-bit package writes the 32-bit view of the machine's software.
    const auto machine = [&](const std::string& name) {
        return Text(reg::Root::LocalMachine, reg::View::Wow64_32, kKey, name);
    };
    EXPECT_EQ(machine("InstallDir"), Installed(""));
    EXPECT_EQ(machine("Version"), "1.0.0");
    EXPECT_EQ(machine("App"), Installed("app.txt"));
    EXPECT_EQ(machine("Count"), "#123");
    EXPECT_FALSE(Text(reg::Root::LocalMachine, reg::View::Wow64_64, kKey, "Version"));
    EXPECT_EQ(Text(reg::Root::CurrentUser, reg::View::Default, kKey, "User"), "yes");

    // The Add/Remove entry carries what Windows writes, in the same view.
    const auto entry = [&](const std::string& name) {
        return Text(reg::Root::LocalMachine, reg::View::Wow64_32, kEntry, name);
    };
    EXPECT_EQ(entry("Publisher"), "Zelvo");
    EXPECT_EQ(entry("DisplayVersion"), "1.0.0");
    EXPECT_EQ(entry("Version"), "#" + std::to_string(1u << 24));
    EXPECT_EQ(entry("VersionMajor"), "#1");
    EXPECT_EQ(entry("VersionMinor"), "#0");
    EXPECT_EQ(entry("WindowsInstaller"), "#1");
    EXPECT_EQ(entry("EstimatedSize"), "#0");  // whole kilobytes
    EXPECT_EQ(entry("ModifyPath"), std::string("MsiExec.exe /I") + kCode);
    EXPECT_EQ(entry("UninstallString"), std::string("MsiExec.exe /I") + kCode);
    EXPECT_EQ(entry("InstallLocation"), "");
    EXPECT_EQ(entry("Comments"), "");
    EXPECT_EQ(entry("InstallDate")->size(), 8u);

    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_FALSE(KeyExists(reg::Root::LocalMachine, reg::View::Wow64_32, "SOFTWARE\\Zelvo"));
    EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, reg::View::Default, "Software\\Zelvo"));
    EXPECT_FALSE(KeyExists(reg::Root::LocalMachine, reg::View::Wow64_32, kEntry));
    EXPECT_FALSE(stdfs::exists(Installed("app.txt")));
}

TEST_F(MsiEngineTest, ASixtyFourBitPackageWritesTheSixtyFourBitView) {
    const std::string product = R"(
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Brindlemark">
          <Component Id="App" Guid="{31313131-0000-0000-0000-000000000003}" Win64="yes">
            <File Id="app.txt" Source="app.txt" KeyPath="no"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="Wide"
                           Type="string" Value="1" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="App"/></Feature>)";
    const std::string package = Build("x64", product, "1.0.0", kCode, true);
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_64, kKey, "Wide"), "1");
    EXPECT_FALSE(Text(reg::Root::LocalMachine, reg::View::Wow64_32, kKey, "Wide"));
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_64, kEntry, "DisplayVersion"),
              "1.0.0");
    EXPECT_FALSE(Text(reg::Root::LocalMachine, reg::View::Wow64_32, kEntry, "DisplayVersion"));
}

TEST_F(MsiEngineTest, FeaturesFollowTheirLevelsAndTheCommandLine) {
    const std::string components = std::string(kAppComponent) + R"(
          <Component Id="Extra" Guid="{31313131-0000-0000-0000-000000000004}">
            <File Id="extra.txt" Source="extra.txt" KeyPath="yes"/>
          </Component>)";
    const std::string features =
        std::string(kMainFeature) +
        R"(<Feature Id="More" Level="2"><ComponentRef Id="Extra"/></Feature>)";
    const std::string package = Build("features", Product(components, features));
    ASSERT_FALSE(package.empty());
    struct Case {
        const char* commandLine;
        bool main;
        bool more;
    };
    for (const Case& run : {Case{"", true, false}, Case{"INSTALLLEVEL=2", true, true},
                            Case{"ADDLOCAL=ALL", true, true}, Case{"ADDLOCAL=More", false, true}}) {
        ASSERT_EQ(msi::InstallProduct(package, run.commandLine), msi::kSuccess) << Log();
        EXPECT_EQ(stdfs::exists(Installed("app.txt")), run.main) << run.commandLine;
        EXPECT_EQ(stdfs::exists(Installed("extra.txt")), run.more) << run.commandLine;
        ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess);
        EXPECT_FALSE(stdfs::exists(Installed(""))) << run.commandLine;
    }

    // A change of the installed product: one feature goes, the other stays.
    ASSERT_EQ(msi::InstallProduct(package, "ADDLOCAL=ALL"), msi::kSuccess);
    ASSERT_EQ(msi::InstallProduct(package, "REMOVE=More"), msi::kSuccess) << Log();
    EXPECT_TRUE(stdfs::exists(Installed("app.txt")));
    EXPECT_FALSE(stdfs::exists(Installed("extra.txt")));
    ASSERT_EQ(msi::InstallProduct(package, "ADDLOCAL=More"), msi::kSuccess) << Log();
    EXPECT_TRUE(stdfs::exists(Installed("extra.txt")));
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess);
    EXPECT_FALSE(stdfs::exists(Installed("")));
}

TEST_F(MsiEngineTest, AFailingLaunchConditionOrAnUnsupportedPartChangesNothing) {
    const std::string blocked = Build(
        "launch",
        Product(
            kAppComponent, kMainFeature,
            R"(<Condition Message="Brindlemark needs [NeededThing].">NeededThing</Condition>)"));
    ASSERT_FALSE(blocked.empty());
    EXPECT_EQ(msi::InstallProduct(blocked, ""), msi::kInstallFailure);
    EXPECT_NE(Log().find("Brindlemark needs ."), std::string::npos) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("")));
    EXPECT_EQ(msi::InstallProduct(blocked, "NeededThing=1"), msi::kSuccess) << Log();
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess);

    // A custom action in a library cannot run here: refused before anything is done.
    const std::string library = Build("dll", Product(kAppComponent, kMainFeature, R"(
    <Binary Id="Helper" SourceFile="extra.txt"/>
    <CustomAction Id="CallHelper" BinaryKey="Helper" DllEntry="Run" Execute="deferred"/>
    <InstallExecuteSequence><Custom Action="CallHelper" Sequence="4001"/></InstallExecuteSequence>)"));
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(msi::InstallProduct(library, ""), msi::kInstallFailure);
    EXPECT_NE(Log().find("the custom action CallHelper (type 3073)"), std::string::npos) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("")));

    // So does a transform or a patch given with the package.
    EXPECT_EQ(msi::InstallProduct(blocked, "NeededThing=1 TRANSFORMS=local.mst"),
              msi::kInvalidCommandLine);
    EXPECT_NE(Log().find("TRANSFORMS is not supported here"), std::string::npos) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("")));
}

TEST_F(MsiEngineTest, AFailedInstallationPutsBackEveryFileItReplaced) {
    // The user's own file where the package puts one, and an older product.
    stdfs::create_directories(Installed(""));
    stubtest::WriteFile(Installed("notes.txt"), "mine");
    const std::string upgrade = R"(<MajorUpgrade DowngradeErrorMessage="Newer."/>)";
    const std::string older =
        Build("older", Product(kAppComponent, kMainFeature, upgrade), "1.0.0", kCode);
    ASSERT_EQ(msi::InstallProduct(older, ""), msi::kSuccess) << Log();

    // The newer one replaces the user's file, then a program of its own fails.
    const std::string components = std::string(kAppComponent) + R"(
          <Component Id="Notes" Guid="{31313131-0000-0000-0000-000000000005}">
            <File Id="notes.txt" Source="extra.txt" KeyPath="yes"/>
          </Component>)";
    const std::string failing = Build(
        "failing",
        Product(
            components,
            R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Notes"/></Feature>)",
            upgrade + R"(
    <CustomAction Id="Fail" Directory="INSTALLDIR" ExeCommand="/bin/false" Execute="deferred"/>
    <InstallExecuteSequence><Custom Action="Fail" Sequence="4001"/></InstallExecuteSequence>)"),
        "2.0.0", kNewCode, false, "app 2\n");
    ASSERT_FALSE(failing.empty());
    EXPECT_EQ(msi::InstallProduct(failing, ""), msi::kInstallFailure);
    EXPECT_EQ(stubtest::ReadFile(Installed("notes.txt")), "mine");
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 1\n");
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_32, kEntry, "DisplayVersion"),
              "1.0.0");
    EXPECT_FALSE(stdfs::exists(work_ / "root/Config.Msi")) << "backups were left behind";

    // The older product is whole: it still goes cleanly, and the user's file stays.
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("app.txt")));
    EXPECT_EQ(stubtest::ReadFile(Installed("notes.txt")), "mine");
}

TEST_F(MsiEngineTest, AFolderThatCannotBeMadeStopsTheInstallationAndPutsBackWhatItReplaced) {
    const std::string first = Build("first", Product(kAppComponent, kMainFeature));
    ASSERT_EQ(msi::InstallProduct(first, ""), msi::kSuccess) << Log();
    stubtest::WriteFile(Installed("app.txt"), "the user's own");

    // A repair with "a" replaces app.txt, then cannot make the folder of its
    // next file: a plain file stands where the folder should be.
    const std::string components = std::string(kAppComponent) + R"(
          <Directory Id="Blocked" Name="blocked">
            <Component Id="Late" Guid="{31313131-0000-0000-0000-000000000020}">
              <File Id="late.txt" Source="extra.txt" KeyPath="yes"/>
            </Component>
          </Directory>)";
    const std::string second = Build(
        "second",
        Product(
            components,
            R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Late"/></Feature>)"),
        "1.0.0", kCode, false, "app 2\n");
    ASSERT_FALSE(second.empty());
    stubtest::WriteFile(Installed("blocked"), "in the way");
    msi::SetInternalUI(msi::kUiBasic);
    EXPECT_EQ(msi::InstallProduct(second, "REINSTALL=ALL REINSTALLMODE=amus ADDLOCAL=ALL"),
              msi::kInstallFailure);
    msi::SetInternalUI(msi::kUiNone);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "the user's own");
    EXPECT_EQ(stubtest::ReadFile(Installed("blocked")), "in the way");
    EXPECT_FALSE(stdfs::exists(work_ / "root/Config.Msi")) << "backups were left behind";
    EXPECT_NE(Log().find("No user interface is shown on this system"), std::string::npos);
    EXPECT_NE(Log().find("Installed file " + Installed("app.txt")), std::string::npos)
        << "nothing was replaced before the failure";
}

TEST_F(MsiEngineTest, SettersShortcutsAndWindowsPaths) {
    const std::string components = R"(
          <Component Id="App" Guid="{31313131-0000-0000-0000-000000000006}">
            <File Id="app.txt" Source="app.txt" KeyPath="yes">
              <Shortcut Id="Menu" Directory="ProgramMenuFolder" Name="Brindlemark"
                        Description="Open it" Arguments="--mode &quot;a b&quot;"/>
            </File>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="Channel"
                           Type="string" Value="[CHANNEL]"/>
          </Component>)";
    const std::string package = Build("setters", Product(components, kMainFeature, R"(
    <CustomAction Id="SetChannel" Property="CHANNEL" Value="web-[ProductVersion]"/>
    <InstallExecuteSequence><Custom Action="SetChannel" Sequence="810"/></InstallExecuteSequence>)",
                                                         R"(<Directory Id="ProgramMenuFolder"/>)"));
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(msi::InstallProduct(package, "INSTALLDIR=\"C:\\Custom Place\""), msi::kSuccess)
        << Log();
    EXPECT_EQ(stubtest::ReadFile(work_ / "root/Custom Place/app.txt"), "app 1\n");
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_32, kKey, "Channel"), "web-1.0.0");

    std::string entry;
    for (const auto& item : stdfs::directory_iterator(work_ / "data/applications")) {
        entry = stubtest::ReadFile(item.path().string());
    }
    EXPECT_NE(entry.find("Name=Brindlemark\n"), std::string::npos) << entry;
    EXPECT_NE(
        entry.find("Exec=\"" + work_ / "root/Custom Place/app.txt" + "\" \"--mode\" \"a b\"\n"),
        std::string::npos)
        << entry;
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_TRUE(stdfs::is_empty(work_ / "data/applications"));
    EXPECT_FALSE(stdfs::exists(work_ / "root/Custom Place"));

    // A folder written as formatted text on the command line.
    ASSERT_EQ(msi::InstallProduct(package, "INSTALLDIR=[ProgramFilesFolder]Other"), msi::kSuccess)
        << Log();
    EXPECT_TRUE(stdfs::exists(work_ / "root/Program Files (x86)/Other/app.txt"));
}

TEST_F(MsiEngineTest, ARepairKeepsNewerFilesAndTheUsersChanges) {
    const std::string components = std::string(kAppComponent) + R"(
          <Component Id="Lib" Guid="{31313131-0000-0000-0000-000000000008}">
            <File Id="lib.bin" Name="lib.bin" Source="extra.txt" KeyPath="yes"/>
          </Component>)";
    const std::string features =
        R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Lib"/></Feature>)";
    const std::string built = Build("versions", Product(components, features));
    ASSERT_FALSE(built.empty());
    // The same product whose lib.bin is version 2.0, and a copy where it is 1.0.
    const auto withVersion = [&](const std::string& name, const std::string& version) {
        std::string package = work_ / name;
        stdfs::copy_file(built, package);
        EXPECT_TRUE(stubtest::AlterMsi(
            package, {"UPDATE `File` SET `Version` = '" + version + "' WHERE `File` = 'lib.bin'"}));
        return package;
    };
    const std::string newer = withVersion("newer.msi", "2.0.0.0");
    const std::string older = withVersion("older.msi", "1.0.0.0");
    ASSERT_EQ(msi::InstallProduct(newer, ""), msi::kSuccess) << Log();

    stubtest::WriteFile(Installed("lib.bin"), "damaged");
    stubtest::WriteFile(Installed("app.txt"), "the user's own");
    ASSERT_EQ(msi::InstallProduct(older, "REINSTALL=ALL REINSTALLMODE=omus"), msi::kSuccess);
    EXPECT_EQ(stubtest::ReadFile(Installed("lib.bin")), "damaged") << "an older version won";
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "the user's own");
    // The same version with "e", or anything with "a", is put back.
    ASSERT_EQ(msi::InstallProduct(newer, "REINSTALL=Main REINSTALLMODE=e"), msi::kSuccess);
    EXPECT_EQ(stubtest::ReadFile(Installed("lib.bin")), "extra\n");
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "the user's own");
    ASSERT_EQ(msi::InstallProduct(newer, "REINSTALL=ALL REINSTALLMODE=a"), msi::kSuccess);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 1\n");
}

TEST_F(MsiEngineTest, FilesAlreadyThereAreJudgedByTheirVersions) {
    // Every .dll of the package is version 2.0; app.txt has no version.
    std::string components;
    std::string refs;
    int id = 0x10;
    for (const char* name : {"newer", "older", "plain", "mine"}) {
        components += R"(
          <Component Id=")" +
                      std::string(name) + R"(" Guid="{31313131-0000-0000-0000-0000000000)" +
                      std::to_string(id++) + R"(}">
            <File Id=")" +
                      name + R"(" Name=")" + name + R"(.dll" Source="extra.txt" KeyPath="yes"/>
          </Component>)";
        refs += R"(<ComponentRef Id=")" + std::string(name) + R"("/>)";
    }
    const std::string package = Build(
        "judged",
        Product(std::string(kAppComponent) + components,
                R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/>)" + refs + "</Feature>"));
    ASSERT_FALSE(package.empty());
    ASSERT_TRUE(stubtest::AlterMsi(
        package, {"UPDATE `File` SET `Version` = '2.0.0.0' WHERE `File` <> 'app.txt'"}));

    stdfs::create_directories(Installed(""));
    const auto putPe = [&](const std::string& name, std::uint16_t major) {
        stubtest::PeOptions options;
        options.version = {major, 0, 0, 0};
        const auto image = stubtest::BuildPe(options).bytes;
        stubtest::WriteFile(Installed(name), std::string(image.begin(), image.end()));
        return stubtest::ReadFile(Installed(name));
    };
    const std::string newer = putPe("newer.dll", 3);
    putPe("older.dll", 1);
    const std::string versionedApp = putPe("app.txt", 1);
    stubtest::WriteFile(Installed("plain.dll"), "unversioned");
    stubtest::WriteFile(Installed("mine.dll"), "the user's own");
    // Changed well after it was made (where the file system keeps when that was).
    const auto later = stdfs::last_write_time(Installed("mine.dll")) + std::chrono::hours(1);
    stdfs::last_write_time(Installed("mine.dll"), later);

    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();
    EXPECT_EQ(stubtest::ReadFile(Installed("newer.dll")), newer) << "a newer version lost";
    EXPECT_EQ(stubtest::ReadFile(Installed("older.dll")), "extra\n");
    EXPECT_EQ(stubtest::ReadFile(Installed("plain.dll")), "extra\n") << "versioned wins";
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), versionedApp) << "unversioned won";
    const bool knowsWhenMade = stubtest::ReadFile(Installed("mine.dll")) == "the user's own";
    if (!knowsWhenMade) {
        EXPECT_EQ(stubtest::ReadFile(Installed("mine.dll")), "extra\n");
    }

    // What the machine had before and kept stays; what the product placed goes.
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_EQ(stubtest::ReadFile(Installed("newer.dll")), newer);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), versionedApp);
    EXPECT_EQ(stdfs::exists(Installed("mine.dll")), knowsWhenMade);
    EXPECT_FALSE(stdfs::exists(Installed("older.dll")));
    EXPECT_FALSE(stdfs::exists(Installed("plain.dll")));
}

TEST_F(MsiEngineTest, AppSearchFindsWhatTheMachineHas) {
    // What the machine has: values of an earlier install ("#beta" comes back
    // as "##beta" and is written back as "#beta") and a tool of
    // version 3.0 two folders down.
    {
        reg::Key key;
        ASSERT_EQ(reg::CreateKey(reg::Root::LocalMachine, kKey, reg::View::Wow64_32, key), 0u);
        const std::uint32_t seven = 7;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&seven);
        ASSERT_EQ(reg::SetValue(key, "Channel", reg::kRegSz, reg::TextData("#beta")), 0u);
        ASSERT_EQ(reg::SetValue(key, "Count", reg::kRegDword, std::span(bytes, 4)), 0u);
        ASSERT_EQ(reg::SetValue(key, "Place", reg::kRegSz, reg::TextData("C:\\Elsewhere\\")), 0u);
    }
    stdfs::create_directories(work_ / "root/Elsewhere");
    stdfs::create_directories(work_ / "root/ProgramData/Zelvo/Tools/bin");
    stubtest::PeOptions options;
    options.version = {3, 0, 0, 0};
    const auto tool = stubtest::BuildPe(options).bytes;
    stubtest::WriteFile(work_ / "root/ProgramData/Zelvo/Tools/bin/TOOL.DLL",
                        std::string(tool.begin(), tool.end()));

    const std::string components = R"(
          <Component Id="App" Guid="{31313131-0000-0000-0000-000000000001}">
            <File Id="app.txt" Source="app.txt" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Found" Name="Seen" Type="string"
                           Value="[CHANNEL]|[COUNT]|[TOOL]|[NEWTOOL]|[APPFOLDER]"/>
          </Component>)";
    const std::string searches = R"(
    <Property Id="CHANNEL" Value="none">
      <RegistrySearch Id="ChannelSearch" Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark"
                      Name="Channel" Type="raw"/>
    </Property>
    <Property Id="COUNT">
      <RegistrySearch Id="CountSearch" Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark"
                      Name="Count" Type="raw"/>
    </Property>
    <Property Id="INSTALLDIR">
      <RegistrySearch Id="PlaceSearch" Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark"
                      Name="Place" Type="directory"/>
    </Property>)";
    const std::string package = Build("search", Product(components, kMainFeature, searches));
    ASSERT_FALSE(package.empty());
    // Folder, file and component searches wixl cannot write.
    ASSERT_TRUE(stubtest::AlterMsi(
        package,
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): long statements, split
        {"CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), "
         "`Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)",
         "CREATE TABLE `CompLocator` (`Signature_` CHAR(72) NOT NULL, `ComponentId` CHAR(38) "
         "NOT NULL, `Type` SHORT PRIMARY KEY `Signature_`)",
         "INSERT INTO `Signature` (`Signature`, `FileName`, `MinVersion`) "
         "VALUES ('ToolSearch', 'tool.dll', '2.0.0.0')",
         "INSERT INTO `Signature` (`Signature`, `FileName`, `MinVersion`) "
         "VALUES ('NewToolSearch', 'tool.dll', '4.0.0.0')",
         "INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) "
         "VALUES ('ZelvoSearch', '[CommonAppDataFolder]Zelvo', 0)",
         "INSERT INTO `DrLocator` (`Signature_`, `Parent`, `Depth`) "
         "VALUES ('ToolSearch', 'ZelvoSearch', 2)",
         "INSERT INTO `DrLocator` (`Signature_`, `Parent`, `Depth`) "
         "VALUES ('NewToolSearch', 'ZelvoSearch', 2)",
         "INSERT INTO `CompLocator` (`Signature_`, `ComponentId`, `Type`) "
         "VALUES ('AppSearch', '{31313131-0000-0000-0000-000000000001}', 0)",
         "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('TOOL', 'ToolSearch')",
         "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('NEWTOOL', 'NewToolSearch')",
         "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('APPFOLDER', 'AppSearch')"}));

    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();
    // The earlier install's folder is where the product goes.
    EXPECT_EQ(stubtest::ReadFile(work_ / "root/Elsewhere/app.txt"), "app 1\n");
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_32, "SOFTWARE\\Zelvo\\Found", "Seen"),
              "#beta|#7|" + work_ / "root/ProgramData/Zelvo/Tools/bin/TOOL.DLL" + "||")
        << Log();

    // Installed, its component is found where it went.
    ASSERT_EQ(msi::InstallProduct(package, "REINSTALL=ALL REINSTALLMODE=omus"), msi::kSuccess);
    const auto seen =
        Text(reg::Root::LocalMachine, reg::View::Wow64_32, "SOFTWARE\\Zelvo\\Found", "Seen");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->substr(seen->rfind('|') + 1), work_ / "root/Elsewhere/");
}

TEST_F(MsiEngineTest, AComponentTwoProductsHoldStaysUntilBothAreGone) {
    const std::string components = std::string(kAppComponent) + R"(
          <Component Id="Settings" Guid="{31313131-0000-0000-0000-00000000000A}">
            <RegistryValue Root="HKLM" Key="SOFTWARE\Zelvo\Brindlemark" Name="Shared"
                           Type="string" Value="yes" KeyPath="yes"/>
          </Component>)";
    const std::string features =
        R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Settings"/></Feature>)";
    const std::string first = Build("first", Product(components, features), "1.0.0", kCode);
    const std::string second = Build("second", Product(components, features), "2.0.0", kNewCode);
    ASSERT_EQ(msi::InstallProduct(first, ""), msi::kSuccess) << Log();
    ASSERT_EQ(msi::InstallProduct(second, ""), msi::kSuccess) << Log();
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_TRUE(stdfs::exists(Installed("app.txt")));
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_32, kKey, "Shared"), "yes");
    ASSERT_EQ(msi::RemoveProduct(kNewCode, ""), msi::kSuccess) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("")));
    EXPECT_FALSE(KeyExists(reg::Root::LocalMachine, reg::View::Wow64_32, "SOFTWARE\\Zelvo"));
}

TEST_F(MsiEngineTest, FoldersComeAndGoAndRemoveFileRowsMatchNames) {
    const std::string components = std::string(kAppComponent) + R"(
          <Directory Id="DataDir" Name="Data">
            <Component Id="Data" Guid="{31313131-0000-0000-0000-000000000009}">
              <CreateFolder/>
              <RemoveFolder Id="DataGoes" On="uninstall"/>
            </Component>
          </Directory>)";
    const std::string features =
        R"(<Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Data"/></Feature>)";
    const std::string package = Build("folders", Product(components, features));
    ASSERT_FALSE(package.empty());
    // wixl writes no file rows of RemoveFile: msibuild adds one.
    ASSERT_TRUE(stubtest::AlterMsi(
        package, {"INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, "
                  "`InstallMode`) VALUES ('OldLogs', 'App', '*.LOG', 'INSTALLDIR', 1)"}));
    stdfs::create_directories(Installed(""));
    stubtest::WriteFile(Installed("old.log"), "old");
    stubtest::WriteFile(Installed("keep.txt"), "mine");

    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();
    EXPECT_TRUE(stdfs::is_directory(Installed("Data")));
    EXPECT_FALSE(stdfs::exists(Installed("old.log")));
    EXPECT_EQ(stubtest::ReadFile(Installed("keep.txt")), "mine");

    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_FALSE(stdfs::exists(Installed("Data")));
    EXPECT_FALSE(stdfs::exists(Installed("app.txt")));
    EXPECT_EQ(stubtest::ReadFile(Installed("keep.txt")), "mine");
}

TEST_F(MsiEngineTest, EnvironmentProgramsAndRestarts) {
    const std::string components = R"(
          <Component Id="App" Guid="{31313131-0000-0000-0000-000000000007}">
            <File Id="app.txt" Source="app.txt" KeyPath="yes"/>
            <File Id="run.sh" Source="run.sh"/>
          </Component>)";
    const std::string built = stubtest::BuildWxsMsi(
        work_.Path(), "environment", kCode, "1.0.0", Product(components, kMainFeature, R"(
    <InstallExecuteSequence><ScheduleReboot Sequence="6700">RESTARTNOW</ScheduleReboot></InstallExecuteSequence>)"),
        {{"app.txt", "app 1\n"}, {"run.sh", "#!/bin/sh\nexit 0\n"}});
    ASSERT_FALSE(built.empty());
    // wixl writes no Environment table: msibuild adds it and its actions.
    const std::string package = work_ / "environment.msi";
    stdfs::copy_file(built, package);
    ASSERT_TRUE(stubtest::AlterMsi(
        package,
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): long statements, split
        {"CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, "
         "`Value` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)",
         "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES "
         "('Path', '=-*PATH', '[~];[INSTALLDIR]', 'App')",
         "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES "
         "('Home', '=-BRINDLEMARK_HOME', '[INSTALLDIR]', 'App')",
         "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
         "('WriteEnvironmentStrings', 5200)",
         "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
         "('RemoveEnvironmentStrings', 3300)"}));
    const std::string system = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    {
        reg::Key key;
        ASSERT_EQ(reg::CreateKey(reg::Root::LocalMachine, system, reg::View::Wow64_64, key), 0u);
        ASSERT_EQ(reg::SetValue(key, "PATH", reg::kRegSz, reg::TextData("/usr/bin")), 0u);
    }

    ASSERT_EQ(msi::InstallProduct(package, ""), msi::kSuccess) << Log();
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_64, system, "PATH"),
              "/usr/bin;" + Installed(""));
    EXPECT_EQ(Text(reg::Root::CurrentUser, reg::View::Default, "Environment", "BRINDLEMARK_HOME"),
              Installed(""));
    // A per-machine product is readable by all; its programs stay runnable.
    EXPECT_EQ(stdfs::status(Installed("run.sh")).permissions() & stdfs::perms::all,
              static_cast<stdfs::perms>(0755));
    EXPECT_EQ(stdfs::status(Installed("app.txt")).permissions() & stdfs::perms::all,
              static_cast<stdfs::perms>(0644));
    ASSERT_EQ(msi::RemoveProduct(kCode, ""), msi::kSuccess) << Log();
    EXPECT_EQ(Text(reg::Root::LocalMachine, reg::View::Wow64_64, system, "PATH"), "/usr/bin");
    EXPECT_FALSE(
        Text(reg::Root::CurrentUser, reg::View::Default, "Environment", "BRINDLEMARK_HOME"));

    // A restart is asked for only when its action's condition holds.
    ASSERT_EQ(msi::InstallProduct(package, "RESTARTNOW=1"), msi::kRebootRequired) << Log();
}

}  // namespace
