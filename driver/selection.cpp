// Selecting files: what each spec names, the walk of directories, and the name
// each selected file is stored under. The rules are filespec/'s; here is which
// option applies and which message goes where. What is selected goes to the
// run's sink.
#include <algorithm>

#include "driver/raduza.h"
#include "filespec/directory_walk.h"
#include "filespec/file_spec.h"
#include "filespec/resource_name.h"

// What the directory walk finds, handed to the run's sink.
class RADUza::WalkReport final : public WalkObserver {
public:
    explicit WalkReport(RADUza& tool) : tool_(tool) {}

    void fileFound(const std::string& path, ListedFile& file) override {
        if (tool_.isWalkCandidate(path, file.entry().name)) tool_.sink_->fileFound(path, file);
    }
    bool opensFiles() const override { return tool_.sink_->opensFiles(); }
    // Opened by path if at all.
    void fileListed(const std::string& path, const std::string& name) override {
        if (tool_.isWalkCandidate(path, name)) tool_.sink_->fileNamed(path);
    }
    void enteringDirectory(const std::string& path) override {
        if (tool_.isSet(OPT_SHOW_RECURS)) tool_.msg<MSG_DESCENDING>(path.c_str());
        tool_.sink_->directoryMet(path);
    }
    void unreadableDirectory(const std::string& path) override { tool_.msg<MSG_CANNOT_READ_DIR>(path.c_str()); }
    void cycleRefused(const std::string&) override {}  // a cycle is walked once, silently
    bool leavesOut(const std::string& path, const std::string& name) override { return tool_.leftOutOfWalk(path, name); }
    bool stopped() const override { return tool_.sink_->stopped(); }

private:
    RADUza& tool_;
};

void RADUza::addFile(const std::string& path) {
    if (stopped()) return;
    // Open first: the size and identity then describe exactly the bytes copied.
    const Result<std::unique_ptr<InputFile>> input = fs_.openInput(path);
    storeOpened(path, input ? input->get() : nullptr);
}

void RADUza::fileFound(const std::string& path, ListedFile& file) {
    if (stopped()) return;
    const Result<InputFile*> input = file.open();
    storeOpened(path, input ? *input : nullptr);
}

void RADUza::storeOpened(const std::string& path, InputFile* input) {
    // A file that opens exists, so only a failed open costs the question whether it does.
    if (!input) {
        const Result<PathStatus> status = fs_.status(path);
        if (!status && status.error().isMissing()) {
            // Under -w the warning fails the run, so -q does not hide it.
            if (!isSet(OPT_QUIET) || isSet(OPT_STRICT)) msg<MSG_NO_FILE>(path.c_str());
            return;
        }
    }
    // A file that exists but could not be opened or reached is refused by storeFile.
    storeUnderDerivedName(path, input);
}

void RADUza::storeUnderDerivedName(const std::string& path, InputFile* input) {
    deriveResourceName(path, isSet(OPT_JUNK), rules_, nameStorage_);
    curName = nameStorage_;
    storeFile(path, input);
    curName = {};
}

void RADUza::doSpec(const std::string& spec) {
    if (stopped()) return;
    const SpecTarget target = classifySpec(fs_, rules_, spec);
    switch (target.kind) {
    case SpecTarget::FILE:
    case SpecTarget::UNREACHABLE: sink_->fileNamed(spec); return;
    case SpecTarget::SPECIAL_FILE: sink_->specialFileNamed(spec); return;  // never opened: that can block or change it
    case SpecTarget::DIRECTORY:
        if (isSet(OPT_RECURSE)) doDir(spec, "*.*");
        return;  // a directory without -r is passed over silently
    case SpecTarget::PATTERN_IN_DIRECTORY:
    case SpecTarget::MISSING_DIRECTORY:
    case SpecTarget::BELOW_A_FILE:
        if (isSet(OPT_VERBOSE)) msg<MSG_LOOKING>(target.pattern.c_str(), target.dir.c_str());
        if (target.kind == SpecTarget::PATTERN_IN_DIRECTORY) doDir(target.dir, target.pattern);
        else if (target.kind == SpecTarget::MISSING_DIRECTORY) msg<MSG_NO_MATCH>(spec.c_str());
        else sink_->fileNamed(spec);  // nothing can lie below a file: reported as missing
        return;
    case SpecTarget::SEARCH: break;
    }
    std::vector<std::string> found = findPlainFiles(fs_, spec);
    if (!exclusions_.empty()) {
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&](const std::string& name) { return exclusions_.leavesOut(name, name, '/'); }),
                    found.end());
    }
    if (found.empty()) msg<MSG_NO_MATCH>(spec.c_str());
    for (const std::string& name : found) sink_->fileNamed(name);
}

bool RADUza::refuseOutputAsInput() {
    if (!resFile) return true;
    const Result<PathStatus> output = fs_.status(*resFile);
    if (!output || output->kind != FileKind::REGULAR || !output->id) return true;
    for (const std::string& spec : commandLine_.specs) {
        // Any spelling of the same file: ./out.res, a link, a hard link.
        const Result<PathStatus> status = fs_.status(spec);
        if (status && status->kind == FileKind::REGULAR && status->id == output->id) {
            msg<MSG_OUTPUT_IS_INPUT>(spec.c_str());
            return false;
        }
    }
    return true;
}

void RADUza::doDir(const std::string& dir, const std::string& pattern) {
    walkRoot_ = dir;
    sink_->directoryMet(dir);
    WalkReport report(*this);
    DirectoryWalk(fs_, rules_, report).walk(dir, pattern, isSet(OPT_RECURSE));
}

bool RADUza::isWalkCandidate(const std::string& path, const std::string& name) const {
    // What a killed run left beside its resource file is never a resource.
    return !isUnfinishedResourceFileName(name) && !leftOutOfWalk(path, name);
}

bool RADUza::leftOutOfWalk(const std::string& path, const std::string& name) const {
    if (exclusions_.empty()) return false;
    const std::string_view below = std::string_view(path).substr(std::min(path.size(), walkRoot_.size() + 1));
    return exclusions_.leavesOut(below, name, rules_.separator);
}
