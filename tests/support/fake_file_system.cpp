#include "tests/support/fake_file_system.h"

#include <algorithm>
#include <deque>
#include <sstream>

#include "platform/name_order.h"
#include "platform/wildcard.h"

namespace {

std::string joinPath(const std::vector<std::string>& parts, std::size_t count) {
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) joined += (i ? "/" : "") + parts[i];
    return joined;
}

// The directory that holds `path`: everything before its last slash.
std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

constexpr const char* CLOSED_ERROR = "Bad file descriptor";

SystemError missing() { return SystemError{SystemError::Kind::MISSING, "No such file or directory"}; }

class StringOutput : public OutputFile {
public:
    explicit StringOutput(std::string& target, const bool* closed = nullptr) : target_(target), closed_(closed) {}
    bool write(const char* data, std::size_t size) override {
        if (closed_ && *closed_) return false;
        target_.append(data, size);
        return true;
    }
    bool truncate(std::uint64_t) override { return false; }
    std::optional<FileId> id() const override { return std::nullopt; }
    std::string errorText() const override { return CLOSED_ERROR; }

private:
    std::string& target_;
    const bool* closed_;
};

using Meta = FakeFileSystem::Node::Meta;

PathStatus statusOf(FileKind kind, const FakeFileSystem::Node& node) {
    return PathStatus{kind, node.readOnly, FileId{1, node.index}, node.content->size(), FakeFileSystem::reported(*node.meta),
                      node.meta->ownership};
}

class FakeOutputFile : public OutputFile {
public:
    FakeOutputFile(FakeFileSystem& fs, const FakeFileSystem::Node& node)
        : fs_(fs), content_(node.content), meta_(node.meta), id_{1, node.index}, readOnly_(node.readOnly) {}
    bool write(const char* data, std::size_t size) override {
        content_->resize(position_);
        content_->append(data, size);
        position_ += size;
        meta_->changed = fs_.tick();
        return true;
    }
    bool truncate(std::uint64_t size) override {
        content_->resize(static_cast<std::size_t>(size));
        position_ = static_cast<std::size_t>(size);
        meta_->changed = fs_.tick();
        return true;
    }
    std::optional<FileId> id() const override { return id_; }
    std::optional<PathStatus> status() const override {
        return PathStatus{FileKind::REGULAR, readOnly_, id_, content_->size(), FakeFileSystem::reported(*meta_), meta_->ownership};
    }
    std::string errorText() const override { return {}; }

private:
    FakeFileSystem& fs_;
    std::shared_ptr<std::string> content_;
    std::shared_ptr<Meta> meta_;
    FileId id_;
    bool readOnly_;
    std::size_t position_ = 0;
};

class FakeInputFile : public InputFile {
public:
    FakeInputFile(FakeFileSystem& fs, std::string path, const FakeFileSystem::Node& node, std::uint64_t size)
        : fs_(fs), path_(std::move(path)), content_(node.content), size_(size), id_{1, node.index},
          ownership_(node.meta->ownership) {}
    std::uint64_t size() const override { return size_; }
    FileId id() const override { return id_; }
    std::optional<FileOwnership> ownership() const override { return ownership_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, content_->size() - std::min(content_->size(), position_));
        std::copy_n(content_->data() + position_, count, buffer);
        position_ += count;
        atEnd_ = count < capacity;
        if (fs_.afterRead) fs_.afterRead(path_, position_);
        return count;
    }
    bool readReachedEnd() const override { return atEnd_; }
    bool seek(std::uint64_t offset) override {
        position_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, content_->size()));
        atEnd_ = false;
        return true;
    }

private:
    FakeFileSystem& fs_;
    std::string path_;
    std::shared_ptr<std::string> content_;
    std::uint64_t size_;
    FileId id_;
    FileOwnership ownership_;
    std::size_t position_ = 0;
    bool atEnd_ = false;
};

}  // namespace

FakeFileSystem::FakeFileSystem()
    : stdout_(std::make_unique<StringOutput>(stdoutBytes, &stdoutClosed)),
      stderr_(std::make_unique<StringOutput>(stderrBytes)) {
    nodes_[""].kind = Kind::DIRECTORY;
    nodes_[""].index = nextIndex_++;
}

// Splits a path into components, dropping empty and "." ones and folding "..".
std::vector<std::string> FakeFileSystem::split(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream stream(path);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

// Follows links in every component; nothing when a component is missing.
FakeFileSystem::Node* FakeFileSystem::resolve(const std::string& path, int depth) {
    if (depth > 40) return nullptr;
    const std::vector<std::string> parts = split(path);
    std::string current;
    for (std::size_t i = 0; i <= parts.size(); ++i) {
        auto found = nodes_.find(current);
        if (found == nodes_.end()) return nullptr;
        Node* node = &found->second;
        if (node->kind == Kind::LINK) {
            node = resolve(node->linkTarget, depth + 1);
            if (!node) return nullptr;
            current = joinPath(split(found->second.linkTarget), split(found->second.linkTarget).size());
        }
        if (i == parts.size()) return node;
        if (node->kind != Kind::DIRECTORY) return nullptr;
        current = current.empty() ? parts[i] : current + "/" + parts[i];
    }
    return nullptr;
}

FakeFileSystem::Node& FakeFileSystem::create(const std::string& path, Kind kind) {
    const std::vector<std::string> parts = split(path);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        Node& parent = nodes_[joinPath(parts, i)];
        if (parent.index == 0) {
            parent.kind = Kind::DIRECTORY;
            parent.index = nextIndex_++;
        }
    }
    Node& node = nodes_[joinPath(parts, parts.size())];
    node = Node{};
    node.kind = kind;
    node.index = nextIndex_++;
    node.meta->changed = tick();
    const std::string made = joinPath(parts, parts.size());
    node.meta->wholeSeconds = wholeSecondsBelow && made.compare(0, wholeSecondsBelow->size(), *wholeSecondsBelow) == 0;
    return node;
}

void FakeFileSystem::rewrite(const std::string& path, const std::string& content) {
    Node* node = resolve(path);
    if (!node) return;
    *node->content = content;
    node->meta->changed = tick();
}

void FakeFileSystem::addFile(const std::string& path, const std::string& content, bool readOnly) {
    Node& node = create(path, Kind::FILE);
    *node.content = content;
    node.readOnly = readOnly;
}

void FakeFileSystem::addDirectory(const std::string& path) { create(path, Kind::DIRECTORY); }
void FakeFileSystem::addLink(const std::string& path, const std::string& target) { create(path, Kind::LINK).linkTarget = target; }
void FakeFileSystem::addFifo(const std::string& path) { create(path, Kind::FIFO); }

void FakeFileSystem::rename(const std::string& from, const std::string& to) {
    const auto source = nodes_.find(key(from));
    if (source == nodes_.end()) return;
    const Node moved = source->second;
    nodes_.erase(source);
    nodes_[key(to)] = moved;
}

void FakeFileSystem::remove(const std::string& path) {
    const std::string key = joinPath(split(path), split(path).size());
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        const bool inside = it->first == key || (it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 && it->first[key.size()] == '/');
        it = inside ? nodes_.erase(it) : std::next(it);
    }
}

FakeFileSystem::Node* FakeFileSystem::find(const std::string& path) {
    const auto found = nodes_.find(joinPath(split(path), split(path).size()));
    return found == nodes_.end() ? nullptr : &found->second;
}

std::string FakeFileSystem::contentOf(const std::string& path) {
    Node* node = resolve(path);
    return node ? *node->content : std::string();
}

Result<PathStatus> FakeFileSystem::status(const std::string& path) {
    Node* node = path.empty() ? nullptr : resolve(path);
    if (!node) return missing();
    const FileKind kind = node->kind == Kind::DIRECTORY ? FileKind::DIRECTORY
                          : node->kind == Kind::FIFO    ? FileKind::SPECIAL
                                                        : FileKind::REGULAR;
    return statusOf(kind, *node);
}

Result<std::vector<DirEntry>> FakeFileSystem::list(const std::string& dir) {
    Node* directory = resolve(dir);
    if (!directory || directory->kind != Kind::DIRECTORY) return missing();
    if (directory->unreadable) return SystemError{SystemError::Kind::DENIED, "Permission denied"};
    std::string key;
    for (const auto& [name, node] : nodes_)
        if (&node == directory) key = name;
    std::vector<DirEntry> entries;
    const std::string prefix = key.empty() ? "" : key + "/";
    for (const auto& [name, node] : nodes_) {
        if (name.empty() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string leaf = name.substr(prefix.size());
        if (leaf.empty() || leaf.find('/') != std::string::npos) continue;
        Node* target = resolve(name);
        if (!target || target->kind == Kind::FIFO) continue;  // as the POSIX layer leaves them out
        entries.push_back(DirEntry{leaf, target->kind == Kind::DIRECTORY, leaf[0] == '.', false});
    }
    sortInNameOrder(entries);
    return entries;
}

namespace {

// A listed file, opened ahead of its visit or when the visitor asks.
class FakeListedFile final : public ListedFile {
public:
    FakeListedFile(const DirEntry& entry, FakeFileSystem& fs, std::string path)
        : entry_(entry), fs_(fs), path_(std::move(path)) {}
    void openedAhead(Result<std::unique_ptr<InputFile>> opened) { opened_.emplace(std::move(opened)); }
    const DirEntry& entry() const override { return entry_; }
    Result<InputFile*> open() override {
        if (!opened_) opened_.emplace(fs_.openInput(path_));
        if (!*opened_) return opened_->error();
        return (*opened_)->get();
    }

private:
    const DirEntry& entry_;
    FakeFileSystem& fs_;
    std::string path_;
    std::optional<Result<std::unique_ptr<InputFile>>> opened_;
};

class FakeDirectory final : public Directory {
public:
    FakeDirectory(FakeFileSystem& fs, std::string path, std::vector<DirEntry> entries)
        : fs_(fs), path_(std::move(path)), entries_(std::move(entries)) {}

    std::vector<std::string> subdirectories() override {
        std::vector<std::string> names;
        for (const DirEntry& entry : entries_)
            if (entry.isDirectory) names.push_back(entry.name);
        return names;
    }

    void listFiles(const std::string& pattern, const EntryVisitor& visit) override {
        for (const DirEntry* entry : matching(pattern))
            if (!visit(*entry)) break;
    }

    void visitFiles(const std::string& pattern, const FileVisitor& visit) override {
        const std::vector<const DirEntry*> files = matching(pattern);
        std::deque<Result<std::unique_ptr<InputFile>>> ahead;  // files[i] onwards, opened before their turn
        for (std::size_t i = 0; i < files.size(); ++i) {
            while (ahead.size() < fs_.openAhead && i + ahead.size() < files.size())
                ahead.push_back(fs_.openInput(pathOf(*files[i + ahead.size()])));
            FakeListedFile file(*files[i], fs_, pathOf(*files[i]));
            if (!ahead.empty()) {
                file.openedAhead(std::move(ahead.front()));
                ahead.pop_front();
            }
            if (!visit(file)) break;
        }
    }

private:
    std::string pathOf(const DirEntry& entry) const { return path_ + "/" + entry.name; }

    std::vector<const DirEntry*> matching(const std::string& pattern) const {
        std::vector<const DirEntry*> files;
        for (const DirEntry& entry : entries_)
            if (!entry.isDirectory && wildcardMatch(pattern, entry.name)) files.push_back(&entry);
        return files;
    }

    FakeFileSystem& fs_;
    std::string path_;
    std::vector<DirEntry> entries_;
};

}  // namespace

Result<std::unique_ptr<Directory>> FakeFileSystem::openDirectory(const std::string& path) {
    Result<std::vector<DirEntry>> entries = list(path);
    if (!entries) return entries.error();
    return std::unique_ptr<Directory>(std::make_unique<FakeDirectory>(*this, path, std::move(*entries)));
}

Result<void> FakeFileSystem::search(const std::string& pattern, const EntryVisitor& visit) {
    Result<std::vector<DirEntry>> entries = list(".");
    if (!entries) return entries.error();
    for (const DirEntry& entry : *entries)
        if (wildcardMatch(pattern, entry.name) && !visit(entry)) break;
    return {};
}

Result<std::unique_ptr<InputFile>> FakeFileSystem::openInput(const std::string& path) {
    Node* node = resolve(path);
    if (!node) return missing();
    if (node->unreadable) return SystemError{SystemError::Kind::DENIED, "Permission denied"};
    if (node->kind != Kind::FILE) return SystemError{SystemError::Kind::NOT_REGULAR, "not a regular file"};
    const std::uint64_t size = node->reportedSize ? node->reportedSize : node->content->size();
    std::unique_ptr<InputFile> input = std::make_unique<FakeInputFile>(*this, path, *node, size);
    if (afterOpen) afterOpen(path);
    return input;
}

Result<std::unique_ptr<InputFile>> FakeFileSystem::openCompanion(const std::string& path) {
    const Node* node = find(path);
    if (!node) return missing();
    if (node->kind != Kind::FILE) return SystemError{SystemError::Kind::NOT_REGULAR, "not a regular file"};
    return openInput(path);
}

std::string FakeFileSystem::key(const std::string& path) { return joinPath(split(path), split(path).size()); }

std::optional<std::string> FakeFileSystem::followFinalLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const Node* node = find(current);
        if (!node || node->kind != Kind::LINK) return current;
        current = node->linkTarget;
    }
    return std::nullopt;
}

bool FakeFileSystem::removeIfStill(const std::string& path, std::uint64_t index) {
    Node* node = find(path);
    if (!node || node->index != index || node->kind == Kind::DIRECTORY) return false;
    remove(path);
    return true;
}

class FakeOutputTarget : public OutputTarget {
public:
    FakeOutputTarget(FakeFileSystem& fs, std::string path, FakeFileSystem::Node& node, Kind kind)
        : fs_(fs), path_(std::move(path)), index_(node.index), kind_(kind), file_(fs, node), targetMeta_(node.meta) {}

    Kind kind() const override { return kind_; }
    OutputFile& file() override { return file_; }
    bool isStandardOutput() const override { return false; }
    bool replaceable() const override {
        if (kind_ != Kind::REGULAR) return kind_ == Kind::NEW;
        const FakeFileSystem::Node* node = fs_.find(path_);
        return node && node->index == index_;
    }
    Result<OutputFile*> createReplacement() override {
        if (fs_.temporariesRefused) return SystemError{SystemError::Kind::DENIED, "Permission denied"};
        const std::string dir = parentOf(path_);
        do replacementPath_ = (dir.empty() ? "" : dir + "/") + UNFINISHED_FILE_PREFIX + std::to_string(100000 + fs_.nextTemporary_++);
        while (fs_.find(replacementPath_));
        FakeFileSystem::Node& node = fs_.create(replacementPath_, FakeFileSystem::Kind::FILE);
        replacementIndex_ = node.index;
        replacement_ = std::make_unique<FakeOutputFile>(fs_, node);
        replacementMeta_ = node.meta;
        fs_.removedOnInterrupt = replacementPath_;
        return replacement_.get();
    }
    Result<void> adoptOwnership(const std::optional<FileOwnership>& like) override {
        if (like) replacementMeta_->ownership = FileOwnership{like->user, like->group, like->mode & 0666};
        else if (kind_ == Kind::REGULAR) replacementMeta_->ownership = targetMeta_->ownership;
        return {};
    }
    Result<void> replace() override {
        fs_.removedOnInterrupt.clear();
        const auto source = fs_.nodes_.find(FakeFileSystem::key(replacementPath_));
        if (source == fs_.nodes_.end() || source->second.index != replacementIndex_)
            return SystemError{SystemError::Kind::MISSING, "No such file or directory"};
        if (const FakeFileSystem::Node* there = fs_.find(path_); there && there->kind == FakeFileSystem::Kind::DIRECTORY)
            return SystemError{SystemError::Kind::OTHER, "Is a directory"};
        source->second.meta->changed = fs_.tick();  // a rename changes the file's status
        const FakeFileSystem::Node moved = source->second;
        fs_.nodes_.erase(source);
        fs_.nodes_[FakeFileSystem::key(path_)] = moved;
        replacementPath_.clear();
        return {};
    }
    bool discardReplacement() override {
        fs_.removedOnInterrupt.clear();
        const bool removed = !replacementPath_.empty() && fs_.removeIfStill(replacementPath_, replacementIndex_);
        replacementPath_.clear();
        return removed;
    }
    bool removeTarget() override { return kind_ == Kind::REGULAR && fs_.removeIfStill(path_, index_); }
    // The fake has no interrupts, and no times but its indexes.
    void emptyOnInterrupt(const std::string&) override {}
    Result<void> empty() override {
        (void)file_.truncate(0);
        return {};
    }
    void finishInPlace() override {}

private:
    FakeFileSystem& fs_;
    std::string path_;  // links followed
    std::uint64_t index_;
    Kind kind_;
    FakeOutputFile file_;
    std::string replacementPath_;
    std::uint64_t replacementIndex_ = 0;
    std::shared_ptr<FakeFileSystem::Node::Meta> targetMeta_;
    std::shared_ptr<FakeFileSystem::Node::Meta> replacementMeta_;
    std::unique_ptr<OutputFile> replacement_;
};

Result<std::unique_ptr<OutputTarget>> FakeFileSystem::openCompanionTarget(const std::string& path) {
    if (beforeOutputOpen) beforeOutputOpen(path);
    Node* dir = resolve(parentOf(key(path)));
    if (!dir || dir->kind != Kind::DIRECTORY) return missing();
    // Nothing at the name is opened: the target stands for a new file.
    Node none;
    none.index = 0;
    return std::unique_ptr<OutputTarget>(std::make_unique<FakeOutputTarget>(*this, key(path), none, OutputTarget::Kind::NEW));
}

Result<std::unique_ptr<OutputTarget>> FakeFileSystem::openOutputTarget(const std::string& path) {
    if (beforeOutputOpen) beforeOutputOpen(path);
    Result<std::unique_ptr<OutputTarget>> opened = openTarget(path);
    if (afterOutputOpen) afterOutputOpen(path);
    return opened;
}

Result<std::unique_ptr<OutputTarget>> FakeFileSystem::openTarget(const std::string& path) {
    const std::optional<std::string> reached = path.empty() ? std::nullopt : followFinalLinks(path);
    if (path.empty()) return SystemError{SystemError::Kind::MISSING, "No such file or directory"};
    if (!reached) return SystemError{SystemError::Kind::OTHER, "Too many levels of symbolic links"};
    if (Node* existing = resolve(*reached)) {
        if (existing->kind == Kind::DIRECTORY) return SystemError{SystemError::Kind::OTHER, "Is a directory"};
        const OutputTarget::Kind kind = existing->kind == Kind::FIFO ? OutputTarget::Kind::OTHER : OutputTarget::Kind::REGULAR;
        return std::unique_ptr<OutputTarget>(std::make_unique<FakeOutputTarget>(*this, key(*reached), *existing, kind));
    }
    Node* dir = resolve(parentOf(key(*reached)));
    if (!dir || dir->kind != Kind::DIRECTORY) return SystemError{SystemError::Kind::MISSING, "No such file or directory"};
    // Created by the open, and removed again at once, as the real one does.
    Node& created = create(*reached, Kind::FILE);
    auto target = std::make_unique<FakeOutputTarget>(*this, key(*reached), created, OutputTarget::Kind::NEW);
    remove(*reached);
    return std::unique_ptr<OutputTarget>(std::move(target));
}
