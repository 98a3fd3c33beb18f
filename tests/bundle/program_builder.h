// Builds the smallest program files that hold resources, for the readers' tests:
// a PE file whose one section holds a resource directory of one file, and an ELF
// file whose raduza_bundle section holds any bytes. Fields are laid out at fixed
// offsets so that a test can damage one.
#pragma once

#include <cstdint>
#include <string>

namespace program_builder {

inline void put(std::string& image, std::size_t at, std::uint64_t value, int bytes, bool bigEndian = false) {
    for (int i = 0; i < bytes; ++i)
        image[at + (bigEndian ? bytes - 1 - i : i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The PE file: headers, then at RSRC_AT the section that the resource directory
// opens. The directory: the type table at 0, the name table at 24, the language
// table at 48, the data entry at 72, then the two names and the file's bytes.
struct Pe {
    static constexpr std::size_t PE_AT = 0x40, OPTIONAL_AT = PE_AT + 24, SECTION_TABLE = OPTIONAL_AT + 224,
                                 RSRC_AT = 0x200;  // the section table of PE32
    static constexpr std::uint32_t RSRC_RVA = 0x1000;
    static constexpr std::size_t TYPE_ENTRY = 16, NAME_TABLE = 24, NAME_ENTRY = 40, LANGUAGE_TABLE = 48,
                                 LANGUAGE_ENTRY = 64, DATA_ENTRY = 72, TYPE_NAME = 88, FILE_NAME = 108;

    // The optional header's resource data directory entry, PE32 or PE32+.
    static std::size_t resourceField(bool plus) { return OPTIONAL_AT + (plus ? 112 : 96) + 2 * 8; }

    static std::string image(const std::u16string& name, const std::string& data, bool plus = false) {
        std::string rsrc(FILE_NAME + 2 + 2 * name.size(), '\0');
        const auto table = [&](std::size_t at, std::uint32_t entryName, std::uint32_t target, bool named) {
            put(rsrc, at + (named ? 12 : 14), 1, 2);
            put(rsrc, at + 16, entryName, 4);
            put(rsrc, at + 20, target, 4);
        };
        table(0, 0x80000000u | TYPE_NAME, 0x80000000u | NAME_TABLE, true);
        table(NAME_TABLE, 0x80000000u | FILE_NAME, 0x80000000u | LANGUAGE_TABLE, true);
        table(LANGUAGE_TABLE, 0x0409, DATA_ENTRY, false);
        const std::u16string type = u"RT_RADUZA";
        put(rsrc, TYPE_NAME, type.size(), 2);
        for (std::size_t i = 0; i < type.size(); ++i) put(rsrc, TYPE_NAME + 2 + 2 * i, type[i], 2);
        put(rsrc, FILE_NAME, name.size(), 2);
        for (std::size_t i = 0; i < name.size(); ++i) put(rsrc, FILE_NAME + 2 + 2 * i, name[i], 2);
        rsrc.resize((rsrc.size() + 3) / 4 * 4);
        put(rsrc, DATA_ENTRY, RSRC_RVA + rsrc.size(), 4);
        put(rsrc, DATA_ENTRY + 4, data.size(), 4);
        rsrc += data;

        const std::size_t optionalSize = plus ? 240 : 224, sectionTable = SECTION_TABLE + (plus ? 16 : 0);
        std::string image(RSRC_AT, '\0');
        image[0] = 'M';
        image[1] = 'Z';
        put(image, 0x3C, PE_AT, 4);
        image.replace(PE_AT, 4, std::string("PE\0\0", 4));
        put(image, PE_AT + 4, plus ? 0x8664 : 0x14C, 2);  // the machine
        put(image, PE_AT + 6, 1, 2);                      // one section
        put(image, PE_AT + 20, optionalSize, 2);
        put(image, OPTIONAL_AT, plus ? 0x20B : 0x10B, 2);
        put(image, OPTIONAL_AT + (plus ? 108 : 92), 16, 4);  // data directories
        put(image, resourceField(plus), RSRC_RVA, 4);
        put(image, resourceField(plus) + 4, rsrc.size(), 4);
        image.replace(sectionTable, 5, ".rsrc");
        put(image, sectionTable + 8, rsrc.size(), 4);   // VirtualSize
        put(image, sectionTable + 12, RSRC_RVA, 4);     // VirtualAddress
        put(image, sectionTable + 16, rsrc.size(), 4);  // SizeOfRawData
        put(image, sectionTable + 20, RSRC_AT, 4);      // PointerToRawData
        return image + rsrc;
    }
};

// The ELF file: the header, `bundle` at BUNDLE_AT, the section names, then the
// section table: none, raduza_bundle, .shstrtab.
struct Elf {
    static constexpr std::size_t BUNDLE_AT = 64;

    struct Built {
        std::string image;
        std::size_t bundleSectionHeader;  // where raduza_bundle's section header lies
    };

    static Built image(const std::string& bundle, bool is64 = true, bool bigEndian = false) {
        const std::string names = std::string("\0raduza_bundle\0.shstrtab\0", 25);
        const std::size_t namesAt = BUNDLE_AT + bundle.size(), tableAt = (namesAt + names.size() + 7) / 8 * 8;
        const std::size_t entry = is64 ? 64 : 40, word = is64 ? 8 : 4;
        std::string image = std::string("\x7f" "ELF", 4) + char(is64 ? 2 : 1) + char(bigEndian ? 2 : 1) + '\1';
        image.resize(tableAt + 3 * entry, '\0');
        image.replace(BUNDLE_AT, bundle.size(), bundle);
        image.replace(namesAt, names.size(), names);
        put(image, is64 ? 0x28 : 0x20, tableAt, static_cast<int>(word), bigEndian);
        put(image, is64 ? 0x3A : 0x2E, entry, 2, bigEndian);
        put(image, is64 ? 0x3C : 0x30, 3, 2, bigEndian);
        put(image, is64 ? 0x3E : 0x32, 2, 2, bigEndian);
        const auto section = [&](std::size_t index, std::uint32_t name, std::size_t offset, std::size_t size) {
            const std::size_t at = tableAt + index * entry;
            put(image, at, name, 4, bigEndian);
            put(image, at + 4, 1, 4, bigEndian);  // PROGBITS
            put(image, at + (is64 ? 24 : 16), offset, static_cast<int>(word), bigEndian);
            put(image, at + (is64 ? 32 : 20), size, static_cast<int>(word), bigEndian);
        };
        section(1, 1, BUNDLE_AT, bundle.size());
        section(2, 15, namesAt, names.size());
        return {image, tableAt + entry};
    }
};

}  // namespace program_builder
