// Writes ZIP archives: entries deflated at the level asked (stored when that
// does not make them smaller), added to a new archive or to an existing one
// in place, where its central directory was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"

namespace stubframework::zip {

class ZipWriter {
public:
    // Opens `path` for adding: created when missing; an existing archive
    // keeps its entries. False when the file is not an archive.
    bool Open(const std::string& path);
    // Opens `path` to start a new archive after the bytes it holds (a page
    // package after the program); offsets count from the archive's start.
    bool OpenAppended(const std::string& path);
    bool AddBytes(const std::string& name, const std::uint8_t* data, std::size_t size, int level,
                  std::uint32_t dosTime);
    // A folder entry ("name/").
    bool AddFolder(const std::string& name, std::uint32_t dosTime);
    // Writes the central directory and the end record.
    bool Finish();

private:
    bool AddEntry(const std::string& name, std::uint16_t method, std::uint32_t crc,
                  const std::uint8_t* data, std::size_t storedSize, std::size_t size,
                  std::uint32_t dosTime, std::uint32_t attributes);
    bool WriteAll(const std::vector<std::uint8_t>& bytes);

    platform::fs::FileHandle file_;
    std::int64_t position_ = 0;     // where the next entry goes
    std::int64_t startOffset_ = 0;  // offsets in the archive count from here
    std::vector<std::uint8_t> directory_;
    std::uint32_t count_ = 0;
};

// MS-DOS date and time of a moment, as entries record it.
std::uint32_t DosTime(const platform::SystemTime& time);

// Adds the file at `filePath` to the archive under its own name, at level 9,
// creating the archive when it does not exist.
bool ZipFileToArchive(const std::string& archivePath, const std::string& filePath);

}  // namespace stubframework::zip
