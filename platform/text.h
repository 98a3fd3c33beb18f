// Conversion of the platform's narrow strings to the UTF-16LE of resource files.
#pragma once

#include <string>
#include <string_view>

#include "raduza/format/text.h"

// POSIX: UTF-8 decoded to UTF-16; a string that is not valid UTF-8 is widened byte
// by byte. Win32: every byte is zero-extended (the narrow set is the ANSI code page).
std::u16string widenName(std::string_view narrow);

// The two conversions, for tests that check both platforms on either build.
using raduza::format::widenBytes;
using raduza::format::widenUtf8;
