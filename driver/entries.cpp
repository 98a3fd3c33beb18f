// Storing one file as one entry of the resource file. The bytes are resfile/'s;
// here is which file is stored, and which message goes where.
#include "driver/raduza.h"
#include "util/ascii.h"

void RADUza::storeFile(const std::string& path, InputFile* input) {
    if (input && isOwnFile(path, input->id())) return;  // never read our own output
    const std::optional<NameClaim> claim = claimFor(path);
    if (!claim) return;
    if (!input) {
        msg<MSG_CANNOT_READ>(path.c_str());
    } else if (input->size() > RES_MAX_DATA_SIZE) {
        msg<MSG_TOO_LARGE>(path.c_str());
    } else {
        storeAs(path, *input, *claim);
    }
}

std::optional<RADUza::NameClaim> RADUza::claimFor(const std::string& path) {
    if (isSet(OPT_VERBOSE)) msg<MSG_CHECKING>(std::string(curName).c_str());
    // Names are compared as the file holds them, so no name is ever written twice.
    const std::string_view key = nameAsWritten(curName, keyStorage_);
    const NameTree::Place place = names.find(key);
    if (!place.found) return NameClaim{key, place};
    if (!isSet(OPT_UNIQUE_NAMES) || !reportDuplicate(path, key)) msg<MSG_NAME_IN_USE>(path.c_str(), std::string(curName).c_str());
    return std::nullopt;
}

void RADUza::storeAs(const std::string& path, InputFile& input, const NameClaim& claim) {
    if (!sink_->flushHeld()) return;  // the entries held back come first
    const std::uint64_t entryStart = out->position();
    switch (writer_->writeEntry(curName, input)) {
    case EntryOutcome::STORED:
        // Standard output gets each entry whole as soon as it is stored, for the
        // reader at the other end. The resource file is read by nobody before the
        // run ends, so its entries gather into large writes: the buffer is written
        // when it fills and once more at the end of the run.
        if ((resFile && !out->failed()) || checkOutput())
            recordStored(path, claim, EntrySpan{entryStart, out->position() - entryStart});
        return;
    case EntryOutcome::READ_FAILED: msg<MSG_CANNOT_READ>(path.c_str()); break;
    case EntryOutcome::SIZE_CHANGED: msg<MSG_FILE_CHANGED>(path.c_str()); break;
    case EntryOutcome::COMPLETED:
        claimName(claim, EntrySpan{});
        meet(Trouble::DAMAGED);
        msg<MSG_FILE_DAMAGED>(path.c_str());
        break;
    case EntryOutcome::OUTPUT_FAILED: break;
    }
    (void)checkOutput();
}

void RADUza::claimName(const NameClaim& claim, EntrySpan span) {
    names.insertAt(claim.place, claim.key);
    stored |= 1;
    sink_->entryStored(claim.key, span);
}

void RADUza::recordStored(const std::string& path, const NameClaim& claim, EntrySpan span) {
    claimName(claim, span);
    if (isSet(OPT_UNIQUE_NAMES)) claimants_.add(claim.key, path);
    if (!isSet(OPT_QUIET)) msg<MSG_STORED>(path.c_str(), std::string(curName).c_str());
}

bool RADUza::isOwnFile(const std::string& path, const FileId& id) {
    if (resourceOutput_ ? resourceOutput_->isOwn(id) : standardOutputId_ && id == *standardOutputId_) return true;
    return isOwnRecord(path, id);
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
