#include "zip/ZipWriter.h"

#include <zlib.h>

#include "platform/error.h"
#include "zip/ZipReader.h"

namespace stubframework::zip {
namespace {

namespace fs = platform::fs;

constexpr std::uint16_t kVersion = 20;
constexpr std::uint32_t kMaxEntries = 0xFFFE;  // 0xFFFF in the end record means ZIP64
constexpr std::uint64_t kMaxSize = 0xFFFFFFFEu;
constexpr std::size_t kMaxNameBytes = 260;

void PutLe16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

// Raw deflate of a whole block; empty when it fails.
std::vector<std::uint8_t> Deflate(const std::uint8_t* data, std::size_t size, int level) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(size)));
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(status == Z_STREAM_END ? stream.total_out : 0);
    deflateEnd(&stream);
    return out;
}

}  // namespace

std::uint32_t DosTime(const platform::SystemTime& time) {
    if (time.year < 1980) {
        return (1u << 21) | (1u << 16);  // 1980-01-01 00:00
    }
    return (static_cast<std::uint32_t>(time.year - 1980) << 25) |
           (static_cast<std::uint32_t>(time.month) << 21) |
           (static_cast<std::uint32_t>(time.day) << 16) |
           (static_cast<std::uint32_t>(time.hour) << 11) |
           (static_cast<std::uint32_t>(time.minute) << 5) |
           static_cast<std::uint32_t>(time.second / 2);
}

bool ZipWriter::Open(const std::string& path) {
    if (file_.OpenAlways(path) != platform::kErrorSuccess) {
        return false;
    }
    const std::int64_t size = file_.Size();
    if (size < 0) {
        return false;
    }
    if (size > 0) {
        ZipReader reader;
        const auto read = [this](std::int64_t offset, void* buffer, std::size_t length) {
            return file_.ReadAt(offset, buffer, length);
        };
        if (!reader.Open(read, size)) {
            return false;
        }
        directory_ = reader.Directory();
        count_ = static_cast<std::uint32_t>(reader.Entries().size());
        position_ = reader.DirectoryPosition();
        startOffset_ = reader.StartOffset();
    }
    return file_.Seek(position_) == platform::kErrorSuccess;
}

bool ZipWriter::OpenAppended(const std::string& path) {
    if (file_.OpenAlways(path) != platform::kErrorSuccess) {
        return false;
    }
    position_ = file_.Size();
    startOffset_ = position_;
    return position_ >= 0 && file_.Seek(position_) == platform::kErrorSuccess;
}

bool ZipWriter::AddBytes(const std::string& name, const std::uint8_t* data, std::size_t size,
                         int level, std::uint32_t dosTime) {
    if (size > kMaxSize) {
        return false;  // would need ZIP64
    }
    const std::uint32_t crc =
        static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), data, static_cast<uInt>(size)));
    const std::vector<std::uint8_t> packed =
        size != 0 ? Deflate(data, size, level) : std::vector<std::uint8_t>{};
    if (!packed.empty() && packed.size() < size) {
        return AddEntry(name, 8, crc, packed.data(), packed.size(), size, dosTime, 0);
    }
    return AddEntry(name, 0, crc, data, size, size, dosTime, 0);
}

bool ZipWriter::AddFolder(const std::string& name, std::uint32_t dosTime) {
    const std::string folder = !name.empty() && name.back() == '/' ? name : name + "/";
    return AddEntry(folder, 0, 0, nullptr, 0, 0, dosTime, 0x10);
}

bool ZipWriter::AddEntry(const std::string& name, std::uint16_t method, std::uint32_t crc,
                         const std::uint8_t* data, std::size_t storedSize, std::size_t size,
                         std::uint32_t dosTime, std::uint32_t attributes) {
    const std::int64_t offset = position_ - startOffset_;
    if (count_ >= kMaxEntries || name.empty() || name.size() > 0xFFFF || offset > 0xFFFFFFFELL) {
        return false;
    }
    std::vector<std::uint8_t> header;
    PutLe32(header, kLocalHeaderSignature);
    PutLe16(header, kVersion);
    PutLe16(header, 0);
    PutLe16(header, method);
    PutLe32(header, dosTime);
    PutLe32(header, crc);
    PutLe32(header, static_cast<std::uint32_t>(storedSize));
    PutLe32(header, static_cast<std::uint32_t>(size));
    PutLe16(header, static_cast<std::uint32_t>(name.size()));
    PutLe16(header, 0);
    header.insert(header.end(), name.begin(), name.end());
    header.insert(header.end(), data, data + storedSize);
    if (!WriteAll(header)) {
        return false;
    }
    PutLe32(directory_, kDirectorySignature);
    PutLe16(directory_, kVersion);
    PutLe16(directory_, kVersion);
    PutLe16(directory_, 0);
    PutLe16(directory_, method);
    PutLe32(directory_, dosTime);
    PutLe32(directory_, crc);
    PutLe32(directory_, static_cast<std::uint32_t>(storedSize));
    PutLe32(directory_, static_cast<std::uint32_t>(size));
    PutLe16(directory_, static_cast<std::uint32_t>(name.size()));
    PutLe16(directory_, 0);  // extra
    PutLe16(directory_, 0);  // comment
    PutLe16(directory_, 0);  // disk
    PutLe16(directory_, 0);  // internal attributes
    PutLe32(directory_, attributes);
    PutLe32(directory_, static_cast<std::uint32_t>(offset));
    directory_.insert(directory_.end(), name.begin(), name.end());
    ++count_;
    return true;
}

bool ZipWriter::WriteAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    if (file_.Write(bytes.data(), bytes.size(), written) != platform::kErrorSuccess) {
        return false;
    }
    position_ += static_cast<std::int64_t>(written);
    return true;
}

bool ZipWriter::Finish() {
    const std::int64_t directoryOffset = position_ - startOffset_;
    if (directoryOffset > 0xFFFFFFFELL || directory_.size() > kMaxSize) {
        return false;
    }
    std::vector<std::uint8_t> tail = directory_;
    PutLe32(tail, kEndRecordSignature);
    PutLe16(tail, 0);
    PutLe16(tail, 0);
    PutLe16(tail, count_);
    PutLe16(tail, count_);
    PutLe32(tail, static_cast<std::uint32_t>(directory_.size()));
    PutLe32(tail, static_cast<std::uint32_t>(directoryOffset));
    PutLe16(tail, 0);
    const bool written = WriteAll(tail) && file_.SetEnd() == platform::kErrorSuccess;
    file_.Close();
    return written;
}

bool ZipFileToArchive(const std::string& archivePath, const std::string& filePath) {
    const std::string name = fs::FileName(filePath);
    if (archivePath.size() > kMaxNameBytes || name.empty() || name.size() > kMaxNameBytes) {
        return false;
    }
    fs::FileHandle file;
    if (file.Open(filePath) != platform::kErrorSuccess) {
        return false;
    }
    const std::int64_t size = file.Size();
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxSize) {
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (file.Read(bytes.data(), bytes.size()) != size) {
        return false;
    }
    ZipWriter writer;
    return writer.Open(archivePath) &&
           writer.AddBytes(name, bytes.data(), bytes.size(), 9, DosTime(platform::UtcNow())) &&
           writer.Finish();
}

}  // namespace stubframework::zip
