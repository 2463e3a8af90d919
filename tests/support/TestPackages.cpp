#include "support/TestPackages.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "support/TestFolder.h"
#include "zip/ZipReader.h"

namespace stubtest {
namespace {

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A word in single quotes for the shell, whatever it holds.
std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

bool AlterMsi(const std::string& package, const std::vector<std::string>& statements) {
    return std::all_of(statements.begin(), statements.end(), [&](const std::string& sql) {
        return Shell("msibuild " + Quoted(package) + " -q " + Quoted(sql));
    });
}

std::string BuildTestMsi(const std::string& work, const std::string& version,
                         const std::string& code, const std::string& extra) {
    const std::string folder = work + "/msi-" + version;
    std::filesystem::create_directories(folder + "/docs");
    WriteFile(folder + "/app.txt", "app " + version + "\n");
    WriteFile(folder + "/docs/readme.txt", std::string(4000, 'r'));
    WriteFile(folder + "/p.wxs", R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id=")" + code + R"(" Name="Brindlemark Test" Language="1033" Version=")" +
                                     version + R"(" Manufacturer="Zelvo" UpgradeCode=")" +
                                     kTestUpgradeCode + R"(">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perUser"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>)" +
                                     extra + R"(
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Brindlemark">
          <Component Id="App" Guid="{12121212-1212-1212-1212-121212121212}">
            <File Id="app.txt" Source="app.txt" KeyPath="yes"/>
          </Component>
          <Directory Id="DocsDir" Name="docs">
            <Component Id="Docs" Guid="{13131313-1313-1313-1313-131313131313}">
              <File Id="readme.txt" Source="docs/readme.txt" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="App"/><ComponentRef Id="Docs"/></Feature>
  </Product>
</Wix>
)");
    const std::string package = folder + "/product-" + version + ".msi";
    return Shell("cd '" + folder + "' && wixl -o '" + package + "' p.wxs") ? package : "";
}

std::string BuildWxsMsi(const std::string& work, const std::string& name, const std::string& code,
                        const std::string& version, const std::string& product,
                        const std::vector<std::pair<std::string, std::string>>& files, bool x64,
                        const std::string& scope) {
    const std::string folder = work + "/wxs-" + name;
    for (const auto& [path, content] : files) {
        std::filesystem::create_directories(
            std::filesystem::path(folder + "/" + path).parent_path());
        WriteFile(folder + "/" + path, content);
    }
    WriteFile(folder + "/p.wxs", R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id=")" + code + R"(" Name="Brindlemark" Language="1033" Version=")" +
                                     version + R"(" Manufacturer="Zelvo" UpgradeCode=")" +
                                     kTestUpgradeCode + R"(">
    <Package InstallerVersion="200" Compressed="yes" InstallScope=")" +
                                     scope + R"("/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
)" + product + R"(
  </Product>
</Wix>
)");
    const std::string package = folder + "/" + name + ".msi";
    return Shell("cd '" + folder + "' && wixl " + (x64 ? "-a x64 " : "") + "-o '" + package +
                 "' p.wxs")
               ? package
               : "";
}

bool BuildTestZip(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string script = "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n";
    for (const auto& [name, source] : entries) {
        // zipfile.write would keep the source's mode bits; writestr keeps none.
        script += "    z.writestr(zipfile.ZipInfo('" + name + "'), open('" + source +
                  "', 'rb').read())\n";
    }
    const std::string scriptPath = path + ".py";
    WriteFile(scriptPath, script);
    const bool built = Shell("python3 '" + scriptPath + "' '" + path + "'");
    std::filesystem::remove(scriptPath);
    return built;
}

std::vector<std::pair<std::string, std::string>> ReadZip(const std::string& bytes) {
    stubframework::zip::ZipReader reader;
    const auto readAt = [&bytes](std::int64_t offset, void* buffer, std::size_t size) {
        if (offset < 0 || static_cast<std::size_t>(offset) > bytes.size()) {
            return std::int64_t{-1};
        }
        const std::size_t count = std::min(size, bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, bytes.data() + offset, count);
        return static_cast<std::int64_t>(count);
    };
    if (!reader.Open(readAt, static_cast<std::int64_t>(bytes.size()))) {
        return {};
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const stubframework::zip::ZipEntry& entry : reader.Entries()) {
        std::string content;
        if (!reader.Extract(entry, [&content](const std::uint8_t* data, std::size_t size) {
                content.append(reinterpret_cast<const char*>(data), size);
                return true;
            })) {
            return {};
        }
        entries.emplace_back(entry.name, std::move(content));
    }
    return entries;
}

}  // namespace stubtest
