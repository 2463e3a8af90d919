// Facts that tell one computer from another, and the machine-bound
// protection of data kept on it. Each query answers nothing when its source
// cannot be read; the rules that turn the facts into identifiers are the
// core's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stubframework::platform::identity {

// The computer system's model and maker, as its firmware names them.
std::optional<std::string> SystemModel();
std::optional<std::string> SystemManufacturer();
// Serial numbers of the main board and of the system. Often only an
// administrator may read them.
std::optional<std::string> BoardSerialNumber();
std::optional<std::string> SystemSerialNumber();

using HardwareAddress = std::array<std::uint8_t, 6>;

struct NetworkAdapter {
    std::uint32_t index = 0;
    // The current address, upper-case hexadecimal pairs; nothing when the
    // adapter has none.
    std::optional<std::string> address;
    // The address burnt into the hardware; nothing when it cannot be read
    // or is not 6 bytes long.
    std::optional<HardwareAddress> permanentAddress;
    // The adapter is present but switched off.
    bool disabled = false;
};

enum class UsbAdapters { kSkip, kKeep };

// The network adapters that are hardware of this computer: virtual and
// Bluetooth adapters are left out, and USB adapters unless asked for.
std::vector<NetworkAdapter> PhysicalNetworkAdapters(UsbAdapters usb);

// Machine-bound protection: `blob` can be opened again on this machine by
// any of its users, and on no other. `entropy` must be the same for both
// calls. A blob from another machine, changed or cut short, does not open.
bool ProtectForMachine(std::span<const std::uint8_t> data, std::string_view entropy,
                       std::vector<std::uint8_t>& blob);
bool UnprotectForMachine(std::span<const std::uint8_t> blob, std::string_view entropy,
                         std::vector<std::uint8_t>& data);

}  // namespace stubframework::platform::identity
