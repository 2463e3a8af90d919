// Machine facts through WMI and the machine-bound protection through DPAPI.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/identity.h"
#include "platform/win32/Win32.h"
// After windows.h.
#include <objbase.h>

namespace {

namespace identity = stubframework::platform::identity;
using Bytes = std::vector<std::uint8_t>;

TEST(IdentityWin32Test, ProtectedDataOpensOnlyWithTheSameEntropyAndUnchanged) {
    const Bytes data{'P', 0, '-', 0, 0xFF, 0};
    Bytes blob;
    ASSERT_TRUE(identity::ProtectForMachine(data, "quenvar", blob));
    Bytes again;
    ASSERT_TRUE(identity::ProtectForMachine(data, "quenvar", again));
    EXPECT_NE(again, blob) << "every blob has a salt of its own";

    Bytes plain;
    ASSERT_TRUE(identity::UnprotectForMachine(blob, "quenvar", plain));
    EXPECT_EQ(plain, data);
    ASSERT_TRUE(identity::UnprotectForMachine(again, "quenvar", plain));
    EXPECT_EQ(plain, data);

    EXPECT_FALSE(identity::UnprotectForMachine(blob, "quenvaR", plain));
    EXPECT_FALSE(identity::UnprotectForMachine(blob, "", plain));
    EXPECT_FALSE(
        identity::UnprotectForMachine(Bytes(blob.begin(), blob.end() - 1), "quenvar", plain));
    EXPECT_FALSE(identity::UnprotectForMachine({}, "quenvar", plain));
    // The cipher text and its check end the blob (Wine checks none of the
    // header fields before them, Windows does).
    for (std::size_t at = blob.size() * 3 / 4; at < blob.size(); at += 3) {
        Bytes changed = blob;
        changed[at] ^= 0x01;
        EXPECT_FALSE(identity::UnprotectForMachine(changed, "quenvar", plain)) << at;
    }

    // No entropy protects too, and only opens without entropy.
    ASSERT_TRUE(identity::ProtectForMachine(data, "", blob));
    EXPECT_FALSE(identity::UnprotectForMachine(blob, "quenvar", plain));
    ASSERT_TRUE(identity::UnprotectForMachine(blob, "", plain));
    EXPECT_EQ(plain, data);
}

TEST(IdentityWin32Test, MachineFactsAreReadInAnyApartment) {
    const std::optional<std::string> model = identity::SystemModel();
    const std::optional<std::string> maker = identity::SystemManufacturer();
    ASSERT_TRUE(model.has_value());
    ASSERT_TRUE(maker.has_value());

    // The core asks from a thread that already runs COM single-threaded.
    std::optional<std::string> seen;
    std::thread([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        seen = identity::SystemModel();
        CoUninitialize();
    }).join();
    EXPECT_EQ(seen, model);
}

TEST(IdentityWin32Test, AdaptersCarryUpperCaseAddressesAndUsbOnlyAdds) {
    const auto isAddress = [](const std::string& text) {
        if (text.size() != 17) {
            return false;
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const bool ok = i % 3 == 2 ? c == ':'
                                       : std::isxdigit(static_cast<unsigned char>(c)) != 0 &&
                                             std::islower(static_cast<unsigned char>(c)) == 0;
            if (!ok) {
                return false;
            }
        }
        return true;
    };
    std::set<std::uint32_t> withUsb;
    for (const identity::NetworkAdapter& adapter :
         identity::PhysicalNetworkAdapters(identity::UsbAdapters::kKeep)) {
        EXPECT_TRUE(withUsb.insert(adapter.index).second) << adapter.index;
        if (adapter.address) {
            EXPECT_TRUE(isAddress(*adapter.address)) << *adapter.address;
        }
    }
    for (const identity::NetworkAdapter& adapter :
         identity::PhysicalNetworkAdapters(identity::UsbAdapters::kSkip)) {
        EXPECT_EQ(withUsb.count(adapter.index), 1u) << adapter.index;
    }
}

}  // namespace
