// File specs and directory walks, on the in-memory file system.
#include <gtest/gtest.h>

#include "tests/support/fake_run.h"
#include "tests/support/res_reader.h"

namespace {

std::vector<std::string> storedNames(FakeFileSystem& fs, const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"-q", "-f", "out.res"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    runOnFake(fs, all);
    if (!fs.exists("out.res")) return {};
    const ResFile file = readResFile(fs.contentOf("out.res"));
    EXPECT_TRUE(file.valid) << file.error;
    return entryNames(file);
}

void addTree(FakeFileSystem& fs) {
    fs.addFile("a.gif", "1");
    fs.addFile("B.gif", "2");
    fs.addFile(".hidden.gif", "3");
    fs.addFile("notes.txt", "4");
    fs.addFile("sub/c.gif", "5");
    fs.addFile("sub/deeper/d.gif", "6");
    fs.addFile("sub/z.txt", "7");
}

TEST(Spec, APatternWithoutADirectoryStoresPlainFilesHereOnlyEvenWithR) {
    FakeFileSystem fs;
    addTree(fs);
    EXPECT_EQ(storedNames(fs, {"-r", "*.gif"}), (std::vector<std::string>{"A.GIF", "B.GIF"}));
}

TEST(Spec, APatternWithADirectoryWalksSubdirectoriesFirstUnderR) {
    FakeFileSystem fs;
    addTree(fs);
    EXPECT_EQ(storedNames(fs, {"-r", "./*.gif"}),
              (std::vector<std::string>{"./SUB/DEEPER/D.GIF", "./SUB/C.GIF", "./.HIDDEN.GIF", "./A.GIF", "./B.GIF"}));
}

TEST(Spec, ADirectoryIsWalkedOnlyWithR) {
    FakeFileSystem fs;
    addTree(fs);
    EXPECT_EQ(storedNames(fs, {"sub"}), std::vector<std::string>{});
    EXPECT_FALSE(fs.exists("out.res"));
    EXPECT_EQ(storedNames(fs, {"-r", "sub"}),
              (std::vector<std::string>{"SUB/DEEPER/D.GIF", "SUB/C.GIF", "SUB/Z.TXT"}));
    EXPECT_EQ(storedNames(fs, {"-r", "sub/"}),
              (std::vector<std::string>{"SUB//DEEPER/D.GIF", "SUB//C.GIF", "SUB//Z.TXT"}));
}

TEST(Spec, JunkedNamesFromSubdirectoriesWinOverTheParentsFiles) {
    FakeFileSystem fs;
    fs.addFile("d/logo.gif", "parent");
    fs.addFile("d/sub/logo.gif", "child");
    const FakeRun run = runOnFake(fs, {"-j", "-r", "-f", "out.res", "d"});
    EXPECT_EQ(run.output,
              "Stored d/sub/logo.gif as LOGO.GIF.\n"
              "Warning:  Ignoring file d/logo.gif because the name LOGO.GIF is already in use.\n");
}

TEST(Spec, ReportsSpecsThatMatchNothing) {
    FakeFileSystem fs;
    addTree(fs);
    const FakeRun run =
        runOnFake(fs, {"-q", "-v", "-f", "o.res", "missing.gif", "nodir/*.gif", "sub/*.none", "/x.gif", "notes.txt/x"});
    EXPECT_EQ(run.output,
              "Warning: Could not find match for missing.gif.\n"
              "Looking for *.gif in dir nodir.\n"
              "Warning: Could not find match for nodir/*.gif.\n"
              "Looking for *.none in dir sub.\n"
              "Looking for x.gif in dir .\n"
              "Warning: Could not find match for /x.gif.\n"
              "Looking for x in dir notes.txt.\n");
}

TEST(Spec, TracesDescentsWhenAsked) {
    FakeFileSystem fs;
    addTree(fs);
    const FakeRun run = runOnFake(fs, {"-q", "-r", "-show_recurs", "-f", "o.res", "sub"});
    EXPECT_EQ(run.output, "Descending into sub/deeper\n");
}

TEST(Spec, WalksALinkThatLeadsBackUpTheTreeOnce) {
    FakeFileSystem fs;
    fs.addFile("top/a.gif", "1");
    fs.addFile("top/sub/b.gif", "2");
    fs.addLink("top/sub/loop", "top");
    fs.addLink("top/sub/other", "elsewhere");
    fs.addFile("elsewhere/c.gif", "3");
    EXPECT_EQ(storedNames(fs, {"-r", "top"}),
              (std::vector<std::string>{"TOP/SUB/OTHER/C.GIF", "TOP/SUB/B.GIF", "TOP/A.GIF"}));
}

TEST(Spec, WalksTheSameDirectoryTwiceWhenItIsNotOnTheCurrentPath) {
    FakeFileSystem fs;
    fs.addFile("shared/x.gif", "1");
    fs.addLink("top/one", "shared");
    fs.addLink("top/two", "shared");
    EXPECT_EQ(storedNames(fs, {"-r", "top"}), (std::vector<std::string>{"TOP/ONE/X.GIF", "TOP/TWO/X.GIF"}));
}

TEST(Spec, LeavesFifosOutOfWalksAndPatterns) {
    FakeFileSystem fs;
    fs.addFile("d/a.gif", "1");
    fs.addFifo("d/pipe.gif");
    fs.addFifo("pipe.gif");
    EXPECT_EQ(storedNames(fs, {"-r", "d", "*.gif"}), std::vector<std::string>{"D/A.GIF"});
}

TEST(Spec, HandlesSpecsInCommandLineOrderAroundTheOptions) {
    FakeFileSystem fs;
    addTree(fs);
    EXPECT_EQ(storedNames(fs, {"notes.txt", "-j", "sub/c.gif"}), (std::vector<std::string>{"NOTES.TXT", "C.GIF"}));
}

}  // namespace
