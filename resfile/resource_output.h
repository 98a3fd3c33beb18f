// Where the resource file is written, and how it becomes final, so that a build
// never sees a broken one. A regular file, or a name that does not exist yet, is
// written as a new file beside it that replaces it in one step once complete: a
// failed or interrupted run leaves the old file as it was. Anything else (a device,
// a FIFO, a terminal) is written directly and never removed or renamed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/path_rules.h"

class ResourceOutput {
public:
    enum class Mode {
        REPLACE,   // a new file beside the target, renamed over it when complete
        IN_PLACE,  // no new file could be made beside the target: the target itself
        DIRECT,    // not a regular file: written as it is
    };

    struct Opened {
        std::unique_ptr<ResourceOutput> output;
        std::string error;  // why it could not be opened, in the system's words
    };
    static Opened open(FileSystem& fs, const PathRules& rules, const std::string& path);

    ~ResourceOutput();
    ResourceOutput(const ResourceOutput&) = delete;
    ResourceOutput& operator=(const ResourceOutput&) = delete;

    OutputFile& file() { return *file_; }
    // The path of the file being written: the new file beside the target, or the target.
    const std::string& writtenPath() const { return mode_ == Mode::REPLACE ? temporary_ : target_; }
    Mode mode() const { return mode_; }
    // True for the file being written and for the file it replaces: neither is ever
    // stored as a resource.
    bool isOwn(const FileId& id) const;

    // The run stored something and wrote it all: makes it the resource file.
    SystemResult commit();
    // The run stored nothing: leaves no resource file behind.
    void discard();
    // The run failed: the target keeps its old contents. Returns true when the
    // target was being written in place and is left empty instead.
    bool abandon();

private:
    ResourceOutput(FileSystem& fs, Mode mode, std::string target) : fs_(fs), mode_(mode), target_(std::move(target)) {}
    void close() { file_.reset(); }
    // Removes `path` only while it is still the file `id` names.
    void removeIfStill(const std::string& path, const std::optional<FileId>& id);

    FileSystem& fs_;
    Mode mode_;
    std::string target_;     // the file the resource file goes to, links followed
    std::string temporary_;  // REPLACE: the new file beside it
    std::unique_ptr<OutputFile> file_;
    std::optional<FileId> writtenId_;  // the file being written
    std::optional<FileId> targetId_;   // the file replaced, when there was one
};

// The name a new resource file has beside `target` until it replaces it:
// ".out.res.raduza-" and six characters more. A run that was killed leaves one.
bool isUnfinishedResourceFileName(std::string_view name);
