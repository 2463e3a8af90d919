// Formatted text of packages, resolved against a small context.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/posix/msi/FormattedText.h"

namespace {

using namespace stubframework::platform::msi::detail;
using namespace std::string_literals;

class Context : public FormatContext {
public:
    std::map<std::string, std::string> properties{
        {"Name", "Hello"},   {"One", "1"},         {"Empty", ""},
        {"Pointer", "Name"}, {"FileRef", "app"},   {"INSTALLDIR", "/opt/app/"},
        {"Self", "[Self]"},  {"Echo", "x[Echo]x"}, {"Brackets", "[[Name]]"},
    };

    std::string Property(const std::string& name) const override { return Find(properties, name); }
    std::string Environment(const std::string& name) const override {
        return name == "HOME" ? "/home/user" : "";
    }
    std::string FilePath(const std::string& fileKey) const override {
        return fileKey == "app" ? "/opt/app/app.exe" : "";
    }
    std::string ComponentFolder(const std::string& component) const override {
        return component == "Core" ? "/opt/app/" : "";
    }

private:
    static std::string Find(const std::map<std::string, std::string>& map, const std::string& key) {
        const auto found = map.find(key);
        return found != map.end() ? found->second : "";
    }
};

struct Case {
    std::string text;
    std::string formatted;
};

// Each case of a group, named in the failure by its text.
void Check(const std::vector<Case>& cases) {
    const Context context;
    for (const Case& one : cases) {
        EXPECT_EQ(FormatText(one.text, context), one.formatted) << one.text;
    }
}

TEST(FormattedTextTest, References) {
    Check({Case{"say [Name]!", "say Hello!"}, Case{"[Unset]x[name]", "x"},
           Case{"[INSTALLDIR]bin", "/opt/app/bin"}, Case{"[%HOME]/.rc", "/home/user/.rc"},
           Case{"\"[#app]\" [!app]", "\"/opt/app/app.exe\" /opt/app/app.exe"},
           Case{"[$Core]x", "/opt/app/x"}, Case{"[#nope]", ""}, Case{"plain text", "plain text"},
           Case{"", ""},
           // Resolved inside-out, each value taken once.
           Case{"[[Pointer]]", "Hello"}, Case{"[#[FileRef]]", "/opt/app/app.exe"},
           Case{"[[Unset]]", ""}, Case{"[Brackets]", "[[Name]]"}, Case{"[Self][[Self]]", "[Self]"},
           Case{"[Echo][Echo]", "x[Echo]xx[Echo]x"}});
}

TEST(FormattedTextTest, Escapes) {
    Check({Case{"[\\[]Name[\\]]", "[Name]"}, Case{"[\\abc]", "a"},
           Case{"[\\{][Name][\\}]", "{Hello}"}, Case{"a[~]b[~]", "a\0b\0"s}, Case{"[]", "[]"}});
}

TEST(FormattedTextTest, Groups) {
    Check({Case{"{[Name] and [One]}!", "Hello and 1!"}, Case{"{x[Unset]y}z", "z"},
           Case{"{x[Name][Empty]}z", "z"}, Case{"{x[%NOPE]}z", "z"},
           // Without references a group is text: a GUID stays as it is.
           Case{"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
           Case{"{[\\[]}", "{[}"}, Case{"{}", "{}"}, Case{"{{[Name]}}", "Hello"},
           Case{"{{[Unset]}}x", "x"}, Case{"{a{[Name]}b}", "aHellob"}, Case{"{a{[Unset]}b}c", "c"},
           Case{"{a{b}[Name]}", "a{b}Hello"}});
}

TEST(FormattedTextTest, Unbalanced) {
    Check({Case{"a[b", "a[b"}, Case{"a]b}", "a]b}"}, Case{"[Name", "[Name"},
           Case{"{[Name]", "{Hello"}, Case{"}{", "}{"}, Case{"[a{b]c}", "[a{b]c}"},
           Case{"[a [Name] b", "[a Hello b"}, Case{"[\\", "[\\"}, Case{"[\\]", "[\\]"},
           Case{"x[\\ab", "x[\\ab"}});
}

TEST(FormattedTextLimitsTest, SubstitutionsStopAtTheLimit) {
    Context context;
    context.properties["Big"] = std::string(1 << 16, 'x');
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += "[Big]";
    }
    EXPECT_EQ(FormatText(text, context), std::string(kMaxSubstitutedSize, 'x'));
}

TEST(FormattedTextLimitsTest, DeepNestingIsText) {
    const Context context;
    const std::string braces = std::string(100000, '{') + std::string(100000, '}');
    EXPECT_EQ(FormatText(braces, context), braces);
    const std::string brackets = std::string(100000, '[') + "Name" + std::string(100000, ']');
    // The innermost openers beyond the limit are part of a name nobody has.
    EXPECT_EQ(FormatText(brackets, context), std::string(100000 - kMaxFormatDepth, ']'));
    // Openers count with the brackets inside them: past the limit the rest is text.
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '{') + "[Name]" + std::string(depth, '}');
    };
    EXPECT_EQ(FormatText(nested(kMaxFormatDepth - 1), context), "Hello");
    EXPECT_EQ(FormatText(nested(kMaxFormatDepth), context), nested(kMaxFormatDepth));
}

}  // namespace
