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
    std::vector<std::string> expected = sortedLines(expectedModule + expectedMemory + "lookups-failed 0\n");
    ASSERT_EQ(dumped.size(), expected.size());
    for (std::size_t i = 0; i < dumped.size(); ++i) EXPECT_EQ(dumped[i], expected[i]);
}

}  // namespace
