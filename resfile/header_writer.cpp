// Resetting and writing the header of one resource entry.
#include "driver/raduza.h"

namespace {

const NameOrId NULL_ID_CELL = NameOrId::ofOrdinal(0);

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
    std::string bytes;
    appendLittleEndian32(bytes, hdr.DataSize);
    appendLittleEndian32(bytes, hdr.HeaderSize);
    bytes += encodeNameOrId(*hdr.Type);
    bytes += encodeNameOrId(*hdr.Name);
    out->put(bytes.data(), bytes.size());
    for (int i = 0; i < headerPad; ++i) {
        if (isSet(OPT_SHOW_PADDING)) msg(MSG_PAD_HEADER);
        out->putZeros(1);
    }
    bytes.clear();
    appendLittleEndian32(bytes, hdr.DataVersion);
    appendLittleEndian16(bytes, hdr.MemoryFlags);
    appendLittleEndian16(bytes, hdr.LanguageId);
    appendLittleEndian32(bytes, hdr.Version);
    appendLittleEndian32(bytes, hdr.Characteristics);
    out->put(bytes.data(), bytes.size());
}
