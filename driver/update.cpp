// Updating a resource file only when what it holds would change (-u), the names
// other resource files hold (-n), names that must not be shared (-d). The record
// and its comparison are record/'s; here is when the run looks, records and says what.
#include <algorithm>

#include "driver/raduza.h"
#include "filespec/resource_name.h"
#include "util/ascii.h"

namespace {

// Bumped whenever the tool would write other bytes for the same inputs.
constexpr std::string_view RECORD_KEY_VERSION = "2";

// The directory the run that wrote `key` ran in, which its paths are relative to:
// the first field after the version. Nothing when the key has none.
std::optional<std::string> directoryOfKey(std::string_view key) {
    if (key.substr(0, RECORD_KEY_VERSION.size()) != RECORD_KEY_VERSION) return std::nullopt;
    key.remove_prefix(RECORD_KEY_VERSION.size());
    const std::optional<std::string_view> directory = takeText(key);
    if (!directory || directory->empty()) return std::nullopt;
    return std::string(*directory);
}

std::string stampText(const FileStamp& stamp) {
    return std::to_string(stamp.size) + ' ' + std::to_string(stamp.changed) + ' ' + std::to_string(stamp.id.volume) +
           ' ' + std::to_string(stamp.id.index);
}

}  // namespace

std::optional<RecordReader> RADUza::readRecordOf(const std::string& resourceFile, const Result<PathStatus>& resource) {
    const std::string recordPath = recordPathOf(resourceFile);
    RecordReader::Refusal refusal = RecordReader::Refusal::NONE;
    std::optional<RecordReader> record = RecordReader::read(fs_, recordPath, resource ? *resource : PathStatus{}, refusal);
    if (refusal == RecordReader::Refusal::NOT_A_FILE) msg(MSG_RECORD_NOT_A_FILE, recordPath.c_str());
    return record;
}

RADUza::Next RADUza::loadOtherRecords() {
    for (const std::string& other : otherResourceFiles_) {
        const std::string path = recordPathOf(other);
        const std::optional<FileStamp> stamp = stampOf(fs_, path);
        std::optional<RecordReader> record = readRecordOf(other, fs_.status(other));
        if (!stamp || !record) {
            msg(MSG_NO_RECORD, other.c_str());
            return exitWith(EXIT_STATUS_FAILED);
        }
        appendText(otherRecordsKey_, other);
        appendText(otherRecordsKey_, stampText(*stamp));
        const std::optional<std::string> directory = directoryOfKey(record->key());
        const std::string where = " (in " + fullPath(other) + ")";
        RecordEntry entry;
        while (record->next(entry)) {
            if (entry.name.empty()) continue;
            // By its full path: the other run's paths are relative to where it ran.
            const std::string path(entry.path);
            otherNames_.emplace_back(entry.name, (directory ? fullPathIn(*directory, path) : path) + where);
        }
        if (record->failed()) {
            msg(MSG_NO_RECORD, other.c_str());
            return exitWith(EXIT_STATUS_FAILED);
        }
    }
    return PROCEED;
}

RADUza::Next RADUza::prepareUpdate(int argc, char** argv) {
    if (!resFile) {
        msg(MSG_UPDATE_NEEDS_FILE);
        return exitWith(EXIT_STATUS_FAILED);
    }
    recordKey_ = recordKey(argc, argv);
    if (namesStandardOutput(*resFile)) return PROCEED;  // nothing there to compare, and no record of it
    if (!isUpToDate(argc, argv)) return PROCEED;
    if (!isSet(OPT_QUIET)) msg(MSG_UP_TO_DATE, resFile->c_str());
    return exitWith(EXIT_STATUS_OK);
}

// Everything besides the files that decides the resource file's bytes.
std::string RADUza::recordKey(int argc, char** argv) const {
    std::string key(RECORD_KEY_VERSION);
    appendText(key, workingDirectory_.value_or(""));
    key += isSet(OPT_JUNK) ? 'j' : '-';
    key += isSet(OPT_RECURSE) ? 'r' : '-';
    key += uniqueNames_ ? 'd' : '-';
    key += strict_ ? 'w' : '-';  // a run that warned is up to date only for runs that let it
    for (const std::string& pattern : exclusions_.patterns()) appendText(key, "x" + pattern);
    appendText(key, otherRecordsKey_);
    for (int i = 1; i < argc; ++i)
        if (argv[i] != nullptr) appendText(key, argv[i]);
    return key;
}

// Walks as the run would, listing and asking for stamps only, until something
// differs from the record of the last run.
bool RADUza::isUpToDate(int argc, char** argv) {
    const Result<PathStatus> resource = fs_.status(*resFile);
    earlierRecord_ = readRecordOf(*resFile, resource);
    if (!earlierRecord_ || earlierRecord_->key() != recordKey_) return false;
    if (!resource || !sameFileStamp(stampOf(*resource), earlierRecord_->output())) return false;
    ownIds_ = {stampOf(*resource).id};

    RecordComparison comparison(*earlierRecord_);
    comparison_ = &comparison;
    specPass(argc, argv);  // opensFiles() is false meanwhile: nothing is opened or read ahead
    comparison_ = nullptr;
    ownIds_.clear();
    if (comparison.allSame()) return true;
    // Something changed: the run may copy what did not from the resource file.
    verified_ = comparison.matched();
    earlierRecord_->rewind();
    earlierEntries_ = RecordedEntries::of(*earlierRecord_);
    return false;
}

void RADUza::startReusing() {
    // Every padding byte is announced under -show_padding: nothing is copied unseen then.
    if (!earlierEntries_ || isSet(OPT_SHOW_PADDING) || resourceOutput_->mode() != ResourceOutput::Mode::REPLACE) return;
    // The file the record describes, still: what it holds is copied without a look. It
    // must be the file the output's open reached, whose replacement takes its owner and
    // permissions, so that no name swapped in between makes the run copy another file.
    Result<std::unique_ptr<InputFile>> earlier = fs_.openInput(*resFile);
    const FileStamp& described = earlierRecord_->output();
    if (!earlier || (*earlier)->id() != described.id || (*earlier)->size() != described.size ||
        !resourceOutput_->isOwn((*earlier)->id()))
        return;
    earlier_ = std::make_unique<EarlierEntries>(std::move(*earlier), *out);
    record_.expect(earlierRecord_->byteSize());
}

std::optional<FileStamp> RADUza::stampFollowingRecord(const std::string& path, const RecordEntry*& earlier) {
    earlier = nullptr;
    if (!earlier_) return stampOf(fs_, path);
    const std::optional<std::size_t> at = earlierEntries_->follow(path);
    if (!at) return stampOf(fs_, path);
    earlier = &(*earlierEntries_)[*at];
    // The check before this run found the first entries as recorded: not asked again.
    if (*at >= verified_) return stampOf(fs_, path);
    if (earlier->kind == RecordEntry::MISSING) return std::nullopt;
    return earlier->stamp;
}

bool RADUza::reuseEntry(const std::string& path, const RecordEntry& earlier, const FileStamp& stamp) {
    const std::uint64_t earlierSize = earlierRecord_->output().size;
    if (recordLied_ || earlier.kind != RecordEntry::FILE || earlier.entryLength == 0 ||
        earlier.entryLength > earlierSize || earlier.entryOffset > earlierSize - earlier.entryLength ||
        !sameFileStamp(earlier.stamp, stamp) || stamp.size > RES_MAX_DATA_SIZE)
        return false;
    deriveResourceName(path, isSet(OPT_JUNK), rules_, nameStorage_);
    // The entry must be where the record says, whole: the header this run would
    // write, at that offset. A record that lies costs reading the files again, never
    // a wrong resource file.
    const std::uint64_t length =
        EntryWriter::headerBytesOf(nameStorage_, static_cast<std::uint32_t>(stamp.size), headerStorage_);
    if (length != earlier.entryLength || !earlier_->holdsAt(earlier.entryOffset, headerStorage_)) {
        recordLied_ = true;
        return false;
    }
    curName = nameStorage_;
    if (const std::optional<NameClaim> claim = claimFor(path)) {
        const std::uint64_t at = earlier_->nextEntryOffset();
        earlier_->add(earlier.entryOffset, earlier.entryLength);
        recordStored(path, *claim, EntrySpan{at, earlier.entryLength});
    }
    curName = {};
    return true;
}

bool RADUza::flushEarlier() {
    if (!earlier_ || halted_) return !halted_;
    switch (earlier_->flush()) {
    case EarlierEntries::Outcome::COPIED: return true;
    case EarlierEntries::Outcome::OUTPUT_FAILED: outputFailed(out->errorText()); return false;
    case EarlierEntries::Outcome::EARLIER_FAILED:
        halted_ = true;
        msg(MSG_EARLIER_UNREADABLE, resFile->c_str(), earlier_->earlierErrorText().c_str());
        return false;
    }
    return false;
}

// Without it the next run would try the same file and fail the same way.
void RADUza::forgetRecord() {
    const Result<PathStatus> resource = fs_.status(*resFile);
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::openCompanion(
        fs_, recordPathOf(*resFile), resource ? resource->ownership : std::nullopt);
    if (opened && !(*opened)->commit()) (void)(*opened)->abandon();
}

bool RADUza::namesStandardOutput(const std::string& path) {
    const Result<PathStatus> status = fs_.status(path);
    const std::optional<FileId> standard = fs_.standardOutput().id();
    return status && status->id && standard && *status->id == *standard;
}

bool RADUza::isOwnRecord(const std::string& path, const FileId& id) {
    if (!resFile) return false;
    // Any separator the platform may use: a wider gate costs only a look at the identity.
    const auto leafOf = [](std::string_view p) { return p.substr(p.find_last_of("/\\:") + 1); };
    // Compared without making the record's name: this runs for every file stored.
    const std::string_view leaf = leafOf(path);
    const std::string_view outputLeaf = leafOf(*resFile);
    if (leaf.size() != outputLeaf.size() + RECORD_SUFFIX.size() ||
        !equalIgnoringAsciiCase(leaf.substr(0, outputLeaf.size()), outputLeaf) ||
        !equalIgnoringAsciiCase(leaf.substr(outputLeaf.size()), RECORD_SUFFIX))
        return false;
    if (!recordId_) {
        const Result<std::unique_ptr<InputFile>> record = fs_.openCompanion(recordPathOf(*resFile));
        recordId_ = record ? std::optional<FileId>((*record)->id()) : std::nullopt;
    }
    return *recordId_ && id == **recordId_;
}

void RADUza::startRecording() {
    if (!resourceOutput_ || resourceOutput_->mode() == ResourceOutput::Mode::DIRECT || resourceOutput_->isStandardOutput())
        return;
    recording_ = true;
    // A file not surely changed before this may change again within the same step of
    // its file system's clock after it was read, keeping its time: its stamp is not
    // trusted, and the next run makes the resource file again.
    if (const std::optional<PathStatus> made = resourceOutput_->file().status()) runStart_ = made->changed;
}

void RADUza::writeRunRecord() {
    if (!recording_) return;
    const std::string recordPath = recordPathOf(*resFile);
    // The file this run made, as it was made: another run may have renamed its own over the name since.
    const std::optional<PathStatus>& made = resourceOutput_->madeStatus();
    if (!made || !made->id) return;  // without it the record matches nothing: the next run makes the file again
    const FileStamp output = stampOf(*made);
    // Written as safely as the resource file, and never where anyone but its owner could have put it.
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::openCompanion(fs_, recordPath, made->ownership);
    Result<void> written = opened ? record_.write(fs_, (*opened)->file(), recordKey_, output) : Result<void>(opened.error());
    if (written) written = (*opened)->commit();
    if (written) return;
    if (opened) (void)(*opened)->abandon();
    msg(MSG_RECORD_NOT_WRITTEN, recordPath.c_str(), written.error().text.c_str());
}

bool RADUza::trackFile(const std::string& path, TrackedFile& tracked) {
    RecordEntry::Kind kind = RecordEntry::MISSING;
    std::optional<FileStamp> stamp = stampFollowingRecord(path, tracked.earlier);
    if (stamp) {
        if (isOwnFile(path, stamp->id)) return false;
        kind = RecordEntry::FILE;
        tracked.stamp = stamp;
    } else {
        stamp.emplace();
    }
    if (comparison_) {
        (void)comparison_->observe(kind, path, *stamp);
        return false;
    }
    if (kind == RecordEntry::FILE && (!runStart_ || !changedBefore(stamp->changed, *runStart_, fs_.timeUnitsPerSecond())))
        stamp->changed = UNTRUSTED_TIME;
    record_.add(kind, path, *stamp);
    return true;
}

void RADUza::noteDirectory(const std::string& path) {
    if (!tracking()) return;
    if (earlier_) (void)earlierEntries_->follow(path);  // keeps the record's order
    const std::optional<FileStamp> stamp = stampOf(fs_, path);
    const RecordEntry::Kind kind = stamp ? RecordEntry::DIRECTORY : RecordEntry::MISSING;
    if (comparison_) (void)comparison_->observe(kind, path, stamp.value_or(FileStamp{}));
    else record_.add(kind, path, stamp.value_or(FileStamp{}));
}

bool RADUza::isOwnFile(const std::string& path, const FileId& id) {
    if (resourceOutput_ ? resourceOutput_->isOwn(id) : standardOutputId_ && id == *standardOutputId_) return true;
    if (isOwnRecord(path, id)) return true;
    return std::find(ownIds_.begin(), ownIds_.end(), id) != ownIds_.end();
}

bool RADUza::reportDuplicate(const std::string& path, std::string_view key) {
    const std::optional<std::string> first = claimants_.firstOf(key);
    if (first && *first == path) return false;
    // By their full paths: the two may come from runs in different directories (-n).
    const std::string firstPath = first ? fullPath(*first) : "an earlier file";
    msg(MSG_DUPLICATE_NAME, firstPath.c_str(), fullPath(path).c_str(), std::string(curName).c_str());
    duplicateFound_ = true;
    return true;
}

std::string RADUza::fullPathIn(const std::string& directory, const std::string& path) const {
    const bool absolute = !path.empty() && (path[0] == rules_.separator || path[0] == '/' ||
                                            (rules_.hasDrivePrefixes && path.size() >= 2 && path[1] == ':'));
    if (absolute || directory.empty()) return path;
    return directory.back() == rules_.separator ? directory + path : directory + rules_.separator + path;
}

std::string RADUza::fullPath(const std::string& path) const { return fullPathIn(workingDirectory_.value_or(""), path); }
