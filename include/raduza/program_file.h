// raduza/program_file.h: the resources a program file holds, read from its bytes
// as they lie on disk (not as a loader maps them): the resource directory of a PE
// executable or DLL (PE32 and PE32+), the raduza_bundle section of an ELF program,
// shared library or object (the resource files raduza_add_resources embeds, laid
// end to end; 32 or 64 bits, either byte order), or a resource file itself.
//
//   raduza::WalkOutcome outcome = raduza::walkProgramResources(image, size, [](const raduza::ResourceEntry& entry) {
//       ...
//   });
//
// Every offset, size and count is checked against the image, and a resource
// directory that reaches one of its tables twice is refused, so a hostile file
// costs time linear in its size and gives an error with the offset of the fault.
//
// Header-only C++17, the standard library alone. No exceptions are thrown for bad input.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "raduza/resource_file.h"

namespace raduza {

enum class ProgramKind { RESOURCE_FILE, PE, ELF };

// By the first bytes: "MZ" opens a PE file, 0x7F "ELF" an ELF file, and a
// resource file opens with a zero DataSize.
inline ProgramKind programKindOf(const void* image, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (bytes != nullptr && size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') return ProgramKind::PE;
    if (bytes != nullptr && size >= 4 && std::memcmp(bytes, "\x7f" "ELF", 4) == 0) return ProgramKind::ELF;
    return ProgramKind::RESOURCE_FILE;
}

inline const char* describe(ProgramKind kind) noexcept {
    switch (kind) {
        case ProgramKind::RESOURCE_FILE: return "resource file";
        case ProgramKind::PE: return "PE file";
        case ProgramKind::ELF: return "ELF file";
    }
    return "file";
}

namespace detail {

// A PE resource directory in memory, `size` bytes from `base`: a tree of tables
// (type, name, language), each a header and 8-byte entries; every offset in it
// counts from `base`. Each read is checked; a failed one says so.
struct ResourceDirectory {
    static constexpr std::size_t TABLE_BYTES = 16;
    static constexpr std::size_t NAMED_COUNT_AT = 12;  // then the count of ID entries
    static constexpr std::size_t ENTRY_BYTES = 8;
    static constexpr std::size_t DATA_ENTRY_BYTES = 16;  // RVA, size, code page, reserved
    static constexpr std::uint32_t HIGH_BIT = 0x80000000u;  // a name by offset; a subtable

    struct Entry {
        std::uint32_t name;    // an ID, or with HIGH_BIT the offset of a counted UTF-16 name
        std::uint32_t target;  // a data entry's offset, or with HIGH_BIT a table's
    };

    const unsigned char* base = nullptr;
    std::size_t size = 0;

    bool holds(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }

    // How many entries the table at `at` has; false when the table runs past the end.
    bool entryCount(std::size_t at, std::size_t& count) const {
        if (!holds(at, TABLE_BYTES)) return false;
        count = std::size_t{readLe16(base + at + NAMED_COUNT_AT)} + readLe16(base + at + NAMED_COUNT_AT + 2);
        return (size - at - TABLE_BYTES) / ENTRY_BYTES >= count;
    }
    // Entry `i` of the table at `at`, whose entryCount() succeeded.
    Entry entry(std::size_t at, std::size_t i) const {
        const unsigned char* bytes = base + at + TABLE_BYTES + i * ENTRY_BYTES;
        return {readLe32(bytes), readLe32(bytes + 4)};
    }
    // An entry's name: its ID, or the counted UTF-16 string it points to.
    bool name(std::uint32_t field, ResourceField& name) const {
        if ((field & HIGH_BIT) == 0) {
            if (field > 0xFFFF) return false;
            name = ResourceField::ofOrdinal(static_cast<std::uint16_t>(field));
            return true;
        }
        const std::size_t at = field & ~HIGH_BIT;
        if (!holds(at, 2) || (size - at - 2) / 2 < readLe16(base + at)) return false;
        name = ResourceField::ofText(base + at + 2, readLe16(base + at));
        return true;
    }
    // The RVA and size of the data entry at `at`.
    bool dataEntry(std::size_t at, std::uint32_t& rva, std::uint32_t& dataSize) const {
        if (!holds(at, DATA_ENTRY_BYTES)) return false;
        rva = readLe32(base + at);
        dataSize = readLe32(base + at + 4);
        return true;
    }
};

// A PE file's headers: where each section's bytes lie in the file, and the
// resource directory's RVA and size.
struct PeFile {
    static constexpr std::size_t NEW_HEADER_POINTER_AT = 0x3C;
    static constexpr std::size_t SIGNATURE_BYTES = 4;  // "PE\0\0"
    static constexpr std::size_t FILE_HEADER_BYTES = 20;
    static constexpr std::size_t SECTION_COUNT_AT = 2, OPTIONAL_SIZE_AT = 16;  // in the file header
    static constexpr std::uint16_t PE32_MAGIC = 0x10B, PE32_PLUS_MAGIC = 0x20B;
    static constexpr std::size_t PE32_DIRECTORY_COUNT_AT = 92, PE32_PLUS_DIRECTORY_COUNT_AT = 108;
    static constexpr std::size_t RESOURCE_DIRECTORY_INDEX = 2, DATA_DIRECTORY_BYTES = 8;
    static constexpr std::size_t SECTION_HEADER_BYTES = 40;
    static constexpr std::size_t SECTION_VIRTUAL_ADDRESS_AT = 12, SECTION_RAW_SIZE_AT = 16, SECTION_RAW_AT = 20;

    struct Section {
        std::uint32_t virtualAddress, rawSize, rawAt;
    };

    const unsigned char* image = nullptr;
    std::size_t size = 0;
    std::vector<Section> sections;
    std::uint32_t resourcesRva = 0, resourcesSize = 0;
    std::size_t resourcesFieldAt = 0;  // where the data directory entry lies, for errors

    // Reads the headers; on a fault, where it lies.
    bool read(const unsigned char* bytes, std::size_t length, std::size_t& faultAt) {
        image = bytes;
        size = length;
        faultAt = 0;
        if (!holds(NEW_HEADER_POINTER_AT, 4)) return false;
        const std::size_t peAt = readLe32(image + NEW_HEADER_POINTER_AT);
        faultAt = peAt <= size ? peAt : NEW_HEADER_POINTER_AT;
        if (!holds(peAt, SIGNATURE_BYTES + FILE_HEADER_BYTES) || std::memcmp(image + peAt, "PE\0\0", 4) != 0)
            return false;
        const std::size_t fileHeader = peAt + SIGNATURE_BYTES;
        const std::size_t optional = fileHeader + FILE_HEADER_BYTES;
        const std::size_t optionalSize = readLe16(image + fileHeader + OPTIONAL_SIZE_AT);
        faultAt = optional;
        if (!holds(optional, optionalSize) || optionalSize < 2) return false;
        const std::uint16_t magic = readLe16(image + optional);
        if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) return false;
        const std::size_t countAt = magic == PE32_MAGIC ? PE32_DIRECTORY_COUNT_AT : PE32_PLUS_DIRECTORY_COUNT_AT;
        const std::size_t fieldAt = countAt + 4 + RESOURCE_DIRECTORY_INDEX * DATA_DIRECTORY_BYTES;
        if (optionalSize >= countAt + 4 && readLe32(image + optional + countAt) > RESOURCE_DIRECTORY_INDEX &&
            optionalSize >= fieldAt + DATA_DIRECTORY_BYTES) {
            resourcesFieldAt = optional + fieldAt;
            resourcesRva = readLe32(image + resourcesFieldAt);
            resourcesSize = readLe32(image + resourcesFieldAt + 4);
        }
        return readSections(optional + optionalSize, readLe16(image + fileHeader + SECTION_COUNT_AT), faultAt);
    }

    // Where `count` bytes at `rva` lie in the file: within one section's bytes there.
    bool fileOffsetOf(std::uint32_t rva, std::size_t count, std::size_t& at) const {
        for (const Section& section : sections) {
            if (rva < section.virtualAddress || rva - section.virtualAddress >= section.rawSize) continue;
            const std::size_t within = rva - section.virtualAddress;
            if (count > section.rawSize - within) return false;
            at = section.rawAt + within;
            return true;
        }
        at = 0;
        return count == 0;  // no bytes to read, wherever they would be
    }

    // The bytes of the resource directory, as much of it as its section holds in the file.
    bool resourceDirectory(ResourceDirectory& directory, std::size_t& at) const {
        for (const Section& section : sections) {
            if (resourcesRva < section.virtualAddress || resourcesRva - section.virtualAddress >= section.rawSize)
                continue;
            const std::size_t within = resourcesRva - section.virtualAddress;
            at = section.rawAt + within;
            directory = {image + at, (std::min)(std::size_t{resourcesSize}, section.rawSize - within)};
            return true;
        }
        return false;
    }

private:
    bool holds(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }

    bool readSections(std::size_t table, std::size_t count, std::size_t& faultAt) {
        faultAt = table;
        if (table > size || (size - table) / SECTION_HEADER_BYTES < count) return false;
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* header = image + table + i * SECTION_HEADER_BYTES;
            const Section section{readLe32(header + SECTION_VIRTUAL_ADDRESS_AT), readLe32(header + SECTION_RAW_SIZE_AT),
                                  readLe32(header + SECTION_RAW_AT)};
            faultAt = table + i * SECTION_HEADER_BYTES;
            if (!holds(section.rawAt, section.rawSize)) return false;
            sections.push_back(section);
        }
        return true;
    }
};

// Walks a PE resource directory: types, then names, then languages, whose
// entries point at data entries. Each table is entered once at most.
template <typename Visitor>
class PeResourceWalk {
public:
    PeResourceWalk(const PeFile& file, const ResourceDirectory& directory, std::size_t directoryAt, Visitor& visit)
        : file_(file), directory_(directory), directoryAt_(directoryAt), visit_(visit) {}

    WalkOutcome walk() {
        ResourceEntry entry;
        return table(0, 0, 0, entry);
    }

private:
    static constexpr int LANGUAGE_LEVEL = 2;

    // A fault in what lies at `at`, placed there or, when that is beyond the
    // directory, at the entry that points to it.
    WalkOutcome fault(BundleError error, std::size_t at, std::size_t pointedFrom) const {
        return {error, directoryAt_ + (directory_.holds(at, 1) ? at : pointedFrom)};
    }

    WalkOutcome table(std::size_t at, std::size_t pointedFrom, int level, ResourceEntry& entry) {
        if (!entered_.insert(at).second) return fault(BundleError::RESOURCE_DIRECTORY_LOOPS, pointedFrom, pointedFrom);
        std::size_t count = 0;
        if (!directory_.entryCount(at, count)) return fault(BundleError::BAD_RESOURCE_DIRECTORY, at, pointedFrom);
        for (std::size_t i = 0; i < count; ++i) {
            const ResourceDirectory::Entry item = directory_.entry(at, i);
            const std::size_t itemAt = at + ResourceDirectory::TABLE_BYTES + i * ResourceDirectory::ENTRY_BYTES;
            ResourceField name;
            if (!directory_.name(item.name, name)) return fault(BundleError::BAD_RESOURCE_DIRECTORY, itemAt, itemAt);
            if (level == 0) entry.type = name;
            if (level == 1) entry.name = name;
            if (level == LANGUAGE_LEVEL) entry.language = name.isOrdinal() ? name.ordinal() : 0;
            const bool subtable = (item.target & ResourceDirectory::HIGH_BIT) != 0;
            if (subtable == (level == LANGUAGE_LEVEL)) return fault(BundleError::BAD_RESOURCE_DIRECTORY, itemAt, itemAt);
            const std::size_t target = item.target & ~ResourceDirectory::HIGH_BIT;
            const WalkOutcome outcome = subtable ? table(target, itemAt, level + 1, entry) : data(target, itemAt, entry);
            if (outcome.error != BundleError::NONE) return outcome;
        }
        return {};
    }

    WalkOutcome data(std::size_t at, std::size_t pointedFrom, ResourceEntry& entry) {
        std::uint32_t rva = 0, dataSize = 0;
        std::size_t dataAt = 0;
        if (!directory_.dataEntry(at, rva, dataSize) || !file_.fileOffsetOf(rva, dataSize, dataAt))
            return fault(BundleError::BAD_RESOURCE_DIRECTORY, at, pointedFrom);
        entry.offset = directoryAt_ + at;
        entry.data = FileView(file_.image + dataAt, dataSize);
        visit_(static_cast<const ResourceEntry&>(entry));
        return {};
    }

    const PeFile& file_;
    const ResourceDirectory& directory_;
    std::size_t directoryAt_;
    Visitor& visit_;
    std::set<std::size_t> entered_;
};

template <typename Visitor>
WalkOutcome walkPeResources(const unsigned char* image, std::size_t size, Visitor& visit) {
    PeFile file;
    std::size_t at = 0;
    if (!file.read(image, size, at)) return {BundleError::BAD_PROGRAM_HEADERS, at};
    if (file.resourcesRva == 0 || file.resourcesSize == 0) return {};  // no resources
    ResourceDirectory directory;
    if (!file.resourceDirectory(directory, at)) return {BundleError::BAD_RESOURCE_DIRECTORY, file.resourcesFieldAt};
    return PeResourceWalk<Visitor>(file, directory, at, visit).walk();
}

// An ELF file's section headers, read in the file's own class and byte order.
struct ElfFile {
    static constexpr std::size_t CLASS_AT = 4, DATA_AT = 5;
    static constexpr unsigned char CLASS_32 = 1, CLASS_64 = 2, DATA_LITTLE = 1, DATA_BIG = 2;
    static constexpr std::uint32_t SECTION_NOBITS = 8;
    static constexpr std::uint16_t SECTION_INDEX_ESCAPE = 0xFFFF;  // the string table's index is elsewhere
    static constexpr char BUNDLE_SECTION[] = "raduza_bundle";

    struct Layout {
        std::size_t headerBytes, sectionTableAt, sectionEntryBytesAt, sectionCountAt, stringTableIndexAt;
        std::size_t sectionEntryBytes, typeAt, linkAt, offsetAt, sizeAt, wordBytes;
    };
    static constexpr Layout LAYOUT_32{52, 0x20, 0x2E, 0x30, 0x32, 40, 4, 24, 16, 20, 4};
    static constexpr Layout LAYOUT_64{64, 0x28, 0x3A, 0x3C, 0x3E, 64, 4, 40, 24, 32, 8};

    struct Section {
        std::size_t headerAt;
        std::uint32_t name, type, link;
        std::uint64_t offset, size;
    };

    const unsigned char* image = nullptr;
    std::size_t size = 0;
    bool bigEndian = false;
    Layout layout = LAYOUT_32;
    std::size_t tableAt = 0, entryBytes = 0, count = 0;

    std::uint64_t number(std::size_t at, std::size_t bytes) const {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value |= std::uint64_t{image[at + (bigEndian ? bytes - 1 - i : i)]} << (8 * i);
        return value;
    }
    bool holds(std::uint64_t at, std::uint64_t bytes) const { return at <= size && bytes <= size - at; }

    Section section(std::size_t index) const {
        const std::size_t at = tableAt + index * entryBytes;
        return {at,
                static_cast<std::uint32_t>(number(at, 4)),
                static_cast<std::uint32_t>(number(at + layout.typeAt, 4)),
                static_cast<std::uint32_t>(number(at + layout.linkAt, 4)),
                number(at + layout.offsetAt, layout.wordBytes),
                number(at + layout.sizeAt, layout.wordBytes)};
    }

    // Reads the header and checks the section table; on a fault, where it lies.
    bool read(const unsigned char* bytes, std::size_t length, std::size_t& faultAt) {
        image = bytes;
        size = length;
        faultAt = 0;
        if (size <= DATA_AT || (image[CLASS_AT] != CLASS_32 && image[CLASS_AT] != CLASS_64) ||
            (image[DATA_AT] != DATA_LITTLE && image[DATA_AT] != DATA_BIG))
            return false;
        layout = image[CLASS_AT] == CLASS_32 ? LAYOUT_32 : LAYOUT_64;
        bigEndian = image[DATA_AT] == DATA_BIG;
        faultAt = 0;
        if (!holds(0, layout.headerBytes)) return false;
        const std::uint64_t table = number(layout.sectionTableAt, layout.wordBytes);
        entryBytes = number(layout.sectionEntryBytesAt, 2);
        count = number(layout.sectionCountAt, 2);
        if (table == 0) {  // no sections
            count = 0;
            return true;
        }
        faultAt = layout.sectionTableAt;
        if (entryBytes < layout.sectionEntryBytes || !holds(table, entryBytes)) return false;
        tableAt = static_cast<std::size_t>(table);
        // 0xFF00 sections or more: the count is section 0's size.
        if (count == 0) count = static_cast<std::size_t>((std::min)(section(0).size, std::uint64_t{size}));
        return (size - tableAt) / entryBytes >= count;
    }

    std::size_t stringTableIndex() const {
        const std::size_t index = number(layout.stringTableIndexAt, 2);
        return index == SECTION_INDEX_ESCAPE && count > 0 ? section(0).link : index;
    }

    bool named(const Section& section, const Section& strings) const {
        const std::size_t nameBytes = sizeof BUNDLE_SECTION;
        return section.name <= strings.size && nameBytes <= strings.size - section.name &&
               std::memcmp(image + strings.offset + section.name, BUNDLE_SECTION, nameBytes) == 0;
    }
};

// The resource files of every raduza_bundle section, each read as one image
// whose entries and faults are placed by their offset in the whole file.
template <typename Visitor>
WalkOutcome walkElfResources(const unsigned char* image, std::size_t size, Visitor& visit) {
    ElfFile file;
    std::size_t at = 0;
    if (!file.read(image, size, at)) return {BundleError::BAD_PROGRAM_HEADERS, at};
    if (file.count == 0) return {};
    const std::size_t stringIndex = file.stringTableIndex();
    if (stringIndex >= file.count) return {BundleError::BAD_PROGRAM_HEADERS, file.layout.stringTableIndexAt};
    const ElfFile::Section strings = file.section(stringIndex);
    if (strings.type == ElfFile::SECTION_NOBITS || !file.holds(strings.offset, strings.size))
        return {BundleError::BAD_PROGRAM_HEADERS, strings.headerAt};
    for (std::size_t i = 0; i < file.count; ++i) {
        const ElfFile::Section section = file.section(i);
        if (!file.named(section, strings) || section.size == 0) continue;
        if (section.type == ElfFile::SECTION_NOBITS || !file.holds(section.offset, section.size))
            return {BundleError::BAD_PROGRAM_HEADERS, section.headerAt};
        const auto start = static_cast<std::size_t>(section.offset);
        const auto placeInFile = [&](const ResourceEntry& entry) {
            ResourceEntry placed = entry;
            placed.offset += start;
            visit(static_cast<const ResourceEntry&>(placed));
        };
        const WalkOutcome outcome = walkResources(image + start, static_cast<std::size_t>(section.size), placeInFile);
        if (outcome.error != BundleError::NONE) return {outcome.error, start + outcome.offset};
    }
    return {};
}

}  // namespace detail

// Visits every resource of a program file or resource file image, calling
// visit(const ResourceEntry&): a PE file's in the order of its resource directory
// (types, names, languages), an ELF file's and a resource file's in file order.
// An entry's offset is that of its data entry (PE) or header, from the start of
// the image. Stops at the first structural fault and says what and where.
template <typename Visitor>
WalkOutcome walkProgramResources(const void* image, std::size_t size, Visitor&& visit) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    switch (programKindOf(image, size)) {
        case ProgramKind::PE: return detail::walkPeResources(bytes, size, visit);
        case ProgramKind::ELF: return detail::walkElfResources(bytes, size, visit);
        case ProgramKind::RESOURCE_FILE: break;
    }
    return walkResources(image, size, visit);
}

}  // namespace raduza
