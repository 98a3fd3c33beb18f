// End-to-end: the real executable in a scratch directory, checked by exit status,
// exact output and exact bytes. The same tests prove the Win32 build under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/path_rules.h"
#include "tests/support/fixtures.h"
#include "tests/support/res_reader.h"
#include "tests/support/resource_readers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

using fixtures::WORKED_EXAMPLE;

class EndToEnd : public ::testing::Test {
protected:
    ToolResult run(const std::vector<std::string>& arguments, StdoutMode mode = StdoutMode::CAPTURED) {
        return runTool(arguments, dir.path(), mode);
    }
    // Every resource file the tool writes must pass the test reader and the
    // resource compilers' readers.
    ResFile resFile(const std::string& name = "out.res") {
        const std::string bytes = dir.readFile(name);
        const ResFile file = readResFile(bytes);
        EXPECT_TRUE(file.valid) << file.error;
        EXPECT_EQ(rejectionByResourceReaders(bytes), "");
        return file;
    }
    TempDir dir;
};

TEST_F(EndToEnd, PrintsUsageAndNothingToDoWithoutArguments) {
    const ToolResult result = run({});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.substr(0, 22), "Raduza Resource Tool.\n");
    ASSERT_GT(result.output.size(), 23u);
    EXPECT_EQ(result.output.substr(result.output.size() - 23), "Error:  Nothing to do!\n");
}

TEST_F(EndToEnd, ExitsWithStatusOneOnAnInvalidOptionAndCreatesNothing) {
    dir.writeFile("a.gif", "x");
    const ToolResult result = run({"-f", "out.res", "a.gif", "-y"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output.substr(0, 19), "Invalid option: y\nR");
    EXPECT_FALSE(dir.exists("out.res"));
    EXPECT_EQ(run({"a.gif", "-f"}).exitStatus, 1);
    EXPECT_EQ(run({"-help-undocumented"}).exitStatus, 0);
}

// Files of a walked directory are opened from its listing; a file whose path
// only begins like that directory's is still its own.
TEST_F(EndToEnd, AFileBesideAWalkedDirectoryIsItself) {
    dir.writeFile(platformPath({"d", "x.gif"}), "in d");
    dir.writeFile(platformPath({"d", "s", "x.gif"}), "in d/s");
    dir.writeFile(platformPath({"dd", "x.gif"}), "in dd");
    const ToolResult result = run({"-q", "-r", "-f", "out.res", "d", platformPath({"dd", "x.gif"})});
    EXPECT_EQ(result.exitStatus, 0);
    const ResFile file = resFile();
    ASSERT_EQ(entryNames(file), (std::vector<std::string>{"D/S/X.GIF", "D/X.GIF", "DD/X.GIF"}));
    EXPECT_EQ(file.entries[0].data, "in d/s");
    EXPECT_EQ(file.entries[1].data, "in d");
    EXPECT_EQ(file.entries[2].data, "in dd");
}

TEST_F(EndToEnd, StoresTheWorkedExampleInAFileAndOnStandardOutput) {
    dir.writeFile("a.gif", "\x01\x02\x03\x04\x05");
    const ToolResult toFile = run({"-f", "out.res", "a.gif"});
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.output, "Stored a.gif as A.GIF.\n");
    EXPECT_EQ(dir.readFile("out.res"), WORKED_EXAMPLE);
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"A.GIF"});
    const ToolResult toStdout = run({"-q", "a.gif"});
    EXPECT_EQ(toStdout.exitStatus, 0);
    EXPECT_EQ(toStdout.output, WORKED_EXAMPLE);
}

TEST_F(EndToEnd, WalksATreeSubdirectoriesFirstInNameOrder) {
    dir.writeFile(platformPath({"assets", "b.txt"}), "bee");
    dir.writeFile(platformPath({"assets", "A.txt"}), "a\n\r\n\x1a");  // bytes a text mode would mangle
    dir.writeFile(platformPath({"assets", "img", "logo.gif"}), std::string(1000, '\0'));
    dir.writeFile(platformPath({"assets", "img", "Z", "deep.bin"}), "d");
    dir.writeFile(platformPath({"assets", "empty", "0.dat"}), "");
    const ToolResult result = run({"-r", "-f", "out.res", "assets"});
    EXPECT_EQ(result.exitStatus, 0);
    const std::string s(1, PLATFORM_PATH_RULES.separator);
    EXPECT_EQ(result.output, "Stored assets" + s + "empty" + s + "0.dat as ASSETS/EMPTY/0.DAT.\n" +
                                 "Stored assets" + s + "img" + s + "Z" + s + "deep.bin as ASSETS/IMG/Z/DEEP.BIN.\n" +
                                 "Stored assets" + s + "img" + s + "logo.gif as ASSETS/IMG/LOGO.GIF.\n" +
                                 "Stored assets" + s + "A.txt as ASSETS/A.TXT.\n" +
                                 "Stored assets" + s + "b.txt as ASSETS/B.TXT.\n");
    const ResFile file = resFile();
    ASSERT_EQ(file.entries.size(), 5u);
    EXPECT_EQ(file.entries[3].data, "a\n\r\n\x1a");
    EXPECT_EQ(file.entries[2].data, std::string(1000, '\0'));
}

// Files larger than the output buffer leave in several writes, into a file or down
// a pipe: the bytes are the same.
TEST_F(EndToEnd, StoresFilesLargerThanItsBufferTheSameInAFileAsOnStandardOutput) {
    std::string big(3 * 1024 * 1024 + 5, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    dir.writeFile(platformPath({"d", "a.txt"}), "alpha");
    dir.writeFile(platformPath({"d", "big.bin"}), big);
    dir.writeFile(platformPath({"d", "big2.bin"}), big.substr(1));
    dir.writeFile(platformPath({"d", "z.txt"}), "zulu");
    const ToolResult toFile = run({"-q", "-r", "-f", "out.res", "d"});
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.output, "");
    const ToolResult toStdout = run({"-q", "-r", "d"});
    EXPECT_EQ(toStdout.exitStatus, 0);
    EXPECT_TRUE(dir.readFile("out.res") == toStdout.output) << "the two resource files differ";
    const ResFile file = resFile();
    ASSERT_EQ(entryNames(file), (std::vector<std::string>{"D/A.TXT", "D/BIG.BIN", "D/BIG2.BIN", "D/Z.TXT"}));
    EXPECT_TRUE(file.entries[1].data == big);
    EXPECT_TRUE(file.entries[2].data == big.substr(1));
    EXPECT_EQ(file.entries[3].data, "zulu");
}

TEST_F(EndToEnd, ExpandsPatternsItself) {
    dir.writeFile("one.gif", "1");
    dir.writeFile("TWO.GIF", "2");
    dir.writeFile("three.txt", "3");
    dir.writeFile(platformPath({"sub", "four.gif"}), "4");
#ifndef _WIN32
    dir.writeFile(".hidden.gif", "h");  // hidden on POSIX, so a pattern without a directory part passes it over
#endif
    const ToolResult result = run({"-q", "-f", "out.res", "*.gif", platformPath({"sub", "f?ur.*"}), "*.none"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Warning: Could not find match for *.none.\n");
    EXPECT_EQ(entryNames(resFile()), (std::vector<std::string>{"ONE.GIF", "TWO.GIF", "SUB/FOUR.GIF"}));
}

TEST_F(EndToEnd, NeverStoresTheResourceFileItIsWriting) {
    dir.writeFile("a.gif", "x");
    dir.writeFile("out.res", std::string(5000, 'o'));  // an old resource file of the same name
    const ToolResult result = run({"-r", "-f", "out.res", "."});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Stored ." + std::string(1, PLATFORM_PATH_RULES.separator) + "a.gif as ./A.GIF.\n");
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"./A.GIF"});
    // The old file was replaced by the new one in one step, and nothing else is left.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.gif", "out.res"}));
}

// Named as a spec under any spelling, the resource file is refused before anything
// is opened, as a compiler refuses an output that is one of its inputs.
TEST_F(EndToEnd, RefusesAResourceFileNamedAsAnInputAndLeavesIt) {
    dir.writeFile("pic.gif", "a picture");
    dir.writeFile("b.gif", "b");
    std::filesystem::create_hard_link(std::filesystem::path(dir.path()) / "pic.gif",
                                      std::filesystem::path(dir.path()) / "hard.gif");
    const std::string dotted = platformPath({".", "pic.gif"});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-f", "pic.gif", "pic.gif"}, "pic.gif"},
        {{"b.gif", "pic.gif", "-f", "pic.gif"}, "pic.gif"},
        {{"-f", "pic.gif", "b.gif", dotted}, dotted},
        {{"-f", "pic.gif", "hard.gif"}, "hard.gif"},
        {{"-u", "-f", "hard.gif", "pic.gif"}, "pic.gif"},
    };
    for (const auto& [arguments, named] : cases) {
        const ToolResult result = run(arguments);
        EXPECT_EQ(result.exitStatus, 1) << named;
        EXPECT_EQ(result.output, "Error:  " + named + " is the resource file, named as a file to store too; it is left as it was.\n");
        EXPECT_EQ(dir.readFile("pic.gif"), "a picture");
        EXPECT_FALSE(dir.exists("hard.gif.inputs"));
    }
}

TEST_F(EndToEnd, RefusesAFileOfFourGibibytesAndGoesOn) {
    dir.writeFile("huge.bin", "");
    std::error_code sparseFailed;
    std::filesystem::resize_file(std::filesystem::path(dir.path()) / "huge.bin", std::uint64_t{1} << 32, sparseFailed);
    if (sparseFailed) GTEST_SKIP() << "cannot make a 4 GiB file here";
    dir.writeFile("small.bin", "s");
    const ToolResult result = run({"-f", "out.res", "huge.bin", "small.bin"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Warning: Ignoring file huge.bin because it is 4 GiB or larger.\nStored small.bin as SMALL.BIN.\n");
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"SMALL.BIN"});
}

TEST_F(EndToEnd, RefusesAReadOnlyResourceFile) {
    dir.writeFile("a.gif", "x");
    dir.writeFile("out.res", "old");
    std::filesystem::permissions(std::filesystem::path(dir.path()) / "out.res", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const ToolResult result = run({"-f", "out.res", "a.gif"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Error:  out.res is not writable.\n");
    EXPECT_EQ(dir.readFile("out.res"), "old");
}

TEST_F(EndToEnd, FailsWhenTheResourceFileCannotBeCreated) {
    dir.writeFile("a.gif", "x");
    const std::string target = platformPath({"missing", "out.res"});
    const ToolResult result = run({"-f", target, "a.gif"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(fixtures::withSystemReason(result.output, "Error:  Could not create " + target + ": ", ".\n"))
        << result.output;
    dir.makeDirectory("adir");
    EXPECT_EQ(run({"-f", "adir", "a.gif"}).exitStatus, 1);
}

TEST_F(EndToEnd, FailsWhenStandardOutputIsClosedOrBroken) {
    dir.writeFile("a.gif", std::string(100000, 'x'));
    for (StdoutMode mode : {StdoutMode::CLOSED, StdoutMode::BROKEN_PIPE}) {
        const ToolResult result = run({"a.gif"}, mode);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(fixtures::withSystemReason(result.errors, "Error:  Could not write to standard output: ",
                                               "; the run is abandoned.\n"))
            << result.errors;
    }
}

TEST_F(EndToEnd, FailsAndLeavesNoFileWhenTheDiskIsFull) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    dir.writeFile("a.gif", "x");
    const ToolResult result = run({"-f", "/dev/full", "a.gif"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(fixtures::withSystemReason(result.output, "Error:  Could not write to /dev/full: ",
                                           "; the run is abandoned.\n"))
        << result.output;
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));  // a device is never removed
}

}  // namespace
