#include "platform/output_target_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/system_error_posix.h"
#include "platform/temporary_files.h"

namespace {

// What the interrupt handler undoes. Changed only while the three signals are
// blocked, so the handler never sees it half written.
struct InterruptCleanup {
    int replacementDir = -1;  // the unfinished new file: its directory, name and identity
    char replacementName[sizeof UNFINISHED_FILE_PREFIX + UNFINISHED_FILE_UNIQUE_CHARACTERS] = {};
    dev_t replacementDevice = 0;
    ino_t replacementInode = 0;
    int inPlace = -1;  // the target written in place, to empty
    const char* message = nullptr;
    std::size_t messageLength = 0;
};
InterruptCleanup cleanup;

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : INTERRUPTS) sigaddset(&set, signal);
    return set;
}

// Blocks the three signals for its lifetime, or for good.
class InterruptsHeld {
public:
    InterruptsHeld() {
        const sigset_t set = interruptSet();
        ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~InterruptsHeld() {
        if (!forever_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
    void untilExit() { forever_ = true; }

private:
    sigset_t previous_;
    bool forever_ = false;
};

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void emptyAtEpoch(int fd) {
    (void)::ftruncate(fd, 0);  // the time, as in empty(): where the system allows
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
    (void)::futimens(fd, times);
}

// Async-signal-safe calls only.
extern "C" void cleanUpAndEnd(int signal) {
    const int savedErrno = errno;
    if (cleanup.replacementDir >= 0) {
        struct stat st;
        if (::fstatat(cleanup.replacementDir, cleanup.replacementName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            st.st_dev == cleanup.replacementDevice && st.st_ino == cleanup.replacementInode)
            (void)::unlinkat(cleanup.replacementDir, cleanup.replacementName, 0);
    }
    if (cleanup.inPlace >= 0) {
        emptyAtEpoch(cleanup.inPlace);
        if (cleanup.message) (void)!::write(STDERR_FILENO, cleanup.message, cleanup.messageLength);
    }
    errno = savedErrno;
    // Die of the same signal, so the parent sees the conventional status.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string leafOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path the links at the end of `path` lead to, as the open followed them.
std::string followFinalLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), &target[0], target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return current;
        target.resize(static_cast<std::size_t>(length));
        current = target[0] == '/' ? target : parentOf(current) + "/" + target;
    }
    return current;
}

#ifdef O_PATH
constexpr int DIRECTORY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

bool inGroup(gid_t group) {
    if (group == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    return false;
}

// True when renaming a new file over this one would lose what it carries besides
// its bytes, mode and owners.
bool carriesWhatARenameLoses(int fd) {
#ifdef __linux__
    for (const char* attribute : {"system.posix_acl_access", "security.capability"}) {
        if (::fgetxattr(fd, attribute, nullptr, 0) >= 0) return true;
        if (errno != ENODATA && errno != ENOTSUP) return true;  // cannot tell: keep the file as it is
    }
#else
    (void)fd;
#endif
    return false;
}

std::uint64_t processSeed() {
    return static_cast<std::uint64_t>(::getpid()) << 32 ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

class PosixOutputTarget final : public OutputTarget {
public:
    PosixOutputTarget(std::unique_ptr<OutputFile> file, int fd, const struct stat& st, Kind kind,
                      const WrapDescriptor& wrap)
        : wrap_(wrap), file_(std::move(file)), fd_(fd), st_(st), kind_(kind) {}

    ~PosixOutputTarget() override {
        {
            const InterruptsHeld held;
            if (cleanup.inPlace == fd_) cleanup.inPlace = -1;
            if (cleanup.replacementDir == dir_) cleanup.replacementDir = -1;
        }
        replacement_.reset();
        if (dir_ >= 0) ::close(dir_);
    }

    // Finds the name the open reached, in its directory held open; for a NEW file,
    // removes that name again.
    Result<void> locate(const std::string& path) {
        const std::string reached = kind_ == Kind::NEW ? path : followFinalLinks(path);
        leaf_ = leafOf(reached);
        dir_ = ::open(parentOf(reached).c_str(), DIRECTORY_FLAGS);
        if (dir_ < 0) return systemError(errno);
        struct stat st;
        located_ = !leaf_.empty() && ::fstatat(dir_, leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(st, st_);
        // A killed run must not leave an empty file that looks up to date. A run beside
        // this one may have renamed its finished file over the name already: then the
        // file this open made is gone, and the other run's is left alone.
        if (kind_ == Kind::NEW && located_ && ::unlinkat(dir_, leaf_.c_str(), 0) != 0 && errno != ENOENT)
            return systemError(errno);
        return {};
    }

    Kind kind() const override { return kind_; }
    OutputFile& file() override { return *file_; }

    bool isStandardOutput() const override {
        if (st_.st_ino == 0 && st_.st_dev == 0) return false;  // a companion's: nothing was opened
        struct stat standard;
        return ::fstat(STDOUT_FILENO, &standard) == 0 && sameFile(standard, st_);
    }

    bool replaceable() const override {
        if (kind_ == Kind::NEW) return true;
        if (kind_ != Kind::REGULAR || !located_) return false;
        // Only root may give a file to another owner, or to a group it is not in.
        const bool ownersKept = ::geteuid() == 0 || (st_.st_uid == ::geteuid() && inGroup(st_.st_gid));
        // Owning the file also satisfies a sticky directory's rule for the rename.
        return ownersKept && !carriesWhatARenameLoses(fd_);
    }

    Result<OutputFile*> createReplacement() override {
        static UniqueNames names(processSeed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = UNFINISHED_FILE_PREFIX + names.next();
            const InterruptsHeld held;  // made and registered for removal in one step
            const int fd = ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                                    kind_ == Kind::NEW ? 0666 : 0600);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                return systemError(errno);
            }
            struct stat st;
            if (::fstat(fd, &st) != 0) {
                const int error = errno;
                (void)::unlinkat(dir_, name.c_str(), 0);
                ::close(fd);
                return systemError(error);
            }
            replacementFd_ = fd;
            replacement_ = wrap_(fd);
            // The target is not written now: its descriptor does not count against a
            // low limit on open files.
            file_.reset();
            fd_ = -1;
            replacementName_ = name;
            std::memcpy(cleanup.replacementName, name.c_str(), name.size() + 1);
            cleanup.replacementDevice = st.st_dev;
            cleanup.replacementInode = st.st_ino;
            cleanup.replacementDir = dir_;
            return replacement_.get();
        }
        return systemError(EEXIST);
    }

    Result<void> adoptOwnership(const std::optional<FileOwnership>& like) override {
        if (like) return giveReplacement(like->user, like->group, like->mode & 0666);
        if (kind_ == Kind::NEW) return {};
        // Set-ID bits never: a resource file needs none, and writing in place clears them.
        return giveReplacement(st_.st_uid, st_.st_gid, st_.st_mode & 0777);
    }

    Result<void> replace() override {
        InterruptsHeld held;
        held.untilExit();  // a run whose rename happened ends as a finished run
        cleanup.replacementDir = -1;
        if (::renameat(dir_, replacementName_.c_str(), dir_, leaf_.c_str()) != 0) return systemError(errno);
        replacementName_.clear();
        return {};
    }

    bool discardReplacement() override {
        {
            const InterruptsHeld held;
            if (cleanup.replacementDir == dir_) cleanup.replacementDir = -1;
        }
        if (replacementName_.empty()) return false;
        struct stat now, made;
        const bool removed = ::fstat(replacementFd_, &made) == 0 &&
                             ::fstatat(dir_, replacementName_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                             sameFile(now, made) && ::unlinkat(dir_, replacementName_.c_str(), 0) == 0;
        replacementName_.clear();
        return removed;
    }

    bool removeTarget() override {
        struct stat now;
        return located_ && ::fstatat(dir_, leaf_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st_) &&
               ::unlinkat(dir_, leaf_.c_str(), 0) == 0;
    }

    void emptyOnInterrupt(const std::string& message) override {
        message_ = message;
        const InterruptsHeld held;
        cleanup.message = message_.c_str();
        cleanup.messageLength = message_.size();
        cleanup.inPlace = fd_;
    }

    Result<void> empty() override {
        if (::ftruncate(fd_, 0) != 0) return systemError(errno);
        // Only the owner (or root) may set a time other than now: for anyone else the
        // file is empty, and that is what matters.
        const struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
        (void)::futimens(fd_, times);
        return {};
    }

    void finishInPlace() override {
        InterruptsHeld held;
        held.untilExit();
        cleanup.inPlace = -1;
    }

    // A companion's target: its directory held open, and nothing at its name opened.
    Result<void> locateCompanion(const std::string& path) {
        leaf_ = leafOf(path);
        dir_ = ::open(parentOf(path).c_str(), DIRECTORY_FLAGS);
        if (dir_ < 0) return systemError(errno);
        return {};
    }

private:
    Result<void> giveReplacement(uid_t user, gid_t group, mode_t mode) {
        struct stat now;
        if (::fstat(replacementFd_, &now) != 0) return systemError(errno);
        if ((now.st_uid != user || now.st_gid != group) && ::fchown(replacementFd_, user, group) != 0)
            return systemError(errno);
        if (::fchmod(replacementFd_, mode) != 0) return systemError(errno);
        return {};
    }

    WrapDescriptor wrap_;
    std::unique_ptr<OutputFile> file_;
    int fd_;
    struct stat st_;
    Kind kind_;
    int dir_ = -1;
    std::string leaf_;
    bool located_ = false;
    std::unique_ptr<OutputFile> replacement_;
    int replacementFd_ = -1;
    std::string replacementName_;
    std::string message_;
};

}  // namespace

namespace {

Result<std::unique_ptr<OutputTarget>> targetOf(int fd, const std::string& path, bool created, const WrapDescriptor& wrap) {
    std::unique_ptr<OutputFile> file = wrap(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return systemError(errno);
    const OutputTarget::Kind kind = !S_ISREG(st.st_mode) ? OutputTarget::Kind::OTHER
                                    : created          ? OutputTarget::Kind::NEW
                                                       : OutputTarget::Kind::REGULAR;
    auto target = std::make_unique<PosixOutputTarget>(std::move(file), fd, st, kind, wrap);
    if (kind != OutputTarget::Kind::OTHER) {
        if (Result<void> located = target->locate(path); !located) return located.error();
    }
    return std::unique_ptr<OutputTarget>(std::move(target));
}

}  // namespace

Result<std::unique_ptr<OutputTarget>> openPosixOutputTarget(SystemCalls& calls, const std::string& path,
                                                            const WrapDescriptor& wrap) {
    constexpr int FLAGS = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
    {
        // An exclusive create tells a file this open made from one that was there.
        // It never waits (a FIFO that exists fails it), so interrupts can wait until
        // the new file is removed again.
        const InterruptsHeld held;
        const int fd = calls.openTarget(path.c_str(), FLAGS | O_EXCL, 0666);
        if (fd >= 0) return targetOf(fd, path, true, wrap);
        if (errno != EEXIST) return systemError(errno);
    }
    // A name that exists is opened as a shell's `>` opens it, less the truncation.
    const int fd = calls.openTarget(path.c_str(), FLAGS, 0666);
    if (fd < 0) return systemError(errno);
    return targetOf(fd, path, false, wrap);
}

Result<std::unique_ptr<OutputTarget>> openPosixCompanionTarget(const std::string& path, const WrapDescriptor& wrap) {
    const struct stat none{};
    // Its file is no file: nothing is written before the replacement is made.
    auto target = std::make_unique<PosixOutputTarget>(wrap(-1), -1, none, OutputTarget::Kind::NEW, wrap);
    if (Result<void> located = target->locateCompanion(path); !located) return located.error();
    return std::unique_ptr<OutputTarget>(std::move(target));
}

void installInterruptHandling() {
    // The handler needs them: a parent may have left them blocked for its children.
    const sigset_t set = interruptSet();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (const int signal : INTERRUPTS) {
        struct sigaction previous;
        // A run started with the signal ignored (nohup) keeps ignoring it.
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = cleanUpAndEnd;
        // The other two wait while one is handled.
        action.sa_mask = interruptSet();
        ::sigaction(signal, &action, nullptr);
    }
    // A reader that goes away, or a file-size limit reached, must turn into a failed
    // write the tool reports, not a signal that kills it silently.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}
