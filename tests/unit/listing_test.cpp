// The platform's listing of subdirectories against its full listing, on the real
// file system: the same directories, flags and order, and no files.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
