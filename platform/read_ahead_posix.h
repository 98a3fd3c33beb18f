// Opening the files of a large directory listing ahead of the walk, and reading the
// small ones whole, on a second thread while the walk stores the files before them.
// The walk still takes every file in the listing's order, each opened once, its size
// and identity taken from the open file, at most WINDOW entries before its turn.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "platform/descriptor_posix.h"
#include "platform/name_order.h"
#include "platform/system_calls_posix.h"

// What became of one listed file before the walk reached it.
struct PreparedFile {
    enum Kind {
        LEFT_TO_WALK,  // nothing, or something went otherwise than planned: the walk
                       // opens the file itself and meets it as it is then
        READ,          // `data` holds the whole file, which `status` describes
        OPENED,        // `fd` is open on it, too large to be read ahead
        NOT_REGULAR,   // opened, and found to be no regular file
    };
    Kind kind = LEFT_TO_WALK;
    Descriptor fd;
    struct stat status = {};
    std::string data;
};

// Opens `name` in `directory` as the walk would and reads it whole when it holds at
// most `maxReadSize` bytes.
void prepareFile(SystemCalls& calls, int directory, const char* name, int openFlags, std::size_t maxReadSize,
                 PreparedFile& into);
// Reads the file open as `fd` whole into `data`, the size `status` gave when it was
// opened. False when the file no longer holds exactly that many bytes (it shrank or
// grew since) or the read failed: then only the walk's own open tells what it holds.
bool readWhole(SystemCalls& calls, int fd, const struct stat& status, std::string& data);

class ReadAhead {
public:
    static constexpr std::size_t WINDOW = 64;  // entries a file may be prepared before its turn
    static constexpr std::size_t MAX_FILE_SIZE = 16 * 1024;  // larger files are only opened
    // Below this many entries waking the thread would cost more than it saves.
    static constexpr std::size_t MIN_ENTRIES = 32;

    // `openFlags` are those the walk opens its inputs with.
    ReadAhead(SystemCalls& calls, int openFlags) : calls_(calls), openFlags_(openFlags) {}
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Prepares the entries of `files` (sorted, in the directory open as `directory`);
    // both stay as they are until stop(). Nothing for a short listing, or where no
    // second thread can help.
    void start(int directory, const SortedEntries& files);
    // The walk, entry after entry: `entry` as prepared (LEFT_TO_WALK when nothing
    // is), valid until release(entry). While the thread is at it, the walk prepares
    // later entries itself.
    PreparedFile& take(std::size_t entry);
    // The walk is done with `entry`: its slot may serve a later one.
    void release(std::size_t entry);
    // Once this returns, no file of the listing is open or being read.
    void stop();

private:
    struct Slot {
        // The entry, plus one, whose file the slot holds, once prepared. Stored after
        // `file` is written and loaded before it is read: release and acquire.
        std::atomic<std::size_t> done{0};
        PreparedFile file;
    };

    bool claim(std::size_t& entry);
    void prepare(std::size_t entry);
    void awaitDone(std::size_t entry);
    bool startThread(int anyOpen);
    void run();
    bool hasWork() const;

    SystemCalls& calls_;
    const int openFlags_;
    Slot slots_[WINDOW];
    PreparedFile nothing_;

    // Written by start() before the thread is woken under the mutex, which orders them.
    int directory_ = -1;
    const SortedEntries* files_ = nullptr;
    std::size_t count_ = 0;
    bool active_ = false;  // the walk's alone
    bool unavailable_ = false;

    std::atomic<std::size_t> nextClaim_{0};  // entries before it are claimed by a thread
    std::atomic<std::size_t> released_{0};   // entries before it are done with
    std::atomic<bool> stopping_{false};
    // Set by a thread about to sleep; whoever makes its wait end clears it and
    // notifies. Each side stores its own flag or progress and then loads the other
    // side's, so both must be sequentially consistent (the default): with acquire and
    // release alone each could miss the other's store and sleep for ever.
    std::atomic<bool> threadSleeps_{false};
    std::atomic<bool> walkWaits_{false};
    std::atomic<std::size_t> wakeAt_{0};  // released_ at which the sleeping thread goes on

    // The one way of waiting, for both threads and for stop().
    std::mutex mutex_;
    std::condition_variable changed_;
    bool listing_ = false;
    bool working_ = false;
    bool quit_ = false;
    std::thread thread_;
};
