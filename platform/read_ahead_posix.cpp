#include "platform/read_ahead_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

namespace {

unsigned usableCores() {
#ifdef __linux__
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    return std::thread::hardware_concurrency();
}

// Grows this process's table of open files to room for `count` while no other thread
// shares it. Once one does, every growth waits for an RCU grace period in the
// kernel (seen: 10 to 30 ms); the table never shrinks.
void reserveDescriptors(int anyOpen, rlim_t count) {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 1) return;
    const auto highest = static_cast<int>(std::min(limit.rlim_cur, count) - 1);
    const int placeholder = ::fcntl(anyOpen, F_DUPFD_CLOEXEC, highest);
    if (placeholder >= 0) ::close(placeholder);
}

void pauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

// A file read ahead, as the walk reads it: from the slot, which stays the walk's
// until this is gone.
class ReadAhead::Input final : public InputFile {
public:
    Input(ReadAhead& owner, std::size_t entry, const Slot& slot)
        : owner_(owner), entry_(entry), entriesBefore_(owner.entriesBefore_), slot_(slot) {}
    ~Input() override {
        if (owner_.entriesBefore_ != entriesBefore_) return;  // a later listing has begun
        owner_.handedOut_ = false;
        owner_.giveBackBefore(entry_ + 1);
    }
    std::uint64_t size() const override { return slot_.data.size(); }
    FileId id() const override {
        return FileId{static_cast<std::uint64_t>(slot_.status.st_dev), static_cast<std::uint64_t>(slot_.status.st_ino)};
    }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, slot_.data.size() - delivered_);
        if (count > 0) std::memcpy(buffer, slot_.data.data() + delivered_, count);
        delivered_ += count;
        atEnd_ = count < capacity;
        return count;
    }
    bool readReachedEnd() const override { return atEnd_; }

private:
    ReadAhead& owner_;
    std::size_t entry_;
    std::uint64_t entriesBefore_;
    const Slot& slot_;
    std::size_t delivered_ = 0;
    bool atEnd_ = false;
};

ReadAhead::ReadAhead(int openFlags) : openFlags_(openFlags) {}

ReadAhead::~ReadAhead() {
    stop();
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ReadAhead::start(int directory, const SortedEntries& entries) {
    stop();
    if (unavailable_ || entries.size() < MIN_ENTRIES || !startThread(directory)) return;
    directory_ = directory;
    entries_ = &entries;
    entriesBefore_ += count_;
    count_ = entries.size();
    next_ = 0;
    handedOut_ = false;
    nextClaim_.store(0);
    released_.store(0);
    stopping_.store(false);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        listing_ = true;
        wakeAt_.store(0);
        listingsStarted_.fetch_add(1);
    }
    wake_.notify_one();
    active_ = true;
}

void ReadAhead::stop() {
    if (!active_) return;
    active_ = false;
    stopping_.store(true);
    std::unique_lock<std::mutex> lock(mutex_);
    listing_ = false;
    idle_.wait(lock, [&] { return !working_; });
    for (Slot& slot : slots_) {
        if (slot.fd >= 0) ::close(slot.fd);
        slot.fd = -1;
    }
}

ReadAhead::Taken ReadAhead::take(const char* name) {
    Taken taken;
    if (!active_ || handedOut_) return taken;
    // The walk opens the listed files in order, passing over a few.
    std::size_t entry = next_;
    while (entry < count_ && (entries_->isDirectoryAt(entry) || std::strcmp(entries_->nameAt(entry), name) != 0))
        ++entry;
    if (entry == count_) return taken;
    // Not claimed yet, the file is the caller's to open, and those passed over are nobody's.
    std::size_t claimed = nextClaim_.load(std::memory_order_acquire);
    while (claimed <= entry && !nextClaim_.compare_exchange_weak(claimed, entry + 1, std::memory_order_acq_rel)) {
    }
    const std::size_t firstUnclaimed = std::min(claimed, entry + 1);
    // A slot is given back only once no thread writes to it.
    for (std::size_t passed = next_; passed < firstUnclaimed; ++passed) {
        awaitEntry(passed);
        if (passed != entry) closeUnused(passed);
    }
    next_ = entry + 1;
    Slot& slot = slots_[entry % WINDOW];
    const std::uint64_t now = firstUnclaimed > entry ? slot.stamp.load(std::memory_order_acquire) : NO_ENTRY;
    if (now == stamp(entry, READY)) {
        giveBackBefore(entry);
        handedOut_ = true;
        taken.kind = Taken::READ;
        taken.file = std::make_unique<Input>(*this, entry, slot);
        return taken;
    }
    if (now == stamp(entry, OPENED)) {
        taken.kind = Taken::OPENED;
        taken.fd = slot.fd;
        taken.status = slot.status;
        slot.fd = -1;
    } else if (now == stamp(entry, NOT_REGULAR)) {
        taken.kind = Taken::NOT_REGULAR;
    }
    giveBackBefore(entry + 1);
    return taken;
}

// A large file opened for an entry the walk passed over.
void ReadAhead::closeUnused(std::size_t entry) {
    Slot& slot = slots_[entry % WINDOW];
    if (slot.fd < 0 || slot.stamp.load(std::memory_order_acquire) != stamp(entry, OPENED)) return;
    ::close(slot.fd);
    slot.fd = -1;
}

bool ReadAhead::claim(std::size_t& entry) {
    std::size_t next = nextClaim_.load(std::memory_order_relaxed);
    for (;;) {
        if (next >= count_ || next >= released_.load(std::memory_order_acquire) + WINDOW ||
            stopping_.load(std::memory_order_relaxed))
            return false;
        if (nextClaim_.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel, std::memory_order_relaxed)) {
            entry = next;
            return true;
        }
    }
}

void ReadAhead::readEntry(std::size_t entry) {
    Slot& slot = slots_[entry % WINDOW];
    const State state = entries_->isDirectoryAt(entry) ? LEFT_TO_WALK : readFile(entries_->nameAt(entry), slot);
    slot.stamp.store(stamp(entry, state));
    // One wake-up for each time the walk goes to sleep: until it has run, more would
    // only cost system calls.
    if (walkWaits_.load() && walkWaits_.exchange(false)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_.notify_one();
    }
}

// Opens the file as the walk would, and reads it whole when it is small. Whatever
// went otherwise than planned is left to the walk, which then meets it as it is.
ReadAhead::State ReadAhead::readFile(const char* name, Slot& slot) const {
    const int fd = ::openat(directory_, name, openFlags_);
    if (fd < 0) return LEFT_TO_WALK;
    State state = LEFT_TO_WALK;
    if (::fstat(fd, &slot.status) != 0) {
        state = LEFT_TO_WALK;
    } else if (!S_ISREG(slot.status.st_mode)) {
        state = NOT_REGULAR;  // opened once, as the walk would have, and refused
    } else if (slot.status.st_size > static_cast<off_t>(MAX_FILE_SIZE)) {
        slot.fd = fd;
        return OPENED;
    } else {
        const auto size = static_cast<std::size_t>(slot.status.st_size);
        // One byte more than the size: a file that has grown since fills it.
        slot.data.resize(size + 1);
        ssize_t got;
        do got = ::read(fd, &slot.data[0], size + 1);
        while (got < 0 && errno == EINTR);
        slot.data.resize(size);
        if (got == static_cast<ssize_t>(size)) state = READY;
    }
    ::close(fd);
    return state;
}

bool ReadAhead::isDone(std::size_t entry) const {
    const std::uint64_t now = slots_[entry % WINDOW].stamp.load();
    return (now >> STATE_BITS) == entriesBefore_ + entry;
}

void ReadAhead::awaitEntry(std::size_t entry) {
    for (unsigned spins = 0; !isDone(entry); ++spins) {
        std::size_t later;
        if (claim(later)) {
            readEntry(later);
        } else if (spins < SPINS_BEFORE_SLEEP) {
            pauseBriefly();
        } else {
            // The other thread waits for the disk, or for a core: sleep until it is done.
            std::unique_lock<std::mutex> lock(mutex_);
            for (walkWaits_.store(true); !isDone(entry); walkWaits_.store(true)) done_.wait(lock);
            walkWaits_.store(false);
        }
    }
}

void ReadAhead::giveBackBefore(std::size_t end) {
    if (end <= released_.load(std::memory_order_relaxed)) return;
    released_.store(end);
    // The thread waits for half the window, not for every slot, and is woken once.
    if (threadWaits_.load() && end >= wakeAt_.load() && threadWaits_.exchange(false)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        wake_.notify_one();
    }
}

bool ReadAhead::startThread(int anyOpen) {
    if (thread_.joinable()) return true;
    if (usableCores() < 2) {
        unavailable_ = true;  // the walk would only wait for its own core
        return false;
    }
    reserveDescriptors(anyOpen, DESCRIPTORS_RESERVED);
    try {
        thread_ = std::thread([this] { runThread(); });
    } catch (const std::system_error&) {
        unavailable_ = true;
        return false;
    }
    return true;
}

// With the lock held: quit, or entries to read in the window.
bool ReadAhead::hasWork() const {
    return quit_ || (listing_ && !stopping_.load() && nextClaim_.load() < count_ && released_.load() >= wakeAt_.load());
}

void ReadAhead::runThread() {
    // Signals are the walk's thread's to handle.
    sigset_t every;
    sigfillset(&every);
    ::pthread_sigmask(SIG_BLOCK, &every, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        for (threadWaits_.store(true); !hasWork(); threadWaits_.store(true)) wake_.wait(lock);
        threadWaits_.store(false);
        if (quit_) return;
        working_ = true;
        lock.unlock();
        std::size_t entry;
        while (claim(entry)) readEntry(entry);
        lock.lock();
        working_ = false;
        idle_.notify_all();
        // With the window full, go on once half of it is free; with the listing all
        // claimed or stopped, only the next listing wakes the thread.
        const std::size_t claimed = nextClaim_.load();
        const bool windowFull = listing_ && !stopping_.load() && claimed < count_;
        wakeAt_.store(windowFull ? claimed - WINDOW / 2 : NEVER);
        if (!windowFull) lingerForNextListing(lock);
    }
}

// A walk lists its next directory soon after the last. Woken from sleep, the thread
// would come back only after the walk had read the first files itself.
void ReadAhead::lingerForNextListing(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t seen = listingsStarted_.load();
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + LINGER;
    while (listingsStarted_.load() == seen && std::chrono::steady_clock::now() < until) pauseBriefly();
    lock.lock();
}
