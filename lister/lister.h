// raduza-list: lists, checks and extracts the entries of a resource file. The
// pieces a test can reach without running the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "raduza/resource_file.h"

// One line of the listing: size, name and, unless it is RT_RADUZA, the type.
// Ordinals show as #N; control characters in names as \xHH.
std::string listingLine(const raduza::ResourceEntry& entry);

// Why a name cannot be extracted.
enum class Refusal {
    NONE,
    EMPTY_NAME,        // nothing but separators and '.'
    ABSOLUTE_NAME,     // starts at the root
    DRIVE_PREFIX,      // "C:..."
    SERVER_PREFIX,     // "//server/..." or "\\server\..."
    PARENT_DIRECTORY,  // a ".." component would climb out
    NOT_A_FILE_NAME,   // Windows: a reserved character or device name, a trailing dot or space
    THROUGH_LINK,      // a symbolic link already in the directory lies on the way
    IN_THE_WAY,        // a file stands where a directory must go, or the other way round
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

// Writes `bytes` at `relative` below `root`, creating directories, never
// following a symbolic link that is already there.
Refusal extractFile(const std::filesystem::path& root, const RelativePath& relative, raduza::FileView bytes);
