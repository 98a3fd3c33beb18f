// Opening the files of a large directory listing ahead of the visit, and reading the
// small ones whole, on a second thread while the visit stores the files before them.
// A read-ahead serves one visit and lives as long as it, with a thread lent to it for
// that time, so visits at once, nested or of two directories, never share one.
// The visit still takes every file in the listing's order, each opened once, its
// size and identity taken from the open file, at most WINDOW entries before its turn.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/descriptor_posix.h"
#include "platform/name_order.h"
#include "platform/system_calls_posix.h"

// What became of one listed file before the visit reached it.
struct PreparedFile {
    enum Kind {
        LEFT_TO_WALK,  // nothing, or something went otherwise than planned: the visit
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

class ReadAhead;

// The threads that read ahead, kept between visits, since starting one for each
// directory cost a fifth of a run over many small ones.
class ReadAheadThreads {
public:
    ReadAheadThreads() = default;
    ~ReadAheadThreads();
    ReadAheadThreads(const ReadAheadThreads&) = delete;
    ReadAheadThreads& operator=(const ReadAheadThreads&) = delete;

    // Lends a thread, idle or new, to `job` until it is given back, and runs the job
    // on it. False where no second thread can help.
    bool lend(ReadAhead& job);
    // Runs `job` again on the thread lent to it.
    void resume(ReadAhead& job);
    // Takes `job` back if no thread has begun it yet: true then, and it never will.
    bool withdraw(ReadAhead& job);
    void giveBack();

private:
    bool startThread();
    void serve();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::vector<ReadAhead*> jobs_;
    std::size_t idle_ = 0;  // threads not lent
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

class ReadAhead {
public:
    static constexpr std::size_t WINDOW = 64;  // entries a file may be prepared before its turn
    static constexpr std::size_t MAX_FILE_SIZE = 16 * 1024;  // larger files are only opened
    // Below this many entries waking a thread would cost more than it saves.
    static constexpr std::size_t MIN_ENTRIES = 32;

    // Prepares the entries of `files` (sorted, in the directory open as `directory`,
    // both left as they are until stop()) on a thread lent by `threads`, opened with
    // `openFlags` as the visit opens them. Nothing for a short listing. The thread
    // never waits for the visit: with the window full it leaves, and the visit has it
    // go on once half the window is free.
    ReadAhead(ReadAheadThreads& threads, SystemCalls& calls, int openFlags, int directory, const SortedEntries& files);
    ~ReadAhead() { stop(); }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The visit, entry after entry: `entry` as prepared (LEFT_TO_WALK when nothing
    // is), valid until release(entry).
    PreparedFile& take(std::size_t entry);
    // The visit is done with `entry`: its slot may serve a later one.
    void release(std::size_t entry);
    // Once this returns, no file of the listing is open or being read, and the visit
    // opens every later file itself.
    void stop();

private:
    friend class ReadAheadThreads;  // runs run()

    struct Slot {
        std::size_t done = 0;  // the entry, plus one, whose file `file` holds
        PreparedFile file;
    };

    void run();
    Slot& awaitDone(std::unique_lock<std::mutex>& lock, std::size_t entry);
    bool claimable() const { return next_ < files_.size() && next_ < released_ + WINDOW; }
    void prepareNext(std::unique_lock<std::mutex>& lock);

    ReadAheadThreads& threads_;
    SystemCalls& calls_;
    const int openFlags_;
    const int directory_;
    const SortedEntries& files_;
    PreparedFile nothing_;

    std::mutex mutex_;  // guards everything below but the thread
    Slot slots_[WINDOW];
    std::size_t next_ = 0;      // entries before it are claimed, by the thread or the visit
    std::size_t released_ = 0;  // entries before it are done with
    bool stopping_ = false;
    bool running_ = false;  // run() is under way, or queued
    std::condition_variable prepared_;  // for the visit: a slot's `done` moved on, or run() ended
    bool active_ = false;  // the visit's alone: a thread is lent to the read-ahead
};
