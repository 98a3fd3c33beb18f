// The header writer and the storing of entries, read back by the test reader.
// The input, split at NUL bytes, alternates file names and contents; every file
// must read back as one entry, whole, under its upper-cased name, with its bytes,
// unless an earlier file's name is written alike.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/text.h"
#include "tests/support/fake_run.h"
#include "tests/support/res_reader.h"
#include "util/ascii.h"

namespace {

constexpr std::size_t MAX_INPUT = 1 << 16;

std::string foldAscii(std::string text) {
    makeAsciiUpper(text);
    return text;
}

// Either reading of a stored name: UTF-8 decoded, or every byte widened on its own.
bool readsBackAs(const ResNameOrId& read, const std::string& name) {
    return read.utf8() == name || read.text == widenBytes(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > MAX_INPUT) return 0;
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back() += static_cast<char>(data[i]);
    }

    FakeFileSystem fs;
    std::vector<std::string> arguments{"-q", "-f", "out.res"};
    std::vector<std::pair<std::string, std::string>> expected;
    std::set<std::string> taken;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string path = parts[i];
        // One plain file name each: no options, patterns or directories.
        if (path.empty() || path == "." || path == ".." || path == "out.res" || path[0] == '-' ||
            path.find_first_of("*?") != std::string::npos)
            continue;
        for (char& c : path)
            if (c == '/') c = '\\';
        if (fs.exists(path)) continue;
        fs.addFile(path, parts[i + 1]);
        arguments.push_back(path);
        const std::string name = foldAscii(path);
        if (taken.insert(name).second) expected.emplace_back(name, parts[i + 1]);
    }
    const int status = runOnFake(fs, arguments).exitStatus;
    FUZZ_CHECK(status == EXIT_STATUS_OK, "the run succeeds");
    if (expected.empty()) {
        FUZZ_CHECK(!fs.exists("out.res"), "nothing stored, no resource file");
        return 0;
    }

    const ResFile read = readResFile(fs.contentOf("out.res"));
    FUZZ_CHECK(read.valid, read.error.c_str());
    // Names that differ in bytes may be written alike (UTF-8 and Latin-1 for one
    // letter): then the first file wins and no name is written twice.
    std::set<std::u16string> written;
    std::size_t next = 0;
    for (const auto& [name, content] : expected) {
        FUZZ_CHECK(next <= read.entries.size(), "no more entries than files");
        if (next < read.entries.size() && readsBackAs(read.entries[next].name, name)) {
            FUZZ_CHECK(written.insert(read.entries[next].name.text).second, "no name is written twice");
            FUZZ_CHECK(read.entries[next].data == content, "the data reads back");
            ++next;
            continue;
        }
        bool writtenAlike = false;
        for (std::size_t earlier = 0; earlier < next; ++earlier)
            writtenAlike = writtenAlike || readsBackAs(read.entries[earlier].name, name);
        FUZZ_CHECK(writtenAlike, "a file is left out only for an earlier name written alike");
    }
    FUZZ_CHECK(next == read.entries.size(), "every entry is a file's");
    for (const ResEntry& entry : read.entries) {
        FUZZ_CHECK(!entry.type.isOrdinal && entry.type.utf8() == "RT_RADUZA", "the type is RT_RADUZA");
        FUZZ_CHECK(!entry.name.isOrdinal, "a name reads back as a name");
        FUZZ_CHECK(entry.memoryFlags == RES_FLAGS_MOVEABLE_PURE && entry.languageId == RES_LANGUAGE_US_ENGLISH,
                   "flags and language");
        FUZZ_CHECK(entry.dataVersion == 0 && entry.version == 0 && entry.characteristics == 0, "zero fields");
    }
    return 0;
}
