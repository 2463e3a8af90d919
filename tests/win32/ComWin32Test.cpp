// The UTF-8 side of the system's BSTRs.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"

namespace {

namespace com = stubframework::platform::com;

TEST(ComWin32Test, BstrsCarryTextBothWaysWithTheirLength) {
    // Beyond the BMP, and a null inside: the length counts, not the null.
    const std::string text = std::string(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC\0\xF0\x9D\x84\x9E",
        16);
    const BSTR value = com::AllocString(text);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(SysStringLen(value), 10u);  // G r ü ß e blank € null and a surrogate pair
    EXPECT_EQ(com::ToUtf8(value), text);
    SysFreeString(value);
    // Empty text is an empty BSTR, not a null one; null reads as empty.
    com::Bstr empty("");
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(SysStringLen(empty.Get()), 0u);
    EXPECT_EQ(com::ToUtf8(nullptr), "");
}

}  // namespace
