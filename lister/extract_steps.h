// Writing one extracted file, the same steps on every system: each directory on
// the way is entered (made when missing; a link or anything but a directory there
// is refused), whatever stands where the file goes is refused unless it is a
// regular file, and a new file is written beside it under an unused name and
// renamed over the name, so nothing there is ever written through.
//
// `Directory` is each system's own (extract_posix.cpp, extract_win32.cpp):
//   Extracted open(const std::string& root);        the extraction directory, which the user names
//   Extracted enter(const std::u16string& name);    into its subdirectory `name`
//   Refusal fileInTheWay(const std::u16string& name) const;
//   Created create(const std::string& temporary, raduza::FileView bytes, Extracted& failure);
//   Extracted renameOver(const std::string& temporary, const std::u16string& name);  removes it on failure
#pragma once

#include <string>

#include "lister/lister.h"

// How creating a new file under an unused name went; a failed one leaves no file.
enum class Created { WRITTEN, NAME_TAKEN, FAILED };

// Names taken by others before one is free: a planted file can cost a retry, never the file.
inline constexpr int UNFINISHED_NAME_ATTEMPTS = 100;

template <typename Directory>
Extracted extractThrough(Directory& directory, const std::string& root, const RelativePath& relative,
                         raduza::FileView bytes) {
    if (relative.refusal != Refusal::NONE) return {relative.refusal, {}};
    if (Extracted opened = directory.open(root); opened.refusal != Refusal::NONE) return opened;
    for (std::size_t i = 0; i + 1 < relative.components.size(); ++i)
        if (Extracted entered = directory.enter(relative.components[i]); entered.refusal != Refusal::NONE)
            return entered;
    const std::u16string& name = relative.components.back();
    if (const Refusal refusal = directory.fileInTheWay(name); refusal != Refusal::NONE) return {refusal, {}};
    for (int attempt = 0; attempt < UNFINISHED_NAME_ATTEMPTS; ++attempt) {
        const std::string temporary = unfinishedName();
        Extracted failure;
        const Created created = directory.create(temporary, bytes, failure);
        if (created == Created::NAME_TAKEN) continue;
        if (created == Created::FAILED) return failure;
        return directory.renameOver(temporary, name);
    }
    return {Refusal::NOT_WRITTEN, "no unused name for the new file"};
}
