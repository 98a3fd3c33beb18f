#include "filespec/directory_walk.h"

#include <algorithm>

void DirectoryWalk::walk(const std::string& dir, const std::string& pattern, bool recurse) {
    if (observer_.stopped()) return;
    if (!enterDirectory(dir)) {
        observer_.cycleRefused(dir);
        return;
    }
    // A directory that cannot be read is reported once, never skipped in silence.
    const bool read = (!recurse || walkSubdirectories(dir, pattern)) && reportMatchingFiles(dir, pattern);
    if (!read && !observer_.stopped()) observer_.unreadableDirectory(dir);
    walkPath_.pop_back();
}

// Records `dir` on the walk path; false when it is already there (a link that
// leads back up the tree), so a cycle is walked once, not forever.
bool DirectoryWalk::enterDirectory(const std::string& dir) {
    const std::optional<FileId> id = fs_.fileId(dir);
    if (id && std::find(walkPath_.begin(), walkPath_.end(), *id) != walkPath_.end()) return false;
    walkPath_.push_back(id.value_or(FileId{~std::uint64_t{0}, ~std::uint64_t{0}}));
    return true;
}

bool DirectoryWalk::walkSubdirectories(const std::string& dir, const std::string& pattern) {
    std::vector<std::string> subdirectories;
    const bool listed = fs_.enumerateSubdirectories(dir, [&](const DirEntry& entry) {
        subdirectories.push_back(entry.name);
        return true;
    });
    if (!listed) return false;
    for (const std::string& name : subdirectories) {
        if (observer_.stopped()) break;
        const std::string path = dir + rules_.separator + name;
        if (observer_.leavesOut(path, name)) continue;
        observer_.enteringDirectory(path);
        walk(path, pattern, true);
    }
    return true;
}

// Each file is reported as the listing reaches it, so a directory's names are held
// once, by the listing.
bool DirectoryWalk::reportMatchingFiles(const std::string& dir, const std::string& pattern) {
    std::string path = dir + rules_.separator;
    const std::size_t dirLength = path.size();
    return fs_.enumerate(dir, pattern, [&](const DirEntry& entry) {
        if (!entry.isDirectory) {
            path.resize(dirLength);
            path += entry.name;
            observer_.fileFound(path, entry.name);
        }
        return !observer_.stopped();
    });
}
