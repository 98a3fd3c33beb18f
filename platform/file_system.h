// The operating-system services the tool needs, behind one interface so the tool's
// logic runs unchanged against the real file system or an in-memory fake. Only
// operations of the system live here; the tool's rules on top of them do not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/result.h"

// What a path query reports about an existing file or directory.
struct PathStatus {
    bool isDirectory = false;
    bool readOnly = false;
    bool isSpecial = false;  // neither a regular file nor a directory: a device, FIFO or socket
};

// Whether a path names something. UNREACHABLE: something may be there, but the
// system would not say (no search permission, a path too long, a link loop).
enum class Existence { EXISTS, MISSING, UNREACHABLE };

// One entry of a directory enumeration; `name` has no directory part.
struct DirEntry {
    std::string name;
    bool isDirectory = false;
    bool isHidden = false;
    bool isSystem = false;
};

// Identifies a file or directory across different paths to it
// (POSIX: device and inode; Win32: volume serial and file index).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};

// A file opened for reading. Size and identity come from the open file, so they
// describe exactly what will be read.
class InputFile {
public:
    virtual ~InputFile() = default;
    virtual std::uint64_t size() const = 0;
    virtual FileId id() const = 0;
    // Reads up to `capacity` bytes. Returns the count read (0 at the end of the
    // file), or nothing when the read failed.
    [[nodiscard]] virtual std::optional<std::size_t> read(char* buffer, std::size_t capacity) = 0;

    // True when the last read delivered fewer bytes than asked because the file
    // ended there, as a regular file's reads do: the end is then known without a
    // read that returns nothing. False tells nothing; the caller reads again.
    virtual bool readReachedEnd() const { return false; }
};

// A byte sink: the resource file or standard output. Writes are handed straight
// to the OS; the caller does its own buffering.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes all `size` bytes; false when any of them could not be written.
    [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
    // Cuts the file back to `size` bytes and continues writing there; false when
    // the output cannot do that (a pipe, a console) or the OS refused.
    [[nodiscard]] virtual bool truncate(std::uint64_t size) = 0;
    // Identity of the file behind the output, when it is a regular file.
    virtual std::optional<FileId> id() const = 0;
    // The system's words for why the last failed write or truncate failed.
    virtual std::string errorText() const = 0;
    // Appends up to `count` bytes of `input`, from where its reading stands, copied
    // by the system without passing through this process. Returns how many were
    // copied (0 when the input has ended), or nothing when the system cannot copy
    // between these two files or either side failed: the caller then copies the
    // ordinary way from where this stopped, and meets any failure itself.
    virtual std::optional<std::uint64_t> copyFrom(InputFile& /*input*/, std::uint64_t /*count*/) { return std::nullopt; }
};

// The file a resource file goes to, opened by its path as given for writing, with
// creation allowed and nothing truncated: the open a shell's `>` makes, less the
// truncation, so that the system applies its permissions, read-only file systems,
// ACLs and its protections of links and sticky directories. A link is followed only
// as far as that open followed it; any name found for the file afterwards is
// checked against the open file's identity before it is used.
class OutputTarget {
public:
    enum class Kind {
        NEW,      // the open created it, and it was removed again at once
        REGULAR,  // an existing regular file
        OTHER,    // a device, FIFO, terminal or socket: written as it is, never removed
    };
    virtual ~OutputTarget() = default;
    virtual Kind kind() const = 0;
    // The target as opened, to write it in place (REGULAR) or as it is (OTHER); not
    // to be used once a replacement was made.
    virtual OutputFile& file() = 0;
    // True when the target is the file or device standard output writes to.
    virtual bool isStandardOutput() const = 0;
    // True when a new file renamed over the target's name can be what the target
    // is: a regular file whose owner and group the new file can keep, with nothing a
    // rename would lose (an ACL, file capabilities). NEW targets always can.
    virtual bool replaceable() const = 0;

    // Makes the new file in the target's directory, held open since the target was
    // opened, under a name of the shape of unfinished files. An interrupt removes it
    // until it replaces the target or is discarded. DENIED: the directory refuses
    // new files by its permissions.
    virtual Result<OutputFile*> createReplacement() = 0;
    // Gives the new file the target's owner, group and permission bits (never the
    // set-user-ID and set-group-ID bits); a NEW target's keep the default.
    virtual Result<void> adoptOwnership() = 0;
    // Renames the new file over the target's name. Interrupts are held from just
    // before the rename until the process ends, so the run ends as it finished.
    virtual Result<void> replace() = 0;
    // Removes the new file, when its name still names it.
    virtual bool discardReplacement() = 0;

    // Removes the target's name, when it still names the file opened.
    virtual bool removeTarget() = 0;
    // From now on an interrupt cuts the target to zero length, sets its modification
    // time to the epoch and writes `message` to standard error before the process
    // dies of the signal.
    virtual void emptyOnInterrupt(const std::string& message) = 0;
    // Cuts the target to zero length and sets its modification time to the epoch, so
    // that no build takes it for complete and up to date.
    virtual Result<void> empty() = 0;
    // The target is complete in place: interrupts are held until the process ends.
    virtual void finishInPlace() = 0;
};

// Where a new file being written beside its target is named while unfinished:
// this prefix and six letters or digits.
inline constexpr char UNFINISHED_FILE_PREFIX[] = ".raduza-unfinished-";
inline constexpr std::size_t UNFINISHED_FILE_UNIQUE_CHARACTERS = 6;

// Receives enumerated entries one at a time; returning false stops the enumeration.
using EntryVisitor = std::function<bool(const DirEntry&)>;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Nothing for a path that names nothing (or cannot be reached).
    virtual std::optional<PathStatus> queryPath(const std::string& path) = 0;
    virtual Existence pathExists(const std::string& path) = 0;
    // Identity of an existing file or directory (following links).
    virtual std::optional<FileId> fileId(const std::string& path) = 0;

    // Visits the entries of `dir` whose names match `pattern`, in the platform's
    // order; `*.*` visits every entry, "." and ".." included. An empty `dir` runs the
    // search `pattern` as given, against the current directory (on Win32 it may then
    // carry a drive or a directory part). Returns false when the directory could not
    // be read (an empty match is not a failure).
    virtual bool enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) = 0;
    // Visits the directories among the entries of `dir`, "." and ".." left out, as
    // enumerate(dir, "*.*") would. A platform that can tell directories apart while
    // listing skips the files there, so a large directory is not sorted for nothing.
    virtual bool enumerateSubdirectories(const std::string& dir, const EntryVisitor& visit) {
        return enumerate(dir, "*.*", [&](const DirEntry& entry) {
            return !entry.isDirectory || entry.name == "." || entry.name == ".." || visit(entry);
        });
    }

    // Nothing when the file cannot be opened (also when it is not a regular file).
    virtual std::unique_ptr<InputFile> openInput(const std::string& path) = 0;
    // Opens the file a resource file goes to (see OutputTarget).
    virtual Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) = 0;
    // Standard output and standard error in binary mode; owned by the file system.
    virtual OutputFile& standardOutput() = 0;
    virtual OutputFile& standardError() = 0;
};

// The file system of the platform this build runs on.
FileSystem& realFileSystem();
