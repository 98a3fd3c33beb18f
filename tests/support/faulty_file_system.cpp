#include "tests/support/faulty_file_system.h"

#include <algorithm>

namespace {

constexpr const char* OPERATION_NAMES[] = {
    "status", "list", "open", "size", "read", "close", "openOutputTarget", "createReplacement", "adoptOwnership",
    "replace", "write", "system copy", "truncate", "empty", "removeFile", "stdout write", "stderr write"};
static_assert(std::size(OPERATION_NAMES) == static_cast<std::size_t>(FsOperation::COUNT));

SystemError injected() { return SystemError{SystemError::Kind::OTHER, FaultyFileSystem::INJECTED_ERROR}; }

class FaultyInput : public InputFile {
public:
    FaultyInput(FaultyFileSystem& fs, InputFile& inner, std::unique_ptr<InputFile> owned)
        : fs_(fs), owned_(std::move(owned)), inner_(inner) {}
    std::uint64_t size() const override { return inner_.size(); }
    FileId id() const override { return inner_.id(); }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        if (fs_.stepFails(FsOperation::READ)) return std::nullopt;
        if (fs_.maxReadChunk) capacity = std::min(capacity, fs_.maxReadChunk);
        return inner_.read(buffer, capacity);
    }
    // A read cut short here has not met the end; the inner file's word is about
    // the capacity it was given, so it still holds.
    bool readReachedEnd() const override { return inner_.readReachedEnd(); }
    bool seek(std::uint64_t offset) override { return !fs_.stepFails(FsOperation::READ) && inner_.seek(offset); }
    std::optional<FileOwnership> ownership() const override { return inner_.ownership(); }
    InputFile& inner() { return inner_; }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<InputFile> owned_;
    InputFile& inner_;
};

// A listed file whose input is made to fail as the wrapper says; the input lives as
// long as the visit, as the wrapped one does.
class FaultyListedFile final : public ListedFile {
public:
    FaultyListedFile(FaultyFileSystem& fs, ListedFile& inner) : fs_(fs), inner_(inner) {}
    const DirEntry& entry() const override { return inner_.entry(); }
    Result<InputFile*> open() override {
        if (!opened_) opened_.emplace(fs_.wrapOpened(inner_.open(), nullptr));
        if (!*opened_) return opened_->error();
        return (*opened_)->get();
    }

private:
    FaultyFileSystem& fs_;
    ListedFile& inner_;
    std::optional<Result<std::unique_ptr<InputFile>>> opened_;
};

class FaultyDirectory final : public Directory {
public:
    FaultyDirectory(FaultyFileSystem& fs, std::unique_ptr<Directory> inner) : fs_(fs), inner_(std::move(inner)) {}
    std::vector<std::string> subdirectories() override { return inner_->subdirectories(); }
    void listFiles(const std::string& pattern, const EntryVisitor& visit) override { inner_->listFiles(pattern, visit); }
    void visitFiles(const std::string& pattern, const FileVisitor& visit) override {
        inner_->visitFiles(pattern, [&](ListedFile& file) {
            FaultyListedFile wrapped(fs_, file);
            return visit(wrapped);
        });
    }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<Directory> inner_;
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
    std::optional<PathStatus> status() const override { return inner_ ? inner_->status() : std::nullopt; }
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

Result<void> injectedFailure() { return SystemError{SystemError::Kind::OTHER, FaultyFileSystem::INJECTED_ERROR}; }

// The target's steps fail where the mask and the count say; its files' writes too.
class FaultyTarget : public OutputTarget {
public:
    FaultyTarget(FaultyFileSystem& fs, std::unique_ptr<OutputTarget> inner)
        : fs_(fs), inner_(std::move(inner)),
          file_(fs, FsOperation::WRITE, nullptr, &inner_->file(), nullptr) {}
    Kind kind() const override { return inner_->kind(); }
    OutputFile& file() override { return file_; }
    bool isStandardOutput() const override { return inner_->isStandardOutput(); }
    bool replaceable() const override { return inner_->replaceable(); }
    Result<OutputFile*> createReplacement() override {
        if (fs_.shouldFail(FsOperation::CREATE_REPLACEMENT))
            return SystemError{SystemError::Kind::OTHER, FaultyFileSystem::INJECTED_ERROR};
        Result<OutputFile*> made = inner_->createReplacement();
        if (!made) return made;
        replacement_ = std::make_unique<FaultyOutput>(fs_, FsOperation::WRITE, nullptr, *made, nullptr);
        return replacement_.get();
    }
    Result<void> adoptOwnership(const std::optional<FileOwnership>& like) override {
        if (fs_.shouldFail(FsOperation::ADOPT_OWNERSHIP)) return injectedFailure();
        return inner_->adoptOwnership(like);
    }
    Result<void> replace() override {
        if (fs_.shouldFail(FsOperation::REPLACE)) return injectedFailure();
        return inner_->replace();
    }
    bool discardReplacement() override {
        if (fs_.shouldFail(FsOperation::REMOVE_FILE)) return false;
        return inner_->discardReplacement();
    }
    bool removeTarget() override {
        if (fs_.shouldFail(FsOperation::REMOVE_FILE)) return false;
        return inner_->removeTarget();
    }
    void emptyOnInterrupt(const std::string& message) override { inner_->emptyOnInterrupt(message); }
    Result<void> empty() override {
        if (fs_.shouldFail(FsOperation::EMPTY)) return injectedFailure();
        return inner_->empty();
    }
    void finishInPlace() override { inner_->finishInPlace(); }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<OutputTarget> inner_;
    FaultyOutput file_;
    std::unique_ptr<OutputFile> replacement_;
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
    const std::lock_guard<std::mutex> lock(mutex_);
    ++operations;
    const bool console = operation == FsOperation::STDOUT_WRITE || operation == FsOperation::STDERR_WRITE;
    const bool fails = failAt != 0 && (operations == failAt || (keepFailing && operations > failAt && !console));
    if (fails) failedOperations.push_back(operationName(operation));
    return fails;
}

Result<PathStatus> FaultyFileSystem::status(const std::string& path) {
    if (shouldFail(FsOperation::STATUS)) return injected();
    return inner_.status(path);
}

Result<std::unique_ptr<Directory>> FaultyFileSystem::openDirectory(const std::string& path) {
    if (stepFails(FsOperation::LIST)) return injected();
    Result<std::unique_ptr<Directory>> opened = inner_.openDirectory(path);
    if (!opened) return opened;
    return std::unique_ptr<Directory>(std::make_unique<FaultyDirectory>(*this, std::move(*opened)));
}

Result<void> FaultyFileSystem::search(const std::string& pattern, const EntryVisitor& visit) {
    if (stepFails(FsOperation::LIST)) return injected();
    return inner_.search(pattern, visit);
}

Result<std::unique_ptr<InputFile>> FaultyFileSystem::openInput(const std::string& path) {
    if (stepFails(FsOperation::OPEN)) return injected();
    Result<std::unique_ptr<InputFile>> opened = inner_.openInput(path);
    if (!opened) return opened;
    InputFile* input = opened->get();
    return wrapOpened(input, std::move(*opened));
}

Result<std::unique_ptr<InputFile>> FaultyFileSystem::wrapOpened(Result<InputFile*> opened,
                                                               std::unique_ptr<InputFile> owned) {
    // A file opened ahead of its visit was opened then: its open is failed here when handed out.
    if (!owned && stepFails(FsOperation::OPEN)) return injected();
    if (!opened) return opened.error();
    // The size is known once the file is open; a failure there fails the open, as fstat's would.
    if (stepFails(FsOperation::SIZE)) return injected();
    return std::unique_ptr<InputFile>(std::make_unique<FaultyInput>(*this, **opened, std::move(owned)));
}

Result<std::unique_ptr<OutputTarget>> FaultyFileSystem::openOutputTarget(const std::string& path) {
    if (shouldFail(FsOperation::OPEN_TARGET)) return SystemError{SystemError::Kind::OTHER, INJECTED_ERROR};
    Result<std::unique_ptr<OutputTarget>> opened = inner_.openOutputTarget(path);
    if (!opened) return opened;
    return std::unique_ptr<OutputTarget>(std::make_unique<FaultyTarget>(*this, std::move(*opened)));
}

Result<std::unique_ptr<InputFile>> FaultyFileSystem::openCompanion(const std::string& path) {
    if (stepFails(FsOperation::OPEN)) return injected();
    Result<std::unique_ptr<InputFile>> opened = inner_.openCompanion(path);
    if (!opened) return opened;
    InputFile* input = opened->get();
    return wrapOpened(input, std::move(*opened));
}

Result<std::unique_ptr<OutputTarget>> FaultyFileSystem::openCompanionTarget(const std::string& path) {
    if (shouldFail(FsOperation::OPEN_TARGET)) return SystemError{SystemError::Kind::OTHER, INJECTED_ERROR};
    Result<std::unique_ptr<OutputTarget>> opened = inner_.openCompanionTarget(path);
    if (!opened) return opened;
    return std::unique_ptr<OutputTarget>(std::make_unique<FaultyTarget>(*this, std::move(*opened)));
}
