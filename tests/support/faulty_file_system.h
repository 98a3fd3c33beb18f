// Fault injection around any FileSystem: counts the operations chosen by a mask
// and fails the Nth, once or from then on, as a disk that goes away would. The
// same sweep then runs over the in-memory fake and over the real platform layer,
// where the steps of reading (listing, open, size, read, close) can be failed as
// the system calls that make them, on whichever thread (FaultySystemCalls).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

enum class FsOperation : unsigned {
    STATUS, LIST, OPEN, SIZE, READ, CLOSE, OPEN_TARGET, CREATE_REPLACEMENT, ADOPT_OWNERSHIP, REPLACE, WRITE,
    SYSTEM_COPY, TRUNCATE, EMPTY, REMOVE_FILE, STDOUT_WRITE, STDERR_WRITE, COUNT
};

const char* operationName(FsOperation operation);

inline constexpr std::uint32_t operationBit(FsOperation operation) { return 1u << static_cast<unsigned>(operation); }
inline constexpr std::uint32_t EVERY_OPERATION = (1u << static_cast<unsigned>(FsOperation::COUNT)) - 1;

class FaultyFileSystem : public FileSystem {
public:
    // With `captureConsole`, standard output and error are kept in stdoutBytes and
    // stderrBytes instead of going to the inner file system's.
    explicit FaultyFileSystem(FileSystem& inner, bool captureConsole = false);
    ~FaultyFileSystem() override;

    std::uint32_t mask = EVERY_OPERATION;  // the operations that count and may fail
    std::uint64_t failAt = 0;              // the counted operation that fails (1-based); 0: none
    // Every later counted operation fails too, but for writes to the console.
    bool keepFailing = false;
    std::size_t maxReadChunk = 0;  // when non-zero, reads and system copies deliver at most this much
    // The wrapped file system fails the listing, open, size, read and close steps
    // itself, through FaultySystemCalls, so they are not failed here too.
    bool stepsBelow = false;
    std::uint64_t operations = 0;
    std::vector<std::string> failedOperations;  // the name of each failed operation, in order
    std::string stdoutBytes;
    std::string stderrBytes;

    // Counts `operation` when the mask selects it; true when it is to fail. Safe
    // to call from any thread.
    bool shouldFail(FsOperation operation);
    // The same for the steps of reading, unless the wrapped file system fails those itself.
    bool stepFails(FsOperation operation) { return !stepsBelow && shouldFail(operation); }

    Result<PathStatus> status(const std::string& path) override;
    Result<std::unique_ptr<Directory>> openDirectory(const std::string& path) override;
    Result<void> search(const std::string& pattern, const EntryVisitor& visit) override;
    Result<std::unique_ptr<InputFile>> openInput(const std::string& path) override;
    // The input as the wrapped file system opened it, with its open, size and read
    // steps made to fail here; `owned` when it is this input's to close.
    Result<std::unique_ptr<InputFile>> wrapOpened(Result<InputFile*> opened, std::unique_ptr<InputFile> owned);
    Result<std::unique_ptr<OutputTarget>> openOutputTarget(const std::string& path) override;
    Result<std::unique_ptr<InputFile>> openCompanion(const std::string& path) override;
    Result<std::unique_ptr<OutputTarget>> openCompanionTarget(const std::string& path) override;
    std::int64_t timeUnitsPerSecond() const override { return inner_.timeUnitsPerSecond(); }
    void waitForClockTick() override { inner_.waitForClockTick(); }
    OutputFile& standardOutput() override { return *stdout_; }
    OutputFile& standardError() override { return *stderr_; }
    std::optional<std::string> currentDirectory() override { return inner_.currentDirectory(); }

    // The text every injected failure reports.
    static constexpr const char* INJECTED_ERROR = "Injected failure";

private:
    std::mutex mutex_;
    FileSystem& inner_;
    std::unique_ptr<OutputFile> stdout_;
    std::unique_ptr<OutputFile> stderr_;
};
