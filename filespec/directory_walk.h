// The walk of one directory for a pattern, depth first with subdirectories before
// the directory's own files. It reports what it finds to an observer and decides
// nothing about storing or printing.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"

class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // A file (not a directory) whose name matches the pattern; `name` is its last component.
    virtual void fileFound(const std::string& path, const std::string& name) = 0;
    // About to descend into a subdirectory.
    virtual void enteringDirectory(const std::string& path) = 0;
    // A directory whose entries could not be listed; files in it were not seen.
    virtual void unreadableDirectory(const std::string& path) = 0;
    // A directory that leads back to one the walk is inside of, so it is not walked again.
    virtual void cycleRefused(const std::string& path) = 0;
    // A subdirectory that is not to be walked.
    virtual bool leavesOut(const std::string& /*path*/, const std::string& /*name*/) { return false; }
    // True once the walk must stop (the output failed).
    virtual bool stopped() const = 0;
};

class DirectoryWalk {
public:
    DirectoryWalk(FileSystem& fs, const PathRules& rules, WalkObserver& observer)
        : fs_(fs), rules_(rules), observer_(observer) {}

    // Reports the files of `dir` matching `pattern`; with `recurse`, those of every
    // subdirectory first, whatever their names.
    void walk(const std::string& dir, const std::string& pattern, bool recurse);

private:
    bool enterDirectory(const std::string& dir);
    // False when `dir` could not be read.
    bool walkSubdirectories(const std::string& dir, const std::string& pattern);
    bool reportMatchingFiles(const std::string& dir, const std::string& pattern);

    FileSystem& fs_;
    PathRules rules_;
    WalkObserver& observer_;
    std::vector<FileId> walkPath_;  // directories on the current walk, to refuse cycles
};
