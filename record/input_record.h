// The record an updating run keeps beside its resource file: what the run read
// (every path it met, with the size, time and identity of the file there, and every
// directory it listed) and the names it stored. The next updating run walks the
// same way, listing and asking for stamps only, and compares: when nothing differs,
// the resource file would come out the same and is left as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

// What a later run compares to tell whether a file or directory changed: its size,
// the time of its last change and its identity.
struct FileStamp {
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::int64_t changed = 0;
    FileId id;
};

// The stamp of what `path` names, links followed; nothing when it names nothing.
std::optional<FileStamp> stampOf(FileSystem& fs, const std::string& path);
FileStamp stampOf(const PathStatus& status);

// Text of any bytes as the record and its key hold it: its length, a colon, the bytes.
void appendText(std::string& out, std::string_view text);
// The text at the start of `in`, which is moved past it; nothing when none is there.
std::optional<std::string_view> takeText(std::string_view& in);

// One thing a run met. The views point into the record's bytes or the caller's strings.
struct RecordEntry {
    enum Kind : char { FILE = 'F', DIRECTORY = 'D', MISSING = 'M' };
    Kind kind = MISSING;
    std::string_view path;
    FileStamp stamp;        // FILE and DIRECTORY
    std::string_view name;  // FILE: the resource name it was stored under, as written; empty when not stored
    // FILE stored: where its entry lies in the resource file, padding included.
    std::uint64_t entryOffset = 0;
    std::uint64_t entryLength = 0;
};

// A change time no stamp has: a file changed too close to the run to be trusted
// (a later change within the same tick of the system's clock would keep its time).
inline constexpr std::int64_t UNTRUSTED_TIME = INT64_MIN;

// True when a change the system dated `changed` surely happened before `moment`, a
// time of the same clock (`unitsPerSecond` units a second). A file system keeps
// times to its own resolution, cut down: a change dated `changed` may have happened
// at any time up to one step of that resolution later, and a later change within the
// same step keeps the date. The resolution is told by the date itself: whole seconds
// stand for two (FAT keeps even seconds), a date ending in zeros for the power of
// ten they make, any other for the clock's unit.
bool changedBefore(std::int64_t changed, std::int64_t moment, std::int64_t unitsPerSecond);

// Who may have written a record, for it to be believed: the resource file's owner,
// with write permissions no wider than the resource file's. Where the system has no
// owners (nothing on either side), any record is.
bool writtenByResourceFileOwner(const std::optional<FileOwnership>& record, const std::optional<FileOwnership>& resource);

// How large a record of a resource file of `resourceFileSize` bytes may be: a record
// holds a line for each file stored and each path met, so it can outgrow its
// resource file only by so much; anything larger is not read.
std::uint64_t recordSizeLimit(std::uint64_t resourceFileSize);

// Where the record of a resource file is kept: beside it, its name and this.
inline constexpr std::string_view RECORD_SUFFIX = ".inputs";
std::string recordPathOf(const std::string& resourceFile);

// The entries of a record as a run meets them, encoded as they come: a record of
// 100,000 files is one string, not 100,000 objects.
class RecordWriter {
public:
    void add(RecordEntry::Kind kind, std::string_view path, const FileStamp& stamp);
    // The name the entry added last was stored under, and where its entry lies.
    void nameLast(std::string_view name, std::uint64_t entryOffset, std::uint64_t entryLength);
    // Makes room for about `bytes` of entries at once, as large as the last record.
    void expect(std::size_t bytes);
    // Writes the record, headed by `key` and the stamp of the resource file it
    // describes, taken from that file as made. The stamp tells a later edit of the
    // file apart only once the clock has moved past it: the record is begun only
    // then, waiting a few ticks where ticks are short; where they are long (whole
    // seconds) the stamp is written untrusted, and the next run makes the file again.
    Result<void> write(FileSystem& fs, OutputFile& file, std::string_view key, FileStamp output);

private:
    void closeLast();
    std::string entries_;
    bool lastOpen_ = false;  // the last entry still waits for its name
};

// A record read back, its entries decoded one at a time in place.
class RecordReader {
public:
    // The record at `path`, opened without following a link or waiting, when there is
    // one to believe; else why not: the open's error (NOT_REGULAR for a link, FIFO,
    // device or directory at its name), DENIED when written by someone who may not
    // write the resource file, OTHER when larger than its resource file can explain,
    // of another version or cut short. `resource` is the status of the resource file
    // it would describe.
    static Result<RecordReader> read(FileSystem& fs, const std::string& path, const PathStatus& resource);
    const std::string& key() const { return key_; }
    const FileStamp& output() const { return output_; }
    // The next entry; false at the end, and for a damaged record (then failed()).
    bool next(RecordEntry& entry);
    bool failed() const { return failed_; }
    std::size_t byteSize() const { return bytes_.size(); }
    // The lines from here to the end: at most the entries left.
    std::size_t lineCount() const;
    // Back to the first entry.
    void rewind() { at_ = firstEntry_; }

private:
    std::string bytes_;
    std::size_t firstEntry_ = 0;
    std::size_t at_ = 0;
    std::string key_;
    FileStamp output_;
    bool failed_ = false;
};

// True when two stamps tell of the same file as it was.
bool sameFileStamp(const FileStamp& a, const FileStamp& b);

// A record's entries in the order the run met them. The views point into the
// reader's bytes, which must outlive them.
class RecordedEntries {
public:
    // The entries `record` has left; fails for a damaged record.
    static Result<RecordedEntries> of(RecordReader& record);
    std::size_t size() const { return entries_.size(); }
    const RecordEntry& operator[](std::size_t i) const { return entries_[i]; }

    // The position of the entry of `path`, for a walk that meets nearly the same
    // paths in nearly the same order as the recorded run: looked for where the last
    // one found left off, just after it, then anywhere. Nothing when no entry has it.
    std::optional<std::size_t> follow(std::string_view path);

private:
    std::vector<RecordEntry> entries_;
    std::size_t next_ = 0;
    // Each path's first position, made when a path is first looked for out of order.
    std::unordered_map<std::string_view, std::size_t> positions_;
};

// Compares what a walk meets, in order, with a record.
class RecordComparison {
public:
    explicit RecordComparison(RecordReader& record) : record_(record) {}
    // False from the first difference on. A directory is compared by its identity
    // alone: its time moves with every file made in it, left out or not.
    bool observe(RecordEntry::Kind kind, std::string_view path, const FileStamp& stamp);
    bool differs() const { return differs_; }
    // The walk met exactly what the record holds.
    bool allSame();
    // How many entries, from the first, the walk met as recorded.
    std::size_t matched() const { return matched_; }

private:
    RecordReader& record_;
    std::size_t matched_ = 0;
    bool differs_ = false;
};
