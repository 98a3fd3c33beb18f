#include "tests/support/faulty_file_system.h"

#include <algorithm>

namespace {

constexpr const char* OPERATION_NAMES[] = {"queryPath", "pathExists", "fileId",  "enumerate",  "openInput",   "read",
                                           "createOutput", "createTemporary", "renameFile", "write",  "system copy", "truncate", "removeFile", "stdout write",
                                           "stderr write"};
static_assert(std::size(OPERATION_NAMES) == static_cast<std::size_t>(FsOperation::COUNT));

class FaultyInput : public InputFile {
public:
    FaultyInput(FaultyFileSystem& fs, std::unique_ptr<InputFile> inner) : fs_(fs), inner_(std::move(inner)) {}
    std::uint64_t size() const override { return inner_->size(); }
    FileId id() const override { return inner_->id(); }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        if (fs_.shouldFail(FsOperation::READ)) return std::nullopt;
        if (fs_.maxReadChunk) capacity = std::min(capacity, fs_.maxReadChunk);
        return inner_->read(buffer, capacity);
    }
    // A read cut short here has not met the end; the inner file's word is about
    // the capacity it was given, so it still holds.
    bool readReachedEnd() const override { return inner_->readReachedEnd(); }
    InputFile& inner() { return *inner_; }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<InputFile> inner_;
};

// Writes to `inner`, or appends to `captured` when there is no inner output.
class FaultyOutput : public OutputFile {
public:
    FaultyOutput(FaultyFileSystem& fs, FsOperation writeOperation, std::unique_ptr<OutputFile> owned,
                 OutputFile* inner, std::string* captured)
        : fs_(fs), writeOperation_(writeOperation), owned_(std::move(owned)), inner_(owned_ ? owned_.get() : inner),
          captured_(captured) {}
    bool write(const char* data, std::size_t size) override {
        if (fs_.shouldFail(writeOperation_)) return injected();
        if (!inner_) {
            captured_->append(data, size);
            return true;
        }
        return inner_->write(data, size);
    }
    bool truncate(std::uint64_t size) override {
        if (!inner_) return false;
        if (fs_.shouldFail(FsOperation::TRUNCATE)) return injected();
        return inner_->truncate(size);
    }
    // A failed system copy is one the caller makes up for by copying the ordinary way.
    std::optional<std::uint64_t> copyFrom(InputFile& input, std::uint64_t count) override {
        auto* faultyInput = dynamic_cast<FaultyInput*>(&input);
        if (!inner_ || !faultyInput || fs_.shouldFail(FsOperation::SYSTEM_COPY)) return std::nullopt;
        if (fs_.maxReadChunk) count = std::min<std::uint64_t>(count, fs_.maxReadChunk);
        return inner_->copyFrom(faultyInput->inner(), count);
    }
    std::optional<FileId> id() const override { return inner_ ? inner_->id() : std::nullopt; }
    std::string errorText() const override { return error_.empty() && inner_ ? inner_->errorText() : error_; }

private:
    bool injected() {
        error_ = FaultyFileSystem::INJECTED_ERROR;
        return false;
    }

    FaultyFileSystem& fs_;
    FsOperation writeOperation_;
    std::unique_ptr<OutputFile> owned_;
    OutputFile* inner_;
    std::string* captured_;
    std::string error_;
};

}  // namespace

const char* operationName(FsOperation operation) { return OPERATION_NAMES[static_cast<unsigned>(operation)]; }

FaultyFileSystem::FaultyFileSystem(FileSystem& inner, bool captureConsole)
    : inner_(inner),
      stdout_(std::make_unique<FaultyOutput>(*this, FsOperation::STDOUT_WRITE, nullptr,
                                             captureConsole ? nullptr : &inner.standardOutput(), &stdoutBytes)),
      stderr_(std::make_unique<FaultyOutput>(*this, FsOperation::STDERR_WRITE, nullptr,
                                             captureConsole ? nullptr : &inner.standardError(), &stderrBytes)) {}

FaultyFileSystem::~FaultyFileSystem() = default;

bool FaultyFileSystem::shouldFail(FsOperation operation) {
    if ((mask & operationBit(operation)) == 0) return false;
    ++operations;
    const bool console = operation == FsOperation::STDOUT_WRITE || operation == FsOperation::STDERR_WRITE;
    const bool fails = failAt != 0 && (operations == failAt || (keepFailing && operations > failAt && !console));
    if (fails) failedOperations.push_back(operationName(operation));
    return fails;
}

std::optional<PathStatus> FaultyFileSystem::queryPath(const std::string& path) {
    if (shouldFail(FsOperation::QUERY_PATH)) return std::nullopt;
    return inner_.queryPath(path);
}

Existence FaultyFileSystem::pathExists(const std::string& path) {
    if (shouldFail(FsOperation::PATH_EXISTS)) return Existence::UNREACHABLE;
    return inner_.pathExists(path);
}

std::optional<FileId> FaultyFileSystem::fileId(const std::string& path) {
    if (shouldFail(FsOperation::FILE_ID)) return std::nullopt;
    return inner_.fileId(path);
}

std::optional<FileStamp> FaultyFileSystem::fileStamp(const std::string& path) {
    if (shouldFail(FsOperation::FILE_ID)) return std::nullopt;
    return inner_.fileStamp(path);
}

bool FaultyFileSystem::enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) {
    if (shouldFail(FsOperation::ENUMERATE)) return false;
    return inner_.enumerate(dir, pattern, visit);
}

bool FaultyFileSystem::enumerateSubdirectories(const std::string& dir, const EntryVisitor& visit) {
    if (shouldFail(FsOperation::ENUMERATE)) return false;
    return inner_.enumerateSubdirectories(dir, visit);
}

std::unique_ptr<InputFile> FaultyFileSystem::openInput(const std::string& path) {
    if (shouldFail(FsOperation::OPEN_INPUT)) return nullptr;
    std::unique_ptr<InputFile> input = inner_.openInput(path);
    if (!input) return nullptr;
    return std::make_unique<FaultyInput>(*this, std::move(input));
}

CreatedOutput FaultyFileSystem::createOutput(const std::string& path) {
    if (shouldFail(FsOperation::CREATE_OUTPUT)) return {nullptr, INJECTED_ERROR};
    CreatedOutput created = inner_.createOutput(path);
    if (created.file)
        created.file = std::make_unique<FaultyOutput>(*this, FsOperation::WRITE, std::move(created.file), nullptr,
                                                      nullptr);
    return created;
}

CreatedTemporary FaultyFileSystem::createTemporary(const std::string& prefix, const std::string& permissionsOf) {
    if (shouldFail(FsOperation::CREATE_TEMPORARY)) return {nullptr, {}, INJECTED_ERROR};
    CreatedTemporary created = inner_.createTemporary(prefix, permissionsOf);
    if (created.file)
        created.file = std::make_unique<FaultyOutput>(*this, FsOperation::WRITE, std::move(created.file), nullptr,
                                                      nullptr);
    return created;
}

SystemResult FaultyFileSystem::renameFile(const std::string& from, const std::string& to) {
    if (shouldFail(FsOperation::RENAME_FILE)) return {false, INJECTED_ERROR};
    return inner_.renameFile(from, to);
}

bool FaultyFileSystem::removeFile(const std::string& path) {
    if (shouldFail(FsOperation::REMOVE_FILE)) return false;
    return inner_.removeFile(path);
}
