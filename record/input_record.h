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
#include <vector>

#include "platform/file_system.h"

struct RecordEntry {
    enum Kind : char { FILE = 'F', DIRECTORY = 'D', MISSING = 'M' };
    Kind kind = MISSING;
    std::string path;
    FileStamp stamp;   // FILE and DIRECTORY
    std::string name;  // FILE: the resource name it was stored under, as written; empty when not stored
};

// A change time no stamp has: a file changed too close to the run to be trusted
// (a later change within the same tick of the system's clock would keep its time).
inline constexpr std::int64_t UNTRUSTED_TIME = INT64_MIN;

struct InputRecord {
    std::string key;   // what else decides the resource file: options, specs, other records
    FileStamp output;  // the resource file as the run left it
    std::vector<RecordEntry> entries;

    std::string encode() const;
    // Nothing for bytes that are no record of this version.
    static std::optional<InputRecord> decode(std::string_view bytes);
};

// Where the record of a resource file is kept.
std::string recordPathOf(const std::string& resourceFile);

std::optional<InputRecord> readRecord(FileSystem& fs, const std::string& path);
// Written as a new file beside `path` that replaces it whole.
SystemResult writeRecord(FileSystem& fs, const std::string& path, const InputRecord& record);

// True when two stamps tell of the same file as it was.
bool sameFileStamp(const FileStamp& a, const FileStamp& b);
// The same, for what a walk met: for a directory its identity alone (its time moves
// with every file made in it, left out or not).
bool sameStamp(const RecordEntry& recorded, const RecordEntry& seen);

// Compares what a walk meets, in order, with a record.
class RecordComparison {
public:
    explicit RecordComparison(const InputRecord& record) : record_(record) {}
    // False from the first difference on.
    bool observe(const RecordEntry& seen);
    bool differs() const { return differs_; }
    // The walk met exactly what the record holds.
    bool allSame() const { return !differs_ && next_ == record_.entries.size(); }

private:
    const InputRecord& record_;
    std::size_t next_ = 0;
    bool differs_ = false;
};
