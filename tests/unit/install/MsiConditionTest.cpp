// The condition language of packages, evaluated against a small context.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/posix/msi/Condition.h"

namespace {

using namespace stubframework::platform::msi::detail;
using R = ConditionResult;

class Context : public ConditionContext {
public:
    std::map<std::string, std::string> properties{
        {"One", "1"},
        {"Zero", "0"},
        {"Name", "Hello"},
        {"VersionNT", "603"},
        {"Padded", "007"},
        {"Minus", "-5"},
        {"Flags", "6"},
        {"Packed", "327683"},  // 0x00050003
        {"Huge", "99999999999"},
        {"Periodic", "aabaabaaab"},
    };
    std::map<std::string, int> states{
        {"?Core", kStateLocal},      {"$Core", kStateAbsent}, {"?Docs.Part", kStateAbsent},
        {"$Docs.Part", kStateLocal}, {"!Main", kStateAbsent}, {"&Main", kStateLocal},
    };

    std::string Property(const std::string& name) const override { return Find(properties, name); }
    std::string Environment(const std::string& name) const override {
        return name == "HOME" ? "/home/user" : "";
    }
    int ComponentInstalled(const std::string& name) const override { return State("?" + name); }
    int ComponentAction(const std::string& name) const override { return State("$" + name); }
    int FeatureInstalled(const std::string& name) const override { return State("!" + name); }
    int FeatureAction(const std::string& name) const override { return State("&" + name); }

private:
    static std::string Find(const std::map<std::string, std::string>& map, const std::string& key) {
        const auto found = map.find(key);
        return found != map.end() ? found->second : "";
    }
    int State(const std::string& key) const {
        const auto found = states.find(key);
        return found != states.end() ? found->second : kStateUnknown;
    }
};

struct Case {
    const char* text;
    ConditionResult result;
};

// Each case of a group, named in the failure by its text.
void Check(const std::vector<Case>& cases) {
    const Context context;
    for (const Case& one : cases) {
        EXPECT_EQ(EvaluateCondition(one.text, context), one.result) << one.text;
    }
}

TEST(MsiConditionTest, Precedence) {
    Check({Case{"NOT One AND Unset", R::False},  // (NOT One) AND Unset
           Case{"NOT Unset AND One", R::True},
           Case{"One OR One AND Unset", R::True},  // One OR (One AND Unset)
           Case{"(One OR One) AND Unset", R::False},
           Case{"One XOR One OR One", R::False},         // One XOR (One OR One)
           Case{"Unset IMP One EQV Unset", R::True},     // Unset IMP (...)
           Case{"Unset IMP Unset IMP Unset", R::False},  // from the left
           Case{"One IMP Unset", R::False}, Case{"Unset IMP Unset", R::True},
           Case{"One EQV One", R::True}, Case{"One EQV Unset", R::False},
           Case{"NOT NOT One", R::True},
           // NOT takes a whole comparison.
           Case{"NOT Name = \"Hello\"", R::False},
           // Keywords in any case; property names as written.
           Case{"One and not Unset", R::True}, Case{"one Or ONE", R::False}});
}

TEST(MsiConditionTest, LoneTerms) {
    Check({Case{"One", R::True}, Case{"Unset", R::False},
           // A property set to 0 is still set.
           Case{"Zero", R::True}, Case{"0", R::False}, Case{"-1", R::True}, Case{"\"\"", R::False},
           Case{"\"x\"", R::True}, Case{"%HOME", R::True}, Case{"%NOPE", R::False},
           Case{"NOT Installed AND REMOVE<>\"ALL\"", R::True}});
}

TEST(MsiConditionTest, Comparisons) {
    Check({// Text that reads as an integer compares as one, quoted or not.
           Case{"VersionNT >= 600", R::True}, Case{"VersionNT>95", R::True},
           Case{"VersionNT < 600", R::False}, Case{"Padded = 7", R::True},
           Case{"Padded = \"7\"", R::True}, Case{"One = \"1\"", R::True},
           Case{"Minus < -4", R::True}, Case{"Minus = -5", R::True},
           // Text against an integer: only <> holds.
           Case{"Name = 5", R::False}, Case{"Name <> 5", R::True}, Case{"Name > 5", R::False},
           Case{"Name < 5", R::False}, Case{"Unset >= 600", R::False},
           Case{"Unset <> 600", R::True},
           // Too large for an integer, it is text.
           Case{"Huge = 99999999999", R::True}, Case{"Huge > 5", R::False},
           Case{"Name = \"Hello\"", R::True}, Case{"Name = \"hello\"", R::False},
           Case{"Name ~= \"hello\"", R::True}, Case{"Name ~<> \"HELLO\"", R::False},
           Case{"Name < \"Help\"", R::True}, Case{"Name ~>= \"HELLO\"", R::True},
           Case{"Unset = \"\"", R::True}, Case{"%HOME = \"/home/user\"", R::True},
           // Substrings of text...
           Case{"Name >< \"ell\"", R::True}, Case{"Name >< \"elo\"", R::False},
           Case{"Name << \"He\"", R::True}, Case{"Name << \"he\"", R::False},
           Case{"Name ~<< \"he\"", R::True}, Case{"Name >> \"lo\"", R::True},
           Case{"Name >> \"He\"", R::False}, Case{"Name >< \"\"", R::True},
           Case{"Name >< 1", R::False},
           // Partial matches that overlap the real one.
           Case{"Periodic >< \"aabaaab\"", R::True}, Case{"Periodic >< \"abab\"", R::False},
           Case{"Periodic ~>< \"BAAAB\"", R::True},
           // ...and bits of integers: AND, the high and the low word.
           Case{"Flags >< 2", R::True}, Case{"Flags >< 1", R::False}, Case{"Packed << 5", R::True},
           Case{"Packed >> 3", R::True}, Case{"Packed >> 5", R::False}});
}

TEST(MsiConditionTest, States) {
    Check({Case{"?Core = 3", R::True}, Case{"$Core = 2", R::True},
           Case{"?Docs.Part = 2 AND $Docs.Part = 3", R::True},
           Case{"!Main = 2 AND &Main = 3", R::True}, Case{"&Main = 3 AND NOT ?Core = 3", R::False},
           Case{"?Missing = -1", R::True}, Case{"$Core > ?Core", R::False}});
}

TEST(MsiConditionTest, NothingOrBroken) {
    Check({Case{"", R::None}, Case{" \t\r\n", R::None}, Case{"(", R::Error}, Case{"()", R::Error},
           Case{"One AND", R::Error}, Case{"= 1", R::Error}, Case{"One =", R::Error},
           Case{"\"open", R::Error}, Case{"One One", R::Error}, Case{"One = 1 = 1", R::Error},
           Case{"(One) = 1", R::Error}, Case{"%", R::Error}, Case{"$1", R::Error},
           Case{"1.5", R::Error}, Case{"One ~ = 1", R::Error}, Case{"NOT", R::Error},
           Case{"One)", R::Error}, Case{"One - 1", R::Error}, Case{"One = NOT One", R::Error}});
}

TEST(MsiConditionHoldsTest, NoneHoldsAndErrorDoesNot) {
    const Context context;
    EXPECT_TRUE(ConditionHolds("", context));
    EXPECT_TRUE(ConditionHolds("VersionNT >= 600", context));
    EXPECT_FALSE(ConditionHolds("Unset", context));
    EXPECT_FALSE(ConditionHolds("One AND", context));
}

TEST(MsiConditionHoldsTest, ReadsTheCurrentProperties) {
    Context context;
    const char* condition = "NOT Installed AND REMOVE<>\"ALL\"";
    EXPECT_TRUE(ConditionHolds(condition, context));
    context.properties["REMOVE"] = "ALL";
    EXPECT_FALSE(ConditionHolds(condition, context));
    context.properties["REMOVE"] = "Docs";
    context.properties["Installed"] = "00:00:00";
    EXPECT_FALSE(ConditionHolds(condition, context));
}

TEST(MsiConditionLimitsTest, NestingIsBoundedNotFatal) {
    const Context context;
    const auto nested = [](int depth) {
        return std::string(depth, '(') + "One" + std::string(depth, ')');
    };
    EXPECT_EQ(EvaluateCondition(nested(kMaxConditionDepth), context), R::True);
    EXPECT_EQ(EvaluateCondition(nested(kMaxConditionDepth + 1), context), R::Error);
    EXPECT_EQ(EvaluateCondition(nested(1000000), context), R::Error);
    EXPECT_EQ(EvaluateCondition(std::string(1000000, '('), context), R::Error);
}

TEST(MsiConditionLimitsTest, LongChainsNeedNoDepth) {
    const Context context;
    std::string nots;
    for (int i = 0; i < 100001; ++i) {
        nots += "NOT ";
    }
    EXPECT_EQ(EvaluateCondition(nots + "Unset", context), R::True);
    std::string ands = "One";
    for (int i = 0; i < 100000; ++i) {
        ands += " AND One";
    }
    EXPECT_EQ(EvaluateCondition(ands, context), R::True);
}

}  // namespace
