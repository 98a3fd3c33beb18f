// The texts of the catalogue and of the two help texts, and the printing of them.
#include "driver/messages.h"

#include "driver/raduza.h"

namespace {

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

std::string_view usageText() { return {USAGE_TEXT, sizeof USAGE_TEXT - 1}; }
std::string_view moreUsageText() { return {MORE_USAGE_TEXT, sizeof MORE_USAGE_TEXT - 1}; }
std::string_view ownOptionsText() { return {OWN_OPTIONS_TEXT, sizeof OWN_OPTIONS_TEXT - 1}; }
std::string_view versionText() { return {VERSION_TEXT, sizeof VERSION_TEXT - 1}; }

void RADUza::tell(std::string_view text, bool warning) {
    if (warning) warned_ = true;
    printText(text.data(), text.size());
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
