#include "record/input_record.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view MAGIC = "raduza-inputs 3\n";

void putNumber(std::string& out, std::uint64_t value) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(end.ptr - digits));
    out += ' ';
}

void putStamp(std::string& out, const FileStamp& stamp) {
    putNumber(out, stamp.isDirectory ? 1 : 0);
    putNumber(out, stamp.size);
    putNumber(out, static_cast<std::uint64_t>(stamp.changed));
    putNumber(out, stamp.id.volume);
    putNumber(out, stamp.id.index);
}

// Reads the encodings above from `bytes` at `at`; any misfit sets `failed`.
struct Decoder {
    std::string_view bytes;
    std::size_t& at;
    bool& failed;

    char byte() {
        if (at >= bytes.size()) {
            failed = true;
            return '\0';
        }
        return bytes[at++];
    }
    void expect(char c) {
        if (byte() != c) failed = true;
    }
    std::uint64_t number(char end) {
        std::uint64_t value = 0;
        const char* first = bytes.data() + at;
        const std::from_chars_result parsed = std::from_chars(first, bytes.data() + bytes.size(), value);
        if (parsed.ec != std::errc() || parsed.ptr == first) failed = true;
        at += static_cast<std::size_t>(parsed.ptr - first);
        expect(end);
        return value;
    }
    FileStamp stamp() {
        FileStamp stamp;
        stamp.isDirectory = number(' ') != 0;
        stamp.size = number(' ');
        stamp.changed = static_cast<std::int64_t>(number(' '));
        stamp.id.volume = number(' ');
        stamp.id.index = number(' ');
        return stamp;
    }
    std::string_view text() {
        const std::uint64_t length = number(':');
        if (failed || length > bytes.size() - at) {
            failed = true;
            return {};
        }
        const std::string_view text = bytes.substr(at, static_cast<std::size_t>(length));
        at += static_cast<std::size_t>(length);
        return text;
    }
};

}  // namespace

void appendText(std::string& out, std::string_view text) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, text.size());
    out.append(digits, static_cast<std::size_t>(end.ptr - digits));
    out += ':';
    out += text;
}

std::optional<std::string_view> takeText(std::string_view& in) {
    std::size_t at = 0;
    bool failed = false;
    const std::string_view text = Decoder{in, at, failed}.text();
    if (failed) return std::nullopt;
    in.remove_prefix(at);
    return text;
}

std::string recordPathOf(const std::string& resourceFile) { return resourceFile + std::string(RECORD_SUFFIX); }

void RecordWriter::add(RecordEntry::Kind kind, std::string_view path, const FileStamp& stamp) {
    closeLast();
    entries_ += static_cast<char>(kind);
    entries_ += ' ';
    putStamp(entries_, stamp);
    appendText(entries_, path);
    lastOpen_ = true;
}

void RecordWriter::nameLast(std::string_view name, std::uint64_t entryOffset, std::uint64_t entryLength) {
    if (!lastOpen_) return;
    appendText(entries_, name);
    entries_ += ' ';
    putNumber(entries_, entryOffset);
    putNumber(entries_, entryLength);
    entries_ += '\n';
    lastOpen_ = false;
}

void RecordWriter::closeLast() { nameLast({}, 0, 0); }

void RecordWriter::expect(std::size_t bytes) { entries_.reserve(bytes); }

namespace {

// Begins the record with its first line, again and again until its change time lies
// past `output`'s step of the clock, for a few milliseconds at the most; false when
// it never did. A change is what moves the time, so the line is written anew each time.
Result<bool> beginPastStamp(FileSystem& fs, OutputFile& file, const FileStamp& output) {
    constexpr int MOST_TICKS_WAITED = 100;
    for (int waited = 0;; ++waited) {
        if ((waited > 0 && !file.truncate(0)) || !file.write(MAGIC.data(), MAGIC.size()))
            return SystemError{SystemError::Kind::OTHER, file.errorText()};
        const std::optional<PathStatus> now = file.status();
        if (!now) return false;
        if (changedBefore(output.changed, now->changed, fs.timeUnitsPerSecond())) return true;
        // Steps of a second or more are not waited out: a build would stall.
        if (!changedBefore(output.changed, output.changed + fs.timeUnitsPerSecond() / 10, fs.timeUnitsPerSecond()) ||
            waited == MOST_TICKS_WAITED)
            return false;
        fs.waitForClockTick();
    }
}

}  // namespace

Result<void> RecordWriter::write(FileSystem& fs, OutputFile& file, std::string_view key, FileStamp output) {
    closeLast();
    const Result<bool> past = beginPastStamp(fs, file, output);
    if (!past) return past.error();
    if (!*past) output.changed = UNTRUSTED_TIME;
    std::string head;
    appendText(head, key);
    head += '\n';
    putStamp(head, output);
    head += '\n';
    if (file.write(head.data(), head.size()) && file.write(entries_.data(), entries_.size())) return {};
    return SystemError{SystemError::Kind::OTHER, file.errorText()};
}

Result<RecordReader> RecordReader::read(FileSystem& fs, const std::string& path, const PathStatus& resource) {
    const Result<std::unique_ptr<InputFile>> opened = fs.openCompanion(path);
    if (!opened) return opened.error();
    InputFile* input = opened->get();
    if (!writtenByResourceFileOwner(input->ownership(), resource.ownership))
        return SystemError{SystemError::Kind::DENIED, "written by another"};
    const std::uint64_t limit = recordSizeLimit(resource.size);
    const SystemError tooLarge{SystemError::Kind::OTHER, "larger than its resource file explains"};
    if (input->size() > limit) return tooLarge;
    RecordReader reader;
    // Read straight into place, one byte more than its size so that the end is met;
    // never more than the limit, however the file grows meanwhile.
    std::size_t filled = 0;
    reader.bytes_.resize(static_cast<std::size_t>(input->size()) + 1);
    for (;;) {
        if (filled == reader.bytes_.size()) {
            if (filled > limit) return tooLarge;
            reader.bytes_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(filled * 2, limit + 1)));
        }
        const std::optional<std::size_t> got = input->read(&reader.bytes_[filled], reader.bytes_.size() - filled);
        if (!got) return SystemError{SystemError::Kind::OTHER, "it could not be read"};
        if (*got == 0) break;
        filled += *got;
    }
    reader.bytes_.resize(filled);
    const SystemError damaged{SystemError::Kind::OTHER, "of another version, or damaged"};
    if (std::string_view(reader.bytes_).substr(0, MAGIC.size()) != MAGIC) return damaged;
    reader.at_ = MAGIC.size();
    Decoder decoder{reader.bytes_, reader.at_, reader.failed_};
    reader.key_ = std::string(decoder.text());
    decoder.expect('\n');
    reader.output_ = decoder.stamp();
    decoder.expect('\n');
    if (reader.failed_) return damaged;
    reader.firstEntry_ = reader.at_;
    return reader;
}

bool changedBefore(std::int64_t changed, std::int64_t moment, std::int64_t unitsPerSecond) {
    if (changed == UNTRUSTED_TIME) return false;
    std::int64_t step = 1;
    if (changed % unitsPerSecond == 0) {
        step = 2 * unitsPerSecond;
    } else {
        while (step < unitsPerSecond && changed % (step * 10) == 0) step *= 10;
    }
    return changed < moment && static_cast<std::uint64_t>(moment) - static_cast<std::uint64_t>(changed) >=
                                   static_cast<std::uint64_t>(step);
}

bool writtenByResourceFileOwner(const std::optional<FileOwnership>& record, const std::optional<FileOwnership>& resource) {
    if (!record || !resource) return !record && !resource;
    if (record->user != resource->user) return false;
    if (record->othersMayWrite() && !resource->othersMayWrite()) return false;
    return !record->groupMayWrite() || (resource->groupMayWrite() && record->group == resource->group);
}

std::uint64_t recordSizeLimit(std::uint64_t resourceFileSize) {
    constexpr std::uint64_t BASE = std::uint64_t{64} << 20;
    return BASE + std::min<std::uint64_t>(resourceFileSize, UINT64_MAX / 8) * 4;
}

std::size_t RecordReader::lineCount() const {
    return static_cast<std::size_t>(std::count(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes_.end(), '\n'));
}

bool RecordReader::next(RecordEntry& entry) {
    if (failed_ || at_ == bytes_.size()) return false;
    Decoder decoder{bytes_, at_, failed_};
    const char kind = decoder.byte();
    if (kind != RecordEntry::FILE && kind != RecordEntry::DIRECTORY && kind != RecordEntry::MISSING) failed_ = true;
    entry.kind = static_cast<RecordEntry::Kind>(kind);
    decoder.expect(' ');
    entry.stamp = decoder.stamp();
    entry.path = decoder.text();
    entry.name = decoder.text();
    decoder.expect(' ');
    entry.entryOffset = decoder.number(' ');
    entry.entryLength = decoder.number(' ');
    decoder.expect('\n');
    return !failed_;
}

std::optional<FileStamp> stampOf(FileSystem& fs, const std::string& path) {
    const Result<PathStatus> status = fs.status(path);
    if (!status) return std::nullopt;
    return stampOf(*status);
}

FileStamp stampOf(const PathStatus& status) {
    return FileStamp{status.isDirectory(), status.size, status.changed, status.id.value_or(FileId{})};
}

bool sameFileStamp(const FileStamp& a, const FileStamp& b) {
    return a.isDirectory == b.isDirectory && a.size == b.size && a.changed == b.changed && a.id == b.id;
}

Result<RecordedEntries> RecordedEntries::of(RecordReader& record) {
    RecordedEntries recorded;
    // Entries are the record's lines: counted first, so that none is moved twice.
    recorded.entries_.reserve(record.lineCount());
    RecordEntry entry;
    while (record.next(entry)) recorded.entries_.push_back(entry);
    if (record.failed()) return SystemError{SystemError::Kind::OTHER, "damaged"};
    return recorded;
}

std::optional<std::size_t> RecordedEntries::follow(std::string_view path) {
    // A file added or removed since shifts the rest by one: looked for a little way on.
    constexpr std::size_t LOOK_AHEAD = 4;
    for (std::size_t i = next_; i < entries_.size() && i <= next_ + LOOK_AHEAD; ++i) {
        if (entries_[i].path == path) {
            next_ = i + 1;
            return i;
        }
    }
    if (positions_.empty()) {
        positions_.reserve(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i) positions_.emplace(entries_[i].path, i);
    }
    const auto found = positions_.find(path);
    if (found == positions_.end()) return std::nullopt;
    next_ = found->second + 1;
    return found->second;
}

bool RecordComparison::observe(RecordEntry::Kind kind, std::string_view path, const FileStamp& stamp) {
    if (differs_) return false;
    RecordEntry recorded;
    const bool same = record_.next(recorded) && recorded.kind == kind && recorded.path == path &&
                      (kind == RecordEntry::MISSING ||
                       (kind == RecordEntry::DIRECTORY ? recorded.stamp.id == stamp.id
                                                       : sameFileStamp(recorded.stamp, stamp)));
    differs_ = !same;
    matched_ += same ? 1 : 0;
    return same;
}

bool RecordComparison::allSame() {
    RecordEntry more;
    return !differs_ && !record_.next(more) && !record_.failed();
}
