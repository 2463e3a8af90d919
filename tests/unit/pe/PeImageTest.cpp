// The file version of program images: PE32 and PE32+ through their resource
// tree, other files through an embedded version block; damaged and lying
// images give nothing rather than a read outside the bytes.
#include "pe/PeImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "support/PeBuilder.h"
#include "support/TestFolder.h"

namespace {

using namespace stubframework::pe;
using stubtest::BuildPe;
using stubtest::BuiltPe;
using stubtest::PeOptions;
using stubtest::PutLe16;
using stubtest::PutLe32;
using Bytes = std::vector<std::uint8_t>;

const FileVersion kVersion{24, 1, 19041, 65535};

PeOptions Options(bool pe32Plus) {
    PeOptions options;
    options.pe32Plus = pe32Plus;
    options.version = kVersion;
    return options;
}

// An ELF-like program with a version block at `at`.
Bytes ProgramWithBlock(std::size_t at, const Bytes& block) {
    Bytes program = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
    program.resize(at, 0x90);
    program.insert(program.end(), block.begin(), block.end());
    program.resize(program.size() + 333, 0x00);
    return program;
}

TEST(PeImageTest, ReadsTheFixedFileVersionOfPe32AndPe32Plus) {
    for (const bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        const BuiltPe pe = BuildPe(Options(pe32Plus));
        const std::optional<FileVersion> version = ReadFileVersion(pe.bytes);
        ASSERT_TRUE(version);
        EXPECT_EQ(*version, kVersion);
        EXPECT_EQ(FormatFileVersion(*version), "24.1.19041.65535");
    }
}

TEST(PeImageTest, PeImagesAreReadOnlyThroughTheirResources) {
    PeOptions noVersion = Options(false);
    noVersion.versionResource = false;
    EXPECT_FALSE(ReadFileVersion(BuildPe(noVersion).bytes));

    PeOptions noResources = Options(true);
    noResources.resources = false;
    BuiltPe pe = BuildPe(noResources);
    EXPECT_FALSE(ReadFileVersion(pe.bytes));
    // A block lying in the code is not the image's version.
    const Bytes block = MakeVersionBlock(kVersion);
    std::copy(block.begin(), block.end(), pe.bytes.begin() + 0x410);
    EXPECT_FALSE(ReadFileVersion(pe.bytes));
}

TEST(PeImageTest, EveryPrefixGivesTheVersionOrNothing) {
    for (const bool pe32Plus : {false, true}) {
        const BuiltPe pe = BuildPe(Options(pe32Plus));
        for (std::size_t length = 0; length <= pe.bytes.size(); ++length) {
            const std::optional<FileVersion> version =
                ReadFileVersion(std::span(pe.bytes).first(length));
            if (version) {
                ASSERT_EQ(*version, kVersion) << length;
            }
        }
    }
}

TEST(PeImageTest, LyingHeadersGiveNothing) {
    struct Lie {
        const char* what;
        std::function<void(BuiltPe&)> apply;
    };
    const std::vector<Lie> lies = {
        {"resource directory outside every section",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.resourceDirectoryField, 0x9000); }},
        {"resource directory not counted",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.directoryCountField, 2); }},
        {"more root entries than bytes",
         [](BuiltPe& pe) { PutLe16(pe.bytes, pe.resourceSection + 14, 0xFFFF); }},
        {"version type points at the root",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.versionTypeEntry + 4, 0x80000000u); }},
        {"name directory points at itself",
         [](BuiltPe& pe) {
             const std::uint32_t names =
                 pe.bytes[pe.versionTypeEntry + 4] | (pe.bytes[pe.versionTypeEntry + 5] << 8);
             PutLe32(pe.bytes, pe.resourceSection + names + 16 + 4, 0x80000000u | names);
         }},
        {"version data outside every section",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.versionDataEntry, 0x7FFFFFF0); }},
        {"version data longer than its section",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.versionDataEntry + 4, 0xFFFFFFF0); }},
        {"block longer than its data",
         [](BuiltPe& pe) { PutLe16(pe.bytes, pe.versionBlock, 0xFFF0); }},
        {"wrong fixed info signature",
         [](BuiltPe& pe) { PutLe32(pe.bytes, pe.versionBlock + 40, 0xFEEF04BC); }},
        {"value shorter than the fixed info",
         [](BuiltPe& pe) { PutLe16(pe.bytes, pe.versionBlock + 2, 51); }},
        {"another key", [](BuiltPe& pe) { pe.bytes[pe.versionBlock + 6] = 'W'; }},
    };
    for (const bool pe32Plus : {false, true}) {
        for (const Lie& lie : lies) {
            SCOPED_TRACE(std::string(lie.what) + (pe32Plus ? " (PE32+)" : " (PE32)"));
            BuiltPe pe = BuildPe(Options(pe32Plus));
            lie.apply(pe);
            EXPECT_FALSE(ReadFileVersion(pe.bytes));
        }
    }
}

TEST(PeImageTest, HeadersThatDoNotHoldMakeTheImageAnyOtherFile) {
    // Sections past the end of the file are ignored: the real ones still map.
    BuiltPe manySections = BuildPe(Options(false));
    PutLe16(manySections.bytes, manySections.sectionCountField, 0xFFFF);
    EXPECT_EQ(ReadFileVersion(manySections.bytes), kVersion);

    // No PE header where e_lfanew points: the block is found by its key.
    for (const std::uint32_t lfanew : {0xFFFFFFF0u, 0x10000u, 0x0u}) {
        BuiltPe pe = BuildPe(Options(true));
        PutLe32(pe.bytes, 0x3C, lfanew);
        EXPECT_EQ(ReadFileVersion(pe.bytes), kVersion) << lfanew;
    }
}

TEST(PeImageTest, FindsTheBlockEmbeddedInAnyOtherFile) {
    const Bytes block = MakeVersionBlock(kVersion);
    for (const std::size_t at : {std::size_t{6}, std::size_t{4096}, std::size_t{4097}}) {
        EXPECT_EQ(ReadFileVersion(ProgramWithBlock(at, block)), kVersion) << at;
    }
    // A key without a well-formed block around it is passed over.
    Bytes broken = block;
    PutLe32(broken, 40, 0x12345678);
    Bytes program = ProgramWithBlock(1001, broken);
    const Bytes later = MakeVersionBlock({1, 0, 0, 7});
    program.insert(program.end(), later.begin(), later.end());
    EXPECT_EQ(ReadFileVersion(program), (FileVersion{1, 0, 0, 7}));
    // The first good block wins.
    program.insert(program.begin() + 20, block.begin(), block.end());
    EXPECT_EQ(ReadFileVersion(program), kVersion);
}

TEST(PeImageTest, EmbeddedBlocksMustBeWhole) {
    const Bytes block = MakeVersionBlock(kVersion);
    Bytes badSignature = block;
    PutLe32(badSignature, 40, 0xFEEF04BE);
    EXPECT_FALSE(ReadFileVersion(ProgramWithBlock(301, badSignature)));
    Bytes shortValue = block;
    PutLe16(shortValue, 2, 51);
    EXPECT_FALSE(ReadFileVersion(ProgramWithBlock(300, shortValue)));
    Bytes longerThanFile = block;
    PutLe16(longerThanFile, 0, 0xFFFF);
    EXPECT_FALSE(ReadFileVersion(ProgramWithBlock(300, longerThanFile)));
    // The key at the very start leaves no room for the header before it.
    EXPECT_FALSE(ReadFileVersion(Bytes(block.begin() + 6, block.end())));

    const Bytes program = ProgramWithBlock(77, block);
    for (std::size_t length = 0; length <= program.size(); ++length) {
        const std::optional<FileVersion> version =
            ReadFileVersion(std::span(program).first(length));
        ASSERT_EQ(version.has_value(), length >= 77 + block.size()) << length;
    }
}

TEST(PeImageTest, ReadsFilesUpTo64MiB) {
    stubtest::TestFolder folder;
    const BuiltPe pe = BuildPe(Options(false));
    const std::string image = folder / "setup.exe";
    stubtest::WriteFile(image, std::string(pe.bytes.begin(), pe.bytes.end()));
    EXPECT_EQ(ReadFileVersionOfFile(image), kVersion);
    EXPECT_FALSE(ReadFileVersionOfFile(folder / "missing"));

    // A block ending exactly at the limit is read; one byte further is not.
    const Bytes block = MakeVersionBlock(kVersion);
    constexpr std::size_t kLimit = std::size_t{64} * 1024 * 1024;
    for (const std::size_t end : {kLimit, kLimit + 1}) {
        const std::string large = folder / "large";
        {
            std::ofstream out(large, std::ios::binary | std::ios::trunc);
            out.seekp(static_cast<std::streamoff>(end - block.size()));
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size()));
        }
        EXPECT_EQ(ReadFileVersionOfFile(large).has_value(), end == kLimit) << end;
    }
}

}  // namespace
