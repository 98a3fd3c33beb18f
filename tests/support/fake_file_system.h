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
    };

    FakeFileSystem();

    // Building the tree. Paths are relative to the root, which is the current directory.
    void addFile(const std::string& path, const std::string& content = {}, bool readOnly = false);
    void addDirectory(const std::string& path);
    void addLink(const std::string& path, const std::string& target);
    void addFifo(const std::string& path);
    void remove(const std::string& path);
    Node* find(const std::string& path);  // without following a final link
    bool exists(const std::string& path) { return resolve(path) != nullptr; }
    std::string contentOf(const std::string& path);

    // What the tool printed.
    std::string stdoutBytes;
    std::string stderrBytes;

    bool stdoutClosed = false;
    std::string removedOnInterrupt;  // the file an interrupt would remove now
    bool temporariesRefused = false;  // no new file can be made (a directory that allows none)  // writes to standard output fail, as on a closed descriptor

    // Called after a file was opened for reading, to change it under the tool.
    std::function<void(const std::string& path)> afterOpen;
    // Called after each read of a file, with the bytes delivered so far.
    std::function<void(const std::string& path, std::uint64_t delivered)> afterRead;

    std::optional<PathStatus> queryPath(const std::string& path) override;
    Existence pathExists(const std::string& path) override;
    std::optional<FileId> fileId(const std::string& path) override;
    std::optional<FileStamp> fileStamp(const std::string& path) override;
    bool enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) override;
    std::unique_ptr<InputFile> openInput(const std::string& path) override;
    CreatedOutput createOutput(const std::string& path) override;
    CreatedTemporary createTemporary(const std::string& prefix, const std::string& permissionsOf) override;
    SystemResult renameFile(const std::string& from, const std::string& to) override;
    std::string resolveLinks(const std::string& path) override;
    void removeOnInterrupt(const std::string& path) override { removedOnInterrupt = path; }
    OutputFile& standardOutput() override { return *stdout_; }
    OutputFile& standardError() override { return *stderr_; }
    bool removeFile(const std::string& path) override;

private:
    static std::vector<std::string> split(const std::string& path);
    Node* resolve(const std::string& path, int depth = 0);
    Node& create(const std::string& path, Kind kind);
    static std::string key(const std::string& path);
    std::uint64_t nextTemporary_ = 0;

    std::map<std::string, Node> nodes_;  // keyed by normalised path; "" is the root
    std::uint64_t nextIndex_ = 1;
    std::unique_ptr<OutputFile> stdout_;
    std::unique_ptr<OutputFile> stderr_;
};
