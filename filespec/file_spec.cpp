#include "filespec/file_spec.h"

bool hasWildcard(std::string_view spec) { return spec.find_first_of("*?") != std::string_view::npos; }

SpecTarget classifySpec(FileSystem& fs, const PathRules& rules, const std::string& spec) {
    SpecTarget target;
    if (!hasWildcard(spec) && !spec.empty()) {
        const Result<PathStatus> status = fs.status(spec);
        if (status) {
            target.kind = status->kind == FileKind::DIRECTORY ? SpecTarget::DIRECTORY
                          : status->kind == FileKind::SPECIAL ? SpecTarget::SPECIAL_FILE
                                                              : SpecTarget::FILE;
            return target;
        }
        // Only a path that truly does not exist may be searched for as a pattern.
        if (!status.error().isMissing()) {
            target.kind = SpecTarget::UNREACHABLE;
            return target;
        }
    }
    const std::size_t split = spec.rfind(rules.separator);
    if (split == std::string::npos) return target;  // SEARCH
    target.dir = spec.substr(0, split);
    target.pattern = spec.substr(split + 1);
    if (hasWildcard(target.dir)) {
        target.kind = SpecTarget::MISSING_DIRECTORY;
        return target;
    }
    const Result<PathStatus> dirStatus = fs.status(target.dir);
    target.kind = !dirStatus                  ? SpecTarget::MISSING_DIRECTORY
                  : dirStatus->isDirectory() ? SpecTarget::PATTERN_IN_DIRECTORY
                                             : SpecTarget::BELOW_A_FILE;
    return target;
}

std::vector<std::string> findPlainFiles(FileSystem& fs, const std::string& spec) {
    std::vector<std::string> names;
    (void)fs.search(spec, [&](const DirEntry& entry) {
        if (!entry.isDirectory && !entry.isHidden && !entry.isSystem) names.push_back(entry.name);
        return true;
    });
    return names;
}
