// Facts about the machine and the user that the core reads once at start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace stubframework::platform::system {

inline constexpr std::uint16_t kProcessorArchitectureIntel = 0;
inline constexpr std::uint16_t kProcessorArchitectureArm = 5;
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr std::uint16_t kProcessorArchitectureArm64 = 12;
inline constexpr std::uint16_t kProcessorArchitectureUnknown = 0xFFFF;

// The native processor architecture (GetNativeSystemInfo), as a Windows number.
std::uint16_t NativeProcessorArchitecture();

// The user's UI language as a Windows language id (GetUserDefaultUILanguage).
std::uint16_t UserDefaultUILanguage();

inline constexpr std::int32_t kGeoIdNotAvailable = -1;
// The user's nation as a Windows geographic id (GetUserGeoID with class nation).
std::int32_t UserGeoId();

// The desktop's default web browser; empty when none is known.
std::string DefaultBrowserName();

struct WindowsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint8_t productType = 0;  // 1 workstation
};
// The Windows version (GetVersionEx); nothing on other systems.
std::optional<WindowsVersion> OsVersion();

// The version the system reports to the process as "major.minor": Windows'
// (GetVersionEx) or the kernel's.
std::string VersionText();
// The same with the build: "major.minor.build" (RtlGetVersion, or the
// kernel's first three numbers).
std::string FullVersionText();

// Whether the machine has a way out to a network (InternetGetConnectedState):
// a default route through an interface that is up. Nothing is contacted.
bool HasNetworkConnection();

// The desktop user's desktop folder, without a trailing separator.
std::string DesktopFolder();

// What the product's analytics report of the machine.
struct MachineFacts {
    std::string operatingSystem;  // "Windows", "Linux"
    bool is64Bit = false;
    std::string osVersion;  // Windows: "build.UBR"; elsewhere the kernel's "major.minor"
    std::uint32_t processorCount = 0;
    std::uint32_t maxClockMhz = 0;  // 0 when unknown
    std::string processorVendor;    // "Intel", "AMD" or "Unknown"
    std::uint64_t memoryBytes = 0;
};
MachineFacts ReadMachineFacts();

// Machine-wide application data (CommonAppData) and the system folder
// (GetSystemDirectory).
std::string CommonAppDataFolder();
std::string SystemFolder();

}  // namespace stubframework::platform::system
