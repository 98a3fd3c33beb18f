// Writing an extracted file on POSIX: every step relative to a directory opened
// without following links, so nothing planted below the extraction directory (a
// link, a hard link, a FIFO) can send a write elsewhere or hold the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lister/lister.h"

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

Extracted systemFailure(int error) { return {Refusal::NOT_WRITTEN, std::strerror(error)}; }

// What stands at `name` in `dir` and may not be used as `wanted` (S_IFDIR or S_IFREG).
Refusal inTheWay(int dir, const std::string& name, mode_t wanted) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Refusal::NONE;
    if (S_ISLNK(st.st_mode)) return Refusal::THROUGH_LINK;
    return (st.st_mode & S_IFMT) == wanted ? Refusal::NONE : Refusal::IN_THE_WAY;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// A new file in `dir`, renamed over `name` once whole.
Extracted replaceFile(int dir, const std::string& name, raduza::FileView bytes) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = unfinishedName();
        Descriptor file(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.get() < 0 && errno == EEXIST) continue;
        if (file.get() < 0) return systemFailure(errno);
        const bool written = writeAll(file.get(), bytes.data(), bytes.size());
        const int writeError = errno;
        file = Descriptor();
        if (written && ::renameat(dir, temporary.c_str(), dir, name.c_str()) == 0) return {};
        const int error = written ? errno : writeError;
        ::unlinkat(dir, temporary.c_str(), 0);
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST) return {Refusal::IN_THE_WAY, {}};
        return systemFailure(error);
    }
    return systemFailure(EEXIST);
}

}  // namespace

Extracted extractFile(const std::string& root, const RelativePath& relative, raduza::FileView bytes) {
    if (relative.refusal != Refusal::NONE) return {relative.refusal, {}};
    // The extraction directory itself is the user's to name, links and all.
    Descriptor dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return systemFailure(errno);
    for (std::size_t i = 0; i + 1 < relative.components.size(); ++i) {
        const std::string name = raduza::toUtf8(relative.components[i]);
        if (::mkdirat(dir.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return systemFailure(errno);
        Descriptor next(::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            const int error = errno;
            const Refusal refusal = inTheWay(dir.get(), name, S_IFDIR);
            return refusal != Refusal::NONE ? Extracted{refusal, {}} : systemFailure(error);
        }
        dir = std::move(next);
    }
    const std::string name = raduza::toUtf8(relative.components.back());
    if (const Refusal refusal = inTheWay(dir.get(), name, S_IFREG); refusal != Refusal::NONE) return {refusal, {}};
    return replaceFile(dir.get(), name, bytes);
}
