// raduza/bundle.h: reads back the files that raduza bundled, as a read-only tree
// of files, from the running program or from a resource file in memory.
//
//   static const raduza::Bundle assets = raduza::Bundle::ofProgram();
//   if (std::optional<raduza::FileView> logo = assets.open("assets/images/logo.gif"))
//       draw(logo->data(), logo->size());
//   for (const raduza::DirEntry& entry : assets.list("assets/images")) ...
//
// A path is matched as raduza derives names from paths: ASCII letters in either
// case, '\' or '/' between directories. Directories are implied by the names:
// ASSETS/IMAGES/LOGO.GIF makes ASSETS and ASSETS/IMAGES. Nothing is copied: a
// FileView points into the program's image or into the caller's buffer.
//
// Header-only C++17; needs the standard library and, on Windows, <windows.h>.
// No exceptions are thrown for bad input: a damaged resource file gives a Bundle
// whose error() says what is wrong and where.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace raduza {

enum class BundleError {
    NONE,
    NOT_A_RESOURCE_FILE,  // the 32-byte empty entry that opens every resource file is missing
    HEADER_CUT_SHORT,     // an entry's header runs past the end of the image
    BAD_HEADER_SIZE,      // HeaderSize is too small, not a multiple of 4, or disagrees with the fields
    UNTERMINATED_TEXT,    // a type or name string has no terminating zero inside its header
    DATA_CUT_SHORT,       // an entry's data or its padding runs past the end of the image
    MODULE_UNREADABLE,    // Windows: the module's resources could not be listed or loaded
};

inline const char* describe(BundleError error) noexcept {
    switch (error) {
        case BundleError::NONE: return "no error";
        case BundleError::NOT_A_RESOURCE_FILE: return "not a resource file (no leading empty entry)";
        case BundleError::HEADER_CUT_SHORT: return "an entry's header runs past the end";
        case BundleError::BAD_HEADER_SIZE: return "an entry's HeaderSize disagrees with its fields";
        case BundleError::UNTERMINATED_TEXT: return "a type or name runs past its header";
        case BundleError::DATA_CUT_SHORT: return "an entry's data runs past the end";
        case BundleError::MODULE_UNREADABLE: return "the module's resources cannot be read";
    }
    return "unknown error";
}

// The bytes of one bundled file, not copied.
class FileView {
public:
    FileView() = default;
    FileView(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const unsigned char* begin() const { return data_; }
    const unsigned char* end() const { return data_ + size_; }
    std::string_view text() const { return {reinterpret_cast<const char*>(data_), size_}; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A type or name field of a resource entry as it lies in the image: a 16-bit
// ordinal, or text of UTF-16LE units (read byte by byte: the image need not be aligned).
class ResourceField {
public:
    ResourceField() = default;
    static ResourceField ofOrdinal(std::uint16_t number) {
        ResourceField field;
        field.ordinal_ = number;
        return field;
    }
    static ResourceField ofText(const unsigned char* unitsLe, std::size_t units) {
        ResourceField field;
        field.isOrdinal_ = false;
        field.text_ = unitsLe;
        field.length_ = units;
        return field;
    }

    bool isOrdinal() const { return isOrdinal_; }
    std::uint16_t ordinal() const { return ordinal_; }
    std::size_t length() const { return length_; }  // in UTF-16 units
    char16_t unit(std::size_t i) const {
        return static_cast<char16_t>(text_[2 * i] | (text_[2 * i + 1] << 8));
    }
    std::u16string text() const {
        std::u16string units(length_, u'\0');
        for (std::size_t i = 0; i < length_; ++i) units[i] = unit(i);
        return units;
    }
    bool is(std::u16string_view units) const {
        if (isOrdinal_ || units.size() != length_) return false;
        for (std::size_t i = 0; i < length_; ++i)
            if (unit(i) != units[i]) return false;
        return true;
    }

private:
    bool isOrdinal_ = true;
    std::uint16_t ordinal_ = 0;
    const unsigned char* text_ = nullptr;
    std::size_t length_ = 0;
};

inline constexpr std::u16string_view BUNDLE_TYPE = u"RT_RADUZA";

// One entry of a resource file, as walkResources hands it out.
struct ResourceEntry {
    std::size_t offset = 0;  // of the entry's header, from the start of the image
    ResourceField type;
    ResourceField name;
    std::uint16_t language = 0;
    FileView data;

    // An RT_RADUZA resource with a name, which is what raduza writes; an empty name names no file.
    bool isBundled() const { return type.is(BUNDLE_TYPE) && !name.isOrdinal() && name.length() > 0; }
};

struct WalkOutcome {
    BundleError error = BundleError::NONE;
    std::size_t offset = 0;  // where the fault lies, when there is one
};

namespace detail {

inline constexpr std::size_t RES_ALIGNMENT = 4;
inline constexpr std::size_t RES_LEADING_ENTRY_SIZE = 32;
inline constexpr std::size_t RES_SIZES_BYTES = 8;     // DataSize and HeaderSize
inline constexpr std::size_t RES_TRAILER_BYTES = 16;  // DataVersion to Characteristics
inline constexpr std::size_t RES_ORDINAL_FIELD_BYTES = 4;
inline constexpr std::uint16_t RES_ORDINAL_MARKER = 0xFFFF;
inline constexpr std::size_t RES_LANGUAGE_IN_TRAILER = 6;
inline constexpr unsigned char RES_LEADING_ENTRY[RES_SIZES_BYTES + 2 * RES_ORDINAL_FIELD_BYTES] = {
    0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};  // then 16 zero bytes

inline std::uint16_t readLe16(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }
inline std::uint32_t readLe32(const unsigned char* at) {
    return static_cast<std::uint32_t>(readLe16(at)) | (static_cast<std::uint32_t>(readLe16(at + 2)) << 16);
}
inline std::size_t paddingFor(std::size_t offset) { return (RES_ALIGNMENT - offset % RES_ALIGNMENT) % RES_ALIGNMENT; }

// Reads a type or name field at `at`, which must end by `limit`; the position after it, or 0.
inline std::size_t readField(const unsigned char* image, std::size_t at, std::size_t limit, ResourceField& field) {
    if (limit - at < 2) return 0;
    if (readLe16(image + at) == RES_ORDINAL_MARKER) {
        if (limit - at < RES_ORDINAL_FIELD_BYTES) return 0;
        field = ResourceField::ofOrdinal(readLe16(image + at + 2));
        return at + RES_ORDINAL_FIELD_BYTES;
    }
    for (std::size_t end = at; limit - end >= 2; end += 2) {
        if (readLe16(image + end) == 0) {
            field = ResourceField::ofText(image + at, (end - at) / 2);
            return end + 2;
        }
    }
    return 0;
}

inline bool isLeadingEntry(const unsigned char* image, std::size_t size) {
    if (size < RES_LEADING_ENTRY_SIZE) return false;
    if (std::memcmp(image, RES_LEADING_ENTRY, sizeof RES_LEADING_ENTRY) != 0) return false;
    for (std::size_t i = sizeof RES_LEADING_ENTRY; i < RES_LEADING_ENTRY_SIZE; ++i)
        if (image[i] != 0) return false;
    return true;
}

// Reads the entry at `offset` into `entry`; the offset of the next entry, or 0 with `error` set.
inline std::size_t readEntry(const unsigned char* image, std::size_t size, std::size_t offset, ResourceEntry& entry,
                             BundleError& error) {
    const auto fail = [&error](BundleError why) {
        error = why;
        return std::size_t{0};
    };
    const std::size_t left = size - offset;
    if (left < RES_SIZES_BYTES) return fail(BundleError::HEADER_CUT_SHORT);
    const std::uint32_t dataSize = readLe32(image + offset);
    const std::uint32_t headerSize = readLe32(image + offset + 4);
    if (headerSize < RES_LEADING_ENTRY_SIZE || headerSize % RES_ALIGNMENT != 0) return fail(BundleError::BAD_HEADER_SIZE);
    if (headerSize > left) return fail(BundleError::HEADER_CUT_SHORT);
    const std::size_t headerEnd = offset + headerSize;
    const std::size_t fieldsLimit = headerEnd - RES_TRAILER_BYTES;
    entry.offset = offset;
    std::size_t at = readField(image, offset + RES_SIZES_BYTES, fieldsLimit, entry.type);
    if (at != 0) at = readField(image, at, fieldsLimit, entry.name);
    if (at == 0) return fail(BundleError::UNTERMINATED_TEXT);
    if (at + paddingFor(at) + RES_TRAILER_BYTES != headerEnd) return fail(BundleError::BAD_HEADER_SIZE);
    entry.language = readLe16(image + headerEnd - RES_TRAILER_BYTES + RES_LANGUAGE_IN_TRAILER);
    if (size - headerEnd < dataSize) return fail(BundleError::DATA_CUT_SHORT);
    entry.data = FileView(image + headerEnd, dataSize);
    const std::size_t dataEnd = headerEnd + dataSize;
    if (size - dataEnd < paddingFor(dataEnd)) return fail(BundleError::DATA_CUT_SHORT);
    return dataEnd + paddingFor(dataEnd);
}

// The empty entry that opens a resource file; resource files laid end to end hold several.
inline bool isEmptyEntry(const ResourceEntry& entry) {
    return entry.type.isOrdinal() && entry.type.ordinal() == 0 && entry.name.isOrdinal() &&
           entry.name.ordinal() == 0 && entry.data.empty();
}

}  // namespace detail

// Visits every resource of a resource file image in file order, calling
// visit(const ResourceEntry&); the empty entries that open resource files are
// passed over, so resource files laid end to end read as one. Stops at the first
// structural fault and says what and where; entries before it were visited.
// Every offset and length is checked against `size`: nothing outside the image is read.
template <typename Visitor>
WalkOutcome walkResources(const void* image, std::size_t size, Visitor&& visit) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (bytes == nullptr || !detail::isLeadingEntry(bytes, size)) return {BundleError::NOT_A_RESOURCE_FILE, 0};
    for (std::size_t offset = detail::RES_LEADING_ENTRY_SIZE; offset < size;) {
        ResourceEntry entry;
        BundleError error = BundleError::NONE;
        const std::size_t next = detail::readEntry(bytes, size, offset, entry, error);
        if (next == 0) return {error, offset};
        if (!detail::isEmptyEntry(entry)) visit(static_cast<const ResourceEntry&>(entry));
        offset = next;
    }
    return {};
}

namespace detail {

// Decodes one UTF-8 sequence at text[pos], advancing pos; -1 when the bytes there
// are not a valid, shortest-form sequence.
inline long decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    // The sequence's length and the lead byte's bits, by the lead byte's range.
    const std::size_t extra = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                            : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
    if (extra == 0 || text.size() - pos <= extra) return -1;
    long value = lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return -1;
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    static const long MINIMUM[] = {0, 0x80, 0x800, 0x10000};
    if (value < MINIMUM[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
    pos += extra + 1;
    return value;
}

// Every byte zero-extended: how the Windows build of raduza widens names.
inline std::u16string widenBytes(std::string_view narrow) {
    std::u16string wide(narrow.size(), u'\0');
    for (std::size_t i = 0; i < narrow.size(); ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
    return wide;
}

// UTF-8 to UTF-16, or byte by byte when the whole is not valid UTF-8: how the
// POSIX build of raduza widens names.
inline std::u16string widenUtf8(std::string_view narrow) {
    std::u16string wide;
    wide.reserve(narrow.size());
    for (std::size_t pos = 0; pos < narrow.size();) {
        const long code = decodeUtf8(narrow, pos);
        if (code < 0) return widenBytes(narrow);
        if (code >= 0x10000) {
            wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(code));
        }
    }
    return wide;
}

// A path as the program's narrow strings hold it, widened as raduza widened the names.
inline std::u16string widenPath(std::string_view narrow) {
#ifdef _WIN32
    return widenBytes(narrow);
#else
    return widenUtf8(narrow);
#endif
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string narrowUtf8(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        unsigned long code = wide[i];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00u);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
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
    return out;
}

inline char16_t upperAscii(char16_t unit) { return unit >= u'a' && unit <= u'z' ? unit - u'a' + u'A' : unit; }
// One unit of a lookup key: raduza upper-cases ASCII letters and turns '\' into '/'.
inline char16_t keyUnit(char16_t unit) { return unit == u'\\' ? u'/' : upperAscii(unit); }

inline std::u16string lookupKey(std::u16string_view path) {
    std::u16string key(path);
    for (char16_t& unit : key) unit = keyUnit(unit);
    return key;
}

// <0, 0 or >0 as the key of `name` compares with `key` (already a key).
inline int compareKey(std::u16string_view name, std::u16string_view key) {
    const std::size_t common = (std::min)(name.size(), key.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t unit = keyUnit(name[i]);
        if (unit != key[i]) return unit < key[i] ? -1 : 1;
    }
    return name.size() < key.size() ? -1 : name.size() > key.size() ? 1 : 0;
}

inline bool keyStartsWith(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() && compareKey(name.substr(0, prefix.size()), prefix) == 0;
}

// raduza's order of names: ASCII letters upper-cased, compared unit by unit; ties broken by the plain units.
inline bool precedesInNameOrder(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = (std::min)(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t x = upperAscii(a[i]), y = upperAscii(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

}  // namespace detail

// A bundled file: its stored name and its bytes.
struct BundleFile {
    std::u16string_view name;  // as stored, such as u"ASSETS/IMAGES/LOGO.GIF"
    FileView bytes;
    std::string utf8Name() const { return detail::narrowUtf8(name); }
};

// One entry of a directory listing.
struct DirEntry {
    std::string name;       // the last component, as stored, in UTF-8
    std::u16string name16;  // the same in UTF-16
    bool isDirectory = false;
    std::size_t size = 0;   // of a file
};

#ifdef _WIN32
namespace detail {
struct ModuleReader;
}
#endif

// The files of a bundle, indexed once by name; each lookup costs O(log n).
// Movable, not copyable: its views point into its own storage.
class Bundle {
public:
    Bundle() = default;
    Bundle(Bundle&&) noexcept = default;
    Bundle& operator=(Bundle&&) noexcept = default;
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // The RT_RADUZA resources of a resource file image (resource files laid end
    // to end read as one); resources of other types are passed over. The image
    // must outlive the bundle. On a structural fault the bundle is empty and
    // error() and errorOffset() say what and where.
    static Bundle fromImage(const void* image, std::size_t size) {
        Bundle bundle;
        const WalkOutcome outcome = walkResources(image, size, [&](const ResourceEntry& entry) {
            if (entry.isBundled()) bundle.addFile(entry.name, entry.data);
        });
        if (outcome.error != BundleError::NONE) return failed(outcome.error, outcome.offset);
        bundle.buildIndex();
        return bundle;
    }

    // The bundle linked into the running program: on Windows the RT_RADUZA
    // resources of the .exe; elsewhere the resource files that raduza_add_resources
    // embedded. A program without any gives an empty bundle.
    static Bundle ofProgram();

#ifdef _WIN32
    // The RT_RADUZA resources of a loaded module (a DLL's handle, or nullptr for
    // the .exe). A module loaded as a data file (LOAD_LIBRARY_AS_DATAFILE) gives
    // MODULE_UNREADABLE when it holds a name that the loader cannot look up.
    static Bundle ofModule(HMODULE module);
#endif

    bool ok() const { return error_ == BundleError::NONE; }
    BundleError error() const { return error_; }
    std::size_t errorOffset() const { return errorOffset_; }

    // The files in the order they were stored; a name stored twice counts once (the first).
    std::size_t size() const { return files_.size(); }
    const BundleFile& file(std::size_t index) const { return files_[index]; }
    std::vector<BundleFile>::const_iterator begin() const { return files_.begin(); }
    std::vector<BundleFile>::const_iterator end() const { return files_.end(); }

    // The bytes of the file at `path`; nothing when no file has that name (a directory has no bytes).
    std::optional<FileView> open(std::string_view path) const { return open(detail::widenPath(path)); }
    std::optional<FileView> open(std::u16string_view path) const {
        const BundleFile* found = find(detail::lookupKey(path));
        if (found == nullptr) return std::nullopt;
        return found->bytes;
    }

    bool isFile(std::string_view path) const { return isFile(detail::widenPath(path)); }
    bool isFile(std::u16string_view path) const { return find(detail::lookupKey(path)) != nullptr; }
    bool isDirectory(std::string_view path) const { return isDirectory(detail::widenPath(path)); }
    bool isDirectory(std::u16string_view path) const {
        const std::u16string prefix = directoryPrefix(path);
        const auto first = lowerBound(prefix);
        return first != byKey_.end() && detail::keyStartsWith(files_[*first].name, prefix);
    }
    bool exists(std::string_view path) const { return exists(detail::widenPath(path)); }
    bool exists(std::u16string_view path) const { return isFile(path) || isDirectory(path); }

    // The files and subdirectories directly in `directory` ("" or "/" for the top),
    // in raduza's name order; empty when there is no such directory.
    std::vector<DirEntry> list(std::string_view directory = {}) const { return list(detail::widenPath(directory)); }
    std::vector<DirEntry> list(std::u16string_view directory) const {
        const std::u16string prefix = directoryPrefix(directory);
        std::vector<DirEntry> entries;
        for (auto at = lowerBound(prefix); at != byKey_.end();) {
            const BundleFile& file = files_[*at];
            if (!detail::keyStartsWith(file.name, prefix)) break;
            at = addListed(file, prefix.size(), at, entries);
        }
        std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
            if (a.name16 == b.name16) return !a.isDirectory && b.isDirectory;  // a file and a directory of one name
            return detail::precedesInNameOrder(a.name16, b.name16);
        });
        return entries;
    }

private:
    using KeyIterator = std::vector<std::uint32_t>::const_iterator;

    static Bundle failed(BundleError error, std::size_t offset) {
        Bundle bundle;
        bundle.error_ = error;
        bundle.errorOffset_ = offset;
        return bundle;
    }

    // Names are copied into one arena; the views are made once it stops growing.
    void addFile(const ResourceField& name, FileView bytes) {
        pending_.push_back({names_.size(), name.length(), bytes});
        for (std::size_t i = 0; i < name.length(); ++i) names_.push_back(name.unit(i));
    }
    template <typename Unit>
    void addFile(const Unit* name, std::size_t length, FileView bytes) {
        pending_.push_back({names_.size(), length, bytes});
        for (std::size_t i = 0; i < length; ++i) names_.push_back(static_cast<char16_t>(name[i]));
    }

    // Sorts by key, keeping file order among equal keys so that the first one stored wins.
    void buildIndex() {
        std::vector<BundleFile> stored;
        stored.reserve(pending_.size());
        for (const PendingFile& file : pending_)
            stored.push_back({std::u16string_view(names_.data() + file.nameStart, file.nameLength), file.bytes});
        pending_.clear();
        pending_.shrink_to_fit();
        std::vector<std::uint32_t> order(stored.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return compareNames(stored[a].name, stored[b].name) < 0;
        });
        std::vector<bool> shadowed(stored.size(), false);
        for (std::size_t i = 1; i < order.size(); ++i)
            shadowed[order[i]] = compareNames(stored[order[i - 1]].name, stored[order[i]].name) == 0;
        std::vector<std::uint32_t> newIndex(stored.size());
        for (std::size_t i = 0; i < stored.size(); ++i) {
            if (shadowed[i]) continue;
            newIndex[i] = static_cast<std::uint32_t>(files_.size());
            files_.push_back(stored[i]);
        }
        for (std::uint32_t old : order)
            if (!shadowed[old]) byKey_.push_back(newIndex[old]);
    }

    static int compareNames(std::u16string_view a, std::u16string_view b) {
        const std::size_t common = (std::min)(a.size(), b.size());
        for (std::size_t i = 0; i < common; ++i) {
            const char16_t x = detail::keyUnit(a[i]), y = detail::keyUnit(b[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    }

    KeyIterator lowerBound(std::u16string_view key) const {
        return std::lower_bound(byKey_.begin(), byKey_.end(), key, [&](std::uint32_t index, std::u16string_view k) {
            return detail::compareKey(files_[index].name, k) < 0;
        });
    }

    const BundleFile* find(const std::u16string& key) const {
        const auto at = lowerBound(key);
        if (key.empty() || at == byKey_.end() || detail::compareKey(files_[*at].name, key) != 0) return nullptr;
        return &files_[*at];
    }

    // The key that every name inside `directory` starts with; empty for the top.
    static std::u16string directoryPrefix(std::u16string_view directory) {
        std::u16string prefix = detail::lookupKey(directory);
        if (!prefix.empty() && prefix.back() == u'/') prefix.pop_back();
        if (!prefix.empty()) prefix.push_back(u'/');
        return prefix;
    }

    // Lists the entry that `file` makes in the directory whose key prefix is
    // `prefixLength` long; returns where the next entry's names start.
    KeyIterator addListed(const BundleFile& file, std::size_t prefixLength, KeyIterator at,
                          std::vector<DirEntry>& entries) const {
        const std::u16string_view rest = file.name.substr(prefixLength);
        const std::size_t slash = rest.find_first_of(u"/\\");
        DirEntry entry;
        entry.name16 = std::u16string(rest.substr(0, slash));
        entry.name = detail::narrowUtf8(entry.name16);
        if (slash == std::u16string_view::npos) {
            entry.size = file.bytes.size();
            entries.push_back(std::move(entry));
            return at + 1;
        }
        entry.isDirectory = true;
        entries.push_back(std::move(entry));
        // Skip the whole subdirectory: every key that starts with it is below '/' + 1.
        std::u16string beyond = detail::lookupKey(file.name.substr(0, prefixLength + slash));
        beyond.push_back(u'/' + 1);
        return lowerBound(beyond);
    }

    struct PendingFile {
        std::size_t nameStart;
        std::size_t nameLength;
        FileView bytes;
    };

    std::vector<char16_t> names_;  // a vector keeps its buffer when moved, so the views stay valid
    std::vector<PendingFile> pending_;
    std::vector<BundleFile> files_;
    std::vector<std::uint32_t> byKey_;  // indices into files_, sorted by key
    BundleError error_ = BundleError::NONE;
    std::size_t errorOffset_ = 0;

#ifdef _WIN32
    friend struct detail::ModuleReader;
#endif
};

#ifdef _WIN32

// Reads a module's RT_RADUZA resources: the loader lists them and loads them.
// The loader upper-cases every letter of a name it looks up, non-ASCII ones too,
// while raduza upper-cases ASCII letters only: a stored name such as CAFé.TXT is
// listed but not found by FindResourceW, so such names are looked up in the
// module's resource directory itself.
namespace detail {

struct ModuleReader {
    static BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
        if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(names)->emplace_back(name);
        return TRUE;
    }

    static Bundle read(HMODULE module) {
        std::vector<std::wstring> names;
        SetLastError(ERROR_SUCCESS);
        if (!EnumResourceNamesW(module, L"RT_RADUZA", collectName, reinterpret_cast<LONG_PTR>(&names))) {
            const DWORD why = GetLastError();
            if (why != ERROR_RESOURCE_TYPE_NOT_FOUND && why != ERROR_RESOURCE_DATA_NOT_FOUND && why != ERROR_SUCCESS)
                return Bundle::failed(BundleError::MODULE_UNREADABLE, 0);
        }
        Bundle bundle;
        for (const std::wstring& name : names) {
            std::optional<FileView> bytes = load(module, name);
            if (!bytes) bytes = findInDirectory(module, name);
            if (!bytes) return Bundle::failed(BundleError::MODULE_UNREADABLE, 0);
            bundle.addFile(name.data(), name.size(), *bytes);
        }
        bundle.buildIndex();
        return bundle;
    }

    static std::optional<FileView> load(HMODULE module, const std::wstring& name) {
        const HRSRC found = FindResourceW(module, name.c_str(), L"RT_RADUZA");
        if (found == nullptr) return std::nullopt;
        const HGLOBAL loaded = LoadResource(module, found);
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        if (bytes == nullptr) return std::nullopt;
        return FileView(static_cast<const unsigned char*>(bytes), SizeofResource(module, found));
    }

    // The module's image as mapped by the loader, bounded by its SizeOfImage.
    struct Image {
        const unsigned char* base = nullptr;
        std::size_t size = 0;
        std::size_t resourcesAt = 0;
        std::size_t resourcesSize = 0;
        bool holds(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }
    };

    static std::optional<Image> mappedImage(HMODULE module) {
        const auto* base = reinterpret_cast<const unsigned char*>(module ? module : GetModuleHandleW(nullptr));
        // A module loaded as a data file is not laid out as an image.
        if (base == nullptr || (reinterpret_cast<std::uintptr_t>(base) & 3) != 0) return std::nullopt;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        if (dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        if (nt->Signature != IMAGE_NT_SIGNATURE) return std::nullopt;
        const IMAGE_DATA_DIRECTORY& resources = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        Image image{base, nt->OptionalHeader.SizeOfImage, resources.VirtualAddress, resources.Size};
        if (!image.holds(image.resourcesAt, image.resourcesSize)) return std::nullopt;
        return image;
    }

    // The entry of the resource directory at `directory` whose name is exactly
    // `name`, or with `name` empty the first entry; the offset it points to, or nothing.
    static std::optional<std::uint32_t> findEntry(const Image& image, std::size_t directory, std::wstring_view name) {
        constexpr std::size_t DIRECTORY_HEADER = 16, ENTRY = 8;
        constexpr std::uint32_t HIGH_BIT = 0x80000000u;
        const unsigned char* root = image.base + image.resourcesAt;
        if (directory > image.resourcesSize || image.resourcesSize - directory < DIRECTORY_HEADER) return std::nullopt;
        const std::size_t count = std::size_t{readLe16(root + directory + 12)} + readLe16(root + directory + 14);
        if ((image.resourcesSize - directory - DIRECTORY_HEADER) / ENTRY < count) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* entry = root + directory + DIRECTORY_HEADER + i * ENTRY;
            const std::uint32_t nameField = readLe32(entry);
            if (name.empty() || ((nameField & HIGH_BIT) != 0 && nameIs(image, nameField & ~HIGH_BIT, name)))
                return readLe32(entry + 4);
        }
        return std::nullopt;
    }

    static bool nameIs(const Image& image, std::size_t at, std::wstring_view name) {
        if (at > image.resourcesSize || image.resourcesSize - at < 2) return false;
        const unsigned char* text = image.base + image.resourcesAt + at;
        const std::size_t length = readLe16(text);
        if (length != name.size() || (image.resourcesSize - at - 2) / 2 < length) return false;
        for (std::size_t i = 0; i < length; ++i)
            if (readLe16(text + 2 + 2 * i) != static_cast<std::uint16_t>(name[i])) return false;
        return true;
    }

    // Type, then name, then the first language: three levels of the resource directory.
    static std::optional<FileView> findInDirectory(HMODULE module, std::wstring_view name) {
        constexpr std::uint32_t SUBDIRECTORY = 0x80000000u;
        const std::optional<Image> image = mappedImage(module);
        if (!image) return std::nullopt;
        std::optional<std::uint32_t> next = findEntry(*image, 0, L"RT_RADUZA");
        if (next && (*next & SUBDIRECTORY)) next = findEntry(*image, *next & ~SUBDIRECTORY, name);
        if (next && (*next & SUBDIRECTORY)) next = findEntry(*image, *next & ~SUBDIRECTORY, {});
        if (!next || (*next & SUBDIRECTORY) || *next > image->resourcesSize || image->resourcesSize - *next < 8)
            return std::nullopt;
        const unsigned char* dataEntry = image->base + image->resourcesAt + *next;
        const std::uint32_t rva = readLe32(dataEntry), size = readLe32(dataEntry + 4);
        if (!image->holds(rva, size)) return std::nullopt;
        return FileView(image->base + rva, size);
    }
};

}  // namespace detail

inline Bundle Bundle::ofModule(HMODULE module) { return detail::ModuleReader::read(module); }
inline Bundle Bundle::ofProgram() { return ofModule(GetModuleHandleW(nullptr)); }

#elif defined(__ELF__)

}  // namespace raduza

// The linker marks the start and the end of the section in which
// raduza_add_resources embeds a program's resource files. Weak: a program without
// them links, and sees null. Hidden: each program or shared object sees its own.
extern "C" {
__attribute__((weak, visibility("hidden"))) extern const unsigned char raduzaBundleStart[] __asm__("__start_raduza_bundle");
__attribute__((weak, visibility("hidden"))) extern const unsigned char raduzaBundleStop[] __asm__("__stop_raduza_bundle");
}

namespace raduza {

inline Bundle Bundle::ofProgram() {
    const unsigned char* start = raduzaBundleStart;
    const unsigned char* stop = raduzaBundleStop;
    if (start == nullptr || stop == nullptr || stop <= start) return Bundle();
    return fromImage(start, static_cast<std::size_t>(stop - start));
}

#else

// No embedding on this platform yet (see raduza_add_resources): an empty bundle.
inline Bundle Bundle::ofProgram() { return Bundle(); }

#endif

}  // namespace raduza
