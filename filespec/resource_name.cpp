#include "filespec/resource_name.h"

#include <algorithm>

#include "util/ascii.h"

namespace {

// Where the name starts once a drive ("C:\") or server ("\\server") prefix is dropped.
std::size_t prefixLength(std::string_view path, const PathRules& rules) {
    const char separator = rules.separator;
    if (rules.hasDrivePrefixes && path.size() >= 2 && path[1] == ':') {
        // "C:\x" loses the root with the drive; a drive-relative "C:x" keeps all of "x".
        const bool rooted = path.size() >= 3 && (path[2] == separator || path[2] == '/');
        return rooted ? 3 : 2;
    }
    if (path.size() >= 2 && path[0] == separator && path[1] == separator)
        return path.find_first_not_of(separator) == std::string_view::npos ? path.size()
                                                                              : path.find_first_not_of(separator);
    return 0;
}

}  // namespace

void deriveResourceName(std::string_view path, bool junkPaths, const PathRules& rules, std::string& name) {
    name.assign(path.substr(prefixLength(path, rules)));
    makeAsciiUpper(name);

    if (junkPaths) {
        const std::size_t last = name.rfind(rules.separator);
        if (last != std::string::npos) name.erase(0, last + 1);
    } else if (rules.separator != '/' && name.find("..") == std::string::npos) {
        // A name that climbs out with ".." keeps its separators as they were.
        std::replace(name.begin(), name.end(), rules.separator, '/');
    }
}

std::string deriveResourceName(std::string_view path, bool junkPaths, const PathRules& rules) {
    std::string name;
    deriveResourceName(path, junkPaths, rules, name);
    return name;
}
