#include "core/LanguageTable.h"

#include <gtest/gtest.h>

#include "platform/posix/Locale.h"

namespace {

using namespace stubframework::core;
using stubframework::platform::posix::GeoIdFromLocale;
using stubframework::platform::posix::LanguageIdFromLocale;

TEST(LanguageTableTest, RowsAndCodes) {
    ASSERT_EQ(LanguageTable().size(), 108u);
    EXPECT_EQ(LanguageTable()[1].code, "en");
    EXPECT_EQ(LanguageTable()[14].code, "af");
    EXPECT_EQ(LanguageTable()[80].name, "Serbian");
    EXPECT_EQ(LanguageTable()[107].code, "zu");
    EXPECT_EQ(LanguageNumberFromCode("en"), 1);
    EXPECT_EQ(LanguageNumberFromCode("EN"), 0);
    EXPECT_EQ(LanguageNumberFromCode("other"), 0);
    EXPECT_EQ(LanguageNumberFromCode("zu"), 107);
}

TEST(LanguageTableTest, WindowsLanguageIds) {
    EXPECT_EQ(LanguageNumberFromId(1033), 1);
    EXPECT_EQ(LanguageNumberFromId(2055), 3);   // German, Switzerland
    EXPECT_EQ(LanguageNumberFromId(1050), 80);  // 0x041A counts as Serbian
    EXPECT_EQ(LanguageNumberFromId(4122), 29);  // Croatian, Bosnia
    EXPECT_EQ(LanguageNumberFromId(0x141A), 25);
    EXPECT_EQ(LanguageNumberFromId(0x3C1A), 0);
    EXPECT_EQ(LanguageNumberFromId(0x0401), 17);  // Arabic
    EXPECT_EQ(LanguageNumberFromId(3076), 13);
    EXPECT_EQ(LanguageNumberFromId(0x0C04), 13);
    EXPECT_EQ(LanguageNumberFromId(0x0435), 107);
    EXPECT_EQ(LanguageNumberFromId(0x047F), 0);  // invariant: no row
}

TEST(LanguageTableTest, LocalesMapToLanguageAndNationIds) {
    EXPECT_EQ(LanguageIdFromLocale("de_CH.UTF-8"), 2055);
    EXPECT_EQ(LanguageIdFromLocale("en_US.UTF-8"), 1033);
    EXPECT_EQ(LanguageIdFromLocale("C.UTF-8"), 1033);
    EXPECT_EQ(LanguageIdFromLocale("POSIX"), 1033);
    EXPECT_EQ(LanguageIdFromLocale("zh_TW.UTF-8"), 1028);
    EXPECT_EQ(LanguageIdFromLocale("sr_RS@latin"), 0x241A);
    EXPECT_EQ(LanguageIdFromLocale("fr_CA"), 0x0C0C);
    EXPECT_EQ(LanguageNumberFromId(LanguageIdFromLocale("ja_JP.UTF-8")), 5);
    EXPECT_EQ(LanguageNumberFromId(LanguageIdFromLocale("nb_NO.UTF-8")), 67);
    EXPECT_EQ(LanguageNumberFromId(LanguageIdFromLocale("xx_YY")), 1);

    EXPECT_EQ(GeoIdFromLocale("en_US.UTF-8"), 244);
    EXPECT_EQ(GeoIdFromLocale("de_CH.UTF-8"), 223);
    EXPECT_EQ(GeoIdFromLocale("en_GB"), 242);
    EXPECT_EQ(GeoIdFromLocale("C.UTF-8"), -1);
    EXPECT_EQ(GeoIdFromLocale("en"), -1);
}

}  // namespace
