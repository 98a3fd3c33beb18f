// Hostile inputs end to end on both builds: names that look like printf formats,
// standard output closed or broken, resource file paths that are directories.
#include "tests/hostile/hostile.h"

namespace {

TEST_F(Hostile, PrintsNamesThatLookLikePrintfDirectivesLiterally) {
    dir.writeFile("%s%n%p%x.gif", "1");
    dir.writeFile(platformPath({"%d", "100%.txt"}), "2");
    const std::string missing = platformPath({"%s%s%s", "x"});
    const ToolResult result =
        run({"-r", "-f", "%n%s.res", "%s%n%p%x.gif", "%d", "%n%n%s*.none", missing, platformPath({"%d", "*.none"})});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Stored %s%n%p%x.gif as %S%N%P%X.GIF.\n"
                             "Stored %d" + sep() + "100%.txt as %D/100%.TXT.\n"
                             "Warning: Could not find match for %n%n%s*.none.\n"
                             "Warning: Could not find match for " + missing + ".\n");
    EXPECT_EQ(entryNames(resFile("%n%s.res")), (std::vector<std::string>{"%S%N%P%X.GIF", "%D/100%.TXT"}));

    const ToolResult badOption = run({"-%s%n"});
    EXPECT_EQ(badOption.exitStatus, 1);
    EXPECT_EQ(badOption.output.substr(0, 19), "Invalid option: %\nR");
}

// With standard output gone the messages move to standard error; the resource
// file, a file of its own, must not receive them.
TEST_F(Hostile, KeepsMessagesOutOfTheResourceFileWhenStandardOutputIsClosedOrBroken) {
    dir.writeFile("a.gif", "\x01\x02\x03\x04\x05");
    for (StdoutMode mode : {StdoutMode::CLOSED, StdoutMode::BROKEN_PIPE}) {
        const ToolResult result = run({"-f", "out.res", "a.gif", "missing.gif"}, mode);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.errors, "Stored a.gif as A.GIF.\nWarning: Could not find match for missing.gif.\n");
        const ResFile file = resFile();
        ASSERT_EQ(entryNames(file), std::vector<std::string>{"A.GIF"});
        EXPECT_EQ(file.entries[0].data, "\x01\x02\x03\x04\x05");
        EXPECT_EQ(dir.readFile("out.res").size(), 96u);
    }
}

TEST_F(Hostile, RefusesResourceFilePathsThatAreDirectories) {
    dir.writeFile(platformPath({"sub", "a.gif"}), "x");
    for (const std::string& target : {std::string("."), std::string("sub"), "sub" + sep()}) {
        const ToolResult result = run({"-r", "-f", target, "sub"});
        EXPECT_EQ(result.exitStatus, 1) << target;
        EXPECT_TRUE(fixtures::withSystemReason(result.output, "Error:  Could not create " + target + ": ", ".\n"))
            << result.output;
        EXPECT_EQ(dir.readFile(platformPath({"sub", "a.gif"})), "x");
    }
}

}  // namespace
