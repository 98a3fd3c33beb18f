// Opening the files of a large directory listing ahead of the walk, and reading the
// small ones, on a second thread while the walk stores the files before them. A file
// is still opened once, read whole, its size and identity taken from the open file,
// and at most WINDOW entries before the walk reaches it; the walk still meets every
// file in name order.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "platform/name_order.h"

class ReadAhead {
public:
    // Entries a file may be read before the walk reaches it.
    static constexpr std::size_t WINDOW = 64;
    // Larger files are only opened: the walk copies them straight into the output.
    static constexpr std::size_t MAX_FILE_SIZE = 16 * 1024;
    // Below this many entries a listing is read by the walk alone: waking the thread
    // would cost more than it saves.
    static constexpr std::size_t MIN_ENTRIES = 32;
    // Pauses the walk spins for an entry the other thread is reading before it sleeps.
    static constexpr unsigned SPINS_BEFORE_SLEEP = 256;
    // Open files the process makes room for before the thread starts: the standard
    // ones and a few inherited, the output and a listing, the walk's files held for
    // closing (64), and the window's.
    static constexpr unsigned DESCRIPTORS_RESERVED = 256;
    // How long the thread waits awake for the next listing before it sleeps.
    static constexpr std::chrono::microseconds LINGER{200};

    // `openFlags` are those the walk opens its inputs with.
    explicit ReadAhead(int openFlags);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading the files among `entries`, sorted, in the directory open as
    // `directory`. Both must stay as they are until stop().
    void start(int directory, const SortedEntries& entries);
    // What became of a listed file the walk is about to open.
    struct Taken {
        enum Kind {
            NOT_TAKEN,    // nothing: the walk opens it itself (not reached yet, failed or
                          // changed while read, or named out of the listing's order)
            READ,         // `file` holds it, read whole
            OPENED,       // `fd`, the walk's to close from now on, with its `status`
            NOT_REGULAR,  // opened, and found no regular file: refused
        };
        Kind kind = NOT_TAKEN;
        std::unique_ptr<InputFile> file;
        int fd = -1;
        struct stat status = {};
    };
    Taken take(const char* name);
    // Ends the listing's read-ahead: once this returns no file of it is open or being
    // read, and take() hands out nothing more.
    void stop();

    // Reads ahead for as long as one listing is visited.
    class Listing {
    public:
        Listing(ReadAhead& readAhead, int directory, const SortedEntries& entries) : readAhead_(readAhead) {
            readAhead_.start(directory, entries);
        }
        ~Listing() { readAhead_.stop(); }
        Listing(const Listing&) = delete;
        Listing& operator=(const Listing&) = delete;

    private:
        ReadAhead& readAhead_;
    };

private:
    enum State : std::uint64_t { READY, OPENED, NOT_REGULAR, LEFT_TO_WALK };
    static constexpr std::uint64_t STATE_BITS = 2;
    // An entry done with, numbered across listings, so that no stamp left by an
    // earlier listing passes for one of this listing's entries.
    std::uint64_t stamp(std::size_t entry, State state) const {
        return (entriesBefore_ + entry) << STATE_BITS | state;
    }
    static constexpr std::uint64_t NO_ENTRY = ~std::uint64_t{0};

    // One file read ahead. `stamp` names the entry it holds once that is done with;
    // until then only the thread that claimed the entry touches the rest.
    struct Slot {
        std::atomic<std::uint64_t> stamp{NO_ENTRY};
        std::string data;
        struct stat status = {};
        int fd = -1;  // an OPENED file not handed out yet
    };
    class Input;

    bool claim(std::size_t& entry);
    void readEntry(std::size_t entry);
    State readFile(const char* name, Slot& slot) const;
    void closeUnused(std::size_t entry);
    // Waits until `entry`, claimed, is done with, reading later ones meanwhile.
    void awaitEntry(std::size_t entry);
    bool isDone(std::size_t entry) const;
    // Hands the slots of the entries before `end` back for later ones.
    void giveBackBefore(std::size_t end);
    void runThread();
    bool hasWork() const;
    void lingerForNextListing(std::unique_lock<std::mutex>& lock);
    bool startThread(int anyOpen);

    const int openFlags_;
    Slot slots_[WINDOW];

    // Set by start() while no other thread reads them.
    int directory_ = -1;
    const SortedEntries* entries_ = nullptr;
    std::size_t count_ = 0;
    std::uint64_t entriesBefore_ = 0;  // in the listings read ahead before this one
    bool active_ = false;
    // Only the walk's thread uses these.
    std::size_t next_ = 0;  // the first entry the walk may still take
    bool handedOut_ = false;  // an Input is alive: its slot must stay as it is

    std::atomic<std::size_t> nextClaim_{0};
    std::atomic<std::size_t> released_{0};  // every entry before it is done with
    std::atomic<bool> stopping_{false};

    std::mutex mutex_;
    std::condition_variable wake_;  // the thread: a listing to read, room in the window, or quit
    std::condition_variable idle_;  // stop(): the thread has left the listing
    std::condition_variable done_;  // the walk: the entry it waits for is done with
    bool listing_ = false;
    bool working_ = false;
    bool quit_ = false;
    // Set by a thread going to sleep; whoever wakes it clears them, so once.
    std::atomic<bool> threadWaits_{false};
    std::atomic<bool> walkWaits_{false};
    std::atomic<std::uint64_t> listingsStarted_{0};
    std::atomic<std::size_t> wakeAt_{0};  // released_ at which the waiting thread is woken
    static constexpr std::size_t NEVER = ~std::size_t{0};
    bool unavailable_ = false;  // one core only, or no thread could be started
    std::thread thread_;
};
