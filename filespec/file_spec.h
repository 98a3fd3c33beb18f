// What a file spec names: a file, a directory, a pattern inside a directory, or a
// pattern to search for in the current directory; and that search.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"

// A spec holding `*` or `?` is a pattern, never a path, even where a file of that name exists.
bool hasWildcard(std::string_view spec);

struct SpecTarget {
    enum Kind {
        FILE,               // an existing regular file: the spec itself
        SPECIAL_FILE,       // a device, FIFO or socket, which is never opened
        DIRECTORY,          // an existing directory: the spec itself
        PATTERN_IN_DIRECTORY,  // `pattern` in the existing directory `dir`
        MISSING_DIRECTORY,  // the directory part names nothing
        BELOW_A_FILE,       // the directory part names a file, so nothing lies below it
        UNREACHABLE,        // something may be there, but the system would not say: the spec itself
        SEARCH,             // no directory part: a search of the current directory
    };
    Kind kind = SEARCH;
    std::string dir;      // for the kinds with a directory part
    std::string pattern;
};

// Decides what `spec` names. A spec that is no existing path is split at its last
// separator into a directory part and a pattern.
SpecTarget classifySpec(FileSystem& fs, const PathRules& rules, const std::string& spec);

// The plain files matching `spec` in the current directory: directories, hidden
// and system files are left out, and nothing below is searched.
std::vector<std::string> findPlainFiles(FileSystem& fs, const std::string& spec);
