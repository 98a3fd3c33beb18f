// The Windows loader and the in-memory reader agree: a hostile tree is bundled,
// linked into a Win32 probe with windres, and read under Wine through the
// module and through memory; both must give every name and byte of the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>

#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

// Set by tests/bundle/CMakeLists.txt.
const char* const WINE_RUN = RADUZA_PROBE_WINE_RUN;
const char* const WINE_BITS = RADUZA_PROBE_WINE_BITS;
const char* const PROBE_OBJECT = RADUZA_PROBE_OBJECT;
const char* const MINGW_CXX = RADUZA_PROBE_MINGW_CXX;
const char* const MINGW_WINDRES = RADUZA_PROBE_MINGW_WINDRES;
const std::string SOURCE_DIR = RADUZA_PROBE_SOURCE_DIR;

std::string upperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    return hash;
}

// Every printable ASCII character in a name, lower-case letters included (the
// tool folds them), non-ASCII names the loader cannot look up (a lower-case é)
// or that take two UTF-16 units, empty files, and 1,000 entries.
std::map<std::string, std::string> hostileTree() {
    std::map<std::string, std::string> tree;
    for (char c = ' '; c <= '~'; ++c)
        if (c != '/' && !(c >= 'a' && c <= 'z'))
            tree[std::string("tree/chars/p") + c + "q"] = std::string(static_cast<std::size_t>(c) % 6, c);
    tree["tree/lower/mixed_Case.txt"] = "mixed";
    tree["tree/caf\xc3\xa9.txt"] = "small e acute";
    tree["tree/\xc3\x89T\xc3\x89/\xc2\xa3.bin"] = "pound";
    tree["tree/\xe2\x82\xac/\xf0\x9f\x98\x80.dat"] = "euro and a face";
    tree["tree/empty"] = "";
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "tree/many/f%04d", i);
        tree[name] = std::string(static_cast<std::size_t>(i % 9), static_cast<char>(i));
    }
    return tree;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(LoaderAgreement, ModuleAndMemoryGiveEveryNameAndByteOfAHostileTree) {
    TempDir dir;
    const std::map<std::string, std::string> tree = hostileTree();
    std::string expectedModule, expectedMemory;
    for (const auto& [path, bytes] : tree) {
        dir.writeFile(path, bytes);
        char line[64];
        std::snprintf(line, sizeof line, " %zu %016llx\n", bytes.size(), static_cast<unsigned long long>(fnv1a(bytes)));
        expectedModule += "module " + upperAscii(path) + line;
        expectedMemory += "memory " + upperAscii(path) + line;
    }
    ASSERT_EQ(runTool({"-q", "-r", "-f", "tree.res", "tree"}, dir.path()).exitStatus, 0);
    const ToolResult converted =
        runProgram({MINGW_WINDRES, "-J", "res", "-O", "coff", "-i", "tree.res", "-o", "tree.o"}, dir.path());
    ASSERT_EQ(converted.exitStatus, 0) << converted.errors;
    const ToolResult linked = runProgram({MINGW_CXX, "-static", "-o", "probe.exe", PROBE_OBJECT, "tree.o"}, dir.path());
    ASSERT_EQ(linked.exitStatus, 0) << linked.errors;
    const ToolResult probed = runProgram({"env", "LC_ALL=C.UTF-8", WINE_RUN, WINE_BITS, "probe.exe", "tree.res", "dump.txt"},
                                         dir.path());
    ASSERT_EQ(probed.exitStatus, 0) << probed.errors << probed.output;

    const std::vector<std::string> dumped = sortedLines(dir.readFile("dump.txt"));
    std::vector<std::string> expected = sortedLines(expectedModule + expectedMemory + "lookups-failed 0\n" +
                                                    "opened-by-listing " + std::to_string(tree.size()) + "\n");
    ASSERT_EQ(dumped.size(), expected.size());
    for (std::size_t i = 0; i < dumped.size(); ++i) EXPECT_EQ(dumped[i], expected[i]);

    // raduza-list finds in the program what the resource file held, and extracts it byte for byte.
    const ToolResult fromProgram = runProgram({RADUZA_LIST_PATH, "probe.exe"}, dir.path());
    const ToolResult fromFile = runProgram({RADUZA_LIST_PATH, "tree.res"}, dir.path());
    ASSERT_EQ(fromProgram.exitStatus, 0) << fromProgram.errors;
    EXPECT_EQ(sortedLines(fromProgram.output), sortedLines(fromFile.output));
    const ToolResult extracted = runProgram({RADUZA_LIST_PATH, "-x", "out", "probe.exe"}, dir.path());
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.errors;
    for (const auto& [path, bytes] : tree) EXPECT_EQ(dir.readFile("out/" + upperAscii(path)), bytes) << path;
}

// Runs a step of a Win32 build in `dir`; a failure says what it printed.
void build(const std::vector<std::string>& commandLine, const std::string& dir) {
    const ToolResult result = runProgram(commandLine, dir);
    ASSERT_EQ(result.exitStatus, 0) << commandLine[0] << ": " << result.errors << result.output;
}

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// tests/bundle/modules as a DLL with its own resources, linked into a program
// with resources of its own and into one without any, run under Wine.
TEST(LoaderAgreement, EachModuleReadsItsOwnResourcesAndALibraryReachesTheExecutables) {
    TempDir dir;
    const std::string modules = SOURCE_DIR + "/tests/bundle/modules";
    for (const char* part : {"library", "program"}) {
        const std::string res = dir.path() + "/" + part + ".res";
        ASSERT_EQ(runTool({"-q", "-r", "-f", res, part}, modules).exitStatus, 0);
        ASSERT_NO_FATAL_FAILURE(build({MINGW_WINDRES, "-J", "res", "-O", "coff", "-i", res, "-o", std::string(part) + ".o"},
                                      dir.path()));
    }
    const std::vector<std::string> compile{MINGW_CXX, "-std=c++17", "-O0", "-Wall", "-Wextra", "-Werror",
                                           "-I" + SOURCE_DIR + "/include", "-I" + SOURCE_DIR, "-static"};
    const auto with = [&](std::vector<std::string> arguments) {
        std::vector<std::string> commandLine = compile;
        commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
        return commandLine;
    };
    ASSERT_NO_FATAL_FAILURE(build(with({"-shared", "-o", "library.dll", modules + "/library.cpp", "library.o"}), dir.path()));
    ASSERT_NO_FATAL_FAILURE(build(with({"-o", "bundled.exe", modules + "/program.cpp", "program.o", "library.dll"}), dir.path()));
    ASSERT_NO_FATAL_FAILURE(build(with({"-o", "plain.exe", modules + "/program.cpp", "library.dll"}), dir.path()));

    const std::string library = "library: LIBRARY/SUB/THREE.TXT LIBRARY/TWO.TXT \n";
    const struct {
        const char* program;
        std::string expected;
    } cases[] = {
        {"bundled.exe", "program: PROGRAM/ONE.TXT \nprogram's executable: PROGRAM/ONE.TXT \n" + library +
                            "library's executable: PROGRAM/ONE.TXT \n"},
        {"plain.exe", "program: \nprogram's executable: \n" + library + "library's executable: \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const ToolResult ran = runProgram({WINE_RUN, WINE_BITS, c.program}, dir.path());
        ASSERT_EQ(ran.exitStatus, 0) << ran.errors;
        EXPECT_EQ(withoutCarriageReturns(ran.output), c.expected);
    }
}

}  // namespace
