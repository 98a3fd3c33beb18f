// Hostile trees on Win32: directory links that lead back up the tree, and paths
// beyond what the ANSI file functions reach.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <filesystem>

#include "tests/hostile/hostile.h"

namespace {

// The reparse data of a junction (a mount point), as FSCTL_SET_REPARSE_POINT takes it.
struct MountPointData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    WCHAR paths[1024];
};

bool isDirectoryLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool makeJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
    const HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const std::wstring print = std::filesystem::absolute(target).wstring();
    const std::wstring substitute = L"\\??\\" + print;
    MountPointData data{};
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    const WORD printBytes = static_cast<WORD>(print.size() * sizeof(WCHAR));
    data.substituteLength = substituteBytes;
    data.printOffset = static_cast<WORD>(substituteBytes + sizeof(WCHAR));
    data.printLength = printBytes;
    std::copy(substitute.begin(), substitute.end(), data.paths);
    std::copy(print.begin(), print.end(), data.paths + substitute.size() + 1);
    data.dataLength = static_cast<WORD>(8 + substituteBytes + printBytes + 2 * sizeof(WCHAR));
    DWORD returned = 0;
    const BOOL set = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data, data.dataLength + 8, nullptr, 0,
                                     &returned, nullptr);
    CloseHandle(handle);
    if (!set) RemoveDirectoryA(link.c_str());
    return set;
}

// A directory symbolic link, else a junction; false when the system makes neither.
bool makeDirectoryLink(const std::string& link, const std::string& target, const std::string& relativeTarget) {
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (CreateSymbolicLinkA(link.c_str(), relativeTarget.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) &&
        isDirectoryLink(link))
        return true;
    return makeJunction(link, target) && isDirectoryLink(link);
}

TEST_F(Hostile, WalksDirectoryLinksThatLeadBackUpTheTreeOnce) {
    dir.writeFile("t\\a.txt", "a");
    dir.writeFile("t\\sub\\b.txt", "b");
    const std::string t = dir.path() + "\\t";
    if (!makeDirectoryLink(t + "\\sub\\up", t, ".."))
        GTEST_SKIP() << "this system makes neither directory links nor junctions (Wine makes neither)";
    ASSERT_TRUE(makeDirectoryLink(t + "\\self", t, "."));

    const ToolResult result = run({"-q", "-r", "-f", "out.res", "t"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(entryNames(resFile()), (std::vector<std::string>{"T/SUB/B.TXT", "T/A.TXT"}));
}

// The ANSI functions stop near MAX_PATH characters. Every file of a deeper tree
// is stored or accounted for by a warning: the file itself, or the first
// directory the walk could not read.
TEST_F(Hostile, AccountsForEveryFileOfATreeDeeperThanThePathLimit) {
    std::string level = "deep";
    std::vector<std::string> files;
    for (int depth = 0; depth < 100; ++depth) {
        level += "\\dir";
        files.push_back(level + "\\f.txt");
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(dir.path()) / level, error);
    if (error) GTEST_SKIP() << "cannot build a tree this deep here: " << error.message();
    for (const std::string& file : files) dir.writeFile(file, "f");

    const ToolResult result = run({"-r", "-f", "out.res", "deep"});
    EXPECT_EQ(result.exitStatus, 0);
    std::vector<std::string> stored;
    std::size_t unreadableDepth = files.size();
    std::vector<bool> accounted(files.size(), false);
    for (std::size_t start = 0, end; (end = result.output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = result.output.substr(start, end - start);
        bool known = false;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string directory = files[i].substr(0, files[i].size() - 6);
            if (line.rfind("Stored " + files[i] + " as ", 0) == 0 || line == "Warning: Could not read the file " + files[i] + "; it was not stored.") {
                // Beyond the path limit a file exists but cannot be reached: unreadable, never "missing".
                accounted[i] = known = true;
                if (line[0] == 'S') stored.push_back(line.substr(line.rfind(" as ") + 4, line.size() - line.rfind(" as ") - 5));
            } else if (line == "Warning: Could not read the directory " + directory + "; files in it were not stored.") {
                EXPECT_EQ(unreadableDepth, files.size()) << "a second unreadable directory";
                unreadableDepth = i;
                known = true;
            }
        }
        EXPECT_TRUE(known) << line;
    }
    for (std::size_t i = 0; i < unreadableDepth; ++i) EXPECT_TRUE(accounted[i]) << files[i] << " was lost without a word";
    EXPECT_LT(unreadableDepth, files.size()) << "the tree is not deeper than the limit here";
    EXPECT_EQ(entryNames(resFile()), stored);
}

}  // namespace
