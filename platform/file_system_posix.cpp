// The file system on POSIX: Win32 notions mapped to their nearest POSIX meaning
// (write permission for read-only, a leading dot for hidden, sorted enumeration).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/file_system.h"
#include "platform/name_order.h"
#include "platform/read_ahead_posix.h"
#include "platform/temporary_files.h"
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

extern "C" void removePendingFileAndEnd(int signal) {
    if (const char* path = pendingRemoval()) ::unlink(path);
    // Die of the same signal, so the parent sees the conventional status.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void installSignalHandling() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous;
        // A run started with the signal ignored (nohup) keeps ignoring it.
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = removePendingFileAndEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
    // A reader that goes away, or a file-size limit reached, must turn into a failed
    // write the tool reports, not a signal that kills it silently.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

std::uint64_t processSeed() {
    return static_cast<std::uint64_t>(::getpid()) << 32 ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

// Closes the files a walk has read a few dozen at a time: one close_range for many
// files cost a tenth less of a run over 200,000 tiny files than a close each. The
// descriptors are held as runs of consecutive numbers (a descriptor inherited from the
// parent splits them), and a run holds only descriptors handed over here, so no other
// file is ever closed with them.
class DeferredCloses {
public:
    DeferredCloses() = default;
    DeferredCloses(const DeferredCloses&) = delete;
    DeferredCloses& operator=(const DeferredCloses&) = delete;
    ~DeferredCloses() { closeAll(); }

    void close(int fd) {
#ifdef __linux__
        if (runs_ == 0 || fd != runLast_[runs_ - 1] + 1) {
            if (runs_ == MAX_RUNS) closeAll();
            runFirst_[runs_++] = fd;
        }
        runLast_[runs_ - 1] = fd;
        if (++held_ == MAX_HELD) closeAll();
#else
        ::close(fd);
#endif
    }

    void closeAll() {
        for (int run = 0; run < runs_; ++run) {
#ifdef __linux__
            if (::close_range(static_cast<unsigned>(runFirst_[run]), static_cast<unsigned>(runLast_[run]), 0) == 0)
                continue;
#endif
            for (int fd = runFirst_[run]; fd <= runLast_[run]; ++fd) ::close(fd);
        }
        runs_ = 0;
        held_ = 0;
    }

private:
    static constexpr int MAX_HELD = 64;  // far below any limit on open files
    static constexpr int MAX_RUNS = 8;

    int runFirst_[MAX_RUNS] = {};
    int runLast_[MAX_RUNS] = {};
    int runs_ = 0;
    int held_ = 0;
};

class PosixInput final : public InputFile {
public:
    PosixInput(int fd, const struct stat& st, DeferredCloses& closes)
        : fd_(fd), size_(static_cast<std::uint64_t>(st.st_size)), id_(idOf(st)), closes_(closes) {}
    ~PosixInput() override { closes_.close(fd_); }
    std::uint64_t size() const override { return size_; }
    FileId id() const override { return id_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        if (broken_) return std::nullopt;
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, capacity);
            if (got >= 0) {
                // Only regular files are opened: a short read of one stops at its end.
                atEnd_ = static_cast<std::size_t>(got) < capacity;
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) return std::nullopt;
        }
    }
    bool readReachedEnd() const override { return atEnd_; }
    int descriptor() const { return fd_; }
    // Steps back over `count` bytes already taken. Should that ever fail, every later
    // read fails too, so no byte is silently skipped.
    bool rewind(std::size_t count) {
        if (::lseek(fd_, -static_cast<off_t>(count), SEEK_CUR) >= 0) return true;
        broken_ = true;
        return false;
    }

private:
    int fd_;
    std::uint64_t size_;
    FileId id_;
    DeferredCloses& closes_;
    bool atEnd_ = false;
    bool broken_ = false;
};

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
    PosixFileSystem() : stdout_(STDOUT_FILENO, false), stderr_(STDERR_FILENO, false) {
        holdClosedStandardDescriptors();
        installSignalHandling();
    }

    std::optional<PathStatus> queryPath(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        // Root may write anywhere, so read-only is the owner's write bit, not access().
        return PathStatus{S_ISDIR(st.st_mode), (st.st_mode & S_IWUSR) == 0,
                          !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)};
    }

    Existence pathExists(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) return Existence::EXISTS;
        return errno == ENOENT || errno == ENOTDIR ? Existence::MISSING : Existence::UNREACHABLE;
    }

    std::optional<FileId> fileId(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return std::nullopt;
        return idOf(st);
    }

    std::optional<FileStamp> fileStamp(const std::string& path) override {
        // A file of the directory just listed is looked up from it, not by its whole path.
        const char* listedName = nameInListedDirectory(path);
        struct stat st;
        const int status = listedName ? ::fstatat(::dirfd(listed_.get()), listedName, &st, 0) : ::stat(path.c_str(), &st);
        if (status != 0) return std::nullopt;
        return FileStamp{S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size),
                         changeTimeOf(st), idOf(st)};
    }

    void setReadingAhead(bool wanted) override { readingAhead_ = wanted; }

    bool enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) override {
        std::unique_ptr<SortedEntries> entries = takeLeafListing(dir, pattern);
        if (!entries) {
            entries = std::make_unique<SortedEntries>();
            if (!readMatching(dir.empty() ? "." : dir, pattern, *entries, nullptr)) return false;
        }
        entries->sort();
        if (dir.empty() || !readingAhead_) {
            entries->visitInOrder(visit);  // a search: what it finds is opened after the listing
        } else {
            // A walk opens the listed files in this order, as it stores them.
            const ReadAhead::Listing readAhead(readAhead_, ::dirfd(listed_.get()), *entries);
            entries->visitInOrder(visit);
        }
        closes_.closeAll();  // no file read from a listing stays open past it
        return true;
    }

    bool enumerateSubdirectories(const std::string& dir, const EntryVisitor& visit) override {
        leafListing_.reset();
        auto everyOther = std::make_unique<SortedEntries>();
        SortedEntries subdirectories;
        if (!readMatching(dir, "*.*", *everyOther, &subdirectories)) return false;
        if (subdirectories.size() == 0) {
            // A walk asks for the files of a directory right after its subdirectories,
            // and here nothing lies between: this listing serves that one too.
            leafListing_ = std::move(everyOther);
            leafPath_ = dir;
            return true;
        }
        subdirectories.visitInOrder(visit);
        return true;
    }

    std::unique_ptr<InputFile> openInput(const std::string& path) override {
        const char* listedName = nameInListedDirectory(path);
        if (listedName) {
            ReadAhead::Taken taken = readAhead_.take(listedName);
            switch (taken.kind) {
            case ReadAhead::Taken::READ: return std::move(taken.file);
            case ReadAhead::Taken::OPENED: return inputFrom(taken.fd, taken.status);
            case ReadAhead::Taken::NOT_REGULAR: return nullptr;
            case ReadAhead::Taken::NOT_TAKEN: break;
            }
        }
        int fd = openInListedDirectory(path, listedName);
        if (fd < 0 && errno == EMFILE) {
            // The files held for closing, and those opened ahead, may be what the limit counts.
            closes_.closeAll();
            readAhead_.stop();
            fd = openInListedDirectory(path, listedName);
        }
        if (fd < 0) return nullptr;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        return inputFrom(fd, st);
    }

    CreatedOutput createOutput(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) return {nullptr, std::strerror(errno)};
        return {std::make_unique<PosixOutput>(fd, true), {}};
    }

    CreatedTemporary createTemporary(const std::string& prefix, const std::string& permissionsOf) override {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = prefix + uniqueNames_.next();
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                return {nullptr, {}, std::strerror(errno)};
            }
            struct stat old;
            if (!permissionsOf.empty() && ::stat(permissionsOf.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
            return {std::make_unique<PosixOutput>(fd, true), std::move(path), {}};
        }
        return {nullptr, {}, std::strerror(EEXIST)};
    }

    SystemResult renameFile(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) == 0) return {true, {}};
        return {false, std::strerror(errno)};
    }

    std::string resolveLinks(const std::string& path) override {
        std::string current = path;
        for (int hops = 0; hops < 40; ++hops) {
            struct stat st;
            if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
            std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
            const ssize_t length = ::readlink(current.c_str(), &target[0], target.size());
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return current;
            target.resize(static_cast<std::size_t>(length));
            current = target[0] == '/' ? target : parentOf(current) + target;
        }
        return path;  // a loop: every use of it fails, as the system will say
    }

    void removeOnInterrupt(const std::string& path) override { setPendingRemoval(path); }

    OutputFile& standardOutput() override { return stdout_; }
    OutputFile& standardError() override { return stderr_; }

    bool removeFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

private:
    // A regular file opened as `fd`, whose status is `st`.
    std::unique_ptr<InputFile> inputFrom(int fd, const struct stat& st) {
#ifdef POSIX_FADV_SEQUENTIAL
        // Only where read-ahead can matter: for small files it is one system call more.
        if (st.st_size >= SEQUENTIAL_HINT_MIN_SIZE) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
        return std::make_unique<PosixInput>(fd, st, closes_);
    }

    // Non-blocking so that a FIFO named on the command line cannot hang the open.
    static constexpr int INPUT_FLAGS = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

    // The name within the directory listed last of a file `path` names there, or null.
    const char* nameInListedDirectory(const std::string& path) const {
        const std::size_t dirLength = listedPath_.size();
        if (listed_ && path.size() > dirLength + 1 && path[dirLength] == '/' &&
            path.compare(0, dirLength, listedPath_) == 0 && path.find('/', dirLength + 1) == std::string::npos)
            return path.c_str() + dirLength + 1;
        return nullptr;
    }

    // A walk opens the files of the directory it has just listed: those are looked
    // up from the listed directory, still open, not by their whole path again.
    int openInListedDirectory(const std::string& path, const char* listedName) const {
        if (listedName) return ::openat(::dirfd(listed_.get()), listedName, INPUT_FLAGS);
        return ::open(path.c_str(), INPUT_FLAGS);
    }

    struct CloseDirectory {
        void operator()(DIR* stream) const { ::closedir(stream); }
    };

    // Collects the matching entries that are directories or regular files after
    // following links; FIFOs, sockets, devices and dangling links are left out,
    // since reading them could block forever or fail. With `subdirectories`, the
    // directories other than "." and ".." go there instead.
    bool readMatching(const std::string& dir, const std::string& pattern, SortedEntries& entries,
                      SortedEntries* subdirectories) {
        readAhead_.stop();  // it reads from the directory listed last
        leafListing_.reset();
        listed_.reset();
        closes_.closeAll();  // files named one by one may still be held, and a low limit on open files counts them
        DIR* stream = ::opendir(dir.c_str());
        if (!stream) return false;
        std::string path = dir + '/';
        const std::size_t dirLength = path.size();
        while (const dirent* found = ::readdir(stream)) {
            if (!wildcardMatch(pattern, found->d_name)) continue;
            if (isDotOrDotDot(found->d_name)) {
                entries.add(found->d_name, true, false, false);
                continue;
            }
            // Once a subdirectory is found the directory is no leaf, and its files are listed again.
            if (subdirectories && subdirectories->size() > 0 && isPlainFile(found)) continue;
            path.resize(dirLength);
            path += found->d_name;
            bool isDirectory = false;
            if (!classify(found, path, isDirectory)) continue;
            SortedEntries& into = isDirectory && subdirectories ? *subdirectories : entries;
            into.add(found->d_name, isDirectory, found->d_name[0] == '.', false);
        }
        listed_.reset(stream);
        listedPath_ = dir;
        return true;
    }

    // The listing of `dir` that its listing of subdirectories left, when it is the
    // whole of what this one would read.
    std::unique_ptr<SortedEntries> takeLeafListing(const std::string& dir, const std::string& pattern) {
        std::unique_ptr<SortedEntries> leaf = std::move(leafListing_);
        if (leaf && (dir != leafPath_ || pattern != "*.*")) leaf.reset();
        return leaf;
    }

    // True when the entry is known to be a regular file without a stat().
    static bool isPlainFile(const dirent* found) {
#ifdef _DIRENT_HAVE_D_TYPE
        return found->d_type == DT_REG;
#else
        (void)found;
        return false;
#endif
    }

    static bool classify(const dirent* found, const std::string& path, bool& isDirectory) {
#ifdef _DIRENT_HAVE_D_TYPE
        if (found->d_type == DT_REG) return true;
        if (found->d_type == DT_DIR) {
            isDirectory = true;
            return true;
        }
#else
        (void)found;
#endif
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return false;
        isDirectory = S_ISDIR(st.st_mode);
        return isDirectory || S_ISREG(st.st_mode);
    }

    PosixOutput stdout_;
    PosixOutput stderr_;
    DeferredCloses closes_;
    ReadAhead readAhead_{INPUT_FLAGS};
    bool readingAhead_ = true;
    UniqueNames uniqueNames_{processSeed()};
    std::unique_ptr<DIR, CloseDirectory> listed_;  // the directory listed last, and its path
    std::string listedPath_;
    std::unique_ptr<SortedEntries> leafListing_;  // a directory without subdirectories, and its path
    std::string leafPath_;
};

}  // namespace

FileSystem& realFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}
