// The help texts, what ends a run at its options, and the printing of every message.
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

void RADUza::tell(std::string_view text, bool warning) {
    if (warning) warned_ = true;
    printText(text);
}

void RADUza::usage() { printText(USAGE_TEXT); }

void RADUza::moreUsage() { printText(MORE_USAGE_TEXT); }

int RADUza::stopOptions(const OptionStop& stop) {
    switch (stop.kind) {
    case OptionStop::HELP:
        usage();
        printText(OWN_OPTIONS_TEXT);
        return EXIT_STATUS_OK;
    case OptionStop::VERSION: printText(VERSION_TEXT); return EXIT_STATUS_OK;
    case OptionStop::MORE_USAGE: moreUsage(); return EXIT_STATUS_OK;
    case OptionStop::F_WITH_LETTERS: msg<MSG_F_WITH_LETTERS>(stop.argument.c_str()); return EXIT_STATUS_FAILED;
    case OptionStop::MISSING_FILE_NAME: msg<MSG_MISSING_FILE_NAME>(); break;
    case OptionStop::MISSING_ARGUMENT: msg<MSG_MISSING_ARGUMENT>(stop.argument[0], stop.needs); break;
    case OptionStop::BAD_OPTION: msg<MSG_BAD_OPTION>(stop.argument[0]); break;
    }
    usage();
    return EXIT_STATUS_FAILED;
}

// Messages go to standard output, unless it carries the resource file (no -f, or
// -f naming where standard output goes): then to standard error, so no message
// ever lands among the resource bytes. When standard output is gone, the text goes
// to standard error rather than nowhere.
void RADUza::printText(std::string_view text) {
    if (out != &console_ && !messagesToStandardError_ && !console_.failed()) {
        console_.put(text.data(), text.size());
        if (console_.flush()) return;
    }
    (void)fs_.standardError().write(text.data(), text.size());
}
