// A COFF object of one `.rsrc` section, as GNU linkers take resources: the
// resource directory (type, name and language tables, in the order the PE format
// requires), its strings, one data entry per resource and the data, each data
// entry's address made image-relative by a relocation against the section, as
// windres's `-O coff` writes it. GNU ld merges such objects with one another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "coff/res_scan.h"
#include "resfile/output_buffer.h"

enum class CoffMachine { I386, AMD64 };

class ResourceObject {
public:
    // `file` must outlive the object; its resources are not copied.
    explicit ResourceObject(const ScannedFile& file) : file_(file) {}

    // Puts the resources in the directory's order: types, then names within a type,
    // then languages, each text before ordinals, texts ascending by UTF-16 unit (a
    // shorter text before a longer one it starts), ordinals ascending. Two resources
    // of one type, name and language fit no directory: the first such pair, as
    // indices into the file's resources, the earlier one first.
    std::optional<std::pair<std::size_t, std::size_t>> sort();

    // A directory table counts its text entries and its ordinals in 16 bits each:
    // a type with more names than that (or a file with more types, a name with more
    // languages) fits no directory. Which table, by a resource it would hold.
    static constexpr std::uint32_t MAX_TABLE_ENTRIES = 0xFFFF;
    struct Overfull {
        enum What { TYPES, NAMES, LANGUAGES } what;
        std::size_t resource;
    };
    std::optional<Overfull> overfullTable() const;

    // Places everything in the section; false when the object would pass the 4 GiB
    // that its 32-bit offsets reach. Due after sort().
    bool layOut();
    std::uint64_t objectSize() const { return objectSize_; }

    // Writes the object to `out`, the data copied from `window`, the file scanned.
    // False when the file could not be read (window.readFailed()) or `out` failed.
    bool write(CoffMachine machine, OutputBuffer& out, InputWindow& window) const;

private:
    struct TypeGroup {
        std::uint32_t firstName = 0;  // index into names_
        std::uint32_t names = 0;
        std::uint32_t resources = 0;
        std::uint32_t namedNames = 0;  // names that are text
        std::uint64_t stringBytes = 0;  // of the type's string and its names'
    };
    struct NameGroup {
        std::uint32_t first = 0;  // index into order_
        std::uint32_t languages = 0;
    };

    int compare(const ResourceId& a, const ResourceId& b) const;
    static std::uint64_t stringBytes(const ResourceId& id) { return id.isOrdinal() ? 0 : 2 + 2 * std::uint64_t{id.value}; }
    void putString(OutputBuffer& out, const ResourceId& id) const;
    std::uint32_t idField(const ResourceId& id, std::uint64_t& stringAt) const;

    const ScannedFile& file_;
    std::vector<std::uint32_t> order_;       // resource indices in the directory's order
    std::vector<TypeGroup> types_;
    std::vector<NameGroup> names_;
    std::vector<std::uint32_t> dataAt_;      // per resource in file order: its data's offset in the section
    std::uint64_t tablesBytes_ = 0;
    std::uint64_t dataEntriesAt_ = 0;
    std::uint64_t dataAt0_ = 0;
    std::uint64_t sectionSize_ = 0;
    std::uint64_t objectSize_ = 0;
};
