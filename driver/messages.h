// The message catalogue, each text checked against its arguments by the compiler.
#pragma once

#include <cstddef>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>

// Catalogue ids. Ids 0 to 12 are the original catalogue; later ids report failures
// of the output and of inputs.
enum MessageId : int {
    MSG_PAD_HEADER = 0,
    MSG_CHECKING,
    MSG_PAD_DATA,
    MSG_STORED,
    MSG_NAME_IN_USE,
    MSG_NO_FILE,
    MSG_DESCENDING,
    MSG_LOOKING,
    MSG_NO_MATCH,
    MSG_BAD_OPTION,
    MSG_NOT_WRITABLE,
    MSG_SPEC,
    MSG_NOTHING_TO_DO,
    MSG_MISSING_FILE_NAME,
    MSG_CANNOT_CREATE,
    MSG_WRITE_FAILED,
    MSG_CANNOT_READ,
    MSG_TOO_LARGE,
    MSG_FILE_CHANGED,
    MSG_FILE_DAMAGED,
    MSG_CANNOT_READ_DIR,
    MSG_LEFT_EMPTY,
    MSG_REPLACE_FAILED,
    MSG_F_WITH_LETTERS,
    MSG_MISSING_ARGUMENT,
    MSG_UPDATE_NEEDS_FILE,
    MSG_UP_TO_DATE,
    MSG_DUPLICATE_NAME,
    MSG_NO_RECORD,
    MSG_RECORD_NOT_WRITTEN,
    MSG_EARLIER_UNREADABLE,
    MSG_RECORD_NOT_A_FILE,
    // A run that must not go wrong quietly: -w, and a resource file named as an input.
    MSG_STRICT_FAILED,
    MSG_OUTPUT_IS_INPUT,
    MSG_COUNT
};

struct CatalogueEntry {
    MessageId id;
    const char* format;
};

// Each text beside its id; the compiler checks below that none is missing or out of place.
inline constexpr CatalogueEntry CATALOGUE[] = {
    {MSG_PAD_HEADER, "padding header\n"},
    {MSG_CHECKING, "Checking to see if the name %s is already in use.\n"},
    {MSG_PAD_DATA, "padding data\n"},
    {MSG_STORED, "Stored %s as %s.\n"},
    {MSG_NAME_IN_USE, "Warning:  Ignoring file %s because the name %s is already in use.\n"},
    {MSG_NO_FILE, "Warning: The file %s doesn't exist.\n"},
    {MSG_DESCENDING, "Descending into %s\n"},
    {MSG_LOOKING, "Looking for %s in dir %s.\n"},
    {MSG_NO_MATCH, "Warning: Could not find match for %s.\n"},
    {MSG_BAD_OPTION, "Invalid option: %c\n"},
    {MSG_NOT_WRITABLE, "Error:  %s is not writable.\n"},
    {MSG_SPEC, "RADUza::run - %s\n"},
    {MSG_NOTHING_TO_DO, "Error:  Nothing to do!\n"},
    {MSG_MISSING_FILE_NAME, "Error:  -f must be followed by the resource file name.\n"},
    {MSG_CANNOT_CREATE, "Error:  Could not create %s: %s.\n"},
    {MSG_WRITE_FAILED, "Error:  Could not write to %s: %s; the run is abandoned.\n"},
    {MSG_CANNOT_READ, "Warning: Could not read the file %s; it was not stored.\n"},
    {MSG_TOO_LARGE, "Warning: Ignoring file %s because it is 4 GiB or larger.\n"},
    {MSG_FILE_CHANGED, "Warning: The file %s changed while it was read; it was not stored.\n"},
    {MSG_FILE_DAMAGED, "Warning: The file %s changed or could not be read while it was stored; its resource may not match it.\n"},
    {MSG_CANNOT_READ_DIR, "Warning: Could not read the directory %s; files in it were not stored.\n"},
    {MSG_LEFT_EMPTY, "Error:  %s was being overwritten directly when the run stopped, so it is left empty.\n"},
    {MSG_REPLACE_FAILED, "Error:  Could not replace %s with the new resource file: %s; it is left as it was.\n"},
    {MSG_F_WITH_LETTERS, "Error:  %s: write -f and the resource file name as two arguments.\n"},
    {MSG_MISSING_ARGUMENT, "Error:  -%c must be followed by %s.\n"},
    {MSG_UPDATE_NEEDS_FILE, "Error:  -u needs -f: the record of what was read is kept beside the resource file.\n"},
    {MSG_UP_TO_DATE, "%s is up to date.\n"},
    {MSG_DUPLICATE_NAME, "Error:  %s and %s would both be stored as %s.\n"},
    {MSG_NO_RECORD, "Error:  %s has no record of what it holds; make it with -u first.\n"},
    {MSG_RECORD_NOT_WRITTEN, "Warning: Could not write %s: %s; the next run with -u makes the resource file again.\n"},
    {MSG_EARLIER_UNREADABLE, "Error:  Could not copy the unchanged files' entries from the earlier %s: %s; the run is abandoned, and the next reads every file.\n"},
    {MSG_RECORD_NOT_A_FILE, "Warning: %s is not a regular file, so it is no record of the last run; every file is read again.\n"},
    {MSG_STRICT_FAILED, "Error:  -w makes the warnings above fail the run.\n"},
    {MSG_OUTPUT_IS_INPUT, "Error:  %s is the resource file, named as a file to store too; it is left as it was.\n"},
};

constexpr bool catalogueMatchesIds() {
    if (std::size(CATALOGUE) != MSG_COUNT) return false;
    for (std::size_t i = 0; i < std::size(CATALOGUE); ++i)
        if (CATALOGUE[i].id != static_cast<int>(i)) return false;
    return true;
}
static_assert(catalogueMatchesIds(), "every message id has its text, in id order");

// True when `Args` are the arguments `format` converts, in order: a text for %s,
// a character for %c. Each message is printed only with the arguments its text takes.
template <typename... Args>
constexpr bool formatTakes(std::string_view format) {
    constexpr char kinds[] = {(std::is_same_v<Args, const char*> ? 's' : std::is_same_v<Args, char> ? 'c' : '?')..., '\0'};
    std::size_t next = 0;
    for (std::size_t at = format.find('%'); at != std::string_view::npos; at = format.find('%', at + 2))
        if (at + 1 >= format.size() || next == sizeof...(Args) || kinds[next++] != format[at + 1]) return false;
    return kinds[next] == '\0';
}

// Catalogue entry `id` with `args`, the arguments its text takes.
template <MessageId id, typename... Args>
std::string formatMessage(Args... args) {
    constexpr const char* format = CATALOGUE[id].format;
    static_assert(formatTakes<Args...>(format), "the arguments are those the message's text takes");
    if constexpr (sizeof...(Args) == 0) {
        return format;
    } else {
        const int length = std::snprintf(nullptr, 0, format, args...);
        if (length <= 0) return {};
        // The length from snprintf, not strlen: "%c" with a NUL character writes that NUL.
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::snprintf(&text[0], text.size(), format, args...);
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
}

constexpr bool isWarning(MessageId id) { return std::string_view(CATALOGUE[id].format).substr(0, 8) == "Warning:"; }
