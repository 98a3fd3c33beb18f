// raduza/bundle.h: reads back the files that raduza bundled, as a read-only tree
// of files, from the running program or from a resource file in memory.
//
//   static const raduza::Bundle assets = raduza::Bundle::ofProgram();
//   if (std::optional<raduza::FileView> logo = assets.open("assets/images/logo.gif"))
//       draw(logo->data(), logo->size());
//   for (const raduza::DirEntry& entry : assets.list("assets/images")) ...
//
// A path is matched as raduza derives names from paths: ASCII letters in either
// case, '\' or '/' between directories. Files are iterated and listed in
// raduza's name order on every platform (see raduza/format/name_order.h): directory
// by directory, ASCII letters without case, every other character by its code
// point (U+E000 before U+FF01 before U+1F600), a name before the longer names it
// starts, so a file before the directory of its name. Directories are implied by the names:
// ASSETS/IMAGES/LOGO.GIF makes ASSETS and ASSETS/IMAGES. Narrow paths are UTF-8
// on every platform (a string that is not valid UTF-8 is taken byte by byte, as
// raduza names such files); every call also takes UTF-16 (u"..."). Nothing is
// copied: a FileView points into the program's image or into the caller's buffer.
//
// Header-only C++17; needs the standard library and, on Windows, <windows.h>.
// No exceptions are thrown for bad input: a damaged resource file gives a Bundle
// whose error() says what is wrong and where.
//
// SPDX-License-Identifier: MIT (see LICENSE; copyright the raduza authors)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "raduza/format/name_order.h"
#include "raduza/program_file.h"
#include "raduza/resource_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

// ofProgram() gives the bundle of the module whose code calls it. On ELF an inline
// function of default visibility is one symbol for the whole process, and the
// executable's copy would serve a shared library's calls too: hidden, each module
// keeps its own.
#if defined(__ELF__)
#define RADUZA_MODULE_LOCAL __attribute__((visibility("hidden")))
#else
#define RADUZA_MODULE_LOCAL
#endif

namespace raduza {

// A bundled file: its stored name and its bytes.
struct BundleFile {
    std::u16string_view name;  // as stored, such as u"ASSETS/IMAGES/LOGO.GIF"
    FileView bytes;
    std::string utf8Name() const { return toUtf8(name); }
};

// One entry of a directory listing: a file, or a directory implied by longer names.
struct DirEntry {
    std::string name;          // the entry's own name (no directory part) as stored, in UTF-8;
                               // directory + "/" + name opens it on every platform
    std::u16string name16;     // the same name in UTF-16, unit for unit as the resource file holds it
    bool isDirectory = false;  // a directory has no bytes of its own
    std::size_t size = 0;      // a file's size in bytes; 0 for a directory
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
        return fromWalk([&](const auto& visit) { return walkResources(image, size, visit); });
    }

    // The RT_RADUZA resources of a program file's bytes as they lie on disk (not
    // as loaded): a PE executable or DLL's, or those an ELF program or shared
    // library embeds; a resource file image reads as fromImage() reads it (see
    // raduza/program_file.h). The image must outlive the bundle.
    static Bundle fromProgramImage(const void* image, std::size_t size) {
        return fromWalk([&](const auto& visit) { return walkProgramResources(image, size, visit); });
    }

    // The bundle of the module whose code makes the call: called from an
    // executable's code, the executable's; from a shared library's (a .so or a
    // DLL), that library's own. On Windows the module's RT_RADUZA resources;
    // elsewhere the resource files that raduza_add_resources embedded in it. A
    // module without any gives an empty bundle. Each module must call it from its
    // own code: a library that wraps it in an inline function of its public
    // header hands its callers their own bundle, not the library's.
    static Bundle ofProgram() RADUZA_MODULE_LOCAL;

    // The executable's bundle, from the code of any module. On Windows the .exe's
    // RT_RADUZA resources. On ELF the bundle that the executable exports as the
    // symbol raduza_executable_bundle: raduza_add_resources defines it in every
    // executable it embeds resources in, and the linker exports it when a shared
    // library linked into the executable uses this call; an executable that loads
    // such a library with dlopen exports it itself (ENABLE_EXPORTS, or
    // -Wl,--export-dynamic-symbol=raduza_executable_bundle). A program that embeds
    // by hand defines it as raduza_add_resources does, in C or in extern "C":
    //   const unsigned char* const raduza_executable_bundle[2] = {__start_raduza_bundle, __stop_raduza_bundle};
    // Empty when the executable exports none.
    static Bundle ofExecutable();

#ifdef _WIN32
    // The RT_RADUZA resources of a loaded module (a DLL's handle, or nullptr for
    // the .exe). A module loaded as a data file (LOAD_LIBRARY_AS_DATAFILE) gives
    // MODULE_UNREADABLE when it holds a name that the loader cannot look up.
    static Bundle ofModule(HMODULE module);
#endif

    bool ok() const { return error_ == BundleError::NONE; }
    BundleError error() const { return error_; }
    std::size_t errorOffset() const { return errorOffset_; }

    // The files in raduza's name order, directory by directory: the order of a
    // walk through list(), on every platform. A name stored twice counts once
    // (the first stored; names that differ only in the case of ASCII letters are one name).
    std::size_t size() const { return files_.size(); }
    const BundleFile& file(std::size_t index) const { return files_[index]; }
    std::vector<BundleFile>::const_iterator begin() const { return files_.begin(); }
    std::vector<BundleFile>::const_iterator end() const { return files_.end(); }

    // The bytes of the file at `path`; nothing when no file has that name (a directory has no bytes).
    std::optional<FileView> open(std::string_view path) const { return open(toUtf16(path)); }
    std::optional<FileView> open(std::u16string_view path) const {
        const BundleFile* found = find(path);
        if (found == nullptr) return std::nullopt;
        return found->bytes;
    }

    bool isFile(std::string_view path) const { return isFile(toUtf16(path)); }
    bool isFile(std::u16string_view path) const { return find(path) != nullptr; }
    bool isDirectory(std::string_view path) const { return isDirectory(toUtf16(path)); }
    bool isDirectory(std::u16string_view path) const {
        const std::u16string prefix = directoryPrefix(path);
        const auto first = lowerBound(prefix);
        return first != files_.end() && startsWith(first->name, prefix);
    }
    bool exists(std::string_view path) const { return exists(toUtf16(path)); }
    bool exists(std::u16string_view path) const { return isFile(path) || isDirectory(path); }

    // The files and subdirectories directly in `directory` ("" or "/" for the top),
    // in raduza's name order; empty when there is no such directory.
    std::vector<DirEntry> list(std::string_view directory = {}) const { return list(toUtf16(directory)); }
    std::vector<DirEntry> list(std::u16string_view directory) const {
        const std::u16string prefix = directoryPrefix(directory);
        std::vector<DirEntry> entries;
        for (auto at = lowerBound(prefix); at != files_.end() && startsWith(at->name, prefix);)
            at = addListed(at, prefix.size(), entries);
        return entries;
    }

private:
    using FileIterator = std::vector<BundleFile>::const_iterator;

    // The named RT_RADUZA resources that walk(visit) hands to visit(const ResourceEntry&).
    template <typename Walk>
    static Bundle fromWalk(const Walk& walk) {
        Bundle bundle;
        const WalkOutcome outcome = walk([&](const ResourceEntry& entry) {
            if (entry.isBundled()) bundle.addFile(entry.name, entry.data);
        });
        if (outcome.error != BundleError::NONE) return failed(outcome.error, outcome.offset);
        bundle.buildIndex();
        return bundle;
    }

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

    // Sorts in name order, keeping file order among equal names so that the first one stored wins.
    void buildIndex() {
        for (const PendingFile& file : pending_)
            files_.push_back({std::u16string_view(names_.data() + file.nameStart, file.nameLength), file.bytes});
        pending_.clear();
        pending_.shrink_to_fit();
        const auto inOrder = [](const BundleFile& a, const BundleFile& b) {
            return format::comparePaths(a.name, b.name) < 0;
        };
        const auto sameName = [](const BundleFile& a, const BundleFile& b) {
            return format::comparePaths(a.name, b.name) == 0;
        };
        std::stable_sort(files_.begin(), files_.end(), inOrder);
        files_.erase(std::unique(files_.begin(), files_.end(), sameName), files_.end());
    }

    static bool startsWith(std::u16string_view name, std::u16string_view prefix) {
        return name.size() >= prefix.size() && format::comparePaths(name.substr(0, prefix.size()), prefix) == 0;
    }

    FileIterator lowerBound(std::u16string_view path) const {
        return std::lower_bound(files_.begin(), files_.end(), path, [](const BundleFile& file, std::u16string_view p) {
            return format::comparePaths(file.name, p) < 0;
        });
    }

    const BundleFile* find(std::u16string_view path) const {
        const std::u16string key = folded(path);
        const auto at = lowerBound(key);
        if (key.empty() || at == files_.end() || format::comparePaths(at->name, key) != 0) return nullptr;
        return &*at;
    }

    // The path as comparePaths sees it, made once for a lookup, so that names stored
    // as raduza stores them compare with it unit for unit, without ranking.
    static std::u16string folded(std::u16string_view path) {
        std::u16string key(path);
        for (char16_t& unit : key) unit = unit == u'\\' ? u'/' : format::upperAscii(unit);
        return key;
    }

    // What every name inside `directory` starts with: the path and a separator; empty for the top.
    static std::u16string directoryPrefix(std::u16string_view directory) {
        std::u16string prefix = folded(directory);
        if (!prefix.empty() && prefix.back() == u'/') prefix.pop_back();
        if (!prefix.empty()) prefix.push_back(u'/');
        return prefix;
    }

    // Lists the entry that the file at `at` makes in the directory whose prefix is
    // `prefixLength` long; returns where the next entry's names start.
    FileIterator addListed(FileIterator at, std::size_t prefixLength, std::vector<DirEntry>& entries) const {
        const std::u16string_view rest = at->name.substr(prefixLength);
        const std::size_t slash = rest.find_first_of(u"/\\");
        const bool isDirectory = slash != std::u16string_view::npos;
        DirEntry entry;
        entry.name16 = std::u16string(rest.substr(0, slash));
        entry.name = toUtf8(entry.name16);
        entry.isDirectory = isDirectory;
        entry.size = isDirectory ? 0 : at->bytes.size();
        entries.push_back(std::move(entry));
        if (!isDirectory) return at + 1;
        // Skip the whole subdirectory: its names follow each other.
        const std::u16string_view subdirectory = at->name.substr(0, prefixLength + slash + 1);
        return std::partition_point(at, files_.end(),
                                    [&](const BundleFile& file) { return startsWith(file.name, subdirectory); });
    }

    struct PendingFile {
        std::size_t nameStart;
        std::size_t nameLength;
        FileView bytes;
    };

    std::vector<char16_t> names_;  // a vector keeps its buffer when moved, so the views stay valid
    std::vector<PendingFile> pending_;
    std::vector<BundleFile> files_;  // sorted in name order
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
    // Windows' wide characters are UTF-16 units.
    static LPCWSTR wide(std::u16string_view units) { return reinterpret_cast<LPCWSTR>(units.data()); }
    static std::u16string_view units(const std::wstring& name) {
        return {reinterpret_cast<const char16_t*>(name.data()), name.size()};
    }

    static BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
        if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(names)->emplace_back(name);
        return TRUE;
    }

    static Bundle read(HMODULE module) {
        std::vector<std::wstring> names;
        SetLastError(ERROR_SUCCESS);
        if (!EnumResourceNamesW(module, wide(format::BUNDLE_TYPE), collectName, reinterpret_cast<LONG_PTR>(&names))) {
            const DWORD why = GetLastError();
            if (why != ERROR_RESOURCE_TYPE_NOT_FOUND && why != ERROR_RESOURCE_DATA_NOT_FOUND && why != ERROR_SUCCESS)
                return Bundle::failed(BundleError::MODULE_UNREADABLE, 0);
        }
        Bundle bundle;
        for (const std::wstring& name : names) {
            std::optional<FileView> bytes = load(module, name);
            if (!bytes) bytes = findInDirectory(module, units(name));
            if (!bytes) return Bundle::failed(BundleError::MODULE_UNREADABLE, 0);
            bundle.addFile(name.data(), name.size(), *bytes);
        }
        bundle.buildIndex();
        return bundle;
    }

    static std::optional<FileView> load(HMODULE module, const std::wstring& name) {
        const HRSRC found = FindResourceW(module, name.c_str(), wide(format::BUNDLE_TYPE));
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

    // The entry of the resource table at `table` whose name is exactly `name`, or
    // with `name` empty the first entry; where it points, or nothing.
    static std::optional<std::uint32_t> findEntry(const ResourceDirectory& directory, std::size_t table,
                                                  std::u16string_view name) {
        std::size_t count = 0;
        if (!directory.entryCount(table, count)) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            const ResourceDirectory::Entry entry = directory.entry(table, i);
            ResourceField field;
            if (name.empty() ||
                ((entry.name & ResourceDirectory::HIGH_BIT) != 0 && directory.name(entry.name, field) && field.is(name)))
                return entry.target;
        }
        return std::nullopt;
    }

    // Type, then name, then the first language: three levels of the resource directory.
    static std::optional<FileView> findInDirectory(HMODULE module, std::u16string_view name) {
        constexpr std::uint32_t SUBTABLE = ResourceDirectory::HIGH_BIT;
        const std::optional<Image> image = mappedImage(module);
        if (!image) return std::nullopt;
        const ResourceDirectory directory{image->base + image->resourcesAt, image->resourcesSize};
        std::optional<std::uint32_t> next = findEntry(directory, 0, format::BUNDLE_TYPE);
        if (next && (*next & SUBTABLE)) next = findEntry(directory, *next & ~SUBTABLE, name);
        if (next && (*next & SUBTABLE)) next = findEntry(directory, *next & ~SUBTABLE, {});
        std::uint32_t rva = 0, size = 0;
        if (!next || (*next & SUBTABLE) || !directory.dataEntry(*next, rva, size) || !image->holds(rva, size))
            return std::nullopt;
        return FileView(image->base + rva, size);
    }
};

}  // namespace detail

inline Bundle Bundle::ofModule(HMODULE module) { return detail::ModuleReader::read(module); }
// The module that holds the code of ofProgram() is the caller's: an inline
// function is compiled into every module that calls it, and a DLL's calls stay in the DLL.
inline Bundle Bundle::ofProgram() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&Bundle::ofProgram), &self))
        return failed(BundleError::MODULE_UNREADABLE, 0);
    return ofModule(self);
}
inline Bundle Bundle::ofExecutable() { return ofModule(GetModuleHandleW(nullptr)); }

#elif defined(__ELF__)

}  // namespace raduza

// The linker marks the start and the end of the section in which
// raduza_add_resources embeds a module's resource files. Weak: a module without
// them links, and sees null. Hidden: each executable or shared object sees its own.
// raduza_executable_bundle, the same two addresses exported by an executable, is
// found wherever the executable exports it; weak too, null where it does not.
extern "C" {
// (By their own names: GCC drops the visibility of a declaration with an asm label.)
__attribute__((weak, visibility("hidden"))) extern const unsigned char __start_raduza_bundle[];
__attribute__((weak, visibility("hidden"))) extern const unsigned char __stop_raduza_bundle[];
__attribute__((weak)) extern const unsigned char* const raduza_executable_bundle[2];
}

namespace raduza {

namespace detail {
inline Bundle bundleBetween(const unsigned char* start, const unsigned char* stop) {
    if (start == nullptr || stop == nullptr || stop <= start) return Bundle();
    return Bundle::fromImage(start, static_cast<std::size_t>(stop - start));
}
}  // namespace detail

inline Bundle Bundle::ofProgram() { return detail::bundleBetween(__start_raduza_bundle, __stop_raduza_bundle); }
inline Bundle Bundle::ofExecutable() {
    if (raduza_executable_bundle == nullptr) return Bundle();
    return detail::bundleBetween(raduza_executable_bundle[0], raduza_executable_bundle[1]);
}

#else

// No embedding on this platform yet (see raduza_add_resources): empty bundles.
inline Bundle Bundle::ofProgram() { return Bundle(); }
inline Bundle Bundle::ofExecutable() { return Bundle(); }

#endif

}  // namespace raduza
