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
#include <vector>

#include "platform/result.h"

// What kind of thing a path names, after following links.
enum class FileKind {
    REGULAR,    // a regular file
    DIRECTORY,
    SPECIAL,    // a device, FIFO or socket: reading it could block or never end
};

// One entry of a directory listing; `name` has no directory part.
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

// Who may change a file: its owner, its group and its permission bits (POSIX).
struct FileOwnership {
    std::uint32_t user = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;  // the permission bits, 0777 at most
    bool groupMayWrite() const { return (mode & 0020) != 0; }
    bool othersMayWrite() const { return (mode & 0002) != 0; }
};

// What the system says of an existing path (links followed).
struct PathStatus {
    FileKind kind = FileKind::REGULAR;
    bool readOnly = false;
    std::optional<FileId> id;  // nothing where the system would not tell
    std::uint64_t size = 0;
    // The time of the last change, in the system's own units (POSIX: the status
    // change time, which every write moves too; Win32: the last write time).
    std::int64_t changed = 0;
    std::optional<FileOwnership> ownership;  // nothing where the system has no such notion
    bool isDirectory() const { return kind == FileKind::DIRECTORY; }
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

    // Moves the reading to `offset` bytes from the start; false when the input cannot.
    [[nodiscard]] virtual bool seek(std::uint64_t /*offset*/) { return false; }

    // Who may change the file opened; nothing where the system has no such notion.
    virtual std::optional<FileOwnership> ownership() const { return std::nullopt; }
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
    // What the system says of the file written, asked of the open file itself, so
    // that no rename of another file over its name can answer instead.
    virtual std::optional<PathStatus> status() const { return std::nullopt; }
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
    // set-user-ID and set-group-ID bits); a NEW target's keep the default. With
    // `like`, the new file takes those instead, less any execute bit.
    virtual Result<void> adoptOwnership(const std::optional<FileOwnership>& like) = 0;
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

// Receives listed entries one at a time; returning false stops the listing.
using EntryVisitor = std::function<bool(const DirEntry&)>;

// A file of a directory, as a visit of the directory's files hands it out.
class ListedFile {
public:
    virtual const DirEntry& entry() const = 0;
    // Opens the file for reading; a second call gives the same input. The input
    // belongs to this visit: it is valid until the visitor returns, and closed then.
    // Fails for anything that is no regular file by now.
    [[nodiscard]] virtual Result<InputFile*> open() = 0;

protected:
    ~ListedFile() = default;
};

// Receives the files of a directory one at a time; returning false stops the visit.
using FileVisitor = std::function<bool(ListedFile&)>;

// One directory, listed once when it is opened. Only regular files and
// directories (links followed) are listed, never "." and "..": a FIFO, socket,
// device or dangling link could block a reader or fail it.
class Directory {
public:
    virtual ~Directory() = default;
    // The names of the subdirectories, in the platform's order.
    virtual std::vector<std::string> subdirectories() = 0;
    // The files whose names match `pattern`, in the platform's order, by name and
    // kind: nothing is opened.
    virtual void listFiles(const std::string& pattern, const EntryVisitor& visit) = 0;
    // The same files, each with the means to open it. A platform may open and read
    // files ahead of the visitor, in this order; what the visitor opens is still
    // the file as that open found it, its size and identity taken from the open file.
    // What is read ahead belongs to this visit alone and is let go when it returns:
    // the visitor may list or visit this or any other directory meanwhile, and two
    // Directory objects may be visited on two threads at once.
    virtual void visitFiles(const std::string& pattern, const FileVisitor& visit) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // What `path` names, links followed; the reason when it names nothing
    // (SystemError::Kind::MISSING) or the system would not say (a denied search, a
    // link loop, a path too long).
    virtual Result<PathStatus> status(const std::string& path) = 0;

    // Lists the directory at `path`.
    virtual Result<std::unique_ptr<Directory>> openDirectory(const std::string& path) = 0;
    // Visits the entries that `pattern`, a name pattern without a directory part,
    // matches in the current directory, in the platform's order ("." and ".."
    // left out). On Win32 the system resolves the pattern as given, so a drive
    // ("C:*.gif") or a directory part written with '/' is searched there.
    virtual Result<void> search(const std::string& pattern, const EntryVisitor& visit) = 0;

    // Opens a regular file for reading; the input is the caller's. Fails for
    // anything that is no regular file.
    virtual Result<std::unique_ptr<InputFile>> openInput(const std::string& path) = 0;
    // Opens the file a resource file goes to (see OutputTarget).
    virtual Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) = 0;

    // A file the tool keeps beside a resource file for itself (the record of a run),
    // in a directory others may write too: what lies at its name may be planted.
    // Opened for reading without following a link at the end of the path and without
    // waiting; fails for anything that is no regular file (a link, FIFO, device or
    // directory).
    virtual Result<std::unique_ptr<InputFile>> openCompanion(const std::string& path) = 0;
    // The target for writing such a file: nothing at the name is opened, followed or
    // written through; the new file is renamed over whatever the name holds. Always
    // of kind NEW, written by replacement.
    virtual Result<std::unique_ptr<OutputTarget>> openCompanionTarget(const std::string& path) = 0;

    // How many units of PathStatus::changed make a second.
    virtual std::int64_t timeUnitsPerSecond() const = 0;
    // Waits about a millisecond: long enough for the clock that dates changes to move on.
    virtual void waitForClockTick() = 0;
    // Standard output and standard error in binary mode; owned by the file system.
    virtual OutputFile& standardOutput() = 0;
    virtual OutputFile& standardError() = 0;
    // The absolute path of the current directory; nothing where the system would not
    // tell (or a test's file system has none).
    virtual std::optional<std::string> currentDirectory() { return std::nullopt; }
};

// The file system of the platform this build runs on.
FileSystem& realFileSystem();
