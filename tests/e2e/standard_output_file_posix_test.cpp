// Standard output redirected to a file, written or appended to: the bytes are
// those that go down a pipe, the resource file alone, with the messages on
// standard error; and a redirection into the walked tree never stores itself.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

TEST(StandardOutputFile, CarriesTheSameBytesAsAPipeWhetherWrittenOrAppended) {
    TempDir dir;
    std::string big(2 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13 + i / 1000);
    dir.writeFile("d/a.txt", "alpha");
    dir.writeFile("d/big.bin", big);
    dir.writeFile("d/z.txt", "zulu");
    dir.writeFile("appended.res", "xy");

    const ToolResult piped = runTool({"-r", "d"}, dir.path());
    ASSERT_EQ(piped.exitStatus, 0);
    EXPECT_EQ(piped.errors, "Stored d/a.txt as D/A.TXT.\nStored d/big.bin as D/BIG.BIN.\nStored d/z.txt as D/Z.TXT.\n");
    const ToolResult redirected = runProgram(
        {"sh", "-c", "\"$0\" -r d > written.res && \"$0\" -r d >> appended.res", toolPath()}, dir.path());
    ASSERT_EQ(redirected.exitStatus, 0) << redirected.errors;
    EXPECT_TRUE(dir.readFile("written.res") == piped.output) << "written: the bytes differ from the pipe's";
    EXPECT_TRUE(dir.readFile("appended.res") == "xy" + piped.output) << "appended: the bytes differ from the pipe's";

    const ToolResult intoTheTree =
        runProgram({"sh", "-c", "\"$0\" -q -r d > d/out.res", toolPath()}, dir.path());
    ASSERT_EQ(intoTheTree.exitStatus, 0) << intoTheTree.errors;
    EXPECT_TRUE(dir.readFile("d/out.res") == piped.output) << "the run stored its own output";
}

}  // namespace
