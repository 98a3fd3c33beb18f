// Wildcard matching as the Windows directory search does it for long names.
#pragma once

#include <string_view>

// True when `name` matches `pattern`: `*` matches any run of characters, `?` any one
// character, ASCII letters compare case-insensitively, and `*.*` matches every name,
// names without a dot included.
bool wildcardMatch(std::string_view pattern, std::string_view name);
