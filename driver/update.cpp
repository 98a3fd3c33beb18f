#include "driver/update.h"

#include "driver/raduza.h"
#include "filespec/resource_name.h"

namespace {

// True when `path` names the file standard output writes to.
bool namesStandardOutput(FileSystem& fs, const std::string& path) {
    const Result<PathStatus> status = fs.status(path);
    const std::optional<FileId> standard = fs.standardOutput().id();
    return status && status->id && standard && *status->id == *standard;
}

}  // namespace

// The sink of the check: compares what the pass meets, in order, with the record,
// and stops at the first difference. It opens nothing and says nothing.
class Update::Check final : public FileSink {
public:
    Check(RADUza& tool, RecordComparison& comparison, const FileId& resource)
        : tool_(tool), comparison_(comparison), resource_(resource) {}

    void fileNamed(const std::string& path) override {
        std::optional<FileStamp> stamp = stampOf(tool_.fs_, path);
        // The resource file being checked is never an input of it either.
        if (stamp && (tool_.isOwnFile(path, stamp->id) || stamp->id == resource_)) return;
        (void)comparison_.observe(stamp ? RecordEntry::FILE : RecordEntry::MISSING, path, stamp.value_or(FileStamp{}));
    }
    void fileFound(const std::string& path, ListedFile&) override { fileNamed(path); }
    void directoryMet(const std::string& path) override {
        const std::optional<FileStamp> stamp = stampOf(tool_.fs_, path);
        (void)comparison_.observe(stamp ? RecordEntry::DIRECTORY : RecordEntry::MISSING, path, stamp.value_or(FileStamp{}));
    }
    bool opensFiles() const override { return false; }
    bool stopped() const override { return comparison_.differs(); }

private:
    RADUza& tool_;
    RecordComparison& comparison_;
    const FileId resource_;
};

Update::Verdict Update::check() {
    if (!tool_.resFile) {
        tool_.msg<MSG_UPDATE_NEEDS_FILE>();
        return Verdict::REFUSED;
    }
    if (!upToDate()) return Verdict::MAKE;
    if (!tool_.isSet(OPT_QUIET)) tool_.msg<MSG_UP_TO_DATE>(tool_.resFile->c_str());
    return Verdict::UP_TO_DATE;
}

bool Update::upToDate() {
    const std::string& resFile = *tool_.resFile;
    if (namesStandardOutput(tool_.fs_, resFile)) return false;  // nothing there to compare, and no record of it
    const Result<PathStatus> resource = tool_.fs_.status(resFile);
    Result<RecordReader> record = tool_.readRecordOf(resFile, resource);
    if (!record || record->key() != key_) return false;
    earlierRecord_.emplace(std::move(*record));
    if (!resource || !sameFileStamp(stampOf(*resource), earlierRecord_->output())) return false;

    RecordComparison comparison(*earlierRecord_);
    Check check(tool_, comparison, stampOf(*resource).id);
    tool_.specPass(check);
    if (comparison.allSame()) return true;
    // Something changed: the run may copy what did not from the resource file.
    verified_ = comparison.matched();
    earlierRecord_->rewind();
    if (Result<RecordedEntries> entries = RecordedEntries::of(*earlierRecord_)) earlierEntries_.emplace(std::move(*entries));
    return false;
}

FileSink& Update::around(FileSink& store) {
    store_ = &store;
    startRecording();
    startReusing();
    return *this;
}

void Update::startRecording() {
    const ResourceOutput& output = *tool_.resourceOutput_;
    if (output.mode() == ResourceOutput::Mode::DIRECT || output.isStandardOutput()) return;
    recording_ = true;
    // A file not surely changed before this may change again within the same step of
    // its file system's clock after it was read, keeping its time: its stamp is not
    // trusted, and the next run makes the resource file again.
    if (const std::optional<PathStatus> made = tool_.resourceOutput_->file().status()) runStart_ = made->changed;
}

void Update::startReusing() {
    // Every padding byte is announced under -show_padding: nothing is copied unseen then.
    if (!earlierEntries_ || tool_.isSet(OPT_SHOW_PADDING) || tool_.resourceOutput_->mode() != ResourceOutput::Mode::REPLACE)
        return;
    // The file the record describes, still: what it holds is copied without a look. It
    // must be the file the output's open reached, whose replacement takes its owner and
    // permissions, so that no name swapped in between makes the run copy another file.
    Result<std::unique_ptr<InputFile>> earlier = tool_.fs_.openInput(*tool_.resFile);
    const FileStamp& described = earlierRecord_->output();
    if (!earlier || (*earlier)->id() != described.id || (*earlier)->size() != described.size ||
        !tool_.resourceOutput_->isOwn((*earlier)->id()))
        return;
    earlier_ = std::make_unique<EarlierEntries>(std::move(*earlier), *tool_.out);
    record_.expect(earlierRecord_->byteSize());
}

void Update::fileNamed(const std::string& path) {
    TrackedFile tracked;
    if (!trackFile(path, tracked)) return;
    if (earlier_) {
        ++filesMet_;
        if (tracked.earlier && tracked.stamp && reuseEntry(path, *tracked.earlier, *tracked.stamp)) return;
        ++filesRead_;
    }
    store_->fileNamed(path);
}

void Update::fileFound(const std::string& path, ListedFile& file) {
    TrackedFile tracked;
    if (trackFile(path, tracked)) store_->fileFound(path, file);
}

void Update::directoryMet(const std::string& path) {
    if (!recording_) return;
    if (earlier_) (void)earlierEntries_->follow(path);  // keeps the record's order
    const std::optional<FileStamp> stamp = stampOf(tool_.fs_, path);
    record_.add(stamp ? RecordEntry::DIRECTORY : RecordEntry::MISSING, path, stamp.value_or(FileStamp{}));
}

bool Update::trackFile(const std::string& path, TrackedFile& tracked) {
    if (store_->stopped()) return false;
    if (!recording_) return true;
    std::optional<FileStamp> stamp = stampFollowingRecord(path, tracked.earlier);
    if (!stamp) {
        record_.add(RecordEntry::MISSING, path, FileStamp{});
        return true;
    }
    if (tool_.isOwnFile(path, stamp->id)) return false;
    tracked.stamp = stamp;
    if (!runStart_ || !changedBefore(stamp->changed, *runStart_, tool_.fs_.timeUnitsPerSecond()))
        stamp->changed = UNTRUSTED_TIME;
    record_.add(RecordEntry::FILE, path, *stamp);
    return true;
}

std::optional<FileStamp> Update::stampFollowingRecord(const std::string& path, const RecordEntry*& earlier) {
    earlier = nullptr;
    if (!earlier_) return stampOf(tool_.fs_, path);
    const std::optional<std::size_t> at = earlierEntries_->follow(path);
    if (!at) return stampOf(tool_.fs_, path);
    earlier = &(*earlierEntries_)[*at];
    // The check before this run found the first entries as recorded: not asked again.
    if (*at >= verified_) return stampOf(tool_.fs_, path);
    if (earlier->kind == RecordEntry::MISSING) return std::nullopt;
    return earlier->stamp;
}

bool Update::reuseEntry(const std::string& path, const RecordEntry& earlier, const FileStamp& stamp) {
    const std::uint64_t earlierSize = earlierRecord_->output().size;
    if (recordLied_ || earlier.kind != RecordEntry::FILE || earlier.entryLength == 0 ||
        earlier.entryLength > earlierSize || earlier.entryOffset > earlierSize - earlier.entryLength ||
        !sameFileStamp(earlier.stamp, stamp) || stamp.size > RES_MAX_DATA_SIZE)
        return false;
    deriveResourceName(path, tool_.isSet(OPT_JUNK), tool_.rules_, nameStorage_);
    // The entry must be where the record says, whole: the header this run would
    // write, at that offset. A record that lies costs reading the files again, never
    // a wrong resource file.
    const std::uint64_t length =
        EntryWriter::headerBytesOf(nameStorage_, static_cast<std::uint32_t>(stamp.size), headerStorage_);
    if (length != earlier.entryLength || !earlier_->holdsAt(earlier.entryOffset, headerStorage_)) {
        recordLied_ = true;
        return false;
    }
    tool_.curName = nameStorage_;
    if (const std::optional<RADUza::NameClaim> claim = tool_.claimFor(path)) {
        const std::uint64_t at = earlier_->nextEntryOffset();
        earlier_->add(earlier.entryOffset, earlier.entryLength);
        tool_.recordStored(path, *claim, EntrySpan{at, earlier.entryLength});
    }
    tool_.curName = {};
    return true;
}

void Update::entryStored(std::string_view key, EntrySpan span) {
    if (recording_) record_.nameLast(key, span.offset, span.length);
}

bool Update::flushHeld() {
    if (!earlier_ || store_->stopped()) return store_->flushHeld();
    const Result<void> copied = earlier_->flush();
    if (copied) return true;
    if (tool_.out->failed()) {
        tool_.outputFailed(copied.error().text);
    } else {
        tool_.meet(RADUza::Trouble::HALTED);
        tool_.msg<MSG_EARLIER_UNREADABLE>(tool_.resFile->c_str(), copied.error().text.c_str());
    }
    return false;
}

void Update::runEnded(RunEnd end) {
    if (end == RunEnd::KEPT) writeRunRecord();  // a damaged entry must be made again next time
    if (end == RunEnd::FAILED && earlier_ && earlier_->failed()) forgetRecord();
}

void Update::writeRunRecord() {
    if (!recording_) return;
    const std::string recordPath = recordPathOf(*tool_.resFile);
    // The file this run made, as it was made: another run may have renamed its own over the name since.
    const std::optional<PathStatus>& made = tool_.resourceOutput_->madeStatus();
    if (!made || !made->id) return;  // without it the record matches nothing: the next run makes the file again
    const FileStamp output = stampOf(*made);
    // Written as safely as the resource file, and never where anyone but its owner could have put it.
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::openCompanion(tool_.fs_, recordPath, made->ownership);
    Result<void> written =
        opened ? record_.write(tool_.fs_, (*opened)->file(), key_, output) : Result<void>(opened.error());
    if (written) written = (*opened)->commit();
    if (written) return;
    if (opened) (void)(*opened)->abandon();
    tool_.msg<MSG_RECORD_NOT_WRITTEN>(recordPath.c_str(), written.error().text.c_str());
}

// Leaves an empty record: without it the next run would try the same file and fail the same way.
void Update::forgetRecord() {
    const Result<PathStatus> resource = tool_.fs_.status(*tool_.resFile);
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::openCompanion(
        tool_.fs_, recordPathOf(*tool_.resFile), resource ? resource->ownership : std::nullopt);
    if (opened && !(*opened)->commit()) (void)(*opened)->abandon();
}
