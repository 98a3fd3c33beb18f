// End-to-end cases that only Win32 paths and attributes can express.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/res_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

class Win32EndToEnd : public ::testing::Test {
protected:
    std::vector<std::string> storedNames(const std::vector<std::string>& arguments, const std::string& workDir) {
        std::vector<std::string> all{"-q", "-f", dir.path() + "\\out.res"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const ToolResult result = runTool(all, workDir);
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        const ResFile file = readResFile(dir.readFile("out.res"));
        EXPECT_TRUE(file.valid) << file.error;
        return entryNames(file);
    }
    TempDir dir;
};

TEST_F(Win32EndToEnd, DropsTheDriveFromAnAbsolutePath) {
    dir.writeFile("logo.gif", "x");
    const std::string absolute = dir.path() + "\\logo.gif";
    ASSERT_EQ(absolute[1], ':');
    std::string expected = absolute.substr(3);
    for (char& c : expected) c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(storedNames({absolute}, dir.path()), std::vector<std::string>{expected});
    EXPECT_EQ(storedNames({"-j", absolute}, dir.path()), std::vector<std::string>{"LOGO.GIF"});
}

TEST_F(Win32EndToEnd, KeepsBackslashesInNamesThatClimbOutWithDotDot) {
    dir.writeFile("a.gif", "x");
    dir.makeDirectory("sub");
    EXPECT_EQ(storedNames({"..\\a.gif"}, dir.path() + "\\sub"), std::vector<std::string>{"..\\A.GIF"});
}

TEST_F(Win32EndToEnd, StoresHiddenFilesFromWalksButNotFromBarePatterns) {
    dir.writeFile("shown.gif", "1");
    dir.writeFile("secret.gif", "2");
    ASSERT_TRUE(SetFileAttributesA((dir.path() + "\\secret.gif").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(storedNames({"*.gif"}, dir.path()), std::vector<std::string>{"SHOWN.GIF"});
    EXPECT_EQ(storedNames({".\\*.gif"}, dir.path()), (std::vector<std::string>{"./SECRET.GIF", "./SHOWN.GIF"}));
}

TEST_F(Win32EndToEnd, TakesASlashAsAnOptionPrefix) {
    const ToolResult result = runTool({"/y"}, dir.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output.substr(0, 18), "Invalid option: y\n");
    dir.writeFile("a.gif", "x");
    EXPECT_EQ(storedNames({"/q", "a.gif"}, dir.path()), std::vector<std::string>{"A.GIF"});
}

TEST_F(Win32EndToEnd, HandsBareNamesOnWhenAPatternUsesForwardSlashes) {
    dir.writeFile("sub\\b.gif", "1");
    dir.writeFile("b.gif", "2");
    dir.writeFile("sub\\c.gif", "3");
    const ToolResult result = runTool({"-f", "out.res", "sub/*.gif"}, dir.path());
    EXPECT_EQ(result.output, "Stored b.gif as B.GIF.\nWarning: The file c.gif doesn't exist.\n");
    EXPECT_EQ(readResFile(dir.readFile("out.res")).entries.at(0).data, "2");
}

}  // namespace
