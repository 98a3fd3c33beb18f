#include "tests/support/fake_file_system.h"

#include <algorithm>
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

class FakeOutputFile : public OutputFile {
public:
    FakeOutputFile(std::shared_ptr<std::string> content, FileId id) : content_(std::move(content)), id_(id) {}
    bool write(const char* data, std::size_t size) override {
        content_->resize(position_);
        content_->append(data, size);
        position_ += size;
        return true;
    }
    bool truncate(std::uint64_t size) override {
        content_->resize(static_cast<std::size_t>(size));
        position_ = static_cast<std::size_t>(size);
        return true;
    }
    std::optional<FileId> id() const override { return id_; }
    std::string errorText() const override { return {}; }

private:
    std::shared_ptr<std::string> content_;
    FileId id_;
    std::size_t position_ = 0;
};

class FakeInputFile : public InputFile {
public:
    FakeInputFile(FakeFileSystem& fs, std::string path, std::shared_ptr<std::string> content, std::uint64_t size,
                  FileId id)
        : fs_(fs), path_(std::move(path)), content_(std::move(content)), size_(size), id_(id) {}
    std::uint64_t size() const override { return size_; }
    FileId id() const override { return id_; }
    std::optional<std::size_t> read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, content_->size() - std::min(content_->size(), position_));
        std::copy_n(content_->data() + position_, count, buffer);
        position_ += count;
        atEnd_ = count < capacity;
        if (fs_.afterRead) fs_.afterRead(path_, position_);
        return count;
    }
    bool readReachedEnd() const override { return atEnd_; }

private:
    FakeFileSystem& fs_;
    std::string path_;
    std::shared_ptr<std::string> content_;
    std::uint64_t size_;
    FileId id_;
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
    return node;
}

void FakeFileSystem::addFile(const std::string& path, const std::string& content, bool readOnly) {
    Node& node = create(path, Kind::FILE);
    *node.content = content;
    node.readOnly = readOnly;
}

void FakeFileSystem::addDirectory(const std::string& path) { create(path, Kind::DIRECTORY); }
void FakeFileSystem::addLink(const std::string& path, const std::string& target) { create(path, Kind::LINK).linkTarget = target; }
void FakeFileSystem::addFifo(const std::string& path) { create(path, Kind::FIFO); }

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

std::optional<PathStatus> FakeFileSystem::queryPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    Node* node = resolve(path);
    if (!node) return std::nullopt;
    return PathStatus{node->kind == Kind::DIRECTORY, node->readOnly, node->kind == Kind::FIFO};
}

Existence FakeFileSystem::pathExists(const std::string& path) {
    return !path.empty() && resolve(path) ? Existence::EXISTS : Existence::MISSING;
}

std::optional<FileId> FakeFileSystem::fileId(const std::string& path) {
    Node* node = resolve(path);
    if (!node) return std::nullopt;
    return FileId{1, node->index};
}

// Every node is made anew when it changes, so its index serves as the time of its last change.
std::optional<FileStamp> FakeFileSystem::fileStamp(const std::string& path) {
    Node* node = resolve(path);
    if (!node) return std::nullopt;
    return FileStamp{node->kind == Kind::DIRECTORY, node->content->size(), static_cast<std::int64_t>(node->index),
                     FileId{1, node->index}};
}

bool FakeFileSystem::enumerate(const std::string& dir, const std::string& pattern, const EntryVisitor& visit) {
    Node* directory = resolve(dir.empty() ? "." : dir);
    if (!directory || directory->kind != Kind::DIRECTORY || directory->unreadable) return false;
    std::string key;
    for (const auto& [name, node] : nodes_)
        if (&node == directory) key = name;
    std::vector<DirEntry> entries;
    for (const char* dots : {".", ".."})
        if (wildcardMatch(pattern, dots)) entries.push_back(DirEntry{dots, true, false, false});
    for (const auto& [name, node] : nodes_) {
        const std::string prefix = key.empty() ? "" : key + "/";
        if (name.empty() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string leaf = name.substr(prefix.size());
        if (leaf.empty() || leaf.find('/') != std::string::npos || !wildcardMatch(pattern, leaf)) continue;
        Node* target = resolve(name);
        if (!target || target->kind == Kind::FIFO) continue;  // as the POSIX layer leaves them out
        entries.push_back(DirEntry{leaf, target->kind == Kind::DIRECTORY, leaf[0] == '.', false});
    }
    sortInNameOrder(entries);
    for (const DirEntry& entry : entries)
        if (!visit(entry)) break;
    return true;
}

std::unique_ptr<InputFile> FakeFileSystem::openInput(const std::string& path) {
    Node* node = resolve(path);
    if (!node || node->kind != Kind::FILE || node->unreadable) return nullptr;
    const std::uint64_t size = node->reportedSize ? node->reportedSize : node->content->size();
    auto input = std::make_unique<FakeInputFile>(*this, path, node->content, size, FileId{1, node->index});
    if (afterOpen) afterOpen(path);
    return input;
}

CreatedOutput FakeFileSystem::createOutput(const std::string& path) {
    Node* existing = resolve(path);
    if (existing && existing->kind != Kind::FILE) return {nullptr, "Is a directory"};
    if (!existing) {
        const std::vector<std::string> parts = split(path);
        const std::string parent = joinPath(parts, parts.empty() ? 0 : parts.size() - 1);
        Node* dir = resolve(parent);
        if (!dir || dir->kind != Kind::DIRECTORY) return {nullptr, "No such file or directory"};
        existing = &create(path, Kind::FILE);
    }
    existing->content->clear();
    return {std::make_unique<FakeOutputFile>(existing->content, FileId{1, existing->index}), {}};
}

std::string FakeFileSystem::key(const std::string& path) { return joinPath(split(path), split(path).size()); }

CreatedTemporary FakeFileSystem::createTemporary(const std::string& prefix, const std::string& permissionsOf) {
    if (temporariesRefused) return {nullptr, {}, "Permission denied"};
    // A name no file has yet, as the system's exclusive create gives.
    std::string path;
    do path = prefix + std::to_string(100000 + nextTemporary_++);
    while (find(path));
    Node* parent = resolve(parentOf(path));
    if (!parent || parent->kind != Kind::DIRECTORY) return {nullptr, {}, "No such file or directory"};
    Node& node = create(path, Kind::FILE);
    if (Node* old = permissionsOf.empty() ? nullptr : resolve(permissionsOf)) node.readOnly = old->readOnly;
    return {std::make_unique<FakeOutputFile>(node.content, FileId{1, node.index}), path, {}};
}

SystemResult FakeFileSystem::renameFile(const std::string& from, const std::string& to) {
    const auto source = nodes_.find(key(from));
    Node* parent = to.empty() ? nullptr : resolve(parentOf(to));
    if (source == nodes_.end() || !parent || parent->kind != Kind::DIRECTORY) return {false, "No such file or directory"};
    Node moved = source->second;
    nodes_.erase(source);
    nodes_[key(to)] = moved;
    return {true, {}};
}

std::string FakeFileSystem::resolveLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const Node* node = find(current);
        if (!node || node->kind != Kind::LINK) return current;
        current = node->linkTarget;
    }
    return path;
}

bool FakeFileSystem::removeFile(const std::string& path) {
    Node* node = find(path);
    if (!node || node->kind == Kind::DIRECTORY) return false;
    remove(path);
    return true;
}
