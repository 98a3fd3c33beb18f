// Fault injection around any FileSystem: counts the operations chosen by a mask
// and fails the Nth, once or from then on, as a disk that goes away would. The
// same sweep then runs over the in-memory fake and over the real platform layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

enum class FsOperation : unsigned {
    QUERY_PATH, PATH_EXISTS, FILE_ID, ENUMERATE, OPEN_INPUT, READ, CREATE_OUTPUT, CREATE_TEMPORARY, RENAME_FILE,
    WRITE, SYSTEM_COPY, TRUNCATE, REMOVE_FILE, STDOUT_WRITE, STDERR_WRITE, COUNT
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
    std::uint64_t operations = 0;
    std::vector<std::string> failedOperations;  // the name of each failed operation, in order
    std::string stdoutBytes;
    std::string stderrBytes;

    bool shouldFail(FsOperation operation);

    std::optional<PathStatus> queryPath(const std::string& path) override;
    Existence pathExists(const std::string& path) override;
    std::optional<FileId> fileId(const std::string& path) override;
    std::optional<FileStamp> fileStamp(const std::string& path) override;  // fails as fileId does
    bool enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) override;
    bool enumerateSubdirectories(const std::string& dir, const EntryVisitor& visit) override;
    void setReadingAhead(bool wanted) override { inner_.setReadingAhead(wanted); }
    std::unique_ptr<InputFile> openInput(const std::string& path) override;
    CreatedOutput createOutput(const std::string& path) override;
    CreatedTemporary createTemporary(const std::string& prefix, const std::string& permissionsOf) override;
    SystemResult renameFile(const std::string& from, const std::string& to) override;
    std::string resolveLinks(const std::string& path) override { return inner_.resolveLinks(path); }
    void removeOnInterrupt(const std::string& path) override { inner_.removeOnInterrupt(path); }
    OutputFile& standardOutput() override { return *stdout_; }
    OutputFile& standardError() override { return *stderr_; }
    bool removeFile(const std::string& path) override;

    // The text every injected failure reports.
    static constexpr const char* INJECTED_ERROR = "Injected failure";

private:
    FileSystem& inner_;
    std::unique_ptr<OutputFile> stdout_;
    std::unique_ptr<OutputFile> stderr_;
};
