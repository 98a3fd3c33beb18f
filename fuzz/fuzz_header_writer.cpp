// The header writer and the storing of entries, read back by the test reader.
// The input, split at NUL bytes, alternates file names and contents; every file
// must read back as one entry, whole, under its upper-cased name, with its bytes.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/text.h"
#include "tests/support/fake_run.h"
#include "tests/support/res_reader.h"

namespace {

constexpr std::size_t MAX_INPUT = 1 << 16;

std::string foldAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
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
    FUZZ_CHECK(read.entries.size() == expected.size(), "one entry per distinct name");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ResEntry& entry = read.entries[i];
        const auto& [name, content] = expected[i];
        FUZZ_CHECK(!entry.type.isOrdinal && entry.type.utf8() == "RT_RADUZA", "the type is RT_RADUZA");
        FUZZ_CHECK(!entry.name.isOrdinal, "a name reads back as a name");
        // UTF-8 reads back as itself; anything else was widened byte by byte.
        FUZZ_CHECK(entry.name.utf8() == name || entry.name.text == widenBytes(name), "the name reads back");
        FUZZ_CHECK(entry.data == content, "the data reads back");
        FUZZ_CHECK(entry.memoryFlags == RES_FLAGS_MOVEABLE_PURE && entry.languageId == RES_LANGUAGE_US_ENGLISH,
                   "flags and language");
        FUZZ_CHECK(entry.dataVersion == 0 && entry.version == 0 && entry.characteristics == 0, "zero fields");
    }
    return 0;
}
