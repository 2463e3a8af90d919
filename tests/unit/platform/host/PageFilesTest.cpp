// Files of the page folder as both bridges serve them.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/posix/host/PageFiles.h"
#include "support/TestFolder.h"

namespace {

using stubframework::platform::posix::PercentDecode;
using stubframework::platform::posix::ReadPageFile;
using stubframework::platform::posix::ScriptPosition;

TEST(PageFilesTest, TheScriptGoesBeforeAnythingThePageCouldRun) {
    EXPECT_EQ(ScriptPosition("<html><head>"), 0u);
    EXPECT_EQ(ScriptPosition("<!DOCTYPE html>\n<html>"), 15u);
    EXPECT_EQ(ScriptPosition("  <!doctype HTML>x"), 17u);
    // A comment naming <head> or a script ahead of <head> changes nothing.
    EXPECT_EQ(ScriptPosition("<!-- <head> --><script>evil()</script><head>"), 0u);
    EXPECT_EQ(ScriptPosition("<!DOCTYPE html><!-- <head> --><head>"), 15u);
    // A doctype that never closes is no doctype.
    EXPECT_EQ(ScriptPosition("<!DOCTYPE html"), 0u);
}

TEST(PageFilesTest, PathsStayInTheFolderAndDocumentsGetTheScript) {
    stubtest::TestFolder root;
    mkdir((root / "pages").c_str(), 0700);
    std::ofstream(root / "pages/Load.html") << "<!DOCTYPE html><p>hi</p>";
    std::ofstream(root / "pages/a b.css") << "p{}";
    std::ofstream(root / "secret.txt") << "secret";
    symlink((root / "secret.txt").c_str(), (root / "pages/link.txt").c_str());
    const std::string folder = root / "pages";
    const auto script = [] { return std::string("<script>S</script>"); };

    const auto page = ReadPageFile(folder, "Load.html", true, script);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body, "<!DOCTYPE html><script>S</script><p>hi</p>");
    EXPECT_EQ(page->type.rfind("text/html", 0), 0u);
    // Not a document (a frame's fetch of the same file): no script.
    EXPECT_EQ(ReadPageFile(folder, "Load.html", false, script)->body, "<!DOCTYPE html><p>hi</p>");
    EXPECT_EQ(ReadPageFile(folder, "a%20b.css", true, script)->body, "p{}");
    for (const char* escape :
         {"../secret.txt", "%2e%2e/secret.txt", "..%2fsecret.txt", "/etc/passwd", "link.txt", "",
          ".", "Load.html%00.css", "%zz", "missing.html"}) {
        EXPECT_FALSE(ReadPageFile(folder, escape, true, script)) << escape;
    }
    EXPECT_EQ(PercentDecode("a%2Fb%20c").value_or("?"), "a/b c");
    EXPECT_FALSE(PercentDecode("%4"));
}

}  // namespace
