// Writing an extracted file on Windows: every directory on the way is checked not
// to be a link or junction before it is entered, and a file already there is
// replaced by a new file renamed over it, never written through.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "lister/lister.h"

namespace fs = std::filesystem;

namespace {

// What stands at `path` and may not be used as a directory (or as a file).
Refusal inTheWay(const fs::path& path, bool mustBeDirectory, std::string& reason) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::not_found) return Refusal::NONE;
    if (error) {
        reason = error.message();
        return Refusal::NOT_WRITTEN;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (fs::is_symlink(status) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
        return Refusal::THROUGH_LINK;  // a symbolic link or a junction
    if (mustBeDirectory ? !fs::is_directory(status) : !fs::is_regular_file(status)) return Refusal::IN_THE_WAY;
    return Refusal::NONE;
}

}  // namespace

Extracted extractFile(const std::string& root, const RelativePath& relative, raduza::FileView bytes) {
    if (relative.refusal != Refusal::NONE) return {relative.refusal, {}};
    fs::path path = fs::u8path(root);
    std::string reason;
    for (std::size_t i = 0; i + 1 < relative.components.size(); ++i) {
        path /= std::wstring(relative.components[i].begin(), relative.components[i].end());
        if (const Refusal refusal = inTheWay(path, true, reason); refusal != Refusal::NONE) return {refusal, reason};
        std::error_code error;
        fs::create_directory(path, error);
        if (error) return {Refusal::NOT_WRITTEN, error.message()};
    }
    const fs::path directory = path;
    path /= std::wstring(relative.components.back().begin(), relative.components.back().end());
    if (const Refusal refusal = inTheWay(path, false, reason); refusal != Refusal::NONE) return {refusal, reason};
    const fs::path temporary = directory / fs::path(unfinishedName());
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code error;
    if (!out) {
        fs::remove(temporary, error);
        return {Refusal::NOT_WRITTEN, "the new file could not be written"};
    }
    fs::rename(temporary, path, error);
    if (!error) return {};
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return {Refusal::NOT_WRITTEN, error.message()};
}
