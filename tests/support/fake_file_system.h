// An in-memory file system for logic tests: POSIX-style paths, links that can make
// cycles, FIFOs, unreadable files and directories. Faults are injected by wrapping
// it in a FaultyFileSystem.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

class FakeFileSystem : public FileSystem {
public:
    enum class Kind { FILE, DIRECTORY, LINK, FIFO };
    struct Node {
        Kind kind = Kind::FILE;
        std::shared_ptr<std::string> content = std::make_shared<std::string>();
        std::string linkTarget;  // for LINK: an absolute path
        bool readOnly = false;
        bool unreadable = false;  // a directory that cannot be listed, a file that cannot be opened
        std::uint64_t index = 0;
        std::uint64_t reportedSize = 0;  // when non-zero, the size an open file claims
        // What every name of the file shares: the time of its last change, and who may change it.
        struct Meta {
            std::int64_t changed = 0;
            FileOwnership ownership{0, 0, 0644};
            bool wholeSeconds = false;  // its file system keeps whole seconds
        };
        std::shared_ptr<Meta> meta = std::make_shared<Meta>();
    };

    FakeFileSystem();

    // Building the tree. Paths are relative to the root, which is the current directory.
    void addFile(const std::string& path, const std::string& content = {}, bool readOnly = false);
    void addDirectory(const std::string& path);
    void addLink(const std::string& path, const std::string& target);
    void addFifo(const std::string& path);
    void remove(const std::string& path);
    // Moves a file to another name, keeping its identity, as a rename does.
    void rename(const std::string& from, const std::string& to);
    // Writes `content` into the file at `path` as an edit in place does: the file
    // keeps its identity and gets a new change time.
    void rewrite(const std::string& path, const std::string& content);
    Node* find(const std::string& path);  // without following a final link
    bool exists(const std::string& path) { return resolve(path) != nullptr; }
    std::string contentOf(const std::string& path);

    // What the tool printed.
    std::string stdoutBytes;
    std::string stderrBytes;

    bool stdoutClosed = false;  // writes to standard output fail, as on a closed descriptor
    std::string removedOnInterrupt;  // the file an interrupt would remove now
    bool temporariesRefused = false;  // the directories refuse new files by their permissions
    // A visit of a directory's files opens each this many files before the visitor
    // reaches it, in the order the POSIX read-ahead does; 0 opens each when asked.
    std::size_t openAhead = 0;

    // The clock: every change of a file moves it on by a microsecond. Files made
    // below wholeSecondsBelow ("" for all) report their change times cut to the
    // second, as on file systems that keep no finer times.
    std::optional<std::string> wholeSecondsBelow;
    void advanceClock(std::int64_t seconds) { ticks_ += seconds * 1000000; }
    std::int64_t tick() { return ++ticks_ * 1000 + 1; }
    static std::int64_t reported(const Node::Meta& meta) {
        return meta.wholeSeconds ? meta.changed / 1000000000 * 1000000000 : meta.changed;
    }

    // Called after a file was opened for reading, to change it under the tool.
    std::function<void(const std::string& path)> afterOpen;
    // Called just before and just after the file a resource file goes to is opened,
    // to swap what its name names under the tool.
    std::function<void(const std::string& path)> beforeOutputOpen;
    std::function<void(const std::string& path)> afterOutputOpen;
    // Called after each read of a file, with the bytes delivered so far.
    std::function<void(const std::string& path, std::uint64_t delivered)> afterRead;

    Result<PathStatus> status(const std::string& path) override;
    Result<std::unique_ptr<Directory>> openDirectory(const std::string& path) override;
    Result<void> search(const std::string& pattern, const EntryVisitor& visit) override;
    Result<std::unique_ptr<InputFile>> openInput(const std::string& path) override;
    Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) override;
    Result<std::unique_ptr<InputFile>> openCompanion(const std::string& path) override;
    Result<std::unique_ptr<OutputTarget>> openCompanionTarget(const std::string& path) override;
    std::int64_t timeUnitsPerSecond() const override { return 1000000000; }
    void waitForClockTick() override { ++ticks_; }
    OutputFile& standardOutput() override { return *stdout_; }
    OutputFile& standardError() override { return *stderr_; }

private:
    Result<std::unique_ptr<OutputTarget>> openTarget(const std::string& path);
    friend class FakeOutputTarget;
    // The path the links at the end of `path` lead to; nothing for a loop.
    std::optional<std::string> followFinalLinks(const std::string& path);
    // Removes the node at `path` when it is still the one of `index`.
    bool removeIfStill(const std::string& path, std::uint64_t index);
    // The entries of the directory `dir` names, sorted; MISSING or DENIED when it cannot be listed.
    Result<std::vector<DirEntry>> list(const std::string& dir);
    static std::vector<std::string> split(const std::string& path);
    Node* resolve(const std::string& path, int depth = 0);
    Node& create(const std::string& path, Kind kind);
    static std::string key(const std::string& path);
    std::uint64_t nextTemporary_ = 0;

    std::map<std::string, Node> nodes_;  // keyed by normalised path; "" is the root
    std::uint64_t nextIndex_ = 1;
    std::int64_t ticks_ = 0;
    std::unique_ptr<OutputFile> stdout_;
    std::unique_ptr<OutputFile> stderr_;
};
