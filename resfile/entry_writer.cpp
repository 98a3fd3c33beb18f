#include "resfile/entry_writer.h"

#include <cassert>

#include "resfile/entry_copy.h"

namespace {

const NameOrId NULL_ID_CELL = NameOrId::ofOrdinal(0);
const NameOrId TYPE_CELL = NameOrId::ofText(BUNDLE_TYPE_NAME);

// The type is the same for every entry, so its field is measured once.
const std::uint32_t TYPE_FIELD_BYTES = fieldBytes(TYPE_CELL);

}  // namespace

void EntryWriter::writeLeadingEntry() {
    ResHeader leading;
    leading.Type = &NULL_ID_CELL;
    leading.Name = &NULL_ID_CELL;
    leading.MemoryFlags = 0;
    leading.LanguageId = 0;
    writeHeader(leading, 0);
}

void EntryWriter::layOut(std::string_view name, std::uint32_t dataSize, EntryHeader& entry) {
    entry.nameCell = NameOrId::ofText(name);
    const HeaderLayout layout = layoutHeader(TYPE_FIELD_BYTES, fieldBytes(entry.nameCell));
    entry.header = ResHeader{};
    entry.header.Type = &TYPE_CELL;
    entry.header.Name = &entry.nameCell;
    entry.header.DataSize = dataSize;
    entry.header.HeaderSize = layout.headerSize;
    entry.padding = layout.padding;
}

std::uint64_t EntryWriter::headerBytesOf(std::string_view name, std::uint32_t dataSize, std::string& bytes) {
    EntryHeader entry;
    layOut(name, dataSize, entry);
    const std::size_t startBytes = headerStartBytes(entry.header);
    bytes.assign(entry.header.HeaderSize, '\0');
    encodeHeaderStart(&bytes[0], entry.header);
    encodeHeaderEnd(&bytes[startBytes + entry.padding], entry.header);
    return std::uint64_t{entry.header.HeaderSize} + dataSize + paddingFor(dataSize);
}

EntryOutcome EntryWriter::writeEntry(std::string_view name, InputFile& input) {
    assert(input.size() <= RES_MAX_DATA_SIZE);
    EntryHeader entry;
    layOut(name, static_cast<std::uint32_t>(input.size()), entry);
    const ResHeader& header = entry.header;

    const std::uint64_t entryStart = out_.position();
    writeHeader(header, entry.padding);
    const CopyOutcome copied = copyExactly(input, out_, header.DataSize);
    switch (copied) {
    case CopyOutcome::COMPLETE:
        putPadding(paddingFor(header.DataSize), &PaddingObserver::dataPadding);
        return EntryOutcome::STORED;
    case CopyOutcome::OUTPUT_FAILED: return EntryOutcome::OUTPUT_FAILED;
    case CopyOutcome::READ_FAILED:
    case CopyOutcome::SIZE_CHANGED: break;
    }
    const std::uint64_t written = out_.position() - entryStart - header.HeaderSize;
    if (takeBackEntry(out_, entryStart, header.DataSize, written) == TakeBack::COMPLETED) return EntryOutcome::COMPLETED;
    return copied == CopyOutcome::READ_FAILED ? EntryOutcome::READ_FAILED : EntryOutcome::SIZE_CHANGED;
}

// Writes the header with `padding` zero bytes after the name; HeaderSize is the
// caller's to keep consistent with the fields and the padding.
void EntryWriter::writeHeader(const ResHeader& header, std::uint32_t padding) {
    const std::size_t startBytes = headerStartBytes(header);
    if (headerBytes_.size() < startBytes) headerBytes_.resize(startBytes);
    encodeHeaderStart(&headerBytes_[0], header);
    out_.put(headerBytes_.data(), startBytes);
    putPadding(padding, &PaddingObserver::headerPadding);
    char end[RES_TRAILER_BYTES];
    encodeHeaderEnd(end, header);
    out_.put(end, sizeof end);
}

void EntryWriter::putPadding(std::uint32_t count, void (PaddingObserver::*report)()) {
    if (!observer_) {
        out_.putZeros(count);
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        (observer_->*report)();
        out_.putZeros(1);
    }
}
