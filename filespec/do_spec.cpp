// Expanding one file spec: a file, a directory, or a wildcard pattern with or
// without a directory part; and the walk of one directory, subdirectories first.
#include <algorithm>

#include "driver/raduza.h"

void RADUza::doSpec(const std::string& spec) {
    if (halted_) return;
    if (const std::optional<PathStatus> status = fs_.queryPath(spec)) {
        if (!status->isDirectory) addFile(spec);
        else if (isSet(OPT_RECURSE)) doDir(spec, "*.*");
        return;  // a directory without -r is passed over silently
    }

    const std::size_t split = spec.rfind(rules_.separator);
    if (split != std::string::npos) {
        const std::string dir = spec.substr(0, split);
        const std::string pattern = spec.substr(split + 1);
        if (isSet(OPT_VERBOSE)) msg(MSG_LOOKING, pattern.c_str(), dir.c_str());
        const std::optional<PathStatus> dirStatus = fs_.queryPath(dir);
        if (!dirStatus) msg(MSG_NO_MATCH, spec.c_str());
        else if (dirStatus->isDirectory) doDir(dir, pattern);
        else addFile(spec);  // nothing can lie below a file: reported as missing
        return;
    }

    const std::vector<std::string> found = fs_.findPlainFiles(spec);
    if (found.empty()) msg(MSG_NO_MATCH, spec.c_str());
    for (const std::string& name : found) addFile(name);
}

void RADUza::doDir(const std::string& dir, const std::string& pattern) {
    if (halted_ || !enterDirectory(dir)) return;
    // A directory that cannot be read is skipped with one warning, never in silence.
    const bool read = (!isSet(OPT_RECURSE) || walkSubdirectories(dir, pattern)) && storeMatchingFiles(dir, pattern);
    if (!read && !halted_) msg(MSG_CANNOT_READ_DIR, dir.c_str());
    walkPath_.pop_back();
}

// Records `dir` on the walk path; false when it is already there (a link that
// leads back up the tree), so a cycle is walked once, not forever.
bool RADUza::enterDirectory(const std::string& dir) {
    const std::optional<FileId> id = fs_.fileId(dir);
    if (id && std::find(walkPath_.begin(), walkPath_.end(), *id) != walkPath_.end()) return false;
    walkPath_.push_back(id.value_or(FileId{~std::uint64_t{0}, ~std::uint64_t{0}}));
    return true;
}

bool RADUza::walkSubdirectories(const std::string& dir, const std::string& pattern) {
    std::vector<std::string> subdirectories;
    const bool listed = fs_.enumerateSubdirectories(dir, [&](const DirEntry& entry) {
        subdirectories.push_back(entry.name);
        return true;
    });
    if (!listed) return false;
    for (const std::string& name : subdirectories) {
        if (halted_) break;
        const std::string path = dir + rules_.separator + name;
        if (isSet(OPT_SHOW_RECURS)) msg(MSG_DESCENDING, path.c_str());
        doDir(path, pattern);
    }
    return true;
}

// Each file is stored as the listing reaches it, so a directory's names are held
// once, by the listing.
bool RADUza::storeMatchingFiles(const std::string& dir, const std::string& pattern) {
    std::string path = dir + rules_.separator;
    const std::size_t dirLength = path.size();
    return fs_.enumerate(dir, pattern, [&](const DirEntry& entry) {
        if (!entry.isDirectory) {
            path.resize(dirLength);
            path += entry.name;
            addFile(path);
        }
        return !halted_;
    });
}
