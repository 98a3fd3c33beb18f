// How paths are written on the platform: the separator, option prefixes and drive
// prefixes. The tool's logic reads these instead of testing for the platform.
#pragma once

struct PathRules {
    char separator;           // separates a directory part from a name
    bool slashStartsOption;   // '/' introduces an option as '-' does
    bool hasDrivePrefixes;    // "C:\x" and "\\server\share" prefixes exist
};

inline constexpr PathRules WIN32_PATH_RULES{'\\', true, true};
inline constexpr PathRules POSIX_PATH_RULES{'/', false, false};

#ifdef _WIN32
inline constexpr PathRules PLATFORM_PATH_RULES = WIN32_PATH_RULES;
#else
inline constexpr PathRules PLATFORM_PATH_RULES = POSIX_PATH_RULES;
#endif
