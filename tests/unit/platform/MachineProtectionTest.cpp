// The machine-bound protection of the Linux side: its own blob over
// AES-256-GCM, keyed from the machine id (Windows has DPAPI's).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/identity.h"
#include "support/TestFolder.h"

namespace {

namespace identity = stubframework::platform::identity;

class MachineProtectionTest : public ::testing::Test {
protected:
    void SetMachineId(const std::string& text) { stubtest::WriteFile(work / "machine-id", text); }

    stubtest::TestFolder work;
    stubtest::ScopedEnv machineId_{"STUB_MACHINE_ID_FILE", work / "machine-id"};
};

TEST_F(MachineProtectionTest, OpensOnlyOnTheSameMachineWithTheSameEntropy) {
    SetMachineId("3d1219c7c4c5404aaa1f6d2a48adfda4\n");
    const std::vector<std::uint8_t> data{'P', 0, '-', 0};
    std::vector<std::uint8_t> blob;
    ASSERT_TRUE(identity::ProtectForMachine(data, "quenvar", blob));
    // "SDP1", nonce, ciphertext, tag.
    ASSERT_EQ(blob.size(), 4 + 12 + data.size() + 16);
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), "SDP1");
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(identity::ProtectForMachine(data, "quenvar", again));
    EXPECT_NE(again, blob) << "every blob has a nonce of its own";

    std::vector<std::uint8_t> plain;
    ASSERT_TRUE(identity::UnprotectForMachine(blob, "quenvar", plain));
    EXPECT_EQ(plain, data);
    EXPECT_FALSE(identity::UnprotectForMachine(blob, "quenvaR", plain));

    std::vector<std::uint8_t> changed = blob;
    changed[0] = '2';  // another format: not even tried
    EXPECT_FALSE(identity::UnprotectForMachine(changed, "quenvar", plain));
    changed = blob;
    changed[6] ^= 0x80;  // the nonce
    EXPECT_FALSE(identity::UnprotectForMachine(changed, "quenvar", plain));
    EXPECT_FALSE(identity::UnprotectForMachine(
        std::vector<std::uint8_t>(blob.begin(), blob.end() - 1), "quenvar", plain));

    SetMachineId("8f5e0b1a9c2d4e6f8a0b1c2d3e4f5a6b\n");
    EXPECT_FALSE(identity::UnprotectForMachine(blob, "quenvar", plain));
    // Without a machine id there is no key at all.
    for (const char* id : {"uninitialized\n", "", "3d1219c7c4c5404aaa1f6d2a48adfda4aa\n"}) {
        SetMachineId(id);
        EXPECT_FALSE(identity::ProtectForMachine(data, "quenvar", blob)) << id;
    }
}

}  // namespace
