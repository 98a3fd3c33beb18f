// The Windows loader as the last reader: the Win32 tool writes a resource file,
// windres or llvm-cvtres turns it into an object, a small Win32 program is linked
// with it, and under Wine that program asks FindResourceA for every stored name.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/oracle/corner_tree.h"
#include "tests/support/res_reader.h"
#include "tests/support/tool_process.h"

namespace {

// Set by tests/oracle/CMakeLists.txt for the Win32 tool under test.
const char* const WIN32_TOOL = RADUZA_LOADER_WIN32_TOOL;
const char* const WINE_RUN = RADUZA_LOADER_WINE_RUN;
const char* const WINE_BITS = RADUZA_LOADER_WINE_BITS;
const char* const PROBE_OBJECT = RADUZA_LOADER_PROBE_OBJECT;
const char* const MINGW_CXX = RADUZA_LOADER_MINGW_CXX;
const char* const MINGW_WINDRES = RADUZA_LOADER_MINGW_WINDRES;
const char* const CVTRES_MACHINE = RADUZA_LOADER_CVTRES_MACHINE;

// The probe's answers (tests/oracle/resource_probe.cpp).
enum ProbeStatus : std::uint32_t { PROBE_FOUND = 0, PROBE_NOT_FOUND = 1, PROBE_NOT_IN_CODE_PAGE = 2 };

struct ProbeAnswer {
    std::uint32_t status = PROBE_NOT_FOUND;
    std::string bytes;
};

struct ProbeDump {
    bool complete = false;
    std::uint32_t listed = 0;  // RT_RADUZA names the module lists
    std::vector<ProbeAnswer> answers;
};

std::uint32_t takeU32(const std::string& bytes, std::size_t& at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    at += 4;
    return value;
}

ProbeDump parseDump(const std::string& bytes, std::size_t queries) {
    ProbeDump dump;
    std::size_t at = 0;
    if (bytes.size() < 4) return dump;
    dump.listed = takeU32(bytes, at);
    for (std::size_t i = 0; i < queries; ++i) {
        if (bytes.size() - at < 8) return dump;
        ProbeAnswer answer;
        answer.status = takeU32(bytes, at);
        const std::uint32_t size = takeU32(bytes, at);
        if (bytes.size() - at < size) return dump;
        answer.bytes = bytes.substr(at, size);
        at += size;
        dump.answers.push_back(answer);
    }
    dump.complete = at == bytes.size();
    return dump;
}

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Wine's ANSI code page follows the locale; this one gives the same one everywhere.
std::vector<std::string> underWine(const std::vector<std::string>& commandLine) {
    std::vector<std::string> wrapped{"env", "LC_ALL=C.UTF-8", WINE_RUN, WINE_BITS};
    wrapped.insert(wrapped.end(), commandLine.begin(), commandLine.end());
    return wrapped;
}

struct Converter {
    const char* name;
    std::vector<std::string> commandLine;  // reads tree.res, writes resources.o
};

struct Query {
    std::string name;
    const std::string* bytes;  // what the loader must find; null for a name nobody stored
};

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        tree = cornerTree(TreeNames::ABOVE_7F);
        writeTree(dir, tree);
        for (const TreeFile& file : tree) {
            if (file.shadowed) continue;
            ++stored;
            queries.push_back({resourceNameOf(file), &file.bytes});
            queries.push_back({asciiLower(resourceNameOf(file)), &file.bytes});
        }
        queries.push_back({"TREE/NOT_THERE", nullptr});
        std::string lines;
        for (const Query& query : queries) lines += query.name + "\n";
        dir.writeFile("queries.txt", lines);
    }

    // Links the probe with the converted resources and runs it.
    ProbeDump probeWith(const Converter& converter) {
        const ToolResult converted = runProgram(converter.commandLine, dir.path());
        EXPECT_EQ(converted.exitStatus, 0) << converted.errors;
        const std::string probe = std::string("probe-") + converter.name + ".exe";
        const ToolResult linked =
            runProgram({MINGW_CXX, "-static", "-o", probe, PROBE_OBJECT, "resources.o"}, dir.path());
        EXPECT_EQ(linked.exitStatus, 0) << linked.errors;
        const std::string dump = std::string("dump-") + converter.name + ".bin";
        const ToolResult probed = runProgram(underWine({probe, "queries.txt", dump}), dir.path());
        EXPECT_EQ(probed.exitStatus, 0) << probed.errors << probed.output;
        if (converted.exitStatus != 0 || linked.exitStatus != 0 || probed.exitStatus != 0) return {};
        return parseDump(dir.readFile(dump), queries.size());
    }

    TempDir dir;
    std::vector<TreeFile> tree;
    std::size_t stored = 0;
    std::vector<Query> queries;  // each stored name as stored and in lower case, then a missing one
};

TEST_F(Loader, FindsEveryFileOfTheTreeByNameInEitherCase) {
    const ToolResult win32 = runProgram(underWine({WIN32_TOOL, "-q", "-r", "-f", "tree.res", "tree"}), dir.path());
    ASSERT_EQ(win32.exitStatus, 0) << win32.output << win32.errors;
    const ToolResult native = runTool({"-q", "-r", "-f", "native.res", "tree"}, dir.path());
    ASSERT_EQ(native.exitStatus, 0) << native.output;
    const std::string written = dir.readFile("tree.res");
    EXPECT_TRUE(written == dir.readFile("native.res")) << "the Win32 and the native tool wrote different files";
    const ResFile file = readResFile(written);
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(file.entries.size(), stored);

    const std::vector<Converter> converters{
        {"windres", {MINGW_WINDRES, "-J", "res", "-O", "coff", "-i", "tree.res", "-o", "resources.o"}},
        {"llvm-cvtres", {"llvm-cvtres", std::string("-machine:") + CVTRES_MACHINE, "-out:resources.o", "tree.res"}},
    };
    for (const Converter& converter : converters) {
        SCOPED_TRACE(converter.name);
        const ProbeDump dump = probeWith(converter);
        ASSERT_TRUE(dump.complete) << "the probe's dump is cut short";
        EXPECT_EQ(dump.listed, stored);
        for (std::size_t i = 0; i < queries.size(); ++i) {
            const Query& query = queries[i];
            const ProbeAnswer& answer = dump.answers[i];
            if (!query.bytes) {
                EXPECT_EQ(answer.status, PROBE_NOT_FOUND) << query.name;
                continue;
            }
            EXPECT_EQ(answer.status, PROBE_FOUND) << query.name;
            EXPECT_TRUE(answer.bytes == *query.bytes)
                << query.name << ": " << answer.bytes.size() << " bytes instead of " << query.bytes->size();
        }
    }
}

}  // namespace
