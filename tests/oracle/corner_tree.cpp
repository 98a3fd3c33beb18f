#include "tests/oracle/corner_tree.h"

#include <cstdint>

namespace {

// Deterministic bytes that include the values a text mode or a C string would mangle.
std::string patternBytes(std::size_t size, std::uint32_t seed) {
    static const char AWKWARD[] = {'\0', '\n', '\r', '\x1a', '\xff'};
    std::string bytes(size, '\0');
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = i % 5 == 0 ? AWKWARD[(i / 5) % sizeof AWKWARD] : static_cast<char>(state >> 24);
    }
    return bytes;
}

// More than the tool's 1 MiB output buffer, and not a multiple of 4.
constexpr std::size_t LARGE_FILE_SIZE = (std::size_t{3} << 19) + 3;

}  // namespace

std::vector<TreeFile> cornerTree(TreeNames names) {
    std::vector<TreeFile> files;
    for (std::uint32_t size = 0; size < 8; ++size) {
        const std::string digit = std::to_string(size);
        files.push_back({"tree/s" + digit + ".b", patternBytes(size, size)});         // TREE/S0.B: 9 characters
        files.push_back({"tree/s" + digit + ".bi", patternBytes(size, size + 100)});  // TREE/S0.BI: 10 characters
    }
    files.push_back({"tree/Mixed_Case.TXT", "mixed\r\n"});
    files.push_back({"tree/sub/dir/deep.dat", "deep"});
    files.push_back({"tree/sub/dir/more/x", "x"});
    files.push_back({"tree/sub/Z_Z.gif", "GIF89a"});
    files.push_back({"tree/deep.dat", "shallow", false, true});  // -j walks sub/dir first
    files.push_back({"tree/dup/A.txt", "first"});
    files.push_back({"tree/dup/a.TXT", "second", true, true});
    files.push_back({"tree/big/large.bin", patternBytes(LARGE_FILE_SIZE, 7)});
    if (names == TreeNames::ABOVE_7F) {
        files.push_back({"tree/\xC3\x89T\xC3\x89/\xC2\xA3.bin", "pound"});  // ÉTÉ/£.bin
        files.push_back({"tree/\xC3\x98.dat", patternBytes(5, 42)});        // Ø.dat
    }
    return files;
}

void writeTree(const TempDir& dir, const std::vector<TreeFile>& files) {
    for (const TreeFile& file : files) dir.writeFile(file.path, file.bytes);
    dir.makeDirectory("tree/empty");
}

std::string resourceNameOf(const TreeFile& file) {
    std::string name = file.path;
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}
