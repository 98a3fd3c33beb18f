// The platform's listings on the real file system: the listing of subdirectories
// against the full listing (the same directories, flags and order, and no files),
// and the files of a large listing opened while it is visited.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

std::string describe(const DirEntry& entry) {
    return entry.name + (entry.isDirectory ? " d" : " -") + (entry.isHidden ? "h" : "") + (entry.isSystem ? "s" : "");
}

TEST(Listing, SubdirectoriesAreTheDirectoriesOfTheFullListingInItsOrder) {
    TempDir dir;
    for (const char* file : {"b.txt", "z", "Sub.txt", "sub/inner.txt", "a dir/x"}) dir.writeFile(file, "x");
    for (const char* directory : {"Sub2", ".hidden", "empty"}) dir.makeDirectory(directory);
    // Links need privileges on Windows; without them the rest is still checked.
    std::error_code ignored;
    std::filesystem::create_directory_symlink(platformPath({dir.path(), "sub"}), platformPath({dir.path(), "link-to-dir"}), ignored);
    std::filesystem::create_symlink(platformPath({dir.path(), "b.txt"}), platformPath({dir.path(), "link-to-file"}), ignored);
    std::filesystem::create_symlink(platformPath({dir.path(), "nothing"}), platformPath({dir.path(), "dangling"}), ignored);

    FileSystem& fs = realFileSystem();
    std::vector<std::string> expected, listed;
    ASSERT_TRUE(fs.enumerate(dir.path(), "*.*", [&](const DirEntry& entry) {
        if (entry.isDirectory && entry.name != "." && entry.name != "..") expected.push_back(describe(entry));
        return true;
    }));
    ASSERT_TRUE(fs.enumerateSubdirectories(dir.path(), [&](const DirEntry& entry) {
        listed.push_back(describe(entry));
        return true;
    }));
    EXPECT_EQ(listed, expected);
    EXPECT_GE(expected.size(), 5u);  // a dir, .hidden, empty, sub, Sub2

    int visits = 0;
    EXPECT_TRUE(fs.enumerateSubdirectories(dir.path(), [&](const DirEntry&) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2);
    EXPECT_FALSE(fs.enumerateSubdirectories(platformPath({dir.path(), "missing"}), [](const DirEntry&) { return true; }));
    EXPECT_FALSE(fs.enumerateSubdirectories(platformPath({dir.path(), "b.txt"}), [](const DirEntry&) { return true; }));
}

// Sizes from empty to beyond the largest file read ahead; the bytes name the file
// and its directory.
std::string contentOf(const std::string& directory, int file) {
    const std::size_t size = static_cast<std::size_t>(file) * 331 % 20000;
    std::string content;
    while (content.size() < size) content += "<" + directory + std::to_string(file) + ":" + std::to_string(content.size()) + ">";
    content.resize(size);
    return content;
}

std::string fileName(int file) {
    std::string digits = std::to_string(file);
    return "f" + std::string(3 - digits.size(), '0') + digits;
}

// Reads the whole input in uneven pieces, as the copy does; the end is where a read
// fell short and the file's own size says.
void expectFile(FileSystem& fs, const std::string& path, InputFile* input, const std::string& expected) {
    ASSERT_NE(input, nullptr) << path;
    EXPECT_EQ(input->size(), expected.size()) << path;
    EXPECT_EQ(input->id(), fs.fileId(path)) << path;
    std::string read;
    char buffer[4099];
    for (;;) {
        const std::optional<std::size_t> got = input->read(buffer, sizeof buffer);
        ASSERT_TRUE(got.has_value()) << path;
        read.append(buffer, *got);
        if (*got == 0 || input->readReachedEnd()) break;
    }
    EXPECT_EQ(read, expected) << path;
}

// The files of a listing too large to be read one by one may be read ahead of the
// visit. However the visitor goes (every file, some of them, a file out of turn, one
// held while a hundred more open, a stop half way), each file it opens gives its own
// bytes, size and identity; and the next listing, of another directory, its own. No
// file stays open once the listings are over.
TEST(Listing, EachFileOfALargeListingOpensAsItselfWhicheverFilesTheVisitorOpens) {
    constexpr int FILES = 300;
    // The second directory holds fewer files than are read ahead at once.
    const std::string directories[2] = {"d", "e"};
    const int files[2] = {FILES, 40};
    TempDir dir;
    for (int d = 0; d < 2; ++d) {
        const std::string& directory = directories[d];
        for (int file = 0; file < files[d]; ++file) {
            dir.writeFile(directory + "/" + fileName(file), contentOf(directory, file));
            if (file % 37 == 0) dir.makeDirectory(directory + "/" + fileName(file) + "dir");
        }
    }
    FileSystem& fs = realFileSystem();
    enum Visitor { EVERY_FILE, EVERY_THIRD, RUNS_PASSED_OVER, ONE_OUT_OF_TURN, HOLDS_ONE, STOPS_HALF_WAY, VISITORS };
    for (int round = 0; round < 2 * 2 * VISITORS; ++round) {
        const std::string& directory = directories[round % 2];
        const auto visitor = static_cast<Visitor>(round / 2 % VISITORS);
        const std::string listed = platformPath({dir.path(), directory});
        const auto pathOf = [&](int file) { return platformPath({listed, fileName(file)}); };
        const auto expectOpens = [&](int file, InputFile* input) {
            expectFile(fs, pathOf(file), input, contentOf(directory, file));
        };
        std::unique_ptr<InputFile> held;
        int heldFile = -1;
        int opened = 0;
        ASSERT_TRUE(fs.enumerate(listed, "*.*", [&](const DirEntry& entry) {
            if (entry.isDirectory) return true;
            const int file = std::stoi(entry.name.substr(1));
            const bool open = visitor == EVERY_FILE || visitor == STOPS_HALF_WAY ||
                              (visitor == HOLDS_ONE && file % 100 != 0) || (visitor == EVERY_THIRD && file % 3 == 0) ||
                              (visitor == RUNS_PASSED_OVER && file / 70 % 2 == 0) ||
                              (visitor == ONE_OUT_OF_TURN && file != 250);
            if (open) {
                expectOpens(file, fs.openInput(pathOf(file)).get());
                ++opened;
            }
            if (visitor == ONE_OUT_OF_TURN && file == 100) expectOpens(250, fs.openInput(pathOf(250)).get());
            if (visitor == HOLDS_ONE && file % 100 == 0) {
                if (held) expectOpens(heldFile, held.get());
                held = fs.openInput(pathOf(file));
                heldFile = file;
            }
            return !(visitor == STOPS_HALF_WAY && file == FILES / 2);
        }));
        if (held) expectOpens(heldFile, held.get());
        EXPECT_GT(opened, 0);
    }
    EXPECT_EQ(openFilesIn(dir.path()), std::vector<std::string>{});
}

}  // namespace
