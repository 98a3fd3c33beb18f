#include "coff/coff_object.h"

#include <algorithm>

#include "raduza/format/layout.h"

namespace {

constexpr std::uint64_t FILE_HEADER_BYTES = 20;
constexpr std::uint64_t SECTION_HEADER_BYTES = 40;
constexpr std::uint64_t RELOCATION_BYTES = 10;
constexpr std::uint64_t SYMBOL_BYTES = 18;
constexpr std::uint64_t STRING_TABLE_BYTES = 4;  // its size alone: no long names
constexpr std::uint64_t TABLE_BYTES = 16;        // a directory table's header
constexpr std::uint64_t TABLE_ENTRY_BYTES = 8;
constexpr std::uint64_t DATA_ENTRY_BYTES = 16;
constexpr std::uint64_t DATA_ALIGNMENT = 8;      // as windres and llvm-cvtres place data

constexpr std::uint16_t MACHINE_I386 = 0x014C;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t FILE_LINE_NUMS_STRIPPED = 0x0004;
constexpr std::uint16_t FILE_32BIT_MACHINE = 0x0100;
constexpr std::uint16_t REL_I386_DIR32NB = 0x0007;
constexpr std::uint16_t REL_AMD64_ADDR32NB = 0x0003;
// Initialised data, readable, writable, aligned to 4: windres's flags for .rsrc.
constexpr std::uint32_t SECTION_FLAGS = 0xC0300040;
constexpr std::uint32_t SECTION_RELOCATIONS_OVERFLOW = 0x01000000;
constexpr std::uint16_t MAX_RELOCATION_COUNT = 0xFFFF;
constexpr std::uint32_t DIRECTORY_HIGH_BIT = 0x80000000u;
constexpr std::uint8_t SYMBOL_CLASS_STATIC = 3;
constexpr std::uint64_t MAX_OFFSET = 0xFFFFFFFFu;

std::uint64_t alignUp(std::uint64_t offset, std::uint64_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

// Little-endian numbers gathered for one put().
class Bytes {
public:
    Bytes& u8(std::uint8_t value) {
        bytes_[size_++] = static_cast<char>(value);
        return *this;
    }
    Bytes& u16(std::uint16_t value) { return advancedTo(raduza::format::writeLe16(bytes_ + size_, value)); }
    Bytes& u32(std::uint32_t value) { return advancedTo(raduza::format::writeLe32(bytes_ + size_, value)); }
    Bytes& text(const char* name, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) u8(static_cast<std::uint8_t>(*name != '\0' ? *name++ : 0));
        return *this;
    }
    void to(OutputBuffer& out) const { out.put(bytes_, size_); }

private:
    Bytes& advancedTo(const char* end) {
        size_ = static_cast<std::size_t>(end - bytes_);
        return *this;
    }
    char bytes_[64];
    std::size_t size_ = 0;
};

void putTableHeader(OutputBuffer& out, std::uint32_t named, std::uint32_t ids) {
    Bytes().u32(0).u32(0).u16(0).u16(0).u16(static_cast<std::uint16_t>(named)).u16(static_cast<std::uint16_t>(ids)).to(out);
}

void putTableEntry(OutputBuffer& out, std::uint32_t name, std::uint32_t offset) { Bytes().u32(name).u32(offset).to(out); }

}  // namespace

int ResourceObject::compare(const ResourceId& a, const ResourceId& b) const {
    if (a.text == b.text && a.value == b.value) return 0;
    if (a.isOrdinal() != b.isOrdinal()) return a.isOrdinal() ? 1 : -1;
    if (a.isOrdinal()) return a.value < b.value ? -1 : 1;
    const unsigned char* x = file_.units(a);
    const unsigned char* y = file_.units(b);
    const std::uint32_t common = std::min(a.value, b.value);
    for (std::uint32_t i = 0; i < common; ++i) {
        const unsigned unitX = raduza::format::readLe16(x + 2 * i);
        const unsigned unitY = raduza::format::readLe16(y + 2 * i);
        if (unitX != unitY) return unitX < unitY ? -1 : 1;
    }
    return a.value == b.value ? 0 : (a.value < b.value ? -1 : 1);
}

std::optional<std::pair<std::size_t, std::size_t>> ResourceObject::sort() {
    const std::vector<ScannedResource>& resources = file_.resources;
    order_.resize(resources.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<std::uint32_t>(i);
    const auto keyCompare = [&](std::uint32_t x, std::uint32_t y) {
        const ScannedResource& a = resources[x];
        const ScannedResource& b = resources[y];
        if (const int types = compare(a.type, b.type); types != 0) return types;
        if (const int names = compare(a.name, b.name); names != 0) return names;
        return a.language == b.language ? 0 : (a.language < b.language ? -1 : 1);
    };
    // Resources of one key stay in file order, so a pair of them names the earlier first.
    std::sort(order_.begin(), order_.end(), [&](std::uint32_t x, std::uint32_t y) {
        const int keys = keyCompare(x, y);
        return keys != 0 ? keys < 0 : x < y;
    });
    types_.clear();
    names_.clear();
    for (std::size_t k = 0; k < order_.size(); ++k) {
        const ScannedResource& resource = resources[order_[k]];
        const bool newType = k == 0 || compare(resources[order_[k - 1]].type, resource.type) != 0;
        const bool newName = newType || compare(resources[order_[k - 1]].name, resource.name) != 0;
        if (!newName && resources[order_[k - 1]].language == resource.language)
            return std::make_pair(std::size_t{order_[k - 1]}, std::size_t{order_[k]});
        if (newType) {
            TypeGroup type;
            type.firstName = static_cast<std::uint32_t>(names_.size());
            type.stringBytes = stringBytes(resource.type);
            types_.push_back(type);
        }
        TypeGroup& type = types_.back();
        if (newName) {
            names_.push_back(NameGroup{static_cast<std::uint32_t>(k), 0});
            ++type.names;
            if (!resource.name.isOrdinal()) ++type.namedNames;
            type.stringBytes += stringBytes(resource.name);
        }
        ++names_.back().languages;
        ++type.resources;
    }
    return std::nullopt;
}

std::optional<ResourceObject::Overfull> ResourceObject::overfullTable() const {
    const auto first = [&](std::uint32_t nameGroup) { return std::size_t{order_[names_[nameGroup].first]}; };
    std::uint32_t namedTypes = 0;
    for (const TypeGroup& type : types_) namedTypes += file_.resources[first(type.firstName)].type.isOrdinal() ? 0 : 1;
    if (namedTypes > MAX_TABLE_ENTRIES || types_.size() - namedTypes > MAX_TABLE_ENTRIES)
        return Overfull{Overfull::TYPES, first(types_.back().firstName)};
    for (const TypeGroup& type : types_) {
        if (type.namedNames > MAX_TABLE_ENTRIES || type.names - type.namedNames > MAX_TABLE_ENTRIES)
            return Overfull{Overfull::NAMES, first(type.firstName)};
        for (std::uint32_t g = type.firstName; g < type.firstName + type.names; ++g)
            if (names_[g].languages > MAX_TABLE_ENTRIES) return Overfull{Overfull::LANGUAGES, first(g)};
    }
    return std::nullopt;
}

bool ResourceObject::layOut() {
    // Depth first, as windres lays it out: the type table, then each type's name
    // table followed by the language tables of its names; then the strings, the
    // data entries and the data.
    tablesBytes_ = TABLE_BYTES + TABLE_ENTRY_BYTES * types_.size();
    std::uint64_t strings = 0;
    for (const TypeGroup& type : types_) {
        tablesBytes_ += TABLE_BYTES * (1 + std::uint64_t{type.names}) +
                        TABLE_ENTRY_BYTES * (std::uint64_t{type.names} + type.resources);
        strings += type.stringBytes;
    }
    dataEntriesAt_ = alignUp(tablesBytes_ + strings, DATA_ALIGNMENT);
    dataAt0_ = dataEntriesAt_ + DATA_ENTRY_BYTES * order_.size();
    // The data in file order, so that it is read from the file front to back.
    dataAt_.resize(file_.resources.size());
    std::uint64_t at = dataAt0_;
    for (std::size_t i = 0; i < file_.resources.size(); ++i) {
        if (at > MAX_OFFSET) return false;
        dataAt_[i] = static_cast<std::uint32_t>(at);
        at = alignUp(at + file_.resources[i].dataSize, DATA_ALIGNMENT);
    }
    sectionSize_ = at;
    const std::uint64_t relocations = order_.size() + (order_.size() >= MAX_RELOCATION_COUNT ? 1 : 0);
    objectSize_ = FILE_HEADER_BYTES + SECTION_HEADER_BYTES + sectionSize_ + RELOCATION_BYTES * relocations +
                  SYMBOL_BYTES + STRING_TABLE_BYTES;
    return objectSize_ <= MAX_OFFSET;
}

// The Name field of a table entry: the ordinal, or the string's offset, which
// `stringAt` then passes.
std::uint32_t ResourceObject::idField(const ResourceId& id, std::uint64_t& stringAt) const {
    if (id.isOrdinal()) return id.value;
    const auto field = static_cast<std::uint32_t>(stringAt) | DIRECTORY_HIGH_BIT;
    stringAt += stringBytes(id);
    return field;
}

void ResourceObject::putString(OutputBuffer& out, const ResourceId& id) const {
    if (id.isOrdinal()) return;
    Bytes().u16(static_cast<std::uint16_t>(id.value)).to(out);
    out.put(reinterpret_cast<const char*>(file_.units(id)), 2 * std::size_t{id.value});
}

bool ResourceObject::write(CoffMachine machine, OutputBuffer& out, InputWindow& window) const {
    const std::vector<ScannedResource>& resources = file_.resources;
    const std::size_t count = order_.size();
    const bool overflow = count >= MAX_RELOCATION_COUNT;
    const std::uint64_t relocationsAt = FILE_HEADER_BYTES + SECTION_HEADER_BYTES + sectionSize_;
    const std::uint64_t symbolsAt = relocationsAt + RELOCATION_BYTES * (count + (overflow ? 1 : 0));
    const bool i386 = machine == CoffMachine::I386;

    Bytes()
        .u16(i386 ? MACHINE_I386 : MACHINE_AMD64)
        .u16(1)   // sections
        .u32(0)   // no time: the same input makes the same object
        .u32(static_cast<std::uint32_t>(symbolsAt))
        .u32(1)   // symbols
        .u16(0)   // no optional header
        .u16(i386 ? FILE_LINE_NUMS_STRIPPED | FILE_32BIT_MACHINE : FILE_LINE_NUMS_STRIPPED)
        .to(out);
    Bytes()
        .text(".rsrc", 8)
        .u32(0)
        .u32(0)
        .u32(static_cast<std::uint32_t>(sectionSize_))
        .u32(static_cast<std::uint32_t>(FILE_HEADER_BYTES + SECTION_HEADER_BYTES))
        .u32(static_cast<std::uint32_t>(relocationsAt))
        .u32(0)
        .u16(overflow ? MAX_RELOCATION_COUNT : static_cast<std::uint16_t>(count))
        .u16(0)
        .u32(SECTION_FLAGS | (overflow ? SECTION_RELOCATIONS_OVERFLOW : 0))
        .to(out);

    // The type table.
    const std::uint64_t stringsAt = tablesBytes_;
    std::uint32_t namedTypes = 0;
    for (const TypeGroup& type : types_) namedTypes += resources[order_[names_[type.firstName].first]].type.isOrdinal() ? 0 : 1;
    putTableHeader(out, namedTypes, static_cast<std::uint32_t>(types_.size()) - namedTypes);
    std::uint64_t tableAt = TABLE_BYTES + TABLE_ENTRY_BYTES * types_.size();
    std::uint64_t stringAt = stringsAt;
    for (const TypeGroup& type : types_) {
        const ResourceId& id = resources[order_[names_[type.firstName].first]].type;
        std::uint64_t typeStringAt = stringAt;
        putTableEntry(out, idField(id, typeStringAt), static_cast<std::uint32_t>(tableAt) | DIRECTORY_HIGH_BIT);
        stringAt += type.stringBytes;
        tableAt += TABLE_BYTES * (1 + std::uint64_t{type.names}) +
                   TABLE_ENTRY_BYTES * (std::uint64_t{type.names} + type.resources);
    }
    // Each type's name table and its names' language tables.
    stringAt = stringsAt;
    tableAt = TABLE_BYTES + TABLE_ENTRY_BYTES * types_.size();
    for (const TypeGroup& type : types_) {
        stringAt += stringBytes(resources[order_[names_[type.firstName].first]].type);
        putTableHeader(out, type.namedNames, type.names - type.namedNames);
        std::uint64_t languageTableAt = tableAt + TABLE_BYTES + TABLE_ENTRY_BYTES * type.names;
        for (std::uint32_t g = type.firstName; g < type.firstName + type.names; ++g) {
            putTableEntry(out, idField(resources[order_[names_[g].first]].name, stringAt),
                          static_cast<std::uint32_t>(languageTableAt) | DIRECTORY_HIGH_BIT);
            languageTableAt += TABLE_BYTES + TABLE_ENTRY_BYTES * names_[g].languages;
        }
        for (std::uint32_t g = type.firstName; g < type.firstName + type.names; ++g) {
            putTableHeader(out, 0, names_[g].languages);
            for (std::uint32_t k = names_[g].first; k < names_[g].first + names_[g].languages; ++k)
                putTableEntry(out, resources[order_[k]].language,
                              static_cast<std::uint32_t>(dataEntriesAt_ + DATA_ENTRY_BYTES * k));
        }
        tableAt = languageTableAt;
    }
    // The strings, in the order of the tables that name them.
    for (const TypeGroup& type : types_) {
        putString(out, resources[order_[names_[type.firstName].first]].type);
        for (std::uint32_t g = type.firstName; g < type.firstName + type.names; ++g)
            putString(out, resources[order_[names_[g].first]].name);
    }
    out.putZeros(static_cast<std::size_t>(FILE_HEADER_BYTES + SECTION_HEADER_BYTES + dataEntriesAt_ - out.position()));
    // The data entries: the section offset of the data, which the relocation makes image-relative.
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t resource = order_[k];
        Bytes().u32(dataAt_[resource]).u32(resources[resource].dataSize).u32(0).u32(0).to(out);
    }
    // The data, front to back of the resource file.
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const ScannedResource& resource = resources[i];
        if (!window.copyTo(out, resource.dataOffset(), resource.dataSize)) return false;
        out.putZeros(static_cast<std::size_t>(alignUp(resource.dataSize, DATA_ALIGNMENT) - resource.dataSize));
    }
    // One relocation per data entry, against the section's symbol; past 65,534 the
    // first record holds their count, itself included.
    if (overflow) Bytes().u32(static_cast<std::uint32_t>(count + 1)).u32(0).u16(0).to(out);
    for (std::size_t k = 0; k < count; ++k)
        Bytes()
            .u32(static_cast<std::uint32_t>(dataEntriesAt_ + DATA_ENTRY_BYTES * k))
            .u32(0)
            .u16(i386 ? REL_I386_DIR32NB : REL_AMD64_ADDR32NB)
            .to(out);
    Bytes().text(".rsrc", 8).u32(0).u16(1).u16(0).u8(SYMBOL_CLASS_STATIC).u8(0).to(out);
    Bytes().u32(static_cast<std::uint32_t>(STRING_TABLE_BYTES)).to(out);
    return !out.failed();
}
