#include "platform/output_target_win32.h"

#include "platform/system_error_win32.h"
#include "platform/temporary_files.h"

namespace {

// What the console handler undoes. The handler runs on a thread of its own, so the
// state is shared under a lock; once the run has begun to make its result final,
// the handler waits for the process to end instead.
struct InterruptState {
    SRWLOCK lock = SRWLOCK_INIT;
    bool finishing = false;    // the replacement or the in-place file is final
    bool interrupted = false;  // the handler has cleaned up: the process is ending
    std::string replacement;   // the unfinished new file
    BY_HANDLE_FILE_INFORMATION replacementInfo{};
    HANDLE inPlace = INVALID_HANDLE_VALUE;  // the target written in place
    std::string message;
};
InterruptState state;

class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&state.lock); }
    ~Locked() { ReleaseSRWLockExclusive(&state.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Deletes the file at `path` when it is still the file `info` describes.
bool deleteIfSame(const std::string& path, const BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE handle = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION now;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool deleted = GetFileInformationByHandle(handle, &now) && sameFile(now, info) &&
                         SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
    return deleted;
}

// Cut to zero length, modified at the Unix epoch: no build takes it for up to date.
bool emptyAtEpoch(HANDLE handle) {
    LARGE_INTEGER start{};
    FILETIME epoch;
    const ULONGLONG unixEpoch = 116444736000000000ull;  // 1970 in 100 ns units since 1601
    epoch.dwLowDateTime = static_cast<DWORD>(unixEpoch);
    epoch.dwHighDateTime = static_cast<DWORD>(unixEpoch >> 32);
    return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle) &&
           SetFileTime(handle, nullptr, nullptr, &epoch);
}

BOOL WINAPI cleanUpOnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&state.lock);
    if (state.finishing) {
        // The result is final: the run ends as it finished, on the main thread.
        ReleaseSRWLockExclusive(&state.lock);
        Sleep(INFINITE);
    }
    state.interrupted = true;
    if (!state.replacement.empty()) deleteIfSame(state.replacement, state.replacementInfo);
    if (state.inPlace != INVALID_HANDLE_VALUE && emptyAtEpoch(state.inPlace)) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), state.message.data(), static_cast<DWORD>(state.message.size()),
                  &written, nullptr);
    }
    ReleaseSRWLockExclusive(&state.lock);
    return FALSE;  // the default handler then ends the process
}

// From now until the process ends, an interrupt changes nothing; false when one
// already has (the process is ending: the caller must not go on).
void holdInterruptsUntilExit() {
    AcquireSRWLockExclusive(&state.lock);
    if (state.interrupted) {
        ReleaseSRWLockExclusive(&state.lock);
        Sleep(INFINITE);
    }
    state.finishing = true;
    state.replacement.clear();
    state.inPlace = INVALID_HANDLE_VALUE;
    ReleaseSRWLockExclusive(&state.lock);
}

// The directory part of `path`, with its separator; empty for a bare name.
std::string directoryPart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string::npos) return path.substr(0, separator + 1);
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return {};
}

class Win32OutputTarget final : public OutputTarget {
public:
    Win32OutputTarget(std::string path, HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, Kind kind,
                      const WrapHandle& wrap)
        : path_(std::move(path)), handle_(handle), info_(info), kind_(kind), wrap_(wrap), file_(wrap(handle)) {}

    ~Win32OutputTarget() override {
        {
            const Locked locked;
            if (state.inPlace == handle_) state.inPlace = INVALID_HANDLE_VALUE;
            if (!state.finishing) state.replacement.clear();
        }
        closeReplacement();
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        if (directory_ != INVALID_HANDLE_VALUE) CloseHandle(directory_);
    }

    // Holds the directory open, so it cannot be renamed while the run writes in it;
    // for a NEW file, removes that file again.
    void settle() {
        // ReplaceFile wants whole paths, and every later step goes by them.
        const DWORD length = GetFullPathNameA(path_.c_str(), 0, nullptr, nullptr);
        if (length > 0) {
            std::string full(length, '\0');
            const DWORD written = GetFullPathNameA(path_.c_str(), length, &full[0], nullptr);
            if (written > 0 && written < length) {
                full.resize(written);
                path_ = full;
            }
        }
        directory_ = CreateFileA(directoryPart(path_).empty() ? "." : directoryPart(path_).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const DWORD attributes = GetFileAttributesA(path_.c_str());
        throughLink_ = attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (kind_ == Kind::NEW && handle_ != INVALID_HANDLE_VALUE) {
            // A killed run must not leave an empty file; closed, so the name is free
            // again at once, not pending deletion until the process ends.
            deleteIfSame(path_, info_);
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

    Kind kind() const override { return kind_; }
    OutputFile& file() override { return *file_; }

    bool isStandardOutput() const override {
        if (info_.nFileIndexHigh == 0 && info_.nFileIndexLow == 0) return false;  // a companion's: nothing was opened
        BY_HANDLE_FILE_INFORMATION standard;
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        return GetFileType(output) == FILE_TYPE_DISK && GetFileInformationByHandle(output, &standard) &&
               sameFile(standard, info_);
    }

    // ReplaceFile keeps the attributes, the security and the creation time of the
    // file it replaces; a link or junction is written in place, through the link.
    bool replaceable() const override { return kind_ == Kind::NEW || (kind_ == Kind::REGULAR && !throughLink_); }

    Result<OutputFile*> createReplacement() override {
        static UniqueNames names((static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount64());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string path = directoryPart(path_) + UNFINISHED_FILE_PREFIX + names.next();
            const Locked locked;  // made and registered for removal in one step
            const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                const DWORD error = GetLastError();
                if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
                return systemError(error);
            }
            GetFileInformationByHandle(handle, &replacementInfo_);
            replacementHandle_ = handle;
            replacementPath_ = path;
            replacement_ = wrap_(handle);
            state.replacement = path;
            state.replacementInfo = replacementInfo_;
            return replacement_.get();
        }
        return systemError(ERROR_FILE_EXISTS);
    }

    // ReplaceFile keeps them; a companion's new file takes the directory's, as any new file does.
    Result<void> adoptOwnership(const std::optional<FileOwnership>&) override { return {}; }

    Result<void> replace() override {
        holdInterruptsUntilExit();
        closeReplacement();  // Windows renames only closed files
        BOOL replaced;
        if (kind_ == Kind::REGULAR) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
            replaced = ReplaceFileA(path_.c_str(), replacementPath_.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr);
        } else {
            replaced = MoveFileExA(replacementPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
        if (!replaced) return systemError(GetLastError());
        replacementPath_.clear();
        return {};
    }

    bool discardReplacement() override {
        {
            const Locked locked;
            if (!state.finishing) state.replacement.clear();
        }
        closeReplacement();
        const bool removed = !replacementPath_.empty() && deleteIfSame(replacementPath_, replacementInfo_);
        replacementPath_.clear();
        return removed;
    }

    bool removeTarget() override {
        if (kind_ != Kind::REGULAR || throughLink_) return false;
        return deleteIfSame(path_, info_);
    }

    void emptyOnInterrupt(const std::string& message) override {
        const Locked locked;
        state.message = message;
        state.inPlace = handle_;
    }

    Result<void> empty() override {
        if (!emptyAtEpoch(handle_)) return systemError(GetLastError());
        return {};
    }

    void finishInPlace() override { holdInterruptsUntilExit(); }

private:
    void closeReplacement() {
        if (replacementHandle_ == INVALID_HANDLE_VALUE) return;
        CloseHandle(replacementHandle_);
        replacementHandle_ = INVALID_HANDLE_VALUE;
    }

    std::string path_;
    HANDLE handle_;
    BY_HANDLE_FILE_INFORMATION info_;
    Kind kind_;
    WrapHandle wrap_;
    std::unique_ptr<OutputFile> file_;
    HANDLE directory_ = INVALID_HANDLE_VALUE;
    bool throughLink_ = false;
    std::string replacementPath_;
    HANDLE replacementHandle_ = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION replacementInfo_{};
    std::unique_ptr<OutputFile> replacement_;
};

}  // namespace

Result<std::unique_ptr<OutputTarget>> openWin32OutputTarget(const std::string& path, const WrapHandle& wrap) {
    // Opened as the command shell's `>` opens a file, less the truncation.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return systemError(GetLastError());
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    const OutputTarget::Kind kind = !disk   ? OutputTarget::Kind::OTHER
                                    : created ? OutputTarget::Kind::NEW
                                              : OutputTarget::Kind::REGULAR;
    auto target = std::make_unique<Win32OutputTarget>(path, handle, info, kind, wrap);
    if (kind != OutputTarget::Kind::OTHER) target->settle();
    return std::unique_ptr<OutputTarget>(std::move(target));
}

Result<std::unique_ptr<OutputTarget>> openWin32CompanionTarget(const std::string& path, const WrapHandle& wrap) {
    const BY_HANDLE_FILE_INFORMATION none{};
    auto target = std::make_unique<Win32OutputTarget>(path, INVALID_HANDLE_VALUE, none, OutputTarget::Kind::NEW, wrap);
    target->settle();
    return std::unique_ptr<OutputTarget>(std::move(target));
}

void installInterruptHandling() { SetConsoleCtrlHandler(cleanUpOnInterrupt, TRUE); }
