#include "resfile/resource_output.h"

namespace {

bool isLetterOrDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

}  // namespace

bool isUnfinishedResourceFileName(std::string_view name) {
    const std::string_view prefix = UNFINISHED_FILE_PREFIX;
    if (name.size() != prefix.size() + UNFINISHED_FILE_UNIQUE_CHARACTERS || name.substr(0, prefix.size()) != prefix)
        return false;
    for (const char c : name.substr(prefix.size()))
        if (!isLetterOrDigit(c)) return false;
    return true;
}

Result<std::unique_ptr<ResourceOutput>> ResourceOutput::open(FileSystem& fs, const std::string& path,
                                                             const std::string& emptiedMessage) {
    Result<std::unique_ptr<OutputTarget>> opened = fs.openOutputTarget(path);
    if (!opened) return opened.error();
    std::unique_ptr<OutputTarget> target = std::move(*opened);
    const OutputTarget::Kind kind = target->kind();
    std::unique_ptr<ResourceOutput> output;
    if (kind == OutputTarget::Kind::OTHER) {
        output.reset(new ResourceOutput(std::move(target), Mode::DIRECT));
        output->file_ = &output->target_->file();
        return output;
    }
    const std::optional<FileId> targetId =
        kind == OutputTarget::Kind::REGULAR ? target->file().id() : std::optional<FileId>();
    if (target->replaceable()) {
        Result<OutputFile*> replacement = target->createReplacement();
        if (replacement) {
            output = replacing(std::move(target), **replacement);
        } else if (kind == OutputTarget::Kind::NEW || !replacement.error().isDenied()) {
            // No space, no inodes, too many open files: the old file stays as it was.
            return replacement.error();
        }
    }
    if (!output) {
        // Only a directory that refuses new files, or a file a new one could not
        // stand in for, is written where it is.
        output.reset(new ResourceOutput(std::move(target), Mode::IN_PLACE));
        output->file_ = &output->target_->file();
        if (Result<void> started = output->startInPlace(emptiedMessage); !started) return started.error();
    }
    output->writtenId_ = output->file_->id();
    output->targetId_ = targetId;
    return output;
}

Result<std::unique_ptr<ResourceOutput>> ResourceOutput::openCompanion(FileSystem& fs, const std::string& path,
                                                                      const std::optional<FileOwnership>& like) {
    Result<std::unique_ptr<OutputTarget>> opened = fs.openCompanionTarget(path);
    if (!opened) return opened.error();
    Result<OutputFile*> replacement = (*opened)->createReplacement();
    if (!replacement) return replacement.error();
    std::unique_ptr<ResourceOutput> output = replacing(std::move(*opened), **replacement);
    output->writtenId_ = output->file_->id();
    output->like_ = like;
    return output;
}

std::unique_ptr<ResourceOutput> ResourceOutput::replacing(std::unique_ptr<OutputTarget> target, OutputFile& replacement) {
    std::unique_ptr<ResourceOutput> output(new ResourceOutput(std::move(target), Mode::REPLACE));
    output->file_ = &replacement;
    output->replacementPending_ = true;
    return output;
}

Result<void> ResourceOutput::startInPlace(const std::string& emptiedMessage) {
    target_->emptyOnInterrupt(emptiedMessage);
    if (file_->truncate(0)) return {};
    return SystemError{SystemError::Kind::OTHER, file_->errorText()};
}

ResourceOutput::~ResourceOutput() {
    if (replacementPending_) discardReplacement();
}

bool ResourceOutput::isOwn(const FileId& id) const {
    return (writtenId_ && id == *writtenId_) || (targetId_ && id == *targetId_);
}

Result<void> ResourceOutput::commit() {
    switch (mode_) {
    case Mode::DIRECT: return {};
    case Mode::IN_PLACE:
        target_->finishInPlace();
        made_ = file_->status();
        return {};
    case Mode::REPLACE: break;
    }
    Result<void> done = target_->adoptOwnership(like_);
    const std::optional<PathStatus> beforeRename = done ? file_->status() : std::nullopt;
    if (done) done = target_->replace();
    if (!done) {
        discardReplacement();
        return done;
    }
    replacementPending_ = false;
    made_ = file_->status();  // a rename moves a file's change time
    if (!made_) made_ = beforeRename;
    return done;
}

void ResourceOutput::discard() {
    switch (mode_) {
    case Mode::DIRECT: return;
    case Mode::IN_PLACE: (void)target_->empty(); return;
    case Mode::REPLACE:
        discardReplacement();
        if (target_->kind() == OutputTarget::Kind::REGULAR) (void)target_->removeTarget();
        return;
    }
}

bool ResourceOutput::abandon() {
    switch (mode_) {
    case Mode::DIRECT: return false;
    case Mode::IN_PLACE: return target_->empty().ok();  // never partial: empty, and older than any input
    case Mode::REPLACE: discardReplacement(); return false;
    }
    return false;
}

void ResourceOutput::discardReplacement() {
    if (!replacementPending_) return;
    replacementPending_ = false;
    (void)target_->discardReplacement();
}
