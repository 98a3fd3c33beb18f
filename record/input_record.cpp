#include "record/input_record.h"

#include <cstdlib>

namespace {

constexpr std::string_view MAGIC = "raduza-inputs 1\n";

void putNumber(std::string& out, std::uint64_t value) {
    out += std::to_string(value);
    out += ' ';
}

void putStamp(std::string& out, const FileStamp& stamp) {
    putNumber(out, stamp.isDirectory ? 1 : 0);
    putNumber(out, stamp.size);
    putNumber(out, static_cast<std::uint64_t>(stamp.changed));
    putNumber(out, stamp.id.volume);
    putNumber(out, stamp.id.index);
}

// Text of any bytes: its length, a colon, the bytes.
void putText(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool atEnd() const { return at_ == bytes_.size(); }
    bool failed() const { return failed_; }

    std::uint64_t number(char end = ' ') {
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (at_ < bytes_.size() && bytes_[at_] >= '0' && bytes_[at_] <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(bytes_[at_++] - '0');
            ++digits;
        }
        expect(end);
        if (digits == 0 || digits > 20) failed_ = true;
        return value;
    }
    FileStamp stamp() {
        FileStamp stamp;
        stamp.isDirectory = number() != 0;
        stamp.size = number();
        stamp.changed = static_cast<std::int64_t>(number());
        stamp.id.volume = number();
        stamp.id.index = number();
        return stamp;
    }
    std::string text() {
        const std::uint64_t length = number(':');
        if (failed_ || length > bytes_.size() - at_) {
            failed_ = true;
            return {};
        }
        std::string text(bytes_.substr(at_, static_cast<std::size_t>(length)));
        at_ += static_cast<std::size_t>(length);
        return text;
    }
    char byte() {
        if (at_ >= bytes_.size()) {
            failed_ = true;
            return '\0';
        }
        return bytes_[at_++];
    }
    void expect(char c) {
        if (byte() != c) failed_ = true;
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

}  // namespace

std::string InputRecord::encode() const {
    std::string out(MAGIC);
    putText(out, key);
    out += '\n';
    putStamp(out, output);
    out += '\n';
    for (const RecordEntry& entry : entries) {
        out += static_cast<char>(entry.kind);
        out += ' ';
        putStamp(out, entry.stamp);
        putText(out, entry.name);
        putText(out, entry.path);
        out += '\n';
    }
    return out;
}

std::optional<InputRecord> InputRecord::decode(std::string_view bytes) {
    if (bytes.substr(0, MAGIC.size()) != MAGIC) return std::nullopt;
    Reader reader(bytes.substr(MAGIC.size()));
    InputRecord record;
    record.key = reader.text();
    reader.expect('\n');
    record.output = reader.stamp();
    reader.expect('\n');
    while (!reader.failed() && !reader.atEnd()) {
        RecordEntry entry;
        const char kind = reader.byte();
        if (kind != RecordEntry::FILE && kind != RecordEntry::DIRECTORY && kind != RecordEntry::MISSING) return std::nullopt;
        entry.kind = static_cast<RecordEntry::Kind>(kind);
        reader.expect(' ');
        entry.stamp = reader.stamp();
        entry.name = reader.text();
        entry.path = reader.text();
        reader.expect('\n');
        record.entries.push_back(std::move(entry));
    }
    if (reader.failed()) return std::nullopt;
    return record;
}

std::string recordPathOf(const std::string& resourceFile) { return resourceFile + ".inputs"; }

std::optional<InputRecord> readRecord(FileSystem& fs, const std::string& path) {
    const std::unique_ptr<InputFile> input = fs.openInput(path);
    if (!input) return std::nullopt;
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        const std::optional<std::size_t> got = input->read(buffer, sizeof buffer);
        if (!got) return std::nullopt;
        if (*got == 0) break;
        bytes.append(buffer, *got);
    }
    return InputRecord::decode(bytes);
}

SystemResult writeRecord(FileSystem& fs, const std::string& path, const InputRecord& record) {
    // Named as an unfinished resource file is, so no walk ever stores it.
    const std::size_t nameStart = path.find_last_of("/\\") + 1;
    CreatedTemporary temporary =
        fs.createTemporary(path.substr(0, nameStart) + "." + path.substr(nameStart) + ".raduza-", path);
    if (!temporary.file) return {false, temporary.error};
    const std::string bytes = record.encode();
    const bool written = temporary.file->write(bytes.data(), bytes.size());
    const std::string error = written ? std::string() : temporary.file->errorText();
    temporary.file.reset();
    if (!written) {
        (void)fs.removeFile(temporary.path);
        return {false, error};
    }
    SystemResult renamed = fs.renameFile(temporary.path, path);
    if (!renamed.ok) (void)fs.removeFile(temporary.path);
    return renamed;
}

bool sameFileStamp(const FileStamp& a, const FileStamp& b) {
    return a.isDirectory == b.isDirectory && a.size == b.size && a.changed == b.changed && a.id == b.id;
}

bool sameStamp(const RecordEntry& recorded, const RecordEntry& seen) {
    if (recorded.kind != seen.kind || recorded.path != seen.path) return false;
    if (recorded.kind == RecordEntry::DIRECTORY) return recorded.stamp.id == seen.stamp.id;
    return recorded.kind == RecordEntry::MISSING || sameFileStamp(recorded.stamp, seen.stamp);
}

bool RecordComparison::observe(const RecordEntry& seen) {
    if (differs_) return false;
    if (next_ >= record_.entries.size() || !sameStamp(record_.entries[next_], seen)) {
        differs_ = true;
        return false;
    }
    ++next_;
    return true;
}
