// The walk of one directory for a pattern, depth first with subdirectories before
// the directory's own files. It reports what it finds to an observer and decides
// nothing about storing or printing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"

class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // A file (not a directory) whose name matches the pattern, at `path`. The input
    // `file` opens lasts until this returns.
    virtual void fileFound(const std::string& path, ListedFile& file) = 0;
    // False while the observer only looks at what is there: the files are then
    // listed by name alone, and nothing is opened or read ahead.
    virtual bool opensFiles() const { return true; }
    // A file whose name matches the pattern, listed while opensFiles() is false.
    virtual void fileListed(const std::string& /*path*/, const std::string& /*name*/) {}
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
    bool walkDirectory(const std::string& dir, const std::string& pattern, bool recurse);
    void walkSubdirectories(const std::string& dir, const std::vector<std::string>& names, const std::string& pattern);
    void reportMatchingFiles(Directory& directory, const std::string& dir, const std::string& pattern);

    FileSystem& fs_;
    PathRules rules_;
    WalkObserver& observer_;
    std::vector<std::optional<FileId>> walkPath_;  // directories on the current walk, to refuse cycles
};
