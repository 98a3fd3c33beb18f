// A tree of files that reaches every corner of the resource file format, for the
// tests that hand the tool's output to other readers.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

struct TreeFile {
    std::string path;           // relative, '/'-separated, below "tree"
    std::string bytes;
    bool shadowed = false;      // skipped by `-r tree`: an earlier file has the same name
    bool shadowedJunk = false;  // skipped by `-j -r tree`
};

enum class TreeNames {
    PORTABLE,   // letters, digits, '.', '_' and '/', each name starting with a letter
    ABOVE_7F,   // also bytes above 0x7F (UTF-8 of upper-case Latin-1 letters and signs)
};

// Names of odd and even length with data of 0 to 7 bytes, nested directories, an
// empty directory, a file larger than the tool's output buffer, a name that differs
// from another only in case, and a file name repeated at two depths for -j.
std::vector<TreeFile> cornerTree(TreeNames names);

void writeTree(const TempDir& dir, const std::vector<TreeFile>& files);

// The resource name that `-r tree` gives a file of the tree: its path, ASCII upper-cased.
std::string resourceNameOf(const TreeFile& file);
