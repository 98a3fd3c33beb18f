// The file system on Win32, through the ANSI file API. Enumerations are sorted
// here as on POSIX, so the order does not depend on the volume's file system.
#include <windows.h>


#include "platform/file_system.h"
#include "platform/name_order.h"
#include "platform/temporary_files.h"

namespace {

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The system's words for an error code, without the line break Windows ends them with.
std::string describeError(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string described = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!described.empty() && (described.back() == '\n' || described.back() == '\r' || described.back() == '.'))
        described.pop_back();
    return described;
}

// Ctrl-C and Ctrl-Break end the process from a thread of their own; the unfinished
// file goes first.
BOOL WINAPI removePendingFile(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        // The file was opened for sharing deletion, so it goes when the process ends.
        if (const char* path = pendingRemoval()) DeleteFileA(path);
    }
    return FALSE;  // the default handler then ends the process
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class Win32Input final : public InputFile {
public:
    Win32Input(HANDLE handle, std::uint64_t size, FileId id) : handle_(handle), size_(size), id_(id) {}
    ~Win32Input() override { CloseHandle(handle_); }
    std::uint64_t size() const override { return size_; }
    FileId id() const override { return id_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        DWORD got = 0;
        const DWORD wanted = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
        if (!ReadFile(handle_, buffer, wanted, &got, nullptr)) return std::nullopt;
        // A synchronous read of a disk file returns less than asked only at its end.
        atEnd_ = got < wanted;
        return got;
    }
    bool readReachedEnd() const override { return atEnd_; }

private:
    HANDLE handle_;
    std::uint64_t size_;
    FileId id_;
    bool atEnd_ = false;
};

class Win32Output final : public OutputFile {
public:
    Win32Output(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
    ~Win32Output() override {
        if (owned_) CloseHandle(handle_);
    }
    bool write(const char* data, std::size_t size) override {
        // WriteFile on the raw handle: no C runtime text mode can turn a 0x0A byte
        // of the resource file into 0x0D 0x0A.
        if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return failed(ERROR_INVALID_HANDLE);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
            DWORD put = 0;
            if (!WriteFile(handle_, data, chunk, &put, nullptr)) return failed(GetLastError());
            if (put == 0) return failed(ERROR_WRITE_FAULT);
            data += put;
            size -= put;
        }
        return true;
    }
    bool truncate(std::uint64_t size) override {
        if (!owned_) return false;
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(size);
        return (SetFilePointerEx(handle_, offset, nullptr, FILE_BEGIN) && SetEndOfFile(handle_)) ||
               failed(GetLastError());
    }
    std::optional<FileId> id() const override {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle_, &info)) return std::nullopt;
        return idOf(info);
    }
    std::string errorText() const override { return error_; }

private:
    bool failed(DWORD code) {
        error_ = describeError(code);
        return false;
    }

    HANDLE handle_;
    bool owned_;
    std::string error_;
};

class Win32FileSystem final : public FileSystem {
public:
    Win32FileSystem()
        : stdout_(GetStdHandle(STD_OUTPUT_HANDLE), false), stderr_(GetStdHandle(STD_ERROR_HANDLE), false) {
        SetConsoleCtrlHandler(removePendingFile, TRUE);
    }

    std::optional<PathStatus> queryPath(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
        return PathStatus{(attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0,
                          false};
    }

    Existence pathExists(const std::string& path) override {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return Existence::EXISTS;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
                       error == ERROR_BAD_NETPATH || error == ERROR_INVALID_DRIVE
                   ? Existence::MISSING
                   : Existence::UNREACHABLE;
    }

    std::optional<FileId> fileId(const std::string& path) override {
        const std::optional<BY_HANDLE_FILE_INFORMATION> info = informationOf(path);
        if (!info) return std::nullopt;
        return idOf(*info);
    }

    std::optional<FileStamp> fileStamp(const std::string& path) override {
        const std::optional<BY_HANDLE_FILE_INFORMATION> info = informationOf(path);
        if (!info) return std::nullopt;
        const FILETIME& written = info->ftLastWriteTime;
        return FileStamp{(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                         (static_cast<std::uint64_t>(info->nFileSizeHigh) << 32) | info->nFileSizeLow,
                         static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                                   written.dwLowDateTime),
                         idOf(*info)};
    }

    bool enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) override {
        SortedEntries entries;
        if (!search(dir.empty() ? pattern : dir + '\\' + pattern, pattern == "*.*", false, entries)) return false;
        entries.visitInOrder(visit);
        return true;
    }

    bool enumerateSubdirectories(const std::string& dir, const EntryVisitor& visit) override {
        SortedEntries entries;
        if (!search(dir + "\\*.*", true, true, entries)) return false;
        entries.visitInOrder(visit);
        return true;
    }

    std::unique_ptr<InputFile> openInput(const std::string& path) override {
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CloseHandle(handle);
            return nullptr;
        }
        const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        return std::make_unique<Win32Input>(handle, size, idOf(info));
    }

    CreatedOutput createOutput(const std::string& path) override {
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return {nullptr, describeError(GetLastError())};
        return {std::make_unique<Win32Output>(handle, true), {}};
    }

    CreatedTemporary createTemporary(const std::string& prefix, const std::string&) override {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = prefix + uniqueNames_.next();
            const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE) return {std::make_unique<Win32Output>(handle, true), std::move(path), {}};
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {nullptr, {}, describeError(error)};
        }
        return {nullptr, {}, describeError(ERROR_FILE_EXISTS)};
    }

    SystemResult renameFile(const std::string& from, const std::string& to) override {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return {true, {}};
        return {false, describeError(GetLastError())};
    }

    std::string resolveLinks(const std::string& path) override { return path; }



    void removeOnInterrupt(const std::string& path) override { setPendingRemoval(path); }

    OutputFile& standardOutput() override { return stdout_; }
    OutputFile& standardError() override { return stderr_; }

    bool removeFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

private:
    // What the system knows of an existing file or directory; backup semantics let
    // CreateFile open a directory, following junctions.
    static std::optional<BY_HANDLE_FILE_INFORMATION> informationOf(const std::string& path) {
        const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = GetFileInformationByHandle(handle, &info);
        CloseHandle(handle);
        if (!known) return std::nullopt;
        return info;
    }

    // Runs one directory search. A search that matches nothing is not a failure.
    // With `directoriesOnly`, only the directories other than "." and "..".
    // `everyName`: the pattern matches every name, so the short 8.3 names, which
    // other patterns may match, need not be fetched.
    static bool search(const std::string& query, bool everyName, bool directoriesOnly, SortedEntries& entries) {
        WIN32_FIND_DATAA found;
        const HANDLE handle = findFirst(query, everyName, found);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
        }
        do {
            const bool dots = isDotOrDotDot(found.cFileName);
            const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || dots;
            if (directoriesOnly && (!isDirectory || dots)) continue;
            entries.add(found.cFileName, isDirectory, (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0,
                        (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0);
        } while (FindNextFileA(handle, &found));
        FindClose(handle);
        return true;
    }

    // Entries come in large batches; a system that knows neither batches nor the
    // basic information level gets the plain search.
    static HANDLE findFirst(const std::string& query, bool everyName, WIN32_FIND_DATAA& found) {
        const HANDLE handle = FindFirstFileExA(query.c_str(), everyName ? FindExInfoBasic : FindExInfoStandard,
                                               &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) return handle;
        return FindFirstFileA(query.c_str(), &found);
    }

    Win32Output stdout_;
    Win32Output stderr_;
    UniqueNames uniqueNames_{(static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount64()};
};

}  // namespace

FileSystem& realFileSystem() {
    static Win32FileSystem fileSystem;
    return fileSystem;
}
