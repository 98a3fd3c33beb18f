// Builds resource file images for the reader's tests: any type, any name, any
// bytes, including what raduza itself would never write.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

// A type or name: text, or an ordinal.
using ResField = std::variant<std::u16string, std::uint16_t>;

class ResBuilder {
public:
    ResBuilder() { bytes_ = leadingEntry(); }

    static std::string leadingEntry() {
        return std::string("\0\0\0\0\x20\0\0\0\xff\xff\0\0\xff\xff\0\0", 16) + std::string(16, '\0');
    }

    ResBuilder& add(const ResField& type, const ResField& name, const std::string& data) {
        std::string fields = field(type) + field(name);
        fields.append(padding(8 + fields.size()), '\0');
        std::string header;
        put32(header, static_cast<std::uint32_t>(data.size()));
        put32(header, static_cast<std::uint32_t>(8 + fields.size() + 16));
        header += fields;
        put32(header, 0);          // DataVersion
        put16(header, 0x0030);     // MemoryFlags
        put16(header, 0x0409);     // LanguageId
        put32(header, 0);          // Version
        put32(header, 0);          // Characteristics
        bytes_ += header + data + std::string(padding(data.size()), '\0');
        return *this;
    }
    ResBuilder& file(const std::u16string& name, const std::string& data) { return add(u"RT_RADUZA", name, data); }

    const std::string& bytes() const { return bytes_; }

private:
    static std::size_t padding(std::size_t size) { return (4 - size % 4) % 4; }
    static void put16(std::string& out, std::uint16_t value) {
        out += static_cast<char>(value & 0xFF);
        out += static_cast<char>(value >> 8);
    }
    static void put32(std::string& out, std::uint32_t value) {
        put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
        put16(out, static_cast<std::uint16_t>(value >> 16));
    }
    static std::string field(const ResField& value) {
        std::string out;
        if (const auto* ordinal = std::get_if<std::uint16_t>(&value)) {
            put16(out, 0xFFFF);
            put16(out, *ordinal);
            return out;
        }
        for (char16_t unit : std::get<std::u16string>(value)) put16(out, unit);
        put16(out, 0);
        return out;
    }

    std::string bytes_;
};
