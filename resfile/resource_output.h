// Where the resource file is written, and how it becomes final, so that a build
// never sees a broken one and a replacement never does what writing the file in
// place could not. The target is first opened through the system, as a shell's
// `>` would; a regular file, or a name that did not exist, is then written as a
// new file beside it that replaces it in one step once complete, when that new file
// can be what the old one was. Otherwise the target is written in place, and is
// left whole or empty, never partial. Anything else (a device, a FIFO, a terminal)
// is written as it is and never removed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

class ResourceOutput {
public:
    enum class Mode {
        REPLACE,   // a new file beside the target, renamed over it when complete
        IN_PLACE,  // the target itself, through the descriptor the system opened
        DIRECT,    // not a regular file: written as it is
    };

    // `emptiedMessage` is what an interrupt of an in-place run says.
    static Result<std::unique_ptr<ResourceOutput>> open(FileSystem& fs, const std::string& path,
                                                        const std::string& emptiedMessage);

    // A file the tool keeps beside a resource file for itself (the record of a run):
    // made new and renamed over whatever its name holds, never written in place or
    // through a link, and given the owner, group and permission bits of `like` (the
    // resource file's) as it is made final.
    static Result<std::unique_ptr<ResourceOutput>> openCompanion(FileSystem& fs, const std::string& path,
                                                                 const std::optional<FileOwnership>& like);

    ~ResourceOutput();
    ResourceOutput(const ResourceOutput&) = delete;
    ResourceOutput& operator=(const ResourceOutput&) = delete;

    OutputFile& file() { return *file_; }
    Mode mode() const { return mode_; }
    // True when the target is where standard output goes.
    bool isStandardOutput() const { return target_->isStandardOutput(); }
    // True for the file being written and for the file it replaces: neither is ever
    // stored as a resource.
    bool isOwn(const FileId& id) const;

    // The run stored something and wrote it all: makes it the resource file. A
    // failure leaves the old file as it was.
    Result<void> commit();
    // What the system says of the file commit() made final, asked of the open file
    // itself so that no file another run renamed over the name answers instead
    // (where the system closes the file to rename it, as it was just before).
    const std::optional<PathStatus>& madeStatus() const { return made_; }
    // The run stored nothing: leaves no resource file behind (an in-place target,
    // which a new file could not replace, is emptied instead).
    void discard();
    // The run failed: the target keeps its old contents. Returns true when the
    // target was being written in place and is left empty instead.
    bool abandon();

private:
    ResourceOutput(std::unique_ptr<OutputTarget> target, Mode mode) : target_(std::move(target)), mode_(mode) {}
    // Writes `replacement`, made beside `target`, until it replaces the target.
    static std::unique_ptr<ResourceOutput> replacing(std::unique_ptr<OutputTarget> target, OutputFile& replacement);
    Result<void> startInPlace(const std::string& emptiedMessage);
    void discardReplacement();

    std::unique_ptr<OutputTarget> target_;
    Mode mode_;
    OutputFile* file_ = nullptr;      // the replacement, or the target itself
    bool replacementPending_ = false;  // REPLACE: the new file exists and has not replaced the target
    std::optional<FileId> writtenId_;  // the file being written
    std::optional<FileId> targetId_;   // the file replaced, when there was one
    std::optional<FileOwnership> like_;  // whose owner and permissions the new file takes
    std::optional<PathStatus> made_;
};

// True for the name a new resource file has while unfinished: the prefix and six
// letters or digits, nothing more. A run that was killed may leave one.
bool isUnfinishedResourceFileName(std::string_view name);
