// Extraction: where a stored name may go below the directory. Writing it there is
// each system's own (extract_posix.cpp, extract_win32.cpp).
#include <new>
#include <random>

#include "lister/lister.h"

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

// A NUL unit, or a surrogate without its other half: no file system's name holds it.
bool isRepresentable(std::u16string_view component) {
    for (std::size_t i = 0; i < component.size(); ++i) {
        const char16_t unit = component[i];
        if (unit == 0) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < component.size() && component[i + 1] >= 0xDC00 &&
            component[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) return false;
    }
    return true;
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
        case Refusal::UNREPRESENTABLE: return "holds a character no file name can (a NUL, or half of a UTF-16 pair)";
        case Refusal::THROUGH_LINK: return "would pass through a symbolic link";
        case Refusal::IN_THE_WAY: return "collides with something already there that is not a directory or a regular file";
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
        if (!isRepresentable(component)) return {Refusal::UNREPRESENTABLE, {}};
        if (rules.windowsFileNames && !isWindowsFileName(component)) return {Refusal::NOT_A_FILE_NAME, {}};
        path.components.emplace_back(component);
    }
    if (path.components.empty()) path.refusal = Refusal::EMPTY_NAME;
    return path;
}

std::string unfinishedName() {
    static std::mt19937_64 random{std::random_device{}()};
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".raduza-unfinished-";
    for (int i = 0; i < 6; ++i) name += ALPHABET[random() % 62];
    return name;
}

std::string describe(const Extracted& extracted) {
    std::string text = std::string("it ") + describeRefusal(extracted.refusal);
    if (!extracted.reason.empty()) text += ": " + extracted.reason;
    return text;
}

std::size_t extractAll(const raduza::Bundle& bundle, const std::string& root,
                       const std::function<void(const raduza::BundleFile&, const Extracted&)>& refused) {
    std::size_t count = 0;
    for (const raduza::BundleFile& stored : bundle) {
        Extracted extracted;
        try {
            extracted = extractFile(root, relativePathOf(stored.name, PLATFORM_EXTRACT_RULES), stored.bytes);
        } catch (const std::bad_alloc&) {
            extracted = {Refusal::NOT_WRITTEN, "out of memory"};
        }
        if (extracted.refusal == Refusal::NONE) continue;
        ++count;
        refused(stored, extracted);
    }
    return count;
}

std::size_t findUnnamed(const void* image, std::size_t size, const std::function<void(const raduza::ResourceEntry&)>& unnamed) {
    std::size_t count = 0;
    (void)raduza::walkProgramResources(image, size, [&](const raduza::ResourceEntry& entry) {
        if (!entry.type.is(raduza::BUNDLE_TYPE) || entry.isBundled()) return;
        ++count;
        unnamed(entry);
    });
    return count;
}
