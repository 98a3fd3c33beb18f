// The message catalogue and the two help texts.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/raduza.h"

namespace {

const char* const CATALOGUE[MSG_COUNT] = {
    "padding header\n",
    "Checking to see if the name %s is already in use.\n",
    "padding data\n",
    "Stored %s as %s.\n",
    "Warning:  Ignoring file %s because the name %s is already in use.\n",
    "Warning: The file %s doesn't exist.\n",
    "Descending into %s\n",
    "Looking for %s in dir %s.\n",
    "Warning: Could not find match for %s.\n",
    "Invalid option: %c\n",
    "Error:  %s is not writable.\n",
    "RADUza::run - %s\n",
    "Error:  Nothing to do!\n",
    "Error:  -f must be followed by the resource file name.\n",
    "Error:  Could not create %s.\n",
    "Error:  Could not write to %s; the run is abandoned.\n",
    "Warning: Could not read the file %s; it was not stored.\n",
    "Warning: Ignoring file %s because it is 4 GiB or larger.\n",
    "Warning: The file %s changed while it was read; it was not stored.\n",
    "Warning: The file %s changed or could not be read while it was stored; its resource may not match it.\n",
    "Warning: Could not read the directory %s; files in it were not stored.\n",
};

const char USAGE_TEXT[] =
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

const char MORE_USAGE_TEXT[] =
    "-show_padding   report writes of pad bytes.\n"
    "-show_allspecs  show all file specs.\n"
    "-show_recurs    report dirs as they are recursed into.\n";

}  // namespace

void RADUza::msg(int id, ...) {
    if (id < 0 || id >= MSG_COUNT) return;
    va_list args;
    va_start(args, id);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, CATALOGUE[id], measure);
    va_end(measure);
    if (length > 0) {
        // The length from vsnprintf, not strlen: "%c" with a NUL character writes that NUL.
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), CATALOGUE[id], args);
        printText(text.data(), static_cast<std::size_t>(length));
    }
    va_end(args);
}

void RADUza::usage() { printText(USAGE_TEXT, sizeof USAGE_TEXT - 1); }

void RADUza::moreUsage() { printText(MORE_USAGE_TEXT, sizeof MORE_USAGE_TEXT - 1); }

// Every text goes through the console buffer, which is also the resource output
// when that is standard output, so messages and entries keep their order. When
// standard output is gone, the text goes to standard error rather than nowhere.
void RADUza::printText(const char* text, std::size_t size) {
    if (!console_.failed()) {
        console_.put(text, size);
        if (console_.flush()) return;
    }
    (void)fs_.standardError().write(text, size);
}
