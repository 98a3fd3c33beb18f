// The texts of the catalogue and of the two help texts, and the printing of them.
#include "driver/messages.h"

#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <string>

#include "driver/raduza.h"

namespace {

struct CatalogueEntry {
    MessageId id;
    const char* format;
};

// Each text beside its id; the compiler checks below that none is missing or out of place.
constexpr CatalogueEntry CATALOGUE[] = {
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

constexpr char USAGE_TEXT[] =
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

constexpr char MORE_USAGE_TEXT[] =
    "-show_padding   report writes of pad bytes.\n"
    "-show_allspecs  show all file specs.\n"
    "-show_recurs    report dirs as they are recursed into.\n";

// Laid out as the usage text's option lines are.
constexpr char OWN_OPTIONS_TEXT[] =
    "-u           to write the resource file only when a file changed.\n"
    "-d           to fail when two files would share a name.\n"
    "-x pattern   to leave out the files and directories it matches.\n"
    "-n other.res to take the names other.res holds.\n"
    "-w           to make every warning, and storing nothing, fail the run.\n"
    "--help       to show this text.\n"
    "--version    to show the version.\n";

constexpr char VERSION_TEXT[] = "raduza " RADUZA_VERSION "\n";

}  // namespace

const char* messageFormat(int id) { return id >= 0 && id < MSG_COUNT ? CATALOGUE[id].format : nullptr; }

std::string_view usageText() { return {USAGE_TEXT, sizeof USAGE_TEXT - 1}; }
std::string_view moreUsageText() { return {MORE_USAGE_TEXT, sizeof MORE_USAGE_TEXT - 1}; }
std::string_view ownOptionsText() { return {OWN_OPTIONS_TEXT, sizeof OWN_OPTIONS_TEXT - 1}; }
std::string_view versionText() { return {VERSION_TEXT, sizeof VERSION_TEXT - 1}; }

namespace {

bool isWarning(int id) {
    static constexpr std::string_view PREFIX = "Warning:";
    const char* format = messageFormat(id);
    return format && std::string_view(format).substr(0, PREFIX.size()) == PREFIX;
}

std::string formatMessageList(int id, va_list args) {
    const char* format = messageFormat(id);
    if (!format) return {};
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return {};
    // The length from vsnprintf, not strlen: "%c" with a NUL character writes that NUL.
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

void RADUza::msg(int id, ...) {
    va_list args;
    va_start(args, id);
    const std::string text = formatMessageList(id, args);
    va_end(args);
    if (!text.empty()) sink_->tell(text, isWarning(id));
}

void RADUza::tell(std::string_view text, bool warning) {
    if (warning) warned_ = true;
    printText(text.data(), text.size());
}

std::string RADUza::formatMessage(int id, ...) {
    va_list args;
    va_start(args, id);
    std::string text = formatMessageList(id, args);
    va_end(args);
    return text;
}

void RADUza::usage() { printText(usageText().data(), usageText().size()); }

void RADUza::moreUsage() { printText(moreUsageText().data(), moreUsageText().size()); }

// Messages go to standard output, unless it carries the resource file (no -f, or
// -f naming where standard output goes): then to standard error, so no message
// ever lands among the resource bytes. When standard output is gone, the text goes
// to standard error rather than nowhere.
void RADUza::printText(const char* text, std::size_t size) {
    if (out != &console_ && !messagesToStandardError_ && !console_.failed()) {
        console_.put(text, size);
        if (console_.flush()) return;
    }
    (void)fs_.standardError().write(text, size);
}
