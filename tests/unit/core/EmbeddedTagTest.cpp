// The download tag behind the first certificate table entry: in a PE image's
// security directory and in the trailer stub-pack writes; damaged tables
// give nothing, and the trailer leaves the page archive findable.
#include "core/EmbeddedTag.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/error.h"
#include "platform/fs.h"
#include "support/PeBuilder.h"
#include "support/TestFolder.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

namespace {

using namespace stubframework::core;
using stubtest::BuildPe;
using stubtest::BuiltPe;
using stubtest::CertificateTable;
using stubtest::PeOptions;
using stubtest::PutLe32;
using Bytes = std::vector<std::uint8_t>;

const std::string kTag = "campaign=spring&source=mail";
const Bytes kProgram = [] {
    Bytes program = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
    program.resize(3001, 0x90);
    return program;
}();

BuiltPe PeWithTable(bool pe32Plus, const Bytes& table) {
    PeOptions options;
    options.pe32Plus = pe32Plus;
    options.certificateTable = table;
    return BuildPe(options);
}

Bytes Tagged(const Bytes& program, const std::string& tag) {
    Bytes image = program;
    const Bytes trailer = MakeTagTrailer(tag, image.size());
    image.insert(image.end(), trailer.begin(), trailer.end());
    return image;
}

// The program, `table` behind it, and a footer naming `offset` and `size`.
Bytes WithFooter(const Bytes& table, std::uint32_t offset, std::uint32_t size) {
    Bytes image = kProgram;
    image.insert(image.end(), table.begin(), table.end());
    const std::string magic = "STUBCERT";
    image.insert(image.end(), magic.begin(), magic.end());
    image.resize(image.size() + 8);
    PutLe32(image, image.size() - 8, offset);
    PutLe32(image, image.size() - 4, size);
    return image;
}

Bytes WithFooter(const Bytes& table) {
    return WithFooter(table, static_cast<std::uint32_t>(kProgram.size()),
                      static_cast<std::uint32_t>(table.size()));
}

TEST(EmbeddedTagTest, ReadsTheTagBehindAPeImagesFirstCertificate) {
    for (const bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        EXPECT_EQ(ReadEmbeddedTag(PeWithTable(pe32Plus, CertificateTable(1500, kTag)).bytes), kTag);
        EXPECT_EQ(ReadEmbeddedTag(PeWithTable(pe32Plus, CertificateTable(1500, "")).bytes), "");
        PeOptions unsignedImage;
        unsignedImage.pe32Plus = pe32Plus;
        EXPECT_FALSE(ReadEmbeddedTag(BuildPe(unsignedImage).bytes));
    }
    // A PE image is read through its directory only, never through a footer.
    Bytes image = PeWithTable(false, CertificateTable(100, kTag)).bytes;
    const Bytes trailer = MakeTagTrailer("other", image.size());
    image.insert(image.end(), trailer.begin(), trailer.end());
    EXPECT_EQ(ReadEmbeddedTag(image), kTag);
}

TEST(EmbeddedTagTest, TrailersCarryTheTagsBytesAsGiven) {
    for (const std::string& tag :
         {kTag, std::string("Zürich – 日本語 ✓"), std::string(), std::string("a\0b\xFF", 4)}) {
        const Bytes image = Tagged(kProgram, tag);
        ASSERT_EQ(image.size(), kProgram.size() + 24 + tag.size());
        EXPECT_EQ(ReadEmbeddedTag(image), tag);
    }
    EXPECT_FALSE(ReadEmbeddedTag(kProgram));
    EXPECT_FALSE(ReadEmbeddedTag(Bytes{}));
}

TEST(EmbeddedTagTest, DamagedTablesGiveNothing) {
    const auto table = [](std::uint32_t entryLength, std::size_t tagBytes) {
        Bytes bytes = CertificateTable(0, std::string(tagBytes, 't'));
        PutLe32(bytes, 0, entryLength);
        return bytes;
    };
    const auto size = [](const Bytes& bytes) { return static_cast<std::uint32_t>(bytes.size()); };
    const auto at = static_cast<std::uint32_t>(kProgram.size());

    EXPECT_EQ(ReadEmbeddedTag(WithFooter(table(8, 100000))), std::string(100000, 't'));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(table(8, 100001))));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(table(7, 10))));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(table(0, 10))));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(table(19, 10))));  // past the table's 18 bytes
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(table(0xFFFFFFFF, 10))));
    const Bytes good = table(8, 10);
    EXPECT_EQ(ReadEmbeddedTag(WithFooter(good)), std::string(10, 't'));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(good, at, size(good) + 1)));  // into the footer
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(good, at + 1, size(good))));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(good, 0xFFFFFFFF, size(good))));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(good, at, 0xFFFFFFFF)));
    EXPECT_FALSE(ReadEmbeddedTag(WithFooter(good, at, 4)));  // no room for the entry header
    Bytes badMagic = WithFooter(good);
    badMagic[badMagic.size() - 16] = 's';
    EXPECT_FALSE(ReadEmbeddedTag(badMagic));

    // The same lies told by a PE image's security directory.
    for (const std::uint32_t length : {0u, 7u, 19u}) {
        EXPECT_FALSE(ReadEmbeddedTag(PeWithTable(false, table(length, 10)).bytes)) << length;
    }
    EXPECT_FALSE(ReadEmbeddedTag(PeWithTable(true, table(8, 100001)).bytes));
    BuiltPe pastTheEnd = PeWithTable(true, good);
    PutLe32(pastTheEnd.bytes, pastTheEnd.securityDirectoryField + 4, size(good) + 1);
    EXPECT_FALSE(ReadEmbeddedTag(pastTheEnd.bytes));
    PutLe32(pastTheEnd.bytes, pastTheEnd.securityDirectoryField, 0xFFFFFFF8);
    EXPECT_FALSE(ReadEmbeddedTag(pastTheEnd.bytes));
}

TEST(EmbeddedTagTest, EveryPrefixGivesTheTagOrNothing) {
    const std::vector<Bytes> images = {Tagged(kProgram, kTag),
                                       PeWithTable(false, CertificateTable(64, kTag)).bytes,
                                       PeWithTable(true, CertificateTable(64, kTag)).bytes};
    for (const Bytes& image : images) {
        for (std::size_t length = 0; length <= image.size(); ++length) {
            const std::optional<std::string> tag = ReadEmbeddedTag(std::span(image).first(length));
            if (tag) {
                ASSERT_EQ(*tag, kTag) << length;
            }
        }
        EXPECT_EQ(ReadEmbeddedTag(image), kTag);
    }
}

TEST(EmbeddedTagTest, TrailersStayWithinTheirLimits) {
    const std::string longest(kMaxTagInTrailer, 'x');
    EXPECT_EQ(MakeTagTrailer(longest, 1234).size(), kMaxTagTrailer);
    EXPECT_TRUE(MakeTagTrailer(longest + "x", 1234).empty());
    EXPECT_TRUE(MakeTagTrailer("a", 0x100000000ull).empty());
    EXPECT_FALSE(MakeTagTrailer("a", 0xFFFFFFFFull).empty());
    // Bytes the archive's locator would take for its end record.
    EXPECT_TRUE(MakeTagTrailer(std::string("xPK\x05\x06y"), 1234).empty());
    EXPECT_TRUE(MakeTagTrailer("a", 0x06054B50).empty());
}

TEST(EmbeddedTagTest, TheLargestTrailerLeavesTheArchiveFindable) {
    namespace fs = stubframework::platform::fs;
    stubtest::TestFolder folder;
    const std::string path = folder / "stub";
    stubtest::WriteFile(path, std::string(kProgram.begin(), kProgram.end()));
    stubframework::zip::ZipWriter writer;
    const std::string page = "<html>page</html>";
    ASSERT_TRUE(writer.OpenAppended(path));
    ASSERT_TRUE(writer.AddBytes("index.html", reinterpret_cast<const std::uint8_t*>(page.data()),
                                page.size(), 9, 0x210000));
    ASSERT_TRUE(writer.Finish());
    const std::string tag(kMaxTagInTrailer, 'q');
    const std::string archive = stubtest::ReadFile(path);
    const Bytes trailer = MakeTagTrailer(tag, archive.size());
    ASSERT_EQ(trailer.size(), kMaxTagTrailer);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(trailer.data()),
                  static_cast<std::streamsize>(trailer.size()));
    }

    EXPECT_EQ(ReadEmbeddedTagOfFile(path), tag);
    fs::FileHandle file;
    ASSERT_EQ(file.Open(path), stubframework::platform::kErrorSuccess);
    stubframework::zip::ZipReader reader;
    ASSERT_TRUE(
        reader.Open([&file](std::int64_t offset, void* buffer,
                            std::size_t length) { return file.ReadAt(offset, buffer, length); },
                    file.Size()))
        << reader.Error();
    ASSERT_EQ(reader.Entries().size(), 1u);
    EXPECT_EQ(reader.StartOffset(), static_cast<std::int64_t>(kProgram.size()));
    EXPECT_FALSE(ReadEmbeddedTagOfFile(folder / "missing"));
}

}  // namespace
