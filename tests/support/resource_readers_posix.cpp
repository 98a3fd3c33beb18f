// Runs llvm-cvtres, llvm-readobj and the mingw windres on a resource file.
#include <algorithm>
#include <sstream>
#include <vector>

#include "tests/support/res_reader.h"
#include "tests/support/resource_readers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace {

const char* const LLVM_CVTRES = "llvm-cvtres";
const char* const LLVM_READOBJ = "llvm-readobj";
const char* const WINDRES = "i686-w64-mingw32-windres";

std::string refusal(const std::vector<std::string>& commandLine, const ToolResult& result) {
    std::string said = commandLine[0];
    for (std::size_t i = 1; i < commandLine.size(); ++i) said += " " + commandLine[i];
    return said + " exited with " + std::to_string(result.exitStatus) + ": " + result.errors + result.output;
}

// Runs one reader in `dir`; empty when it succeeded.
std::string runReader(const std::vector<std::string>& commandLine, const TempDir& dir, ToolResult* result = nullptr) {
    const ToolResult ran = runProgram(commandLine, dir.path());
    if (result) *result = ran;
    return ran.exitStatus == 0 ? std::string() : refusal(commandLine, ran);
}

std::string describe(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += " " + name;
    return text;
}

// The names llvm-readobj lists in the resource tree of a COFF object, sorted.
std::vector<std::string> namesInObject(const std::string& dump) {
    std::vector<std::string> names;
    std::istringstream lines(dump);
    const std::string label = "Name: ";
    const std::string opening = " [";
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(label);
        if (at == std::string::npos || line.size() < at + label.size() + opening.size()) continue;
        if (line.compare(line.size() - opening.size(), opening.size(), opening) != 0) continue;
        names.push_back(line.substr(at + label.size(), line.size() - opening.size() - at - label.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool sameEntry(const ResEntry& a, const ResEntry& b) {
    return a.type.isOrdinal == b.type.isOrdinal && a.type.ordinal == b.type.ordinal && a.type.text == b.type.text &&
           a.name.isOrdinal == b.name.isOrdinal && a.name.ordinal == b.name.ordinal && a.name.text == b.name.text &&
           a.dataVersion == b.dataVersion && a.memoryFlags == b.memoryFlags && a.languageId == b.languageId &&
           a.version == b.version && a.characteristics == b.characteristics && a.data == b.data;
}

// windres writes the entries in an order of its own, so they are compared by name.
std::string compareRewritten(std::vector<ResEntry> ours, std::vector<ResEntry> theirs) {
    const auto byName = [](const ResEntry& a, const ResEntry& b) { return a.name.text < b.name.text; };
    std::sort(ours.begin(), ours.end(), byName);
    std::sort(theirs.begin(), theirs.end(), byName);
    if (ours.size() != theirs.size())
        return "windres rewrote " + std::to_string(ours.size()) + " entries as " + std::to_string(theirs.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        if (!sameEntry(ours[i], theirs[i])) return "windres reads the entry " + ours[i].name.utf8() + " differently";
    return {};
}

}  // namespace

std::string rejectionByResourceReaders(const std::string& bytes) {
    const ResFile ours = readResFile(bytes);
    if (!ours.valid) return "the test reader: " + ours.error;
    TempDir scratch;
    scratch.writeFile("in.res", bytes);

    std::string complaint = runReader({LLVM_CVTRES, "-machine:x86", "-out:cvtres.obj", "in.res"}, scratch);
    if (!complaint.empty()) return complaint;
    ToolResult dump;
    complaint = runReader({LLVM_READOBJ, "--coff-resources", "cvtres.obj"}, scratch, &dump);
    if (!complaint.empty()) return complaint;
    std::vector<std::string> expected = entryNames(ours);
    std::sort(expected.begin(), expected.end());
    const std::vector<std::string> found = namesInObject(dump.output);
    if (found != expected) return "llvm-cvtres made an object with the names" + describe(found) + " instead of" + describe(expected);

    complaint = runReader({WINDRES, "-J", "res", "-O", "coff", "-i", "in.res", "-o", "windres.o"}, scratch);
    if (!complaint.empty()) return complaint;
    complaint = runReader({WINDRES, "-J", "res", "-O", "res", "-i", "in.res", "-o", "rewritten.res"}, scratch);
    if (!complaint.empty()) return complaint;
    const ResFile rewritten = readResFile(scratch.readFile("rewritten.res"));
    if (!rewritten.valid) return "windres rewrote the file as one the test reader rejects: " + rewritten.error;
    return compareRewritten(ours.entries, rewritten.entries);
}
