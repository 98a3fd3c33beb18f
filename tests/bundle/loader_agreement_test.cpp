// The Windows loader and the in-memory reader agree: a hostile tree is bundled,
// linked into a Win32 probe with windres, and read under Wine through the
// module and through memory; both must give every name and byte of the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>

#include "raduza/bundle.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

// Set by tests/bundle/CMakeLists.txt.
const char* const WINE_RUN = RADUZA_PROBE_WINE_RUN;
const char* const WINE_BITS = RADUZA_PROBE_WINE_BITS;
const char* const RADUZA_COFF = RADUZA_PROBE_COFF;
const std::string SOURCE_DIR = RADUZA_PROBE_SOURCE_DIR;

// A width Wine runs: the probe built for it, and its toolchain.
struct Width {
    const char* bits;
    const char* machine;  // raduza-coff's -m
    const char* probe;
    const char* cxx;
    const char* windres;
};
const Width WIDTH_64{"64", "x86-64", RADUZA_PROBE_OBJECT_64, RADUZA_PROBE_MINGW_CXX_64, RADUZA_PROBE_MINGW_WINDRES_64};
#ifdef RADUZA_PROBE_OBJECT_32
const Width WIDTH_32{"32", "i386", RADUZA_PROBE_OBJECT_32, RADUZA_PROBE_MINGW_CXX_32, RADUZA_PROBE_MINGW_WINDRES_32};
const std::vector<Width> WIDTHS{WIDTH_32, WIDTH_64};
#else
const std::vector<Width> WIDTHS{WIDTH_64};
#endif
// The width of the Win32 tests, which the other tests here use.
const Width& MAIN_WIDTH = WIDTHS.front();
const char* const PROBE_OBJECT = MAIN_WIDTH.probe;
const char* const MINGW_CXX = MAIN_WIDTH.cxx;
const char* const MINGW_WINDRES = MAIN_WIDTH.windres;

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
// or that take two UTF-16 units, private use and a full-width '!' that sort
// between those and the rest, empty files, and 1,000 entries.
std::map<std::string, std::string> hostileTree() {
    std::map<std::string, std::string> tree;
    for (char c = ' '; c <= '~'; ++c)
        if (c != '/' && !(c >= 'a' && c <= 'z'))
            tree[std::string("tree/chars/p") + c + "q"] = std::string(static_cast<std::size_t>(c) % 6, c);
    tree["tree/lower/mixed_Case.txt"] = "mixed";
    tree["tree/caf\xc3\xa9.txt"] = "small e acute";
    tree["tree/\xc3\x89T\xc3\x89/\xc2\xa3.bin"] = "pound";
    tree["tree/\xe2\x82\xac/\xf0\x9f\x98\x80.dat"] = "euro and a face";
    tree["tree/\xee\x80\x80"] = "private use";
    tree["tree/\xef\xbc\x81.txt"] = "full-width exclamation mark";
    tree["tree/empty"] = "";
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "tree/many/f%04d", i);
        tree[name] = std::string(static_cast<std::size_t>(i % 9), static_cast<char>(i));
    }
    return tree;
}

// The names of the files, each after a tab, as this build's reader iterates them
// and as a walk through list() meets them: the order the Windows build must give.
std::string iterated(const raduza::Bundle& bundle) {
    std::string names;
    for (const raduza::BundleFile& file : bundle) names += "\t" + file.utf8Name();
    return names;
}
std::string walkedByListing(const raduza::Bundle& bundle, const std::string& directory) {
    std::string names;
    for (const raduza::DirEntry& entry : bundle.list(directory)) {
        const std::string path = directory.empty() ? entry.name : directory + "/" + entry.name;
        names += entry.isDirectory ? walkedByListing(bundle, path) : "\t" + path;
    }
    return names;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Runs a step of a Win32 build in `dir`; a failure says what it printed.
void build(const std::vector<std::string>& commandLine, const std::string& dir) {
    const ToolResult result = runProgram(commandLine, dir);
    ASSERT_EQ(result.exitStatus, 0) << commandLine[0] << ": " << result.errors << result.output;
}

// Writes the hostile tree into `dir` and bundles it as tree.res; the lines the probe
// must dump for it, sorted, the other resources' line ending with `others`.
std::vector<std::string> bundleHostileTree(const TempDir& dir, const std::string& others) {
    const std::map<std::string, std::string> tree = hostileTree();
    std::string expected = "lookups-failed 0\nopened-by-listing " + std::to_string(tree.size()) + "\nversion " + others + "\n";
    for (const auto& [path, bytes] : tree) {
        dir.writeFile(path, bytes);
        char line[64];
        std::snprintf(line, sizeof line, " %zu %016llx\n", bytes.size(), static_cast<unsigned long long>(fnv1a(bytes)));
        expected += "module " + upperAscii(path) + line + "memory " + upperAscii(path) + line;
    }
    EXPECT_EQ(runTool({"-q", "-r", "-f", "tree.res", "tree"}, dir.path()).exitStatus, 0);
    const std::string image = dir.readFile("tree.res");
    const raduza::Bundle bundle = raduza::Bundle::fromImage(image.data(), image.size());
    for (const char* view : {"module", "memory"})
        expected += std::string("order ") + view + iterated(bundle) + "\nlisted " + view +
                    walkedByListing(bundle, "") + "\n";
    return sortedLines(expected);
}

// Runs the probe linked as `exe` under Wine of `bits`; the lines it dumped, sorted.
std::vector<std::string> probeDump(const std::string& exe, const char* bits, const TempDir& dir) {
    const ToolResult probed =
        runProgram({"env", "LC_ALL=C.UTF-8", WINE_RUN, bits, exe, "tree.res", "dump.txt"}, dir.path());
    EXPECT_EQ(probed.exitStatus, 0) << probed.errors << probed.output;
    return sortedLines(dir.readFile("dump.txt"));
}

TEST(LoaderAgreement, ModuleAndMemoryGiveEveryNameAndByteOfAHostileTree) {
    TempDir dir;
    const std::vector<std::string> expected = bundleHostileTree(dir, "0 group-icon 0 icon 0");
    const ToolResult converted =
        runProgram({MINGW_WINDRES, "-J", "res", "-O", "coff", "-i", "tree.res", "-o", "tree.o"}, dir.path());
    ASSERT_EQ(converted.exitStatus, 0) << converted.errors;
    const ToolResult linked = runProgram({MINGW_CXX, "-static", "-o", "probe.exe", PROBE_OBJECT, "tree.o"}, dir.path());
    ASSERT_EQ(linked.exitStatus, 0) << linked.errors;
    EXPECT_EQ(probeDump("probe.exe", WINE_BITS, dir), expected);

    // raduza-list finds in the program what the resource file held, and extracts it byte for byte.
    const ToolResult fromProgram = runProgram({RADUZA_LIST_PATH, "probe.exe"}, dir.path());
    const ToolResult fromFile = runProgram({RADUZA_LIST_PATH, "tree.res"}, dir.path());
    ASSERT_EQ(fromProgram.exitStatus, 0) << fromProgram.errors;
    EXPECT_EQ(sortedLines(fromProgram.output), sortedLines(fromFile.output));
    const ToolResult extracted = runProgram({RADUZA_LIST_PATH, "-x", "out", "probe.exe"}, dir.path());
    ASSERT_EQ(extracted.exitStatus, 0) << extracted.errors;
    for (const auto& [path, bytes] : hostileTree()) EXPECT_EQ(dir.readFile("out/" + upperAscii(path)), bytes) << path;
}

// raduza-coff's object of the bundle, linked with a windres object that holds a
// version resource and an icon, in either order: ld merges the two, and the loader
// finds every file of the bundle and both of the others, 32- and 64-bit.
TEST(LoaderAgreement, ABundleConvertedByRaduzaCoffMergesWithTheProgramsOtherResourcesInEitherOrder) {
    TempDir dir;
    const std::vector<std::string> expected = bundleHostileTree(dir, "1 group-icon 1 icon 1");
    dir.writeFile("app.ico", fixtures::iconFile());
    dir.writeFile("version.rc", fixtures::VERSION_AND_ICON_SCRIPT);
    for (const Width& width : WIDTHS) {
        SCOPED_TRACE(width.machine);
        const std::string bundle = std::string("tree-") + width.bits + ".o";
        const std::string others = std::string("version-") + width.bits + ".o";
        ASSERT_NO_FATAL_FAILURE(build({RADUZA_COFF, "-m", width.machine, "-o", bundle, "tree.res"}, dir.path()));
        ASSERT_NO_FATAL_FAILURE(build({width.windres, "-i", "version.rc", "-o", others}, dir.path()));
        for (const bool bundleFirst : {true, false}) {
            SCOPED_TRACE(bundleFirst ? "the bundle first" : "the other resources first");
            const std::string exe = std::string("probe-") + width.bits + (bundleFirst ? "-bundle-first" : "") + ".exe";
            ASSERT_NO_FATAL_FAILURE(build({width.cxx, "-static", "-o", exe, width.probe, bundleFirst ? bundle : others,
                                           bundleFirst ? others : bundle},
                                          dir.path()));
            EXPECT_EQ(probeDump(exe, width.bits, dir), expected);
        }
    }
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
