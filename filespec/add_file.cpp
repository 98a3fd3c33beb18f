// Handing one selected file to storage under its derived resource name.
#include "driver/raduza.h"
#include "filespec/resource_name.h"

void RADUza::addFile(const std::string& path) {
    if (halted_) return;
    // Open first: the size and identity then describe exactly the bytes copied. A
    // file that opens exists, so only a failed open costs the question whether it does.
    const std::unique_ptr<InputFile> input = fs_.openInput(path);
    if (!input && !fs_.pathExists(path)) {
        if (!isSet(OPT_QUIET)) msg(MSG_NO_FILE, path.c_str());
        return;
    }
    const std::string name = deriveResourceName(path, isSet(OPT_JUNK), rules_);
    curName = name;
    storeFile(path, input.get());
    curName = {};
}
