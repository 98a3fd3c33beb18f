// Selecting files: what each spec names, the walk of directories, and the name
// each selected file is stored under. The rules are filespec/'s; here is which
// option applies and which message goes where.
#include <algorithm>

#include "driver/raduza.h"
#include "filespec/file_spec.h"
#include "filespec/resource_name.h"

void RADUza::addFile(const std::string& path) {
    if (halted_) return;
    TrackedFile tracked;
    if (tracking() && !trackFile(path, tracked)) return;
    if (earlier_) {
        ++filesMet_;
        if (tracked.earlier && tracked.stamp && reuseEntry(path, *tracked.earlier, *tracked.stamp)) return;
        ++filesRead_;
    }
    // Open first: the size and identity then describe exactly the bytes copied.
    const Result<std::unique_ptr<InputFile>> input = fs_.openInput(path);
    storeOpened(path, input ? input->get() : nullptr);
}

void RADUza::storeOpened(const std::string& path, InputFile* input) {
    // A file that opens exists, so only a failed open costs the question whether it does.
    if (!input) {
        const Result<PathStatus> status = fs_.status(path);
        if (!status && status.error().isMissing()) {
            // Under -w the warning fails the run, so -q does not hide it.
            if (!isSet(OPT_QUIET) || strict_) msg(MSG_NO_FILE, path.c_str());
            return;
        }
    }
    // A file that exists but could not be opened or reached is refused by storeFile.
    storeUnderDerivedName(path, input);
}

void RADUza::storeUnderDerivedName(const std::string& path, InputFile* input) {
    if (comparison_) return;  // only looking
    deriveResourceName(path, isSet(OPT_JUNK), rules_, nameStorage_);
    curName = nameStorage_;
    storeFile(path, input);
    curName = {};
}

void RADUza::doSpec(const std::string& spec) {
    if (halted_) return;
    const SpecTarget target = classifySpec(fs_, rules_, spec);
    switch (target.kind) {
    case SpecTarget::FILE:
    case SpecTarget::UNREACHABLE: addFile(spec); return;
    case SpecTarget::SPECIAL_FILE: storeUnderDerivedName(spec, nullptr); return;  // never opened: that can block or change it
    case SpecTarget::DIRECTORY:
        if (isSet(OPT_RECURSE)) doDir(spec, "*.*");
        return;  // a directory without -r is passed over silently
    case SpecTarget::PATTERN_IN_DIRECTORY:
    case SpecTarget::MISSING_DIRECTORY:
    case SpecTarget::BELOW_A_FILE:
        if (isSet(OPT_VERBOSE)) msg(MSG_LOOKING, target.pattern.c_str(), target.dir.c_str());
        if (target.kind == SpecTarget::PATTERN_IN_DIRECTORY) doDir(target.dir, target.pattern);
        else if (target.kind == SpecTarget::MISSING_DIRECTORY) msg(MSG_NO_MATCH, spec.c_str());
        else addFile(spec);  // nothing can lie below a file: reported as missing
        return;
    case SpecTarget::SEARCH: break;
    }
    std::vector<std::string> found = findPlainFiles(fs_, spec);
    if (!exclusions_.empty()) {
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&](const std::string& name) { return exclusions_.leavesOut(name, name, '/'); }),
                    found.end());
    }
    if (found.empty()) msg(MSG_NO_MATCH, spec.c_str());
    for (const std::string& name : found) addFile(name);
}

RADUza::Next RADUza::refuseOutputAsInput(int argc, char** argv) {
    if (!resFile) return PROCEED;
    const Result<PathStatus> output = fs_.status(*resFile);
    if (!output || output->kind != FileKind::REGULAR || !output->id) return PROCEED;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        // Any spelling of the same file: ./out.res, a link, a hard link.
        const Result<PathStatus> spec = fs_.status(argv[i]);
        if (spec && spec->kind == FileKind::REGULAR && spec->id == output->id) {
            msg(MSG_OUTPUT_IS_INPUT, argv[i]);
            return exitWith(EXIT_STATUS_FAILED);
        }
    }
    return PROCEED;
}

void RADUza::doDir(const std::string& dir, const std::string& pattern) {
    walkRoot_ = dir;
    noteDirectory(dir);
    walk_.walk(dir, pattern, isSet(OPT_RECURSE));
}

void RADUza::fileFound(const std::string& path, ListedFile& file) {
    if (halted_ || !isWalkCandidate(path, file.entry().name)) return;
    TrackedFile tracked;
    if (tracking() && !trackFile(path, tracked)) return;
    const Result<InputFile*> input = file.open();
    storeOpened(path, input ? *input : nullptr);
}

void RADUza::fileListed(const std::string& path, const std::string& name) {
    // Only looking, or storing what changed and copying the rest: opened by path if at all.
    if (isWalkCandidate(path, name)) addFile(path);
}

bool RADUza::isWalkCandidate(const std::string& path, const std::string& name) const {
    // What a killed run left beside its resource file is never a resource.
    return !isUnfinishedResourceFileName(name) && !leftOutOfWalk(path, name);
}

void RADUza::enteringDirectory(const std::string& path) {
    if (isSet(OPT_SHOW_RECURS)) msg(MSG_DESCENDING, path.c_str());
    noteDirectory(path);
}

bool RADUza::leftOutOfWalk(const std::string& path, const std::string& name) const {
    if (exclusions_.empty()) return false;
    const std::string_view below = std::string_view(path).substr(std::min(path.size(), walkRoot_.size() + 1));
    return exclusions_.leavesOut(below, name, rules_.separator);
}

void RADUza::unreadableDirectory(const std::string& path) { msg(MSG_CANNOT_READ_DIR, path.c_str()); }
