// Storing one file as one entry: header, data, padding. Whatever happens to the
// input, the resource file stays a sequence of complete, aligned entries.
#include <algorithm>

#include "driver/raduza.h"

namespace {

const NameOrId TYPE_CELL = NameOrId::ofText(RES_TYPE_NAME);

// Reads below this much free buffer space would mean many small system calls.
constexpr std::size_t MIN_READ_SPACE = 64 * 1024;

std::uint32_t fieldBytes(const NameOrId& cell) { return static_cast<std::uint32_t>(encodeNameOrId(cell).size()); }

// The type is the same for every entry, so its field is measured once.
const std::uint32_t TYPE_FIELD_BYTES = fieldBytes(TYPE_CELL);

}  // namespace

void RADUza::storeFile(const std::string& path, InputFile* input) {
    if (input && outputId_ && input->id() == *outputId_) return;  // never read our own output

    if (isSet(OPT_VERBOSE)) msg(MSG_CHECKING, std::string(curName).c_str());
    if (names.contains(curName)) {
        msg(MSG_NAME_IN_USE, path.c_str(), std::string(curName).c_str());
        return;
    }
    if (!input) {
        msg(MSG_CANNOT_READ, path.c_str());
        return;
    }
    if (input->size() > RES_MAX_DATA_SIZE) {
        msg(MSG_TOO_LARGE, path.c_str());
        return;
    }

    const NameOrId nameCell = NameOrId::ofText(curName);
    initHeader();
    hdr.Type = &TYPE_CELL;
    hdr.Name = &nameCell;
    hdr.DataSize = static_cast<std::uint32_t>(input->size());
    const std::uint32_t unpadded = RES_FIXED_HEADER_BYTES + TYPE_FIELD_BYTES + fieldBytes(nameCell);
    headerPad = static_cast<std::int8_t>(paddingFor(unpadded));
    hdr.HeaderSize = unpadded + static_cast<std::uint32_t>(headerPad);

    const std::uint64_t entryStart = out->position();
    writeHeader();
    const CopyOutcome outcome = copyData(*input);
    if (outcome != CopyOutcome::COMPLETE) {
        if (outcome != CopyOutcome::OUTPUT_FAILED)
            takeBackEntry(path, outcome, entryStart, out->position() - entryStart - hdr.HeaderSize);
        (void)checkOutput();
        return;
    }
    for (std::uint32_t i = 0; i < paddingFor(hdr.DataSize); ++i) {
        if (isSet(OPT_SHOW_PADDING)) msg(MSG_PAD_DATA);
        out->putZeros(1);
    }
    // Flush so the file is complete after every entry.
    if (!checkOutput()) return;
    names.insert(curName);
    stored |= 1;
    if (!isSet(OPT_QUIET)) msg(MSG_STORED, path.c_str(), std::string(curName).c_str());
}

// Copies exactly DataSize bytes and makes sure the file ended there.
RADUza::CopyOutcome RADUza::copyData(InputFile& input) {
    std::uint64_t remaining = hdr.DataSize;
    for (;;) {
        std::size_t space = 0;
        char* target = out->freeSpace(MIN_READ_SPACE, space);
        if (out->failed()) return CopyOutcome::OUTPUT_FAILED;
        // Ask for one byte more than is left, so a file that grew is noticed.
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(space, remaining + 1));
        const std::optional<std::size_t> got = input.read(target, wanted);
        if (!got) return CopyOutcome::READ_FAILED;
        if (*got > remaining) {
            // The file grew: its first DataSize bytes are here, and an entry that
            // cannot be taken back from a pipe keeps them rather than zeros.
            out->commit(static_cast<std::size_t>(remaining));
            return CopyOutcome::SIZE_CHANGED;
        }
        if (*got == 0 && remaining > 0) return CopyOutcome::SIZE_CHANGED;
        if (*got == 0) return CopyOutcome::COMPLETE;
        out->commit(*got);
        remaining -= *got;
    }
}

// Removes a partly written entry. Where the bytes have already left for a pipe,
// the entry is completed with zeros instead, so every later entry stays in place.
void RADUza::takeBackEntry(const std::string& path, CopyOutcome outcome, std::uint64_t entryStart,
                           std::uint64_t written) {
    if (out->dropFrom(entryStart)) {
        msg(outcome == CopyOutcome::READ_FAILED ? MSG_CANNOT_READ : MSG_FILE_CHANGED, path.c_str());
        return;
    }
    if (written < hdr.DataSize) out->putZeros(static_cast<std::size_t>(hdr.DataSize - written));
    out->putZeros(paddingFor(hdr.DataSize));
    names.insert(curName);
    stored |= 1;
    msg(MSG_FILE_DAMAGED, path.c_str());
}
