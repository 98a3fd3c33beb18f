// The file system on POSIX: Win32 notions mapped to their nearest POSIX meaning
// (write permission for read-only, a leading dot for hidden, sorted listings).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>

#include "platform/descriptor_posix.h"
#include "platform/file_system.h"
#include "platform/name_order.h"
#include "platform/read_ahead_posix.h"
#include "platform/output_target_posix.h"
#include "platform/system_calls_posix.h"
#include "platform/system_error_posix.h"
#include "platform/wildcard.h"

namespace {

FileId idOf(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The status change time in nanoseconds: any write, rename or change of permissions moves it.
std::int64_t changeTimeOf(const struct stat& st) {
#ifdef __APPLE__
    const struct timespec& changed = st.st_ctimespec;
#else
    const struct timespec& changed = st.st_ctim;
#endif
    return static_cast<std::int64_t>(changed.tv_sec) * 1000000000 + changed.tv_nsec;
}

FileOwnership ownershipOf(const struct stat& st) {
    return FileOwnership{static_cast<std::uint32_t>(st.st_uid), static_cast<std::uint32_t>(st.st_gid),
                         static_cast<std::uint32_t>(st.st_mode & 0777)};
}

PathStatus statusOf(const struct stat& st) {
    const FileKind kind = S_ISDIR(st.st_mode)   ? FileKind::DIRECTORY
                          : S_ISREG(st.st_mode) ? FileKind::REGULAR
                                                : FileKind::SPECIAL;
    // Root may write anywhere, so read-only is the owner's write bit, not access().
    return PathStatus{kind, (st.st_mode & S_IWUSR) == 0, idOf(st), static_cast<std::uint64_t>(st.st_size),
                      changeTimeOf(st), ownershipOf(st)};
}

// Files this large are read with the kernel told to read ahead aggressively.
constexpr off_t SEQUENTIAL_HINT_MIN_SIZE = off_t{1} << 20;

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A closed standard descriptor would be handed out by the next open(), and the
// resource file would then also receive the messages meant for standard output.
// Each closed one is held by /dev/null opened read-only, so writes to it fail
// and are reported as on a closed stream.
void holdClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

// Closes the files a walk has read a few dozen at a time: one close_range for many
// files cost a tenth less of a run over 200,000 tiny files than a close each
// (close_range is Linux's). The descriptors are held as runs of consecutive numbers (a
// descriptor inherited from the parent splits them), and a run holds only
// descriptors handed over here, so no other file is ever closed with them.
class DeferredCloses {
public:
    explicit DeferredCloses(SystemCalls& calls) : calls_(calls) {}
    DeferredCloses(const DeferredCloses&) = delete;
    DeferredCloses& operator=(const DeferredCloses&) = delete;
    ~DeferredCloses() { closeAll(); }

    void close(Descriptor descriptor) {
#ifdef __linux__
        const int fd = descriptor.release();
        if (runs_ == 0 || fd != runLast_[runs_ - 1] + 1) {
            if (runs_ == MAX_RUNS) closeAll();
            runFirst_[runs_++] = fd;
        }
        runLast_[runs_ - 1] = fd;
        if (++held_ == MAX_HELD) closeAll();
#else
        (void)calls_.close(descriptor.release());
#endif
    }

    void closeAll() {
        for (int run = 0; run < runs_; ++run) {
            if (calls_.closeRange(runFirst_[run], runLast_[run]) == 0) continue;
            for (int fd = runFirst_[run]; fd <= runLast_[run]; ++fd) (void)calls_.close(fd);
        }
        runs_ = 0;
        held_ = 0;
    }

private:
    static constexpr int MAX_HELD = 64;  // far below any limit on open files
    static constexpr int MAX_RUNS = 8;

    SystemCalls& calls_;
    int runFirst_[MAX_RUNS] = {};
    int runLast_[MAX_RUNS] = {};
    int runs_ = 0;
    int held_ = 0;
};

SystemError lastError() { return systemError(errno); }

SystemError notRegular() { return SystemError{SystemError::Kind::NOT_REGULAR, "not a regular file"}; }

class PosixInput final : public InputFile {
public:
    // With `closes`, the descriptor goes to that batch when the input is done.
    PosixInput(SystemCalls& calls, Descriptor fd, const struct stat& st, DeferredCloses* closes)
        : calls_(calls), fd_(std::move(fd)), size_(static_cast<std::uint64_t>(st.st_size)), id_(idOf(st)),
          ownership_(ownershipOf(st)), closes_(closes) {}
    ~PosixInput() override {
        if (closes_) closes_->close(std::move(fd_));
        else (void)calls_.close(fd_.release());
    }
    std::uint64_t size() const override { return size_; }
    FileId id() const override { return id_; }
    std::optional<FileOwnership> ownership() const override { return ownership_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        if (broken_) return std::nullopt;
        for (;;) {
            const ssize_t got = calls_.read(fd_.get(), buffer, capacity);
            if (got >= 0) {
                // Only regular files are opened: a short read of one stops at its end.
                atEnd_ = static_cast<std::size_t>(got) < capacity;
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) return std::nullopt;
        }
    }
    bool readReachedEnd() const override { return atEnd_; }
    bool seek(std::uint64_t offset) override {
        if (broken_ || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
        atEnd_ = false;
        return ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) >= 0;
    }
    SystemCalls& calls() { return calls_; }
    int descriptor() const { return fd_.get(); }
    // Steps back over `count` bytes already taken. Should that ever fail, every later
    // read fails too, so no byte is silently skipped.
    bool rewind(std::size_t count) {
        if (::lseek(fd_.get(), -static_cast<off_t>(count), SEEK_CUR) >= 0) return true;
        broken_ = true;
        return false;
    }

private:
    SystemCalls& calls_;
    Descriptor fd_;
    std::uint64_t size_;
    FileId id_;
    FileOwnership ownership_;
    DeferredCloses* closes_;
    bool atEnd_ = false;
    bool broken_ = false;
};

// A file read whole ahead of its turn: its bytes, which stay where they are until the
// visit that hands this out is over.
class ReadAheadInput final : public InputFile {
public:
    ReadAheadInput(std::string_view data, const struct stat& st) : data_(data), id_(idOf(st)) {}
    std::uint64_t size() const override { return data_.size(); }
    FileId id() const override { return id_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, data_.size() - delivered_);
        if (count > 0) std::memcpy(buffer, data_.data() + delivered_, count);
        delivered_ += count;
        atEnd_ = count < capacity;
        return count;
    }
    bool readReachedEnd() const override { return atEnd_; }
    bool seek(std::uint64_t offset) override {
        delivered_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, data_.size()));
        atEnd_ = false;
        return true;
    }

private:
    std::string_view data_;
    FileId id_;
    std::size_t delivered_ = 0;
    bool atEnd_ = false;
};

// Non-blocking so that a FIFO named on the command line cannot hang the open.
constexpr int INPUT_FLAGS = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// A regular file opened as `fd`, whose status is `st`.
std::unique_ptr<InputFile> inputFrom(SystemCalls& calls, Descriptor fd, const struct stat& st, DeferredCloses* closes) {
#ifdef POSIX_FADV_SEQUENTIAL
    // Only where read-ahead can matter: for small files it is one system call more.
    if (st.st_size >= SEQUENTIAL_HINT_MIN_SIZE) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return std::make_unique<PosixInput>(calls, std::move(fd), st, closes);
}

// Opens `name`, relative to the directory open as `directory` (or AT_FDCWD), when it
// is a regular file. Where the limit on open files is reached, `makeRoom` may free some.
Result<std::unique_ptr<InputFile>> openRegular(SystemCalls& calls, int directory, const char* name,
                                               DeferredCloses* closes, const std::function<void()>& makeRoom = {},
                                               int flags = INPUT_FLAGS) {
    Descriptor fd(calls.openAt(directory, name, flags));
    if (!fd && errno == EMFILE && makeRoom) {
        makeRoom();
        fd.reset(calls.openAt(directory, name, flags));
    }
    if (!fd && errno == ELOOP && (flags & O_NOFOLLOW) != 0) return notRegular();  // a link, never followed
    if (!fd) return lastError();
    struct stat st;
    if (calls.status(fd.get(), &st) != 0) return lastError();
    if (!S_ISREG(st.st_mode)) return notRegular();
    return inputFrom(calls, std::move(fd), st, closes);
}

// Calls `found` with each entry of the directory open as `directory` that is a directory or a
// regular file after following links ("." and ".." left out).
template <class Found>
Result<void> listEntries(int directory, const Found& found) {
    // The listing takes a descriptor of its own, which closedir closes.
    Descriptor copy(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    DIR* stream = copy ? ::fdopendir(copy.get()) : nullptr;
    if (!stream) return lastError();
    copy.release();
    while (const dirent* entry = ::readdir(stream)) {
        const char* name = entry->d_name;
        if (isDotOrDotDot(name)) continue;
#ifdef _DIRENT_HAVE_D_TYPE
        if (entry->d_type == DT_REG || entry->d_type == DT_DIR) {
            found(name, entry->d_type == DT_DIR);
            continue;
        }
#endif
        struct stat st;
        if (::fstatat(directory, name, &st, 0) != 0) continue;  // a dangling link
        if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) found(name, S_ISDIR(st.st_mode));
    }
    ::closedir(stream);
    return {};
}

bool matchesEveryName(const std::string& pattern) { return pattern == "*.*" || pattern == "*"; }

// The one file of a visit the visitor holds at a time, and what the visit owns for
// it: the read-ahead, and the files read to close.
class PosixListedFile final : public ListedFile {
public:
    PosixListedFile(ReadAheadThreads& threads, SystemCalls& calls, int directory, const SortedEntries& files)
        : calls_(calls), directory_(directory), closes_(calls), readAhead_(threads, calls, INPUT_FLAGS, directory, files) {}
    void visit(std::size_t index, const char* name) {
        index_ = index;
        entry_.name.assign(name);
        entry_.isHidden = name[0] == '.';
    }
    // The visit is over: the input is closed and the entry's read-ahead given back.
    void finish() {
        input_.reset();
        failure_.reset();
        readAhead_.release(index_);
    }
    const DirEntry& entry() const override { return entry_; }
    Result<InputFile*> open() override;

private:
    Result<std::unique_ptr<InputFile>> openPrepared();
    // Room for one more open file: those held for closing, and those opened ahead,
    // may be what a low limit on open files counts.
    void makeRoom() {
        closes_.closeAll();
        readAhead_.stop();
    }

    SystemCalls& calls_;
    const int directory_;
    DeferredCloses closes_;  // closed last, after the read-ahead stopped: no file stays open past the visit
    ReadAhead readAhead_;
    std::size_t index_ = 0;
    DirEntry entry_;
    std::unique_ptr<InputFile> input_;
    std::optional<SystemError> failure_;
};

class PosixDirectory final : public Directory {
public:
    PosixDirectory(ReadAheadThreads& threads, SystemCalls& calls, Descriptor fd)
        : threads_(threads), calls_(calls), fd_(std::move(fd)) {}

    static Result<std::unique_ptr<Directory>> open(ReadAheadThreads& threads, SystemCalls& calls, const std::string& path) {
        Descriptor fd(calls.openDirectory(path.c_str()));
        if (!fd) return lastError();
        auto directory = std::make_unique<PosixDirectory>(threads, calls, std::move(fd));
        const Result<void> listed = listEntries(directory->fd_.get(), [&](const char* name, bool isDirectory) {
            (isDirectory ? directory->subdirectories_ : directory->files_).add(name, isDirectory, name[0] == '.', false);
        });
        if (!listed) return listed.error();
        return std::unique_ptr<Directory>(std::move(directory));
    }

    std::vector<std::string> subdirectories() override { return subdirectories_.sortedNames(); }

    void listFiles(const std::string& pattern, const EntryVisitor& visit) override {
        SortedEntries some;
        matching(pattern, some).visitInOrder(visit);
    }

    // Whatever the visit holds is its own (the file it hands out, its read-ahead and
    // its files to close), so that a visit of any directory may run inside it.
    void visitFiles(const std::string& pattern, const FileVisitor& visit) override {
        SortedEntries some;
        const SortedEntries& files = matching(pattern, some);
        PosixListedFile file(threads_, calls_, fd_.get(), files);
        for (std::size_t i = 0; i < files.size(); ++i) {
            file.visit(i, files.nameAt(i));
            const bool goOn = visit(file);
            file.finish();
            if (!goOn) break;
        }
    }

private:
    // The files matching `pattern`, sorted: every file, or those gathered into `some`.
    SortedEntries& matching(const std::string& pattern, SortedEntries& some) {
        files_.sort();
        if (matchesEveryName(pattern)) return files_;
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (wildcardMatch(pattern, files_.nameAt(i))) some.add(files_.nameAt(i), false, files_.nameAt(i)[0] == '.', false);
        some.sort();
        return some;
    }

    ReadAheadThreads& threads_;
    SystemCalls& calls_;
    Descriptor fd_;
    SortedEntries subdirectories_;
    SortedEntries files_;
};

Result<InputFile*> PosixListedFile::open() {
    if (!input_ && !failure_) {
        Result<std::unique_ptr<InputFile>> opened = openPrepared();
        if (opened) input_ = std::move(*opened);
        else failure_ = opened.error();
    }
    if (failure_) return *failure_;
    return input_.get();
}

Result<std::unique_ptr<InputFile>> PosixListedFile::openPrepared() {
    PreparedFile& prepared = readAhead_.take(index_);
    switch (prepared.kind) {
    case PreparedFile::READ: return std::unique_ptr<InputFile>(std::make_unique<ReadAheadInput>(prepared.data, prepared.status));
    case PreparedFile::OPENED:
        return inputFrom(calls_, std::move(prepared.fd), prepared.status, &closes_);
    case PreparedFile::NOT_REGULAR: return notRegular();
    case PreparedFile::LEFT_TO_WALK: break;
    }
    return openRegular(calls_, directory_, entry_.name.c_str(), &closes_, [this] { makeRoom(); });
}

class PosixOutput final : public OutputFile {
public:
    PosixOutput(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~PosixOutput() override {
        if (owned_) ::close(fd_);
    }
    bool write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t put = ::write(fd_, data, size);
            if (put < 0) {
                if (errno == EINTR) continue;
                return failed();
            }
            data += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }
    bool truncate(std::uint64_t size) override {
        if (!owned_) return false;  // never cut back a stream the caller handed us
        const auto offset = static_cast<off_t>(size);
        return (::ftruncate(fd_, offset) == 0 && ::lseek(fd_, offset, SEEK_SET) == offset) || failed();
    }
    std::optional<FileId> id() const override {
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return idOf(st);
    }
    std::optional<PathStatus> status() const override {
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return statusOf(st);
    }
    std::string errorText() const override { return error_; }

    std::optional<std::uint64_t> copyFrom(InputFile& input, std::uint64_t count) override {
#ifdef __linux__
        // Only into a file of our own: standard output is written as it always was.
        auto* from = dynamic_cast<PosixInput*>(&input);
        if (!owned_ || !from) return std::nullopt;
        if (const std::optional<std::uint64_t> spliced = spliceFrom(*from, count)) return spliced;
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, MAX_SYSTEM_COPY));
        for (;;) {
            const ssize_t copied = ::copy_file_range(from->descriptor(), nullptr, fd_, nullptr, chunk, 0);
            if (copied >= 0) return static_cast<std::uint64_t>(copied);
            if (errno != EINTR) return std::nullopt;  // unsupported here, or a failure the ordinary copy will meet
        }
#else
        (void)input;
        (void)count;
        return std::nullopt;
#endif
    }

private:
    // What one system copy is asked for: within ssize_t on every build.
    static constexpr std::uint64_t MAX_SYSTEM_COPY = std::uint64_t{1} << 30;

#ifdef __linux__
    // The data of an entry starts wherever its header ends, seldom where a page of the
    // output does. There copy_file_range took about 1.4 times as long on ext4 as the
    // same copy to offset 0, while a splice through a 1 MiB pipe, a megabyte at a
    // time, kept pace with the latter. Nothing when the pipe cannot be had (the caller
    // then asks copy_file_range), else the bytes copied.
    std::optional<std::uint64_t> spliceFrom(PosixInput& from, std::uint64_t count) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
        const PipeEnds pipe{ends[0], ends[1]};
        const int capacity = ::fcntl(pipe.write, F_SETPIPE_SZ, SPLICE_PIPE_SIZE);
        if (capacity < SPLICE_PIPE_SIZE) return std::nullopt;
        std::uint64_t copied = 0;
        while (copied < count) {
            const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count - copied, SPLICE_PIPE_SIZE));
            const ssize_t taken = ::splice(from.descriptor(), nullptr, pipe.write, nullptr, chunk, SPLICE_F_MOVE);
            if (taken < 0 && errno == EINTR) continue;
            if (taken < 0 && copied == 0) return std::nullopt;  // perhaps no splice from this file system
            if (taken <= 0) break;  // the end, or a failure the ordinary copy will meet
            auto left = static_cast<std::size_t>(taken);
            while (left > 0) {
                const ssize_t put = ::splice(pipe.read, nullptr, fd_, nullptr, left, SPLICE_F_MOVE);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) {
                    // The output refused the rest: the input gives those bytes back, so
                    // the ordinary copy goes on from the first byte not written.
                    if (!from.rewind(left)) return std::nullopt;
                    return copied;
                }
                left -= static_cast<std::size_t>(put);
                copied += static_cast<std::uint64_t>(put);
            }
        }
        return copied;
    }

    static constexpr int SPLICE_PIPE_SIZE = 1 << 20;  // what an unprivileged process may have by default

    struct PipeEnds {
        int read;
        int write;
        ~PipeEnds() {
            ::close(read);
            ::close(write);
        }
    };
#endif

    bool failed() {
        error_ = std::strerror(errno);
        return false;
    }

    int fd_;
    bool owned_;
    std::string error_;
};

class PosixFileSystem final : public FileSystem {
public:
    explicit PosixFileSystem(SystemCalls& calls)
        : stdout_(STDOUT_FILENO, false), stderr_(STDERR_FILENO, false), calls_(calls) {
        holdClosedStandardDescriptors();
        installInterruptHandling();
    }

    Result<PathStatus> status(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return lastError();
        return statusOf(st);
    }

    Result<std::unique_ptr<Directory>> openDirectory(const std::string& path) override {
        return PosixDirectory::open(readAheadThreads_, calls_, path);
    }

    Result<void> search(const std::string& pattern, const EntryVisitor& visit) override {
        Descriptor here(calls_.openDirectory("."));
        if (!here) return lastError();
        SortedEntries entries;
        const Result<void> listed = listEntries(here.get(), [&](const char* name, bool isDirectory) {
            if (wildcardMatch(pattern, name)) entries.add(name, isDirectory, name[0] == '.', false);
        });
        if (listed) entries.visitInOrder(visit);
        return listed;
    }

    Result<std::unique_ptr<InputFile>> openInput(const std::string& path) override {
        return openRegular(calls_, AT_FDCWD, path.c_str(), nullptr);
    }

    Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) override {
        return openPosixOutputTarget(calls_, path, [](int fd) { return std::make_unique<PosixOutput>(fd, true); });
    }

    Result<std::unique_ptr<InputFile>> openCompanion(const std::string& path) override {
        return openRegular(calls_, AT_FDCWD, path.c_str(), nullptr, {}, INPUT_FLAGS | O_NOFOLLOW);
    }

    Result<std::unique_ptr<OutputTarget>> openCompanionTarget(const std::string& path) override {
        return openPosixCompanionTarget(path, [](int fd) { return std::make_unique<PosixOutput>(fd, true); });
    }

    std::int64_t timeUnitsPerSecond() const override { return 1000000000; }
    void waitForClockTick() override {
        const struct timespec millisecond{0, 1000000};
        (void)::nanosleep(&millisecond, nullptr);
    }

    OutputFile& standardOutput() override { return stdout_; }
    OutputFile& standardError() override { return stderr_; }

    std::optional<std::string> currentDirectory() override {
        std::string path(256, '\0');
        while (::getcwd(&path[0], path.size()) == nullptr) {
            if (errno != ERANGE) return std::nullopt;
            path.resize(path.size() * 2);
        }
        path.resize(std::strlen(path.c_str()));
        return path;
    }

private:
    PosixOutput stdout_;
    PosixOutput stderr_;
    SystemCalls& calls_;
    ReadAheadThreads readAheadThreads_;  // each lent to one visit at a time
};

}  // namespace

FileSystem& realFileSystem() {
    static PosixFileSystem fileSystem(SystemCalls::direct());
    return fileSystem;
}

std::unique_ptr<FileSystem> makePosixFileSystem(SystemCalls& calls) { return std::make_unique<PosixFileSystem>(calls); }

SystemError systemError(int code) {
    SystemError::Kind kind = SystemError::Kind::OTHER;
    if (code == ENOENT || code == ENOTDIR) kind = SystemError::Kind::MISSING;
    if (code == EACCES || code == EPERM || code == EROFS) kind = SystemError::Kind::DENIED;
    return SystemError{kind, std::strerror(code)};
}
