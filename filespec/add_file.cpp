// Handing one selected file to storage under its derived resource name.
#include "driver/raduza.h"
#include "filespec/resource_name.h"

void RADUza::addFile(const std::string& path) {
    if (halted_) return;
    if (!fs_.pathExists(path)) {
        if (!isSet(OPT_QUIET)) msg(MSG_NO_FILE, path.c_str());
        return;
    }
    const std::string name = deriveResourceName(path, isSet(OPT_JUNK), rules_);
    curName = name;
    storeFile(path);
    curName = {};
}
