// Writing an extracted file on Windows: every directory on the way is checked not
// to be a link or junction (a reparse point) before it is entered, and the file is
// written as a new file, created where no name was, then renamed over the name:
// nothing there, a planted link or a hard link among them, is written through.
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "lister/extract_steps.h"
#include "lister/lister.h"

namespace {

Extracted systemFailure(DWORD error) { return {Refusal::NOT_WRITTEN, std::system_category().message(static_cast<int>(error))}; }

std::wstring wide(const std::u16string& name) { return std::wstring(name.begin(), name.end()); }
std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// What stands at `path` and may not be used as a directory (or as a regular file).
Refusal inTheWay(const std::wstring& path, bool mustBeDirectory) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Refusal::NONE;  // nothing there, or let the next step say why
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Refusal::THROUGH_LINK;  // a symbolic link or a junction
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isDirectory == mustBeDirectory ? Refusal::NONE : Refusal::IN_THE_WAY;
}

bool writeAll(HANDLE file, const unsigned char* data, std::size_t size) {
    constexpr std::size_t CHUNK = std::size_t{1} << 30;  // WriteFile takes a DWORD
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(file, data, static_cast<DWORD>(size < CHUNK ? size : CHUNK), &put, nullptr) || put == 0)
            return false;
        data += put;
        size -= put;
    }
    return true;
}

// A directory of the extraction, by its path: each step checks what is there first.
class Win32Directory {
public:
    Extracted open(const std::string& root) {
        // The extraction directory itself is the user's to name, links and all.
        path_ = std::filesystem::u8path(root).wstring();
        return {};
    }

    Extracted enter(const std::u16string& name) {
        const std::wstring next = inside(wide(name));
        if (const Refusal refusal = inTheWay(next, true); refusal != Refusal::NONE) return {refusal, {}};
        if (!CreateDirectoryW(next.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return systemFailure(GetLastError());
        if (const Refusal refusal = inTheWay(next, true); refusal != Refusal::NONE) return {refusal, {}};
        path_ = next;
        return {};
    }

    Refusal fileInTheWay(const std::u16string& name) const { return inTheWay(inside(wide(name)), false); }

    Created create(const std::string& temporary, raduza::FileView bytes, Extracted& failure) {
        const std::wstring path = inside(wide(temporary));
        // CREATE_NEW: never a name that exists, a link or a junction among them.
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Created::NAME_TAKEN;
            failure = systemFailure(error);
            return Created::FAILED;
        }
        const bool written = writeAll(file, bytes.data(), bytes.size());
        const DWORD error = GetLastError();
        if (CloseHandle(file) && written) return Created::WRITTEN;
        failure = systemFailure(written ? GetLastError() : error);
        DeleteFileW(path.c_str());
        return Created::FAILED;
    }

    Extracted renameOver(const std::string& temporary, const std::u16string& name) {
        const std::wstring from = inside(wide(temporary)), to = inside(wide(name));
        // A link at `to` is replaced itself, never followed.
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
        const DWORD error = GetLastError();
        DeleteFileW(from.c_str());
        if (const Refusal refusal = inTheWay(to, false); refusal != Refusal::NONE) return {refusal, {}};
        return systemFailure(error);
    }

private:
    std::wstring inside(const std::wstring& name) const { return path_ + L'\\' + name; }

    std::wstring path_;
};

}  // namespace

Extracted extractFile(const std::string& root, const RelativePath& relative, raduza::FileView bytes) {
    Win32Directory directory;
    return extractThrough(directory, root, relative, bytes);
}
