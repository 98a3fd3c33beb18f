// The message catalogue and the two help texts: everything the tool tells its user.
#pragma once

#include <string_view>

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

// The printf format of a message; nothing for an id outside the catalogue.
const char* messageFormat(int id);

std::string_view usageText();
std::string_view moreUsageText();
// What --help prints after the usage text: the options beyond the original set.
std::string_view ownOptionsText();
// What --version prints.
std::string_view versionText();
