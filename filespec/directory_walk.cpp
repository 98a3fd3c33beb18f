#include "filespec/directory_walk.h"

#include <algorithm>

void DirectoryWalk::walk(const std::string& dir, const std::string& pattern, bool recurse) {
    if (observer_.stopped()) return;
    if (!enterDirectory(dir)) {
        observer_.cycleRefused(dir);
        return;
    }
    // A directory that cannot be read is reported once, never skipped in silence.
    if (!walkDirectory(dir, pattern, recurse) && !observer_.stopped()) observer_.unreadableDirectory(dir);
    walkPath_.pop_back();
}

// Records `dir` on the walk path; false when it is already there (a link that
// leads back up the tree), so a cycle is walked once, not forever.
bool DirectoryWalk::enterDirectory(const std::string& dir) {
    const Result<PathStatus> status = fs_.status(dir);
    const std::optional<FileId> id = status ? status->id : std::nullopt;
    if (id && std::find(walkPath_.begin(), walkPath_.end(), id) != walkPath_.end()) return false;
    walkPath_.push_back(id);
    return true;
}

// One directory is open at a time, so a tree as deep as the system allows costs no
// open file per level: a directory with subdirectories is closed while they are
// walked, and listed again for its own files after them. One without is listed once.
bool DirectoryWalk::walkDirectory(const std::string& dir, const std::string& pattern, bool recurse) {
    Result<std::unique_ptr<Directory>> directory = fs_.openDirectory(dir);
    if (!directory) return false;
    if (recurse) {
        const std::vector<std::string> subdirectories = (*directory)->subdirectories();
        if (!subdirectories.empty()) {
            directory->reset();
            walkSubdirectories(dir, subdirectories, pattern);
            if (observer_.stopped()) return true;
            directory = fs_.openDirectory(dir);
            if (!directory) return false;
        }
    }
    reportMatchingFiles(**directory, dir, pattern);
    return true;
}

void DirectoryWalk::walkSubdirectories(const std::string& dir, const std::vector<std::string>& names,
                                       const std::string& pattern) {
    for (const std::string& name : names) {
        if (observer_.stopped()) break;
        const std::string path = dir + rules_.separator + name;
        if (observer_.leavesOut(path, name)) continue;
        observer_.enteringDirectory(path);
        walk(path, pattern, true);
    }
}

// Each file is reported as the listing reaches it, so a directory's names are held
// once, by the listing.
void DirectoryWalk::reportMatchingFiles(Directory& directory, const std::string& dir, const std::string& pattern) {
    std::string path = dir + rules_.separator;
    const std::size_t dirLength = path.size();
    if (!observer_.opensFiles()) {
        directory.listFiles(pattern, [&](const DirEntry& entry) {
            path.resize(dirLength);
            path += entry.name;
            observer_.fileListed(path, entry.name);
            return !observer_.stopped();
        });
        return;
    }
    directory.visitFiles(pattern, [&](ListedFile& file) {
        path.resize(dirLength);
        path += file.entry().name;
        observer_.fileFound(path, file);
        return !observer_.stopped();
    });
}
