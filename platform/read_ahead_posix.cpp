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
void reserveDescriptors() {
    constexpr rlim_t RESERVED = 256;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 1) return;
    const int placeholder = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, static_cast<int>(std::min(limit.rlim_cur, RESERVED) - 1));
    if (placeholder >= 0) ::close(placeholder);
}
#endif

// Reads the file open as `fd` whole into `data`, the size `status` gave when it was
// opened. False when the file no longer holds exactly that many bytes (it shrank or
// grew since) or the read failed: then only the visit's own open tells what it holds.
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

// Opens `name` in `directory` as the visit would and reads it whole when it holds at
// most `maxReadSize` bytes.
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

}  // namespace

ReadAheadThreads::~ReadAheadThreads() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

bool ReadAheadThreads::lend(ReadAhead& job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (idle_ > 0) --idle_;
        else if (!startThread()) return false;
    }
    resume(job);
    return true;
}

void ReadAheadThreads::resume(ReadAhead& job) {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(&job);
    queued_.notify_one();
}

bool ReadAheadThreads::withdraw(ReadAhead& job) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto queued = std::find(jobs_.begin(), jobs_.end(), &job);
    if (queued == jobs_.end()) return false;
    jobs_.erase(queued);
    return true;
}

void ReadAheadThreads::giveBack() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++idle_;
}

// With the mutex held.
bool ReadAheadThreads::startThread() {
    if (usableCores() < 2) return false;  // the visit would only wait for its own core
#ifdef __linux__
    reserveDescriptors();
#endif
    // The thread is born with every signal blocked and never unblocks one: signals
    // are the visit's thread's, whose handlers clean up the resource file.
    sigset_t every, previous;
    sigfillset(&every);
    ::pthread_sigmask(SIG_BLOCK, &every, &previous);
    bool started = true;
    try {
        threads_.emplace_back([this] { serve(); });
    } catch (const std::system_error&) {
        started = false;  // the visit opens every file itself
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

void ReadAheadThreads::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
        if (quit_) return;
        ReadAhead* const job = jobs_.back();
        jobs_.pop_back();
        lock.unlock();
        job->run();
        lock.lock();
    }
}

ReadAhead::ReadAhead(ReadAheadThreads& threads, SystemCalls& calls, int openFlags, int directory,
                     const SortedEntries& files)
    : threads_(threads), calls_(calls), openFlags_(openFlags), directory_(directory), files_(files) {
    if (files.size() < MIN_ENTRIES) return;
    running_ = true;  // before the thread starts: it clears it as its last act
    active_ = threads.lend(*this);
    if (!active_) running_ = false;
}

void ReadAhead::stop() {
    if (!active_) return;
    active_ = false;
    // A thread not yet at it is not waited for: on a busy machine it may not run for
    // a while, and the visit has done the work itself.
    if (!threads_.withdraw(*this)) {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        prepared_.wait(lock, [this] { return !running_; });
    }
    threads_.giveBack();
    for (Slot& slot : slots_) slot.file.fd.reset();  // large files opened for entries never taken
}

PreparedFile& ReadAhead::take(std::size_t entry) {
    if (!active_) return nothing_;
    std::unique_lock<std::mutex> lock(mutex_);
    return awaitDone(lock, entry).file;
}

void ReadAhead::release(std::size_t entry) {
    if (!active_) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // A slot the thread is filling is waited for: it is about to serve a later entry.
        awaitDone(lock, entry).file.fd.reset();  // a large file the visit did not take
        released_ = entry + 1;
        // The thread goes on once half the window is free, not at every slot.
        if (running_ || next_ >= files_.size() || next_ > released_ + WINDOW / 2) return;
        running_ = true;
    }
    threads_.resume(*this);
}

// An entry nobody claimed yet becomes the visit's, left unprepared. While the thread
// prepares `entry`, the visit prepares later ones, and waits only with none to claim.
ReadAhead::Slot& ReadAhead::awaitDone(std::unique_lock<std::mutex>& lock, std::size_t entry) {
    Slot& slot = slots_[entry % WINDOW];
    while (slot.done != entry + 1) {
        if (next_ == entry) {
            ++next_;
            slot.file.kind = PreparedFile::LEFT_TO_WALK;
            slot.done = entry + 1;
        } else if (claimable()) {
            prepareNext(lock);
        } else {
            prepared_.wait(lock);
        }
    }
    return slot;
}

// Claims the next entry and prepares it with the mutex released: the slot is the
// claimer's alone until it is marked done.
void ReadAhead::prepareNext(std::unique_lock<std::mutex>& lock) {
    const std::size_t entry = next_++;
    Slot& slot = slots_[entry % WINDOW];
    lock.unlock();
    prepareFile(calls_, directory_, files_.nameAt(entry), openFlags_, MAX_FILE_SIZE, slot.file);
    lock.lock();
    slot.done = entry + 1;
    prepared_.notify_one();
}

void ReadAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && claimable()) prepareNext(lock);
    running_ = false;  // the last the thread does with this read-ahead, until resumed
    prepared_.notify_one();
}

