#include "platform/read_ahead_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

constexpr std::size_t NEVER = ~std::size_t{0};

unsigned usableCores() {
#ifdef __linux__
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    return std::thread::hardware_concurrency();
}

#ifdef __linux__
// Linux grows a process's table of open files under RCU: once a second thread shares
// the table, each growth waits for a grace period (10 to 30 ms seen). Room for the
// standard files, the output, a directory, the walk's batch of files to close (64)
// and the window's is made while the walk is still alone; the table never shrinks.
void reserveDescriptors(int anyOpen) {
    constexpr rlim_t RESERVED = 256;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 1) return;
    const int placeholder = ::fcntl(anyOpen, F_DUPFD_CLOEXEC, static_cast<int>(std::min(limit.rlim_cur, RESERVED) - 1));
    if (placeholder >= 0) ::close(placeholder);
}
#endif

}  // namespace

bool readWhole(SystemCalls& calls, int fd, const struct stat& status, std::string& data) {
    const auto size = static_cast<std::size_t>(status.st_size);
    // One byte more than the size: a file that has grown since fills it.
    data.resize(size + 1);
    ssize_t got;
    do got = calls.read(fd, &data[0], size + 1);
    while (got < 0 && errno == EINTR);
    data.resize(size);
    return got == static_cast<ssize_t>(size);
}

void prepareFile(SystemCalls& calls, int directory, const char* name, int openFlags, std::size_t maxReadSize,
                 PreparedFile& into) {
    into.kind = PreparedFile::LEFT_TO_WALK;
    Descriptor fd(calls.openAt(directory, name, openFlags));
    if (!fd) return;
    if (calls.status(fd.get(), &into.status) != 0) {
        // left to the walk
    } else if (!S_ISREG(into.status.st_mode)) {
        into.kind = PreparedFile::NOT_REGULAR;  // opened once, as the walk would have, and refused
    } else if (static_cast<std::size_t>(into.status.st_size) > maxReadSize) {
        into.fd = std::move(fd);
        into.kind = PreparedFile::OPENED;
        return;
    } else if (readWhole(calls, fd.get(), into.status, into.data)) {
        into.kind = PreparedFile::READ;
    }
    (void)calls.close(fd.release());  // what was read stands, whatever the close says
}

ReadAhead::~ReadAhead() {
    stop();
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::start(int directory, const SortedEntries& files) {
    stop();
    if (files.size() < MIN_ENTRIES || !startThread(directory)) return;
    // The thread is idle (stop() waited for it), so nothing else touches these now.
    for (Slot& slot : slots_) slot.done.store(0, std::memory_order_relaxed);
    directory_ = directory;
    files_ = &files;
    count_ = files.size();
    nextClaim_.store(0);
    released_.store(0);
    stopping_.store(false);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        listing_ = true;
        wakeAt_.store(0);
    }
    changed_.notify_all();
    active_ = true;
}

void ReadAhead::stop() {
    if (!active_) return;
    active_ = false;
    stopping_.store(true);
    std::unique_lock<std::mutex> lock(mutex_);
    listing_ = false;
    changed_.wait(lock, [&] { return !working_; });
    for (Slot& slot : slots_) slot.file.fd.reset();  // large files opened for entries never taken
}

PreparedFile& ReadAhead::take(std::size_t entry) {
    if (!active_) return nothing_;
    awaitDone(entry);
    return slots_[entry % WINDOW].file;
}

void ReadAhead::release(std::size_t entry) {
    if (!active_) return;
    // An entry nobody claimed yet becomes the walk's, left unprepared; one the thread
    // claimed is waited for, since its slot is about to serve a later entry.
    std::size_t unclaimed = entry;
    if (!nextClaim_.compare_exchange_strong(unclaimed, entry + 1)) awaitDone(entry);
    slots_[entry % WINDOW].file.fd.reset();  // a large file the walk did not take
    // Stores its progress, then loads the thread's flag: sequentially consistent, as the
    // thread stores its flag and then loads the progress (hasWork).
    released_.store(entry + 1);
    // The thread waits for half the window, not for every slot, and is woken once.
    if (threadSleeps_.load() && entry + 1 >= wakeAt_.load() && threadSleeps_.exchange(false)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }
}

bool ReadAhead::claim(std::size_t& entry) {
    std::size_t next = nextClaim_.load();
    do {
        if (next >= count_ || next >= released_.load() + WINDOW || stopping_.load()) return false;
    } while (!nextClaim_.compare_exchange_weak(next, next + 1));
    entry = next;
    return true;
}

void ReadAhead::prepare(std::size_t entry) {
    Slot& slot = slots_[entry % WINDOW];
    prepareFile(calls_, directory_, files_->nameAt(entry), openFlags_, MAX_FILE_SIZE, slot.file);
    // Publishes the file (release), then loads the walk's flag: sequentially consistent,
    // as the walk stores its flag and then loads `done`.
    slot.done.store(entry + 1);
    if (walkWaits_.load() && walkWaits_.exchange(false)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }
}

// The walk prepares what it can claim while `entry` is not ready; with nothing left
// to claim it sleeps until the thread has prepared `entry`.
void ReadAhead::awaitDone(std::size_t entry) {
    const std::atomic<std::size_t>& done = slots_[entry % WINDOW].done;
    while (done.load() != entry + 1) {
        std::size_t later;
        if (claim(later)) {
            prepare(later);
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        for (walkWaits_.store(true); done.load() != entry + 1; walkWaits_.store(true)) changed_.wait(lock);
        walkWaits_.store(false);
    }
}

bool ReadAhead::startThread(int anyOpen) {
    if (thread_.joinable()) return true;
    if (unavailable_ || usableCores() < 2) {
        unavailable_ = true;  // the walk would only wait for its own core
        return false;
    }
#ifdef __linux__
    reserveDescriptors(anyOpen);
#else
    (void)anyOpen;
#endif
    // The thread is born with every signal blocked and never unblocks one: signals
    // are the walk's thread's, whose handlers clean up the resource file.
    sigset_t every, previous;
    sigfillset(&every);
    ::pthread_sigmask(SIG_BLOCK, &every, &previous);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        unavailable_ = true;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return !unavailable_;
}

// With the mutex held: quit, or entries to claim.
bool ReadAhead::hasWork() const {
    return quit_ ||
           (listing_ && !stopping_.load() && nextClaim_.load() < count_ && released_.load() >= wakeAt_.load());
}

void ReadAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        for (threadSleeps_.store(true); !hasWork(); threadSleeps_.store(true)) changed_.wait(lock);
        threadSleeps_.store(false);
        if (quit_) return;
        working_ = true;
        lock.unlock();
        std::size_t entry;
        while (claim(entry)) prepare(entry);
        lock.lock();
        working_ = false;
        // With the window full, go on once half of it is free; with the listing all
        // claimed or stopped, the next listing wakes the thread.
        const std::size_t claimed = nextClaim_.load();
        wakeAt_.store(listing_ && !stopping_.load() && claimed < count_ ? claimed - WINDOW / 2 : NEVER);
        changed_.notify_all();  // stop() may be waiting for the thread to leave the listing
    }
}
