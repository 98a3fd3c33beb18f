// raduza-list: lists, checks and extracts the entries of a resource file. The
// pieces a test can reach without running the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "raduza/bundle.h"
#include "raduza/program_file.h"
#include "raduza/resource_file.h"

// One line of the listing: size, name and, unless it is RT_RADUZA, the type.
// Ordinals show as #N; control characters in names as \xHH.
std::string listingLine(const raduza::ResourceEntry& entry);
// A name in UTF-8 with control characters (a NUL too) as \xHH, for one line of text.
std::string printableName(std::u16string_view name);

// A name for a new file under which it is written before it replaces its
// destination: ".raduza-unfinished-" and six random letters or digits.
std::string unfinishedName();

// Why a name cannot be extracted.
enum class Refusal {
    NONE,
    EMPTY_NAME,        // nothing but separators and '.'
    ABSOLUTE_NAME,     // starts at the root
    DRIVE_PREFIX,      // "C:..."
    SERVER_PREFIX,     // "//server/..." or "\\server\..."
    PARENT_DIRECTORY,  // a ".." component would climb out
    NOT_A_FILE_NAME,   // Windows: a reserved character or device name, a trailing dot or space
    UNREPRESENTABLE,   // a NUL unit, or half of a UTF-16 surrogate pair: no file name holds it
    THROUGH_LINK,      // a symbolic link already in the directory lies on the way
    IN_THE_WAY,        // something other than a directory, or than a regular file to replace, is there
    NOT_WRITTEN,       // the file system refused
};

const char* describeRefusal(Refusal refusal);

// How names split into files: separators and the names a file system refuses.
struct ExtractRules {
    bool backslashSeparates;   // Windows: '\' separates as '/' does
    bool windowsFileNames;     // Windows: <>:"|?* and device names cannot be files
};
inline constexpr ExtractRules POSIX_EXTRACT_RULES{false, false};
inline constexpr ExtractRules WIN32_EXTRACT_RULES{true, true};
#ifdef _WIN32
inline constexpr ExtractRules PLATFORM_EXTRACT_RULES = WIN32_EXTRACT_RULES;
#else
inline constexpr ExtractRules PLATFORM_EXTRACT_RULES = POSIX_EXTRACT_RULES;
#endif

struct RelativePath {
    Refusal refusal = Refusal::NONE;
    std::vector<std::u16string> components;  // directories, then the file; "." and empty ones dropped
};

// The path below the extraction directory that a stored name gives, or why it
// has none. Pure: looks at the name alone.
RelativePath relativePathOf(std::u16string_view name, const ExtractRules& rules);

// The outcome of one file's extraction: done, or refused and why.
struct Extracted {
    Refusal refusal = Refusal::NONE;
    std::string reason;  // the system's words, for NOT_WRITTEN
};
// "it climbs out with '..'", "it could not be written: No space left on device".
std::string describe(const Extracted& extracted);

// Writes `bytes` at `relative` below the directory `root`, which exists. Every
// directory on the way is opened without following links, and created when
// missing; a file already there is replaced by a new file renamed over it, never
// written through; a link, directory, FIFO, device or socket in the way is refused.
Extracted extractFile(const std::string& root, const RelativePath& relative, raduza::FileView bytes);

// Extracts every RT_RADUZA file of `bundle` that a lookup would find below `root`,
// which exists, in the bundle's name order. Each refused file is handed to `refused`; returns
// how many were. Throws nothing.
std::size_t extractAll(const raduza::Bundle& bundle, const std::string& root,
                       const std::function<void(const raduza::BundleFile&, const Extracted&)>& refused);

// The RT_RADUZA resources of a program or resource file image that name no file:
// a number or an empty name. Each is handed to `unnamed`; returns how many. A
// damaged image gives those before the fault.
std::size_t findUnnamed(const void* image, std::size_t size, const std::function<void(const raduza::ResourceEntry&)>& unnamed);
