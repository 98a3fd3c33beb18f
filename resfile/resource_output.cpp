#include "resfile/resource_output.h"

namespace {

constexpr std::string_view UNFINISHED_MARK = ".raduza-";
constexpr std::size_t UNIQUE_CHARACTERS = 6;

// Where the file name starts in `path`: after the last separator, or after a drive.
std::size_t fileNameStart(const std::string& path, const PathRules& rules) {
    std::size_t start = path.find_last_of(rules.separator == '/' ? std::string("/") : std::string("/") + rules.separator);
    start = start == std::string::npos ? 0 : start + 1;
    if (start == 0 && rules.hasDrivePrefixes && path.size() >= 2 && path[1] == ':') start = 2;
    return start;
}

}  // namespace

bool isUnfinishedResourceFileName(std::string_view name) {
    if (name.size() < 1 + UNFINISHED_MARK.size() + UNIQUE_CHARACTERS || name[0] != '.') return false;
    const std::size_t mark = name.size() - UNIQUE_CHARACTERS - UNFINISHED_MARK.size();
    return name.substr(mark, UNFINISHED_MARK.size()) == UNFINISHED_MARK;
}

ResourceOutput::Opened ResourceOutput::open(FileSystem& fs, const PathRules& rules, const std::string& path) {
    // A device, a FIFO or a terminal (also behind a link such as /dev/stdout) is
    // written as it is; a directory, or no name at all, fails there with the
    // system's reason.
    const Result<PathStatus> status = fs.status(path);
    if (path.empty() || (status && status->kind != FileKind::REGULAR)) {
        CreatedOutput created = fs.createOutput(path);
        if (!created.file) return {nullptr, created.error};
        std::unique_ptr<ResourceOutput> output(new ResourceOutput(fs, Mode::DIRECT, path));
        output->file_ = std::move(created.file);
        return {std::move(output), {}};
    }

    // A link keeps pointing where it did: the file it leads to is replaced.
    std::string target = fs.resolveLinks(path);
    const std::size_t nameStart = fileNameStart(target, rules);
    const std::string prefix = target.substr(0, nameStart) + "." + target.substr(nameStart) + std::string(UNFINISHED_MARK);
    CreatedTemporary temporary = fs.createTemporary(prefix, status.ok() ? target : std::string());
    std::unique_ptr<ResourceOutput> output;
    if (temporary.file) {
        output.reset(new ResourceOutput(fs, Mode::REPLACE, std::move(target)));
        output->temporary_ = std::move(temporary.path);
        output->file_ = std::move(temporary.file);
        fs.removeOnInterrupt(output->temporary_);
    } else {
        // The directory allows no new file: the target is written where it is.
        CreatedOutput created = fs.createOutput(target);
        if (!created.file) return {nullptr, created.error};
        output.reset(new ResourceOutput(fs, Mode::IN_PLACE, std::move(target)));
        output->file_ = std::move(created.file);
    }
    output->writtenId_ = output->file_->id();
    if (status) {
        const Result<PathStatus> replaced = fs.status(output->target_);
        if (replaced) output->targetId_ = replaced->id;
    }
    return {std::move(output), {}};
}

ResourceOutput::~ResourceOutput() {
    if (mode_ == Mode::REPLACE && !temporary_.empty()) abandon();
}

bool ResourceOutput::isOwn(const FileId& id) const {
    return (writtenId_ && id == *writtenId_) || (targetId_ && id == *targetId_);
}

SystemResult ResourceOutput::commit() {
    if (mode_ != Mode::REPLACE) return {true, {}};
    close();  // a file must be closed before Windows lets it be renamed
    fs_.removeOnInterrupt({});
    SystemResult renamed = fs_.renameFile(temporary_, target_);
    if (renamed.ok) temporary_.clear();
    return renamed;
}

void ResourceOutput::discard() {
    close();
    if (mode_ == Mode::DIRECT) return;
    if (mode_ == Mode::REPLACE) {
        fs_.removeOnInterrupt({});
        removeIfStill(temporary_, writtenId_);
        temporary_.clear();
        removeIfStill(target_, targetId_);
    } else {
        removeIfStill(target_, writtenId_);
    }
}

bool ResourceOutput::abandon() {
    if (mode_ == Mode::IN_PLACE) {
        // No resource file is better than a partial one that a build takes for complete.
        const bool emptied = file_ && file_->truncate(0);
        close();
        if (!emptied) removeIfStill(target_, writtenId_);
        return emptied;
    }
    close();
    if (mode_ == Mode::REPLACE && !temporary_.empty()) {
        fs_.removeOnInterrupt({});
        removeIfStill(temporary_, writtenId_);
        temporary_.clear();
    }
    return false;
}

void ResourceOutput::removeIfStill(const std::string& path, const std::optional<FileId>& id) {
    if (!id || path.empty()) return;
    const Result<PathStatus> now = fs_.status(path);
    if (now && now->id == id) (void)fs_.removeFile(path);
}
