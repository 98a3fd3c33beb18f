// The resource compilers as oracles: llvm-rc, given a script that names the same
// files in the same order, must write byte for byte what raduza wrote, and the
// converters that turn resource files into objects must read every corner of it.
#include <gtest/gtest.h>

#include <cctype>

#include "tests/oracle/corner_tree.h"
#include "tests/support/res_reader.h"
#include "tests/support/resource_readers.h"
#include "tests/support/tool_process.h"

namespace {

struct StoredFile {
    std::string path;
    std::string name;
};

// The files a run stored, in its order, from its "Stored PATH as NAME." lines.
std::vector<StoredFile> storedFiles(const std::string& output) {
    const std::string prefix = "Stored ";
    const std::string separator = " as ";
    std::vector<StoredFile> stored;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = output.substr(start, end - start);
        const std::size_t at = line.rfind(separator);
        if (line.compare(0, prefix.size(), prefix) != 0 || at == std::string::npos || line.back() != '.') continue;
        stored.push_back({line.substr(prefix.size(), at - prefix.size()),
                          line.substr(at + separator.size(), line.size() - at - separator.size() - 1)});
    }
    return stored;
}

// What llvm-rc takes as a name without quotes: a letter, then letters, digits, '.', '_', '/'.
bool expressibleInRcScript(const std::string& name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '/') return false;
    return true;
}

std::string rcScript(const std::vector<StoredFile>& stored) {
    std::string script = "LANGUAGE 0x09, 0x01\n";
    for (const StoredFile& file : stored) script += file.name + " RT_RADUZA \"" + file.path + "\"\n";
    return script;
}

// Where two resource files part, and in which entry of the first.
std::string firstDifference(const std::string& ours, const std::string& theirs) {
    std::size_t at = 0;
    while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) ++at;
    if (at == ours.size() && at == theirs.size()) return "identical";
    const ResFile parsed = readResFile(ours);
    std::string entry = parsed.valid ? "the leading entry" : "a file the test reader rejects";
    for (const ResEntry& candidate : parsed.entries)
        if (candidate.offset <= at) entry = "the entry " + candidate.name.utf8();
    return "they differ at offset " + std::to_string(at) + ", in " + entry + "; sizes " + std::to_string(ours.size()) +
           " and " + std::to_string(theirs.size());
}

std::vector<std::string> runArguments(bool junk, const std::string& resFile) {
    std::vector<std::string> arguments{"-r", "-f", resFile, "tree"};
    if (junk) arguments.insert(arguments.begin(), "-j");
    return arguments;
}

std::size_t storedCount(const std::vector<TreeFile>& tree, bool junk) {
    std::size_t count = 0;
    for (const TreeFile& file : tree) count += (junk ? file.shadowedJunk : file.shadowed) ? 0 : 1;
    return count;
}

TEST(CompilerOracle, LlvmRcWritesTheSameBytesForTheSameFilesInTheSameOrder) {
    const std::vector<TreeFile> tree = cornerTree(TreeNames::PORTABLE);
    for (bool junk : {false, true}) {
        SCOPED_TRACE(junk ? "-j -r" : "-r");
        TempDir dir;
        writeTree(dir, tree);
        const ToolResult run = runTool(runArguments(junk, "raduza.res"), dir.path());
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        const std::vector<StoredFile> stored = storedFiles(run.output);
        ASSERT_EQ(stored.size(), storedCount(tree, junk)) << run.output;
        for (const StoredFile& file : stored) ASSERT_TRUE(expressibleInRcScript(file.name)) << file.name;

        dir.writeFile("tree.rc", rcScript(stored));
        const ToolResult rc = runProgram({"llvm-rc", "-no-preprocess", "-fo", "llvm-rc.res", "tree.rc"}, dir.path());
        ASSERT_EQ(rc.exitStatus, 0) << rc.errors << rc.output;
        const std::string ours = dir.readFile("raduza.res");
        const std::string theirs = dir.readFile("llvm-rc.res");
        const ResFile compiled = readResFile(theirs);
        EXPECT_TRUE(compiled.valid) << "the test reader rejects llvm-rc's file: " << compiled.error;
        EXPECT_TRUE(ours == theirs) << firstDifference(ours, theirs);
    }
}

TEST(CompilerOracle, ConvertersReadEveryCornerOfTheFormat) {
    const std::vector<TreeFile> tree = cornerTree(TreeNames::ABOVE_7F);
    for (bool junk : {false, true}) {
        SCOPED_TRACE(junk ? "-j -r" : "-r");
        TempDir dir;
        writeTree(dir, tree);
        const ToolResult run = runTool(runArguments(junk, "raduza.res"), dir.path());
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        const std::string bytes = dir.readFile("raduza.res");
        const ResFile file = readResFile(bytes);
        ASSERT_TRUE(file.valid) << file.error;
        EXPECT_EQ(file.entries.size(), storedCount(tree, junk));
        EXPECT_EQ(rejectionByResourceReaders(bytes), "");
    }
}

}  // namespace
