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

// What a later run compares to tell whether a file or directory changed: its size,
// the time of its last change (in the system's own units; POSIX: the status change
// time, which every write moves too; Win32: the last write time), and its identity.
struct FileStamp {
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::int64_t changed = 0;
    FileId id;
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

// An output the file system made, or the system's words for why it could not.
struct CreatedOutput {
    std::unique_ptr<OutputFile> file;
    std::string error;
};

// A new file made under a name no other file has, or the system's words for why not.
struct CreatedTemporary {
    std::unique_ptr<OutputFile> file;
    std::string path;
    std::string error;
};

// The outcome of an operation that either works or fails with the system's reason.
struct SystemResult {
    bool ok = false;
    std::string error;
};

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
    // Size, time and identity of an existing file or directory (following links),
    // without opening it.
    virtual std::optional<FileStamp> fileStamp(const std::string& path) = 0;
    // Off: the walk only looks at what it lists and opens nothing, so no file is
    // read ahead of it. On by default.
    virtual void setReadingAhead(bool /*wanted*/) {}

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
    // Creates or truncates `path`.
    virtual CreatedOutput createOutput(const std::string& path) = 0;
    // Creates a new file named `prefix` and six characters more, under a name that
    // no file has yet. With `permissionsOf` naming an existing file, the new file
    // takes its permission bits; otherwise the default for a new file.
    virtual CreatedTemporary createTemporary(const std::string& prefix, const std::string& permissionsOf) = 0;
    // Moves `from` to `to` in one step, replacing what `to` named.
    virtual SystemResult renameFile(const std::string& from, const std::string& to) = 0;
    // The path that a chain of symbolic links at `path` leads to; `path` itself when
    // it is no link (or the system has none).
    virtual std::string resolveLinks(const std::string& path) = 0;
    // Names the file to remove should the process be interrupted (Ctrl-C, a
    // termination request) before it ends; an empty path names none.
    virtual void removeOnInterrupt(const std::string& path) = 0;
    // Standard output and standard error in binary mode; owned by the file system.
    virtual OutputFile& standardOutput() = 0;
    virtual OutputFile& standardError() = 0;
    virtual bool removeFile(const std::string& path) = 0;
};

// The file system of the platform this build runs on.
FileSystem& realFileSystem();
