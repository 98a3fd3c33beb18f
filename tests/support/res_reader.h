// A reader of resource files for tests: checks the structure every reader of the
// format relies on and gives back the entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ResNameOrId {
    bool isOrdinal = false;
    std::uint16_t ordinal = 0;
    std::u16string text;
    std::string utf8() const;  // the text as UTF-8, for comparisons in tests
};

struct ResEntry {
    std::size_t offset = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t headerSize = 0;
    ResNameOrId type;
    ResNameOrId name;
    std::uint32_t dataVersion = 0;
    std::uint16_t memoryFlags = 0;
    std::uint16_t languageId = 0;
    std::uint32_t version = 0;
    std::uint32_t characteristics = 0;
    std::string data;
};

struct ResFile {
    bool valid = false;
    std::string error;              // what is wrong, when not valid
    std::vector<ResEntry> entries;  // the leading entry excluded
};

// Parses and checks a whole file: the 32-byte leading entry, every header's
// HeaderSize against its fields, 4-byte alignment, zero padding, data present.
ResFile readResFile(const std::string& bytes);

// The names of the entries, in file order, as UTF-8.
std::vector<std::string> entryNames(const ResFile& file);
