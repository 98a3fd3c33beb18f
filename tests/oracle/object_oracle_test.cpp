// windres as the oracle for raduza-coff: the object it writes from a resource file,
// and a program linked with it, alone or beside another resource object that GNU ld
// merges with it, hold exactly the resources (tree and bytes, as llvm-readobj shows
// them) that windres's object gives, for llvm-rc's and windres's own resource files
// with ordinals, several types and languages, and for the corner trees' files.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/oracle/corner_tree.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

const char* const RADUZA_COFF = RADUZA_COFF_PATH;  // set by tests/oracle/CMakeLists.txt

struct Machine {
    const char* option;  // raduza-coff's -m
    std::string mingw;   // the toolchain's prefix
};
const Machine MACHINES[] = {{"i386", "i686-w64-mingw32"}, {"x86-64", "x86_64-w64-mingw32"}};

void run(const std::vector<std::string>& commandLine, const TempDir& dir, std::string* output = nullptr) {
    const ToolResult result = runProgram(commandLine, dir.path());
    ASSERT_EQ(result.exitStatus, 0) << commandLine[0] << ": " << result.errors << result.output;
    if (output) *output = result.output;
}

// llvm-readobj's resource tree with the data's bytes; the data's addresses left
// out, since raduza-coff places the data in file order and windres in the tree's.
std::string resourcesOf(const std::string& file, const TempDir& dir) {
    std::string dump;
    run({"llvm-readobj", "--coff-resources", file}, dir, &dump);
    std::istringstream lines(dump);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.find("DataRVA:") == std::string::npos && line.rfind("File:", 0) != 0) kept += line + "\n";
    return kept;
}

// Ordinal and text types and names, names given in lower case, three languages,
// icons (RT_ICON, RT_GROUP_ICON), a string table with a version and characteristics.
const char* const SCRIPT =
    "LANGUAGE 0x09, 0x01\n"
    "1 RCDATA \"five.bin\"\n"
    "zeta RCDATA \"ten.bin\"\n"
    "ALPHA RCDATA \"five.bin\"\n"
    "LANGUAGE 0x07, 0x01\n"
    "ALPHA RCDATA \"ten.bin\"\n"
    "5 MYTYPE \"five.bin\"\n"
    "NAMED MYTYPE \"ten.bin\"\n"
    "APP ICON \"app.ico\"\n"
    "STRINGTABLE\nVERSION 3\nCHARACTERISTICS 7\nBEGIN\n  1 \"one\"\n  17 \"seventeen\"\nEND\n"
    "LANGUAGE 0x0C, 0x01\n"
    "3 300 \"five.bin\"\n";

TEST(ObjectOracle, ProgramsLinkedWithRaduzaCoffsObjectHoldWhatWindresGives) {
    TempDir dir;
    dir.writeFile("five.bin", "hello");
    dir.writeFile("ten.bin", std::string("abc\0\r\n\x1a\xff" "ij", 10));
    dir.writeFile("app.ico", fixtures::iconFile());
    dir.writeFile("game.rc", SCRIPT);
    dir.writeFile("version.rc", fixtures::VERSION_AND_ICON_SCRIPT);
    dir.writeFile("main.c", "int main(void) { return 0; }\n");
    writeTree(dir, cornerTree(TreeNames::ABOVE_7F));
    ASSERT_NO_FATAL_FAILURE(run({"llvm-rc", "-no-preprocess", "-fo", "llvm-rc.res", "game.rc"}, dir));
    ASSERT_NO_FATAL_FAILURE(run({"i686-w64-mingw32-windres", "-J", "rc", "-O", "res", "-i", "game.rc", "-o", "windres.res"}, dir));
    ASSERT_EQ(runTool({"-q", "-r", "-f", "tree.res", "tree"}, dir.path()).exitStatus, 0);
    ASSERT_EQ(runTool({"-q", "-j", "-r", "-f", "junked.res", "tree"}, dir.path()).exitStatus, 0);

    for (const Machine& machine : MACHINES) {
        SCOPED_TRACE(machine.option);
        const std::string windres = machine.mingw + "-windres";
        const std::string gcc = machine.mingw + "-gcc";
        const std::string m = machine.option;
        ASSERT_NO_FATAL_FAILURE(run({gcc, "-c", "-o", "main-" + m + ".o", "main.c"}, dir));
        ASSERT_NO_FATAL_FAILURE(run({windres, "-i", "version.rc", "-o", "version-" + m + ".o"}, dir));
        for (const char* input : {"llvm-rc", "windres", "tree", "junked"}) {
            SCOPED_TRACE(input);
            const std::string res = std::string(input) + ".res";
            const std::string ours = std::string(input) + "-" + m + "-ours.o";
            const std::string theirs = std::string(input) + "-" + m + "-windres.o";
            ASSERT_NO_FATAL_FAILURE(run({RADUZA_COFF, "-m", m, "-o", ours, res}, dir));
            ASSERT_NO_FATAL_FAILURE(run({windres, "-J", "res", "-O", "coff", "-i", res, "-o", theirs}, dir));
            EXPECT_EQ(resourcesOf(ours, dir), resourcesOf(theirs, dir));
            if (std::string(input) == "windres" || std::string(input) == "junked") continue;  // the objects suffice
            // Alone, the section is the program's; beside another, ld builds one of both.
            for (const bool merged : {false, true}) {
                SCOPED_TRACE(merged ? "beside a version resource" : "alone");
                std::vector<std::string> exes;
                for (const std::string& object : {ours, theirs}) {
                    exes.push_back(object + (merged ? "-merged" : "") + ".exe");
                    std::vector<std::string> link{gcc, "-o", exes.back(), "main-" + m + ".o", object};
                    if (merged) link.push_back("version-" + m + ".o");
                    ASSERT_NO_FATAL_FAILURE(run(link, dir));
                }
                const std::string held = resourcesOf(exes[0], dir);
                EXPECT_EQ(held, resourcesOf(exes[1], dir));
                EXPECT_EQ(merged, held.find("Type: VERSION") != std::string::npos);
            }
        }
    }
}

}  // namespace
