// The ZIP module: locating archives appended to other data, extraction with
// its reports and refusals, the writer, and ZIP packages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "bridge/HtmlExternal.h"
#include "core/InstallerLog.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "support/BridgeFixture.h"
#include "support/ReleaseServer.h"
#include "support/TestFolder.h"
#include "zip/ExtractZip.h"
#include "zip/UnzipPackage.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

namespace {

namespace stdfs = std::filesystem;
namespace fs = stubframework::platform::fs;
using namespace stubframework;

// Every file under a folder with its bytes, by relative path; folders as "/".
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : stdfs::recursive_directory_iterator(root)) {
        const std::string relative = stdfs::relative(item.path(), root).generic_string();
        tree[relative] = item.is_directory() ? "/" : stubtest::ReadFile(item.path().string());
    }
    return tree;
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Writes an archive with our writer: name -> content, names ending in "/" are folders.
void WriteArchive(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& entries) {
    zip::ZipWriter writer;
    ASSERT_TRUE(writer.Open(path));
    for (const auto& [name, content] : entries) {
        if (!name.empty() && name.back() == '/') {
            ASSERT_TRUE(writer.AddFolder(name, 0));
        } else {
            ASSERT_TRUE(writer.AddBytes(name, reinterpret_cast<const std::uint8_t*>(content.data()),
                                        content.size(), 9, 0));
        }
    }
    ASSERT_TRUE(writer.Finish());
}

bool Extract(const std::string& archive, const std::string& folder,
             zip::ZipReporter* reporter = nullptr) {
    fs::FileHandle file;
    return file.Open(archive) == 0 && zip::ExtractZip(file, folder, reporter);
}

class ZipTest : public ::testing::Test {
protected:
    stubtest::TestFolder work;
    const std::vector<std::pair<std::string, std::string>> sample = {
        {"Load.html", "<html>hello</html>"},
        {"common/", ""},
        {"common/js/app.js", std::string(5000, 'j')},
        {"pages/welcome/index.html", stubtest::PackageBytes(70000, 3)},
        {"config/", ""},
        {"empty.txt", ""},
    };
};

TEST_F(ZipTest, FindsAnArchiveAfterAProgramAndBeforeATrailer) {
    const std::string archive = work / "pages.zip";
    WriteArchive(archive, sample);
    const std::string packed = work / "installer";
    stubtest::WriteFile(packed, stubtest::PackageBytes(2832384, 5) + stubtest::ReadFile(archive) +
                                    std::string(10632, 's'));
    ASSERT_TRUE(Extract(packed, work / "out"));
    ASSERT_TRUE(Extract(archive, work / "plain"));  // start offset 0
    const auto tree = Tree(work / "out");
    EXPECT_EQ(tree, Tree(work / "plain"));
    EXPECT_EQ(tree.at("common/js/app.js"), std::string(5000, 'j'));

    EXPECT_EQ(tree.at("config"), "/");
    EXPECT_EQ(tree.at("empty.txt"), "");
    EXPECT_EQ(tree.size(), 9u);  // 6 entries and the folders they imply

    // An end record more than 65,557 bytes before the end is out of reach.
    stubtest::WriteFile(packed, stubtest::ReadFile(archive) + std::string(65560, 's'));
    EXPECT_FALSE(Extract(packed, work / "far"));
    stubtest::WriteFile(packed, stubtest::ReadFile(archive) + std::string(65500, 's'));
    EXPECT_TRUE(Extract(packed, work / "near"));
}

TEST_F(ZipTest, LargeEntriesWhoseOutputOutlastsTheirInput) {
    // Highly compressible entries: the inflater still holds output after the
    // last input byte went in.
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::size_t size : {131107u, 200000u, 524288u, 3u << 20}) {
        entries.emplace_back("zeros" + std::to_string(size), std::string(size, '\0'));
    }
    WriteArchive(work / "zeros.zip", entries);
    ASSERT_TRUE(Extract(work / "zeros.zip", work / "out"));
    for (const auto& [name, content] : entries) {
        EXPECT_EQ(stubtest::ReadFile(work / ("out/" + name)), content) << name;
    }
}

TEST_F(ZipTest, OtherToolsAndOursAgree) {
    const std::string source = work / "source";
    for (const auto& [name, content] : sample) {
        if (name.back() == '/') {
            stdfs::create_directories(source + "/" + name);
        } else {
            stdfs::create_directories(stdfs::path(source + "/" + name).parent_path());
            stubtest::WriteFile(source + "/" + name, content);
        }
    }
    ASSERT_TRUE(Shell("cd " + source + " && zip -qr -9 " + work / "info.zip" + " ."));
    ASSERT_TRUE(Shell("cd " + source +
                      " && python3 -c \"import os, zipfile\n"
                      "with zipfile.ZipFile('" +
                      work / "python.zip" +
                      "', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                      "    [z.write(os.path.join(r, n), os.path.relpath(os.path.join(r, n))) "
                      "for r, ds, fs in os.walk('.') for n in ds + fs]\""));
    WriteArchive(work / "ours.zip", sample);
    ASSERT_TRUE(Shell("unzip -tq " + work / "ours.zip" + " >/dev/null"));
    for (const char* name : {"info.zip", "python.zip", "ours.zip"}) {
        ASSERT_TRUE(Extract(work / name, work / (std::string(name) + ".out"))) << name;
        EXPECT_EQ(Tree(work / (std::string(name) + ".out")), Tree(source)) << name;
    }
    // Logs appended to an archive of ours read as a whole.
    ASSERT_TRUE(zip::ZipFileToArchive(work / "log.zip", source + "/Load.html"));
    ASSERT_TRUE(zip::ZipFileToArchive(work / "log.zip", source + "/Load.html"));
    EXPECT_TRUE(Shell("unzip -tq " + work / "log.zip" + " >/dev/null"));
    // An encrypted entry is refused.
    ASSERT_TRUE(Shell("cd " + source + " && zip -q -P pw " + work / "locked.zip" + " Load.html"));
    EXPECT_FALSE(Extract(work / "locked.zip", work / "locked"));
}

TEST_F(ZipTest, EntryNames) {
    // (A path component holds at most 255 bytes, so the names have two.)
    const std::string name259 = std::string(200, 'd') + "/" + std::string(58, 'n');
    const std::string longer = std::string(200, 'd') + "/" + std::string(100, 'x');
    WriteArchive(work / "names.zip",
                 {{name259, "whole"}, {longer, "cut"}, {"a\\b\\c.txt", "back"}});
    ASSERT_TRUE(Extract(work / "names.zip", work / "out"));
    const auto tree = Tree(work / "out");
    EXPECT_EQ(tree.at(name259), "whole");
    EXPECT_EQ(tree.at(longer.substr(0, 259)), "cut");
    EXPECT_EQ(tree.at("a/b/c.txt"), "back");

    // Dots that stay inside are resolved; anything that leaves is refused.
    EXPECT_EQ(zip::EntryPath("/t/", "a/./b/../c"), "/t/a/c");
    EXPECT_EQ(zip::EntryPath("/t", "a\\..\\c"), "/t/c");
    for (const char* name : {"../evil", "a/../../evil", "/etc/evil", "C:/evil", "c:evil",
                             "..\\evil", "a\\..\\..\\evil", "./../evil"}) {
        EXPECT_FALSE(zip::EntryPath("/t/", name)) << name;
    }
}

TEST_F(ZipTest, RefusesHostileArchivesWithoutWritingOutside) {
    stdfs::create_directories(work / "jail/target");
    for (const char* name : {"../evil", "a/../../evil", "/tmp/stub-zip-evil", "C:/evil", "..\\evil",
                             "sub\\..\\..\\evil"}) {
        WriteArchive(work / "hostile.zip", {{"fine.txt", "ok"}, {name, "bad"}});
        EXPECT_FALSE(Extract(work / "hostile.zip", work / "jail/target")) << name;
    }
    EXPECT_FALSE(stdfs::exists("/tmp/stub-zip-evil"));
    for (const auto& [path, content] : Tree(work / "jail")) {
        EXPECT_TRUE(path == "target" || path == "target/fine.txt") << path;
    }

    // Encrypted and ZIP64 entries are refused, not misread. (Other tools'
    // encrypted archives are in OtherToolsAndOursAgree.)
    WriteArchive(work / "locked.zip", {{"secret.txt", "secret"}});
    std::string archive = stubtest::ReadFile(work / "locked.zip");
    archive[6] |= 0x01;                               // the local header's flags
    archive[archive.find("PK\x01\x02") + 8] |= 0x01;  // the directory's
    stubtest::WriteFile(work / "locked.zip", archive);
    EXPECT_FALSE(Extract(work / "locked.zip", work / "locked"));
    WriteArchive(work / "big.zip", {{"big.bin", "data"}});
    archive = stubtest::ReadFile(work / "big.zip");
    const std::size_t directory = archive.find("PK\x01\x02");
    archive.replace(directory + 20, 8, std::string(8, '\xFF'));  // sizes that point to ZIP64 fields
    stubtest::WriteFile(work / "big.zip", archive);
    zip::ZipReader reader;
    fs::FileHandle file;
    ASSERT_EQ(file.Open(work / "big.zip"), 0u);
    EXPECT_FALSE(reader.Open(
        [&](std::int64_t at, void* to, std::size_t n) { return file.ReadAt(at, to, n); },
        file.Size()));
    EXPECT_EQ(reader.Error(), "ZIP64 entries are not supported: big.bin");

    // A corrupted byte fails the CRC check and the file is not left behind.
    WriteArchive(work / "crc.zip", {{"x.bin", std::string(1000, 'a')}});
    archive = stubtest::ReadFile(work / "crc.zip");
    archive[40] ^= 0x01;
    stubtest::WriteFile(work / "crc.zip", archive);
    EXPECT_FALSE(Extract(work / "crc.zip", work / "crc"));
    EXPECT_FALSE(stdfs::exists(work / "crc/x.bin"));
}

TEST_F(ZipTest, ZipFileToArchiveCreatesThenAppends) {
    stubtest::WriteFile(work / "first.log", "first log\n");
    stubtest::WriteFile(work / "second.log", std::string(100000, 'l'));
    const std::string archive = work / "log.zip";
    ASSERT_TRUE(zip::ZipFileToArchive(archive, work / "first.log"));
    ASSERT_TRUE(zip::ZipFileToArchive(archive, work / "second.log"));
    ASSERT_TRUE(Extract(archive, work / "out"));
    EXPECT_EQ(Tree(work / "out"),
              (std::map<std::string, std::string>{{"first.log", "first log\n"},
                                                  {"second.log", std::string(100000, 'l')}}));
    EXPECT_FALSE(zip::ZipFileToArchive(work / "second.log", work / "first.log"))
        << "a file that is not an archive must not be appended to";
}

// Forwards to the host and keeps what the install bar showed after each call.
class WatchingReporter final : public zip::ZipReporter {
public:
    ~WatchingReporter() = default;
    explicit WatchingReporter(core::HtmlExternal& host) : host_(host) {}
    void OnEntry(std::uint32_t index, std::uint32_t count) override {
        host_.OnEntry(index, count);
        shown.emplace_back(host_.GetProgress(core::kInstallCurrent),
                           host_.GetProgress(core::kInstallTotal));
    }
    void SetError(std::uint32_t code) override { host_.SetError(code); }
    std::vector<std::pair<std::int32_t, std::int32_t>> shown;

private:
    core::HtmlExternal& host_;
};

class UnzipPackageTest : public ZipTest {
protected:
    stubtest::BridgeFixture bridge;
};

TEST_F(UnzipPackageTest, ExtractionFillsTheFirstTenthOfTheInstallBar) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 25; ++i) {
        entries.emplace_back("f" + std::to_string(i), "x");
    }
    WriteArchive(work / "25.zip", entries);
    WatchingReporter reporter(bridge.Dispatch());
    ASSERT_TRUE(Extract(work / "25.zip", work / "out", &reporter));
    ASSERT_EQ(reporter.shown.size(), 26u);
    for (std::size_t i = 0; i < reporter.shown.size(); ++i) {
        EXPECT_EQ(reporter.shown[i], std::make_pair(static_cast<std::int32_t>(i / 10), 25));
    }
}

TEST_F(UnzipPackageTest, FindsSetupAndReportsWhatWentWrong) {
    WriteArchive(work / "nested.ZIP", {{"a/", ""}, {"a/b/setup.exe", "deep"}});
    core::UnzipResult unzip =
        core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "nested.ZIP");
    EXPECT_EQ(unzip.result, ErrorHandle::NoError);
    EXPECT_EQ(stdfs::path(unzip.setupFolder), stdfs::path(unzip.unzipFolder + "a/b/"));
    // A fresh folder directly under the temporary folder.
    EXPECT_EQ((stdfs::path(unzip.unzipFolder).parent_path().parent_path() / "").lexically_normal(),
              (stdfs::temp_directory_path() / "").lexically_normal());

    WriteArchive(work / "both.zip", {{"a/setup.exe", "nested"}, {"setup.exe", "top"}});
    unzip = core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "both.zip");
    EXPECT_EQ(unzip.setupFolder, unzip.unzipFolder);

    WriteArchive(work / "none.zip", {{"readme.txt", "no setup"}});
    EXPECT_EQ(
        core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "none.zip").result,
        ErrorHandle::FileNotExist);
    EXPECT_NE(bridge.LogText().find("Can not find setup.exe, unzip path : "), std::string::npos);
    EXPECT_EQ(
        core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "none.rar").result,
        ErrorHandle::Failure);
    EXPECT_EQ(core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "missing.zip")
                  .result,
              ErrorHandle::Failure);
    EXPECT_NE(bridge.LogText().find("Unzip failed, package_path: " + work / "missing.zip"),
              std::string::npos);
}

TEST_F(UnzipPackageTest, AnArchiveLargerThanTheFreeSpaceIsRefusedBeforeAnyWrite) {
    // A real 1 MiB volume where the machine lets us mount one; otherwise the
    // platform layer answers 1 MiB free.
    const std::string volume = work / "volume";
    stdfs::create_directories(volume);
    const bool mounted = Shell("mount -t tmpfs -o size=1m tmpfs " + volume + " 2>/dev/null");
    if (!mounted) {
        fs::InjectFreeSpace(1 << 20);
    }
    RecordProperty("small_volume", mounted ? "tmpfs" : "injected free space");
    WriteArchive(work / "big.zip",
                 {{"small.txt", "fits"}, {"setup.exe", stubtest::PackageBytes(3 << 20)}});
    core::UnzipResult unzip;
    {
        const stubtest::ScopedEnv onTheVolume("TMPDIR", volume);
        unzip = core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "big.zip");
    }
    EXPECT_EQ(unzip.result, ErrorHandle::DiskFull);
    EXPECT_EQ(bridge.Dispatch().LastExtractionError(), platform::kErrorDiskFull);
    EXPECT_FALSE(stdfs::exists(unzip.unzipFolder + "small.txt")) << "nothing is written";
    EXPECT_NE(bridge.LogText().find("Zip archive refused: the entries hold 3145732 bytes"),
              std::string::npos);
    if (mounted) {
        Shell("umount " + volume);
    } else {
        fs::InjectFreeSpace(std::nullopt);
    }
}

TEST_F(UnzipPackageTest, AVolumeThatFillsUpIsDiskFullAndLeavesNoPartialFile) {
    WriteArchive(work / "big.zip", {{"folder/", ""}, {"setup.exe", "program"}});
    fs::InjectWriteFailure(platform::kErrorDiskFull);
    const core::UnzipResult unzip =
        core::UnzipPackage(bridge.Framework().Log(), bridge.Dispatch(), work / "big.zip");
    fs::InjectWriteFailure(0);
    EXPECT_EQ(unzip.result, ErrorHandle::DiskFull);
    EXPECT_EQ(bridge.Dispatch().LastExtractionError(), platform::kErrorDiskFull);
    EXPECT_TRUE(stdfs::exists(unzip.unzipFolder + "folder"));
    EXPECT_FALSE(stdfs::exists(unzip.unzipFolder + "setup.exe"));
}

TEST_F(ZipTest, ArchivesThatContradictThemselvesAreRefusedBeforeAnyWrite) {
    for (const auto& entries : std::vector<std::vector<std::pair<std::string, std::string>>>{
             {{"first.txt", "x"}, {"same.txt", "one"}, {"same.txt", "two"}},
             {{"first.txt", "x"}, {"a\\b.txt", "one"}, {"a/./b.txt", "two"}},
             {{"first.txt", "x"}, {"thing", "a file"}, {"thing/", ""}},
             {{"first.txt", "x"}, {"thing/", ""}, {"thing", "a file"}},
             {{"first.txt", "x"}, {"thing", "a file"}, {"thing/inside.txt", "y"}},
         }) {
        WriteArchive(work / "odd.zip", entries);
        stubtest::TestFolder logFolder;
        const stubtest::ScopedEnv temp("TMPDIR", logFolder.Path());
        debug::InstallerLog log;
        fs::FileHandle file;
        ASSERT_EQ(file.Open(work / "odd.zip"), 0u);
        EXPECT_FALSE(zip::ExtractZip(file, work / "odd", nullptr, &log)) << entries[2].first;
        EXPECT_FALSE(stdfs::exists(work / "odd/first.txt")) << entries[2].first;
        EXPECT_NE(stubtest::ReadFile(log.FilePath()).find("ERROR] Zip archive refused: "),
                  std::string::npos)
            << entries[2].first;
    }
}

TEST_F(ZipTest, StubUnzipRemovesWhatItWroteWhenAnEntryFails) {
    WriteArchive(work / "crc.zip",
                 {{"a/b/first.txt", "kept until the end"}, {"x.bin", std::string(1000, 'a')}});
    std::string archive = stubtest::ReadFile(work / "crc.zip");
    const std::size_t second = archive.find("x.bin");
    archive[second + 40] ^= 0x01;  // inside x.bin's deflated data
    stubtest::WriteFile(work / "crc.zip", archive);
    stdfs::create_directories(work / "existing");
    stubtest::WriteFile(work / "existing/mine.txt", "not the archive's");
    const std::string tool = STUB_BIN_DIR "/stub-unzip";
    EXPECT_FALSE(Shell("'" + tool + "' '" + (work / "crc.zip") + "' '" + (work / "existing") +
                       "' 2>/dev/null"));
    EXPECT_EQ(Tree(work / "existing"),
              (std::map<std::string, std::string>{{"mine.txt", "not the archive's"}}));
    EXPECT_FALSE(Shell("'" + tool + "' '" + (work / "crc.zip") + "' '" + (work / "new/folder") +
                       "' 2>/dev/null"));
    EXPECT_FALSE(stdfs::exists(work / "new/folder"));
}

}  // namespace
