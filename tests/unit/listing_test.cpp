// The platform's directories on the real file system: one listing split into
// subdirectories and files, by kind and in name order, with the status of a path
// beside it; and the files of a large listing opened while it is visited.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

std::string describe(const DirEntry& entry) {
    return entry.name + (entry.isDirectory ? " d" : " -") + (entry.isHidden ? "h" : "") + (entry.isSystem ? "s" : "");
}

TEST(Listing, ADirectoryListsItsSubdirectoriesAndItsMatchingFilesApartInNameOrder) {
    TempDir dir;
    for (const char* file : {"b.txt", "z", "Sub.txt", "sub/inner.txt", "a dir/x", ".hid.txt"}) dir.writeFile(file, "x");
    for (const char* directory : {"Sub2", ".hidden", "empty"}) dir.makeDirectory(directory);
    // Links need privileges on Windows; without them the rest is still checked.
    std::error_code noLinks;
    std::filesystem::create_directory_symlink(platformPath({dir.path(), "sub"}), platformPath({dir.path(), "link-to-dir"}), noLinks);
    std::filesystem::create_symlink(platformPath({dir.path(), "b.txt"}), platformPath({dir.path(), "link-to-file"}), noLinks);
    std::filesystem::create_symlink(platformPath({dir.path(), "nothing"}), platformPath({dir.path(), "dangling"}), noLinks);

    FileSystem& fs = realFileSystem();
    Result<std::unique_ptr<Directory>> opened = fs.openDirectory(dir.path());
    ASSERT_TRUE(opened);
    Directory& directory = **opened;
    std::vector<std::string> subdirectories{".hidden", "a dir", "empty"};
    if (!noLinks) subdirectories.push_back("link-to-dir");
    for (const char* name : {"sub", "Sub2"}) subdirectories.push_back(name);
    EXPECT_EQ(directory.subdirectories(), subdirectories);

    std::vector<std::string> files, expected{".hid.txt -h", "b.txt -"};
    if (!noLinks) expected.push_back("link-to-file -");  // a link to a file is a file; a dangling one is nothing
    for (const char* name : {"Sub.txt -", "z -"}) expected.push_back(name);
    directory.listFiles("*.*", [&](const DirEntry& entry) {
        files.push_back(describe(entry));
        return true;
    });
    EXPECT_EQ(files, expected);
    files.clear();
    directory.listFiles("*.TXT", [&](const DirEntry& entry) {
        files.push_back(entry.name);
        return files.size() < 2;
    });
    EXPECT_EQ(files, (std::vector<std::string>{".hid.txt", "b.txt"}));

    // The status of a path, and how a missing one fails.
    const Result<PathStatus> file = fs.status(platformPath({dir.path(), "b.txt"}));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->kind, FileKind::REGULAR);
    const Result<std::unique_ptr<InputFile>> input = fs.openInput(platformPath({dir.path(), "b.txt"}));
    ASSERT_TRUE(input);
    EXPECT_EQ(file->id, (*input)->id());
    EXPECT_TRUE(fs.status(platformPath({dir.path(), "Sub2"}))->isDirectory());
    for (const std::string& missing : {platformPath({dir.path(), "missing"}), platformPath({dir.path(), "missing", "x"})}) {
        const Result<PathStatus> status = fs.status(missing);
        ASSERT_FALSE(status) << missing;
        EXPECT_TRUE(status.error().isMissing()) << missing;
        const Result<std::unique_ptr<Directory>> none = fs.openDirectory(missing);
        ASSERT_FALSE(none) << missing;
        EXPECT_TRUE(none.error().isMissing()) << missing;
        const Result<std::unique_ptr<InputFile>> unopened = fs.openInput(missing);
        ASSERT_FALSE(unopened) << missing;
        EXPECT_TRUE(unopened.error().isMissing()) << missing;
    }
    EXPECT_FALSE(fs.openDirectory(platformPath({dir.path(), "b.txt"})));
    EXPECT_FALSE(fs.openInput(platformPath({dir.path(), "Sub2"}))) << "a directory is no input";
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
    EXPECT_EQ(input->id(), fs.status(path)->id) << path;
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

// Visits the files of `directory` that `pattern` matches, opening each; their count.
int visitEveryFile(FileSystem& fs, Directory& listing, const std::string& path, const std::string& directory,
                   const char* pattern) {
    int visited = 0;
    listing.visitFiles(pattern, [&](ListedFile& listedFile) {
        const std::string& name = listedFile.entry().name;
        const Result<InputFile*> input = listedFile.open();
        EXPECT_TRUE(input) << name;
        if (input) expectFile(fs, platformPath({path, name}), *input, contentOf(directory, std::stoi(name.substr(1))));
        ++visited;
        return true;
    });
    return visited;
}

// The files of a listing too large to be read one by one may be read ahead of the
// visit. However the visitor goes (every file, some of them, a pattern, a file opened
// by its path out of turn and kept past the next listing, a stop half way, a visit of
// the other directory and one of the same inside it, another visit on a second thread
// meanwhile), each file it opens gives its own bytes, size and identity; and the next
// listing, of another directory, its own. No file stays open once the listings are over.
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
    enum Visitor {
        EVERY_FILE,
        EVERY_THIRD,
        RUNS_PASSED_OVER,
        PATTERN,
        KEEPS_ONE_OPENED_BY_PATH,
        STOPS_HALF_WAY,
        VISITS_OTHERS_INSIDE,
        VISITED_BESIDE_ANOTHER_THREAD,
        VISITORS
    };
    std::unique_ptr<InputFile> kept;  // opened by its path, the caller's for as long as it likes
    std::string keptPath, keptContent;
    for (int round = 0; round < 2 * 2 * VISITORS; ++round) {
        const std::string& directory = directories[round % 2];
        const auto visitor = static_cast<Visitor>(round / 2 % VISITORS);
        const std::string listed = platformPath({dir.path(), directory});
        const auto pathOf = [&](int file) { return platformPath({listed, fileName(file)}); };
        const std::string& other = directories[(round + 1) % 2];
        const std::string otherListed = platformPath({dir.path(), other});
        const int otherFiles = files[(round + 1) % 2];
        int opened = 0;
        Result<std::unique_ptr<Directory>> open = fs.openDirectory(listed);
        ASSERT_TRUE(open);
        std::thread beside;
        // A pattern that matches every file lists them apart, as any other pattern does.
        const char* pattern = visitor == PATTERN ? "f?1*" : visitor == VISITS_OTHERS_INSIDE ? "f*" : "*.*";
        (*open)->visitFiles(pattern, [&](ListedFile& listedFile) {
            const int file = std::stoi(listedFile.entry().name.substr(1));
            const bool wanted = visitor == EVERY_FILE || visitor == STOPS_HALF_WAY || visitor == PATTERN ||
                                visitor == KEEPS_ONE_OPENED_BY_PATH || visitor == VISITS_OTHERS_INSIDE ||
                                visitor == VISITED_BESIDE_ANOTHER_THREAD || (visitor == EVERY_THIRD && file % 3 == 0) ||
                                (visitor == RUNS_PASSED_OVER && file / 70 % 2 == 0);
            if (wanted) {
                const Result<InputFile*> input = listedFile.open();
                EXPECT_TRUE(input) << pathOf(file);
                if (input) expectFile(fs, pathOf(file), *input, contentOf(directory, file));
                EXPECT_EQ(*listedFile.open(), *input) << "a second open gives the same input";
                ++opened;
            }
            if (visitor == PATTERN) {
                EXPECT_EQ(fileName(file)[2], '1') << fileName(file);
            }
            if (visitor == VISITS_OTHERS_INSIDE && file == 11) {
                Result<std::unique_ptr<Directory>> inner = fs.openDirectory(otherListed);
                EXPECT_TRUE(inner);
                if (inner) {
                    EXPECT_EQ(visitEveryFile(fs, **inner, otherListed, other, "*.*"), otherFiles);
                }
                EXPECT_EQ(visitEveryFile(fs, **open, listed, directory, "f?2*"), files[round % 2] > 100 ? 30 : 10);
            }
            if (visitor == VISITED_BESIDE_ANOTHER_THREAD && file == 5) {
                beside = std::thread([&] {
                    Result<std::unique_ptr<Directory>> inner = fs.openDirectory(otherListed);
                    ASSERT_TRUE(inner);
                    EXPECT_EQ(visitEveryFile(fs, **inner, otherListed, other, "*.*"), otherFiles);
                });
            }
            if (visitor == KEEPS_ONE_OPENED_BY_PATH && file == 10 && !kept) {
                // Small enough to be read ahead, were it opened from the listing.
                keptPath = pathOf(61);
                keptContent = contentOf(directory, 61);
                Result<std::unique_ptr<InputFile>> byPath = fs.openInput(keptPath);
                EXPECT_TRUE(byPath);
                if (byPath) kept = std::move(*byPath);
            }
            return !(visitor == STOPS_HALF_WAY && file == FILES / 2);
        });
        if (beside.joinable()) beside.join();
        open->reset();
        // Kept through the listing of the other directory, it still reads as itself.
        if (kept && visitor != KEEPS_ONE_OPENED_BY_PATH) {
            expectFile(fs, keptPath, kept.get(), keptContent);
            kept.reset();
        }
        EXPECT_GT(opened, 0);
    }
    EXPECT_EQ(openFilesIn(dir.path()), std::vector<std::string>{});
}

}  // namespace
