// Extraction: where a stored name may go below the directory, and writing it there.
#include <fstream>
#include <system_error>

#include "lister/lister.h"

namespace fs = std::filesystem;

namespace {

bool isSeparator(char16_t unit, const ExtractRules& rules) {
    return unit == u'/' || (rules.backslashSeparates && unit == u'\\');
}

bool isAsciiLetter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 name devices on Windows,
// with any extension.
bool isDeviceName(std::u16string_view component) {
    const std::u16string stem = raduza::upperAscii(component.substr(0, component.find(u'.')));
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL"})
        if (stem == device) return true;
    return stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0) &&
           stem[3] >= u'1' && stem[3] <= u'9';
}

bool isWindowsFileName(std::u16string_view component) {
    for (char16_t unit : component)
        if (unit < 0x20 || std::u16string_view(u"<>:\"|?*").find(unit) != std::u16string_view::npos) return false;
    const char16_t last = component.back();
    return last != u'.' && last != u' ' && !isDeviceName(component);
}

Refusal prefixRefusal(std::u16string_view name, const ExtractRules& rules) {
    if (name.size() >= 2 && isSeparator(name[0], rules) && isSeparator(name[1], rules)) return Refusal::SERVER_PREFIX;
    if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == u':') return Refusal::DRIVE_PREFIX;
    if (!name.empty() && isSeparator(name[0], rules)) return Refusal::ABSOLUTE_NAME;
    return Refusal::NONE;
}

// What stands at `path` before anything is written there.
Refusal checkOnTheWay(const fs::path& path, bool mustBeDirectory) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::not_found) return Refusal::NONE;
    if (error) return Refusal::NOT_WRITTEN;
    if (fs::is_symlink(status)) return Refusal::THROUGH_LINK;
    if (fs::is_directory(status) != mustBeDirectory) return Refusal::IN_THE_WAY;
    return Refusal::NONE;
}

Refusal writeBytes(const fs::path& path, raduza::FileView bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out ? Refusal::NONE : Refusal::NOT_WRITTEN;
}

}  // namespace

const char* describeRefusal(Refusal refusal) {
    switch (refusal) {
        case Refusal::NONE: return "extracted";
        case Refusal::EMPTY_NAME: return "names no file";
        case Refusal::ABSOLUTE_NAME: return "is an absolute path";
        case Refusal::DRIVE_PREFIX: return "carries a drive prefix";
        case Refusal::SERVER_PREFIX: return "carries a server prefix";
        case Refusal::PARENT_DIRECTORY: return "climbs out with '..'";
        case Refusal::NOT_A_FILE_NAME: return "cannot be a file name here";
        case Refusal::THROUGH_LINK: return "would pass through a symbolic link";
        case Refusal::IN_THE_WAY: return "collides with a file or directory already there";
        case Refusal::NOT_WRITTEN: return "could not be written";
    }
    return "refused";
}

RelativePath relativePathOf(std::u16string_view name, const ExtractRules& rules) {
    RelativePath path;
    path.refusal = prefixRefusal(name, rules);
    if (path.refusal != Refusal::NONE) return path;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !isSeparator(name[end], rules)) ++end;
        const std::u16string_view component = name.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == u".") continue;
        if (component == u"..") return {Refusal::PARENT_DIRECTORY, {}};
        if (rules.windowsFileNames && !isWindowsFileName(component)) return {Refusal::NOT_A_FILE_NAME, {}};
        path.components.emplace_back(component);
    }
    if (path.components.empty()) path.refusal = Refusal::EMPTY_NAME;
    return path;
}

Refusal extractFile(const fs::path& root, const RelativePath& relative, raduza::FileView bytes) {
    if (relative.refusal != Refusal::NONE) return relative.refusal;
    fs::path path = root;
    for (std::size_t i = 0; i + 1 < relative.components.size(); ++i) {
        path /= fs::path(relative.components[i]);
        if (const Refusal refusal = checkOnTheWay(path, true); refusal != Refusal::NONE) return refusal;
        std::error_code error;
        fs::create_directory(path, error);
        if (error) return Refusal::NOT_WRITTEN;
    }
    path /= fs::path(relative.components.back());
    if (const Refusal refusal = checkOnTheWay(path, false); refusal != Refusal::NONE) return refusal;
    return writeBytes(path, bytes);
}
