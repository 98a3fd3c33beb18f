// Byte and text fixtures that several suites compare against, written out once.
#pragma once

#include <cstdint>
#include <string>

namespace fixtures {

// An icon file of one 1x1 image, 32 bits a pixel, as resource compilers read it.
inline std::string iconFile() {
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    const std::string bitmap = le(40, 4) + le(1, 4) + le(2, 4) + le(1, 2) + le(32, 2) + le(0, 4) + le(8, 4) +
                               std::string(16, '\0') + "\x10\x20\x30\xff" + std::string(4, '\0');
    return le(0, 2) + le(1, 2) + le(1, 2) + "\x01\x01" + std::string(2, '\0') + le(1, 2) + le(32, 2) +
           le(static_cast<std::uint32_t>(bitmap.size()), 4) + le(22, 4) + bitmap;
}

// What most Windows programs link beside their bundle: a version resource, and an
// icon (RT_GROUP_ICON GAME, RT_ICON #1) from "app.ico" holding iconFile().
inline const char* const VERSION_AND_ICON_SCRIPT =
    "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"040904b0\"\n"
    "    BEGIN\n      VALUE \"FileDescription\", \"game\"\n    END\n  END\nEND\n"
    "GAME ICON \"app.ico\"\n";

// The empty entry that opens every resource file.
inline const std::string LEADING_ENTRY =
    std::string("\0\0\0\0\x20\0\0\0\xff\xff\0\0\xff\xff\0\0", 16) + std::string(16, '\0');
// The type field of every stored entry: RT_RADUZA in UTF-16LE and its zero unit.
inline const std::string TYPE_FIELD("R\0T\0_\0R\0A\0D\0U\0Z\0A\0\0\0", 20);
// DataVersion to Characteristics of a stored entry: moveable and pure, U.S. English.
inline const std::string STORED_HEADER_TAIL("\0\0\0\0\x30\0\x09\x04\0\0\0\0\0\0\0\0", 16);
// A.GIF holding the five bytes 01 to 05: the whole 96-byte resource file.
inline const std::string WORKED_EXAMPLE = LEADING_ENTRY + std::string("\x05\0\0\0\x38\0\0\0", 8) + TYPE_FIELD +
                                          std::string("A\0.\0G\0I\0F\0\0\0", 12) + STORED_HEADER_TAIL +
                                          std::string("\x01\x02\x03\x04\x05\0\0\0", 8);

inline const std::string USAGE =
    "Raduza Resource Tool.\n"
    "Bundles your resources into a res file which can then be given to raduzac.\n"
    "Usage: raduza [ options ] file1 file2 ...\n"
    "\n"
    "By default each file is stored as a resource with the same name as the file.\n"
    "e.g. raduza -f my.res foo\\bar.gif creates my.res containing a resource with \n"
    "the name foo\\bar.gif.  Use\n"
    "-q           to eliminate messages.\n"
    "-f file.res  to specify the resource file name.\n"
    "-j           to junk paths.\n"
    "-v           to turn on verbose operation.\n"
    "-r           to recurse down directories.\n";

}  // namespace fixtures

namespace fixtures {

// True when `text` is `before`, a reason in the system's words (any non-empty text
// on one line: its wording differs between systems and locales), then `after`.
inline bool withSystemReason(const std::string& text, const std::string& before, const std::string& after) {
    if (text.size() <= before.size() + after.size() || text.compare(0, before.size(), before) != 0 ||
        text.compare(text.size() - after.size(), after.size(), after) != 0)
        return false;
    const std::string reason = text.substr(before.size(), text.size() - before.size() - after.size());
    return reason.find('\n') == std::string::npos;
}

}  // namespace fixtures
