// The file system on Win32, through the ANSI file API. Enumerations are sorted
// here as on POSIX, so the order does not depend on the volume's file system.
#include <windows.h>

#include "platform/file_system.h"
#include "platform/name_order.h"
#include "platform/output_target_win32.h"
#include "platform/system_error_win32.h"
#include "platform/wildcard.h"

namespace {

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The last write time, in the system's units of 100 ns.
std::int64_t lastWriteTimeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                     info.ftLastWriteTime.dwLowDateTime);
}

SystemError notRegular() { return SystemError{SystemError::Kind::NOT_REGULAR, "not a regular file"}; }

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
    bool seek(std::uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        atEnd_ = false;
        return offset <= static_cast<std::uint64_t>(INT64_MAX) && SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN);
    }

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
    std::optional<PathStatus> status() const override {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle_, &info)) return std::nullopt;
        return PathStatus{FileKind::REGULAR, (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0, idOf(info),
                          (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                          lastWriteTimeOf(info), std::nullopt};
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

// Runs one directory search, calling `found` with each entry's data. A search that
// matches nothing is not a failure. `everyName`: the pattern matches every name, so
// the short 8.3 names, which other patterns may match, need not be fetched.
template <class Found>
Result<void> search(const std::string& query, bool everyName, const Found& found) {
    WIN32_FIND_DATAA data;
    // Entries come in large batches; a system that knows neither batches nor the
    // basic information level gets the plain search.
    HANDLE handle = FindFirstFileExA(query.c_str(), everyName ? FindExInfoBasic : FindExInfoStandard, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        handle = FindFirstFileA(query.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return {};
        return systemError(error);
    }
    do {
        if (!isDotOrDotDot(data.cFileName)) found(data);
    } while (FindNextFileA(handle, &data));
    FindClose(handle);
    return {};
}

void addEntry(SortedEntries& entries, const WIN32_FIND_DATAA& data) {
    entries.add(data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0, (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0);
}

// `flags` may add FILE_FLAG_OPEN_REPARSE_POINT: a link or junction is then opened
// itself, and refused, instead of being followed.
Result<std::unique_ptr<InputFile>> openRegular(const std::string& path, DWORD flags = 0) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return systemError(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(handle);
        return notRegular();
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return std::unique_ptr<InputFile>(std::make_unique<Win32Input>(handle, size, idOf(info)));
}

class Win32ListedFile final : public ListedFile {
public:
    void visit(const std::string& path, const char* name) {
        path_ = path;
        entry_.name.assign(name);
        input_.reset();
        failure_.reset();
    }
    const DirEntry& entry() const override { return entry_; }
    Result<InputFile*> open() override {
        if (!input_ && !failure_) {
            Result<std::unique_ptr<InputFile>> opened = openRegular(path_);
            if (opened) input_ = std::move(*opened);
            else failure_ = opened.error();
        }
        if (failure_) return *failure_;
        return input_.get();
    }
    void finish() { input_.reset(); }

private:
    std::string path_;
    DirEntry entry_;
    std::unique_ptr<InputFile> input_;
    std::optional<SystemError> failure_;
};

class Win32Directory final : public Directory {
public:
    explicit Win32Directory(std::string path) : path_(std::move(path)) {}

    static Result<std::unique_ptr<Directory>> open(const std::string& path) {
        auto directory = std::make_unique<Win32Directory>(path);
        const Result<void> listed = search(path + "\\*.*", true, [&](const WIN32_FIND_DATAA& data) {
            addEntry((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? directory->subdirectories_ : directory->files_, data);
        });
        if (!listed) return listed.error();
        return std::unique_ptr<Directory>(std::move(directory));
    }

    std::vector<std::string> subdirectories() override { return subdirectories_.sortedNames(); }

    void listFiles(const std::string& pattern, const EntryVisitor& visit) override {
        SortedEntries some;
        matching(pattern, some).visitInOrder(visit);
    }

    // What the visit holds is its own, so that a visit of any directory may run inside it.
    void visitFiles(const std::string& pattern, const FileVisitor& visit) override {
        Win32ListedFile file;
        SortedEntries some;
        matching(pattern, some).visitInOrder([&](const DirEntry& entry) {
            file.visit(path_ + '\\' + entry.name, entry.name.c_str());
            const bool goOn = visit(file);
            file.finish();
            return goOn;
        });
    }

private:
    // The files matching `pattern`: every file, or those gathered into `some`. Any other
    // pattern than `*.*` is the system's own search, which also matches the short 8.3 names.
    SortedEntries& matching(const std::string& pattern, SortedEntries& some) {
        if (pattern == "*.*") return files_;
        (void)search(path_ + '\\' + pattern, false, [&](const WIN32_FIND_DATAA& data) {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) addEntry(some, data);
        });
        return some;
    }

    std::string path_;
    SortedEntries subdirectories_;
    SortedEntries files_;
};

class Win32FileSystem final : public FileSystem {
public:
    Win32FileSystem()
        : stdout_(GetStdHandle(STD_OUTPUT_HANDLE), false), stderr_(GetStdHandle(STD_ERROR_HANDLE), false) {
        installInterruptHandling();
    }

    Result<PathStatus> status(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return systemError(GetLastError());
        PathStatus status;
        status.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::DIRECTORY : FileKind::REGULAR;
        status.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        // Backup semantics let CreateFile open a directory, following junctions.
        const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            if (GetFileInformationByHandle(handle, &info)) {
                status.id = idOf(info);
                status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
                status.changed = lastWriteTimeOf(info);
            }
            CloseHandle(handle);
        }
        return status;
    }

    Result<std::unique_ptr<Directory>> openDirectory(const std::string& path) override {
        return Win32Directory::open(path);
    }

    Result<void> search(const std::string& pattern, const EntryVisitor& visit) override {
        SortedEntries entries;
        const Result<void> searched =
            ::search(pattern, pattern == "*.*", [&](const WIN32_FIND_DATAA& data) { addEntry(entries, data); });
        if (searched) entries.visitInOrder(visit);
        return searched;
    }

    Result<std::unique_ptr<InputFile>> openInput(const std::string& path) override { return openRegular(path); }

    Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) override {
        return openWin32OutputTarget(path, [](HANDLE handle) { return std::make_unique<Win32Output>(handle, false); });
    }

    Result<std::unique_ptr<InputFile>> openCompanion(const std::string& path) override {
        return openRegular(path, FILE_FLAG_OPEN_REPARSE_POINT);
    }

    Result<std::unique_ptr<OutputTarget>> openCompanionTarget(const std::string& path) override {
        return openWin32CompanionTarget(path, [](HANDLE handle) { return std::make_unique<Win32Output>(handle, false); });
    }

    std::int64_t timeUnitsPerSecond() const override { return 10000000; }
    void waitForClockTick() override { Sleep(1); }

    OutputFile& standardOutput() override { return stdout_; }
    OutputFile& standardError() override { return stderr_; }

    std::optional<std::string> currentDirectory() override {
        const DWORD needed = GetCurrentDirectoryA(0, nullptr);
        if (needed == 0) return std::nullopt;
        std::string path(needed, '\0');
        const DWORD length = GetCurrentDirectoryA(needed, &path[0]);
        if (length == 0 || length >= needed) return std::nullopt;
        path.resize(length);
        return path;
    }

private:
    Win32Output stdout_;
    Win32Output stderr_;
};

}  // namespace

FileSystem& realFileSystem() {
    static Win32FileSystem fileSystem;
    return fileSystem;
}

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

SystemError systemError(DWORD code) {
    SystemError::Kind kind = SystemError::Kind::OTHER;
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
        code == ERROR_BAD_NETPATH || code == ERROR_INVALID_DRIVE)
        kind = SystemError::Kind::MISSING;
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_WRITE_PROTECT)
        kind = SystemError::Kind::DENIED;
    return SystemError{kind, describeError(code)};
}
