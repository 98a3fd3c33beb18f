// Writing the resource file: the header of an entry, and one file stored as one
// entry. The bytes come from resfile/; here is which message goes where.
#include "driver/raduza.h"
#include "resfile/entry_copy.h"

namespace {

const NameOrId NULL_ID_CELL = NameOrId::ofOrdinal(0);
const NameOrId TYPE_CELL = NameOrId::ofText(RES_TYPE_NAME);

// The type is the same for every entry, so its field is measured once.
const std::uint32_t TYPE_FIELD_BYTES = fieldBytes(TYPE_CELL);

}  // namespace

void RADUza::initHeader() {
    hdr = ResHeader{};
    hdr.Type = &NULL_ID_CELL;
    hdr.Name = &NULL_ID_CELL;
    headerPad = 0;
}

// Writes the header as the caller set it; HeaderSize and headerPad are the
// caller's to keep consistent with the fields. The caller flushes.
void RADUza::writeHeader() {
    const std::size_t startBytes = headerStartBytes(hdr);
    if (headerBytes_.size() < startBytes) headerBytes_.resize(startBytes);
    encodeHeaderStart(&headerBytes_[0], hdr);
    out->put(headerBytes_.data(), startBytes);
    putPadding(static_cast<std::uint32_t>(headerPad), MSG_PAD_HEADER);
    char end[RES_HEADER_END_BYTES];
    encodeHeaderEnd(end, hdr);
    out->put(end, sizeof end);
}

// Zero bytes of padding, each reported when asked for.
void RADUza::putPadding(std::uint32_t count, int reportId) {
    if (isSet(OPT_SHOW_PADDING)) {
        for (std::uint32_t i = 0; i < count; ++i) {
            msg(reportId);
            out->putZeros(1);
        }
        return;
    }
    out->putZeros(count);
}

void RADUza::storeFile(const std::string& path, InputFile* input) {
    if (input && isOwnOutput(*input)) return;  // never read our own output

    if (isSet(OPT_VERBOSE)) msg(MSG_CHECKING, std::string(curName).c_str());
    // Names are compared as the file holds them, so no name is ever written twice.
    const std::string_view key = nameAsWritten(curName, keyStorage_);
    const NameTree::Place place = names.find(key);
    if (place.found) {
        if (!uniqueNames_ || !reportDuplicate(path, key))
            msg(MSG_NAME_IN_USE, path.c_str(), std::string(curName).c_str());
    } else if (!input) {
        msg(MSG_CANNOT_READ, path.c_str());
    } else if (input->size() > RES_MAX_DATA_SIZE) {
        msg(MSG_TOO_LARGE, path.c_str());
    } else {
        storeAs(path, *input, NameClaim{key, place});
    }
}

void RADUza::storeAs(const std::string& path, InputFile& input, const NameClaim& claim) {
    const NameOrId nameCell = NameOrId::ofText(curName);
    initHeader();
    hdr.Type = &TYPE_CELL;
    hdr.Name = &nameCell;
    hdr.DataSize = static_cast<std::uint32_t>(input.size());
    const HeaderLayout layout = layoutHeader(TYPE_FIELD_BYTES, fieldBytes(nameCell));
    hdr.HeaderSize = layout.headerSize;
    headerPad = static_cast<std::int8_t>(layout.padding);

    const std::uint64_t entryStart = out->position();
    writeHeader();
    const CopyOutcome outcome = copyExactly(input, *out, hdr.DataSize);
    if (outcome == CopyOutcome::COMPLETE) {
        padData();
        // Standard output gets each entry whole as soon as it is stored, for the
        // reader at the other end. The resource file is read by nobody before the
        // run ends, so its entries gather into large writes: the buffer is written
        // when it fills and once more at the end of the run.
        if ((resFile && !out->failed()) || checkOutput()) recordStored(path, claim);
        return;
    }
    if (outcome != CopyOutcome::OUTPUT_FAILED) takeBack(path, claim, outcome, entryStart);
    (void)checkOutput();
}

void RADUza::padData() { putPadding(paddingFor(hdr.DataSize), MSG_PAD_DATA); }

bool RADUza::isOwnOutput(const InputFile& input) const {
    if (resourceOutput_) return resourceOutput_->isOwn(input.id());
    return standardOutputId_ && input.id() == *standardOutputId_;
}

void RADUza::claimName(const NameClaim& claim) {
    names.insertAt(claim.place, claim.key);
    stored |= 1;
    if (recording_) record_.nameLast(claim.key);
}

void RADUza::recordStored(const std::string& path, const NameClaim& claim) {
    claimName(claim);
    if (uniqueNames_) claimants_.emplace(claim.key, path);
    if (!isSet(OPT_QUIET)) msg(MSG_STORED, path.c_str(), std::string(curName).c_str());
}

// An entry whose input failed is taken back, or completed where it cannot be.
void RADUza::takeBack(const std::string& path, const NameClaim& claim, CopyOutcome outcome,
                      std::uint64_t entryStart) {
    const std::uint64_t written = out->position() - entryStart - hdr.HeaderSize;
    if (takeBackEntry(*out, entryStart, hdr.DataSize, written) == TakeBack::REMOVED) {
        msg(outcome == CopyOutcome::READ_FAILED ? MSG_CANNOT_READ : MSG_FILE_CHANGED, path.c_str());
        return;
    }
    claimName(claim);
    msg(MSG_FILE_DAMAGED, path.c_str());
}
