#include "tests/support/res_reader.h"

#include "tests/support/fixtures.h"

namespace {

class Cursor {
public:
    Cursor(const std::string& bytes, std::size_t position) : bytes_(bytes), position_(position) {}
    bool has(std::size_t count) const { return bytes_.size() - position_ >= count; }
    std::uint16_t u16() {
        const auto b = [&](std::size_t i) { return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes_[position_ + i])); };
        const std::uint16_t value = static_cast<std::uint16_t>(b(0) | (b(1) << 8));
        position_ += 2;
        return value;
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }
    std::size_t position() const { return position_; }
    void skip(std::size_t count) { position_ += count; }

private:
    const std::string& bytes_;
    std::size_t position_;
};

bool readNameOrId(Cursor& cursor, std::size_t end, ResNameOrId& cell) {
    if (cursor.position() + 2 > end) return false;
    const std::uint16_t first = cursor.u16();
    if (first == 0xFFFF) {
        if (cursor.position() + 2 > end) return false;
        cell.isOrdinal = true;
        cell.ordinal = cursor.u16();
        return true;
    }
    for (std::uint16_t unit = first; unit != 0; unit = cursor.u16()) {
        cell.text.push_back(static_cast<char16_t>(unit));
        if (cursor.position() + 2 > end) return false;
    }
    return true;
}

std::string fail(ResFile& file, std::size_t offset, const std::string& what) {
    file.valid = false;
    file.error = "at offset " + std::to_string(offset) + ": " + what;
    return file.error;
}

bool readEntry(const std::string& bytes, std::size_t offset, ResEntry& entry, std::string& error) {
    Cursor cursor(bytes, offset);
    if (!cursor.has(8)) return (error = "header cut short"), false;
    entry.offset = offset;
    entry.dataSize = cursor.u32();
    entry.headerSize = cursor.u32();
    if (entry.headerSize < 32 || entry.headerSize % 4 != 0) return (error = "bad HeaderSize"), false;
    const std::size_t headerEnd = offset + entry.headerSize;
    if (headerEnd > bytes.size()) return (error = "header runs past the end"), false;
    if (!readNameOrId(cursor, headerEnd, entry.type) || !readNameOrId(cursor, headerEnd, entry.name))
        return (error = "type or name runs past the header"), false;
    const std::size_t fieldsEnd = cursor.position();
    const std::size_t pad = (4 - fieldsEnd % 4) % 4;
    if (fieldsEnd + pad + 16 != headerEnd) return (error = "HeaderSize disagrees with the fields"), false;
    for (std::size_t i = 0; i < pad; ++i)
        if (bytes[fieldsEnd + i] != 0) return (error = "non-zero header padding"), false;
    cursor.skip(pad);
    entry.dataVersion = cursor.u32();
    entry.memoryFlags = cursor.u16();
    entry.languageId = cursor.u16();
    entry.version = cursor.u32();
    entry.characteristics = cursor.u32();
    if (bytes.size() - headerEnd < entry.dataSize) return (error = "data cut short"), false;
    entry.data = bytes.substr(headerEnd, entry.dataSize);
    const std::size_t dataEnd = headerEnd + entry.dataSize;
    const std::size_t dataPad = (4 - dataEnd % 4) % 4;
    if (bytes.size() - dataEnd < dataPad) return (error = "data padding cut short"), false;
    for (std::size_t i = 0; i < dataPad; ++i)
        if (bytes[dataEnd + i] != 0) return (error = "non-zero data padding"), false;
    return true;
}

}  // namespace

namespace {

// The oracle's own encoder, so that it checks the product's rather than shares it.
void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string ResNameOrId::utf8() const {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size())
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        appendUtf8(out, code);
    }
    return out;
}

ResFile readResFile(const std::string& bytes) {
    ResFile file;
    if (bytes.compare(0, 32, fixtures::LEADING_ENTRY) != 0) {
        fail(file, 0, "missing the 32-byte leading entry");
        return file;
    }
    std::size_t offset = 32;
    while (offset < bytes.size()) {
        ResEntry entry;
        std::string error;
        if (!readEntry(bytes, offset, entry, error)) {
            fail(file, offset, error);
            return file;
        }
        offset += entry.headerSize + entry.dataSize + (4 - entry.dataSize % 4) % 4;
        file.entries.push_back(std::move(entry));
    }
    file.valid = true;
    return file;
}

std::vector<std::string> entryNames(const ResFile& file) {
    std::vector<std::string> names;
    for (const ResEntry& entry : file.entries) names.push_back(entry.name.utf8());
    return names;
}
